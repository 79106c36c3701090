#!/usr/bin/env python3
"""kestrune-probe from the outside: answers, and its error paths (bad command
lines, a missing DLL, a DLL that lacks the export), each run under Wine."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

OK, USAGE, NO_DLL, NO_EXPORT = 0, 1, 2, 3

# (arguments, exit status, text the output must contain)
CASES = [
    (["open_buy", "1.3002", "1.3", "4", "1", "-0.2", "1.3012", "10", "0.0001", "1"], OK, "open_buy = 1"),
    (["open_sell", "1.3002", "1.3", "4", "1", "-0.2", "1.3012", "10", "0.0001", "1"], OK, "open_sell = 0"),
    (["open_sell", "1.3003", "1.3001", "4", "1", "0.2", "1.3012", "10", "0.0001", "1"], OK, "open_sell = 1"),
    (["open_buy", "nan", "1.3", "4", "1", "-0.2", "1.3012", "10", "0.0001", "1"], OK, "open_buy = 0"),
    ([], USAGE, "try --help"),
    (["--help"], OK, "GetGmtOffset [TIME|now] [use_server]"),
    (["--version"], OK, "Kestrune 1."),
    (["selftest", "x"], USAGE, "takes no arguments"),
    (["selftest"], OK, " passed, 0 failed"),
    (["open_buy", "1"], USAGE, "takes 9 arguments, got 1"),
    (["open_buy", "1.3002x", "1.3", "4", "1", "-0.2", "1.3012", "10", "0.0001", "1"], USAGE, "argument 1"),
    (["open_buy", "1.3002", "1.3", "4.5", "1", "-0.2", "1.3012", "10", "0.0001", "1"], USAGE, "argument 3"),
    (["open_buy", "1.3002", "1.3", "4", "1", "-0.2", "1.3012", "2147483648", "0.0001", "1"], USAGE, "argument 7"),
    (["open_buy", "1.3002", "1.3", "4", "1", "", "1.3012", "10", "0.0001", "1"], USAGE, "argument 5"),
    (["no_such_export"], USAGE, "unknown export"),
    (["trade_time", "1704751800"], OK,
     "utc_time = 1704751800 = 2024-01-08T22:10:00Z (Monday)\ntrade_time = 1"),
    (["trade_time", "2024-01-07T22:29:59Z"], OK,
     "utc_time = 1704666599 = 2024-01-07T22:29:59Z (Sunday)\ntrade_time = 0"),
    (["trade_time", "2023-10-17T22:10:00Z"], OK, "(Tuesday)\ntrade_time = 0"),
    (["trade_time", "2024-02-29T22:10:00Z"], OK, "(Thursday)\ntrade_time = 1"),
    (["trade_time", "2106-02-06T22:10:00Z"], OK,
     "utc_time = 4294937400 = 2106-02-06T22:10:00Z (Saturday)\ntrade_time = 1"),
    (["trade_time", "4294967295"], OK,
     "utc_time = 4294967295 = 2106-02-07T06:28:15Z (Sunday)\ntrade_time = 0"),
    (["trade_time", "0"], OK, "1970-01-01T00:00:00Z (Thursday)\ntrade_time = 0"),
    # A time without the Z is read as UTC too, as every time the probe takes.
    (["trade_time", "2024-01-08T22:10:00"], OK, "2024-01-08T22:10:00Z (Monday)\ntrade_time = 1"),
    (["trade_time"], USAGE, "takes 1 argument, got 0"),
    # GetGmtOffset: only use_server 0 here, which never touches the network.
    (["GetGmtOffset", "0", "0"], OK, "GetGmtOffset = 4 (GMT_FROM_CLOCK), offset_hours = "),
    (["GetGmtOffset", "now", "0"], OK, "GetGmtOffset = 4 (GMT_FROM_CLOCK), offset_hours = "),
    (["GetGmtOffset", "yesterday", "0"], USAGE, "argument 1"),
    (["GetGmtOffset", "4294967296", "0"], USAGE, "argument 1"),
    (["GetGmtOffset", "-1", "0"], USAGE, "argument 1"),
    (["GetGmtOffset", "2023-02-29T00:00:00", "0"], USAGE, "argument 1"),
    (["GetGmtOffset", "2024-01-01T24:00:00", "0"], USAGE, "argument 1"),
    (["GetGmtOffset", "2106-02-07T06:28:15", "0"], OK, "GetGmtOffset = 4 (GMT_FROM_CLOCK)"),
    (["GetGmtOffset", "2106-02-07T06:28:16", "0"], USAGE, "argument 1"),
    (["GetGmtOffset", "now", "x"], USAGE, "argument 2"),
    (["GetGmtOffset", "now", "0", "1"], USAGE, "takes 0 to 2 arguments, got 3"),
]

# trade_time arguments that must be refused with one line, before the DLL is
# asked anything.
BAD_TIMES = ["", "4294967296", "-1", "+5", "1e9", "0x10", "2024-01-08 22:10:00",
             "2024-01-08T22:10:00+00:00", "2024-01-08T22:10:00ZZ", "2024-1-8T22:10:00Z",
             "2024-02-30T22:10:00Z", "2023-02-29T00:00:00Z", "2100-02-29T00:00:00Z",
             "2024-13-01T00:00:00Z", "2024-01-08T24:00:00Z", "2024-01-08T22:60:00Z",
             "2024-01-08T22:10:60Z", "1969-12-31T23:59:59Z", "2106-02-07T06:28:16Z"]


def gmt_cases():
    """Wall times a few hours off this machine's UTC clock, as seconds and as
    ISO-8601; a margin of minutes keeps the rounding steady however slowly
    Wine starts."""
    now = int(time.time())
    five_hours_on = now + 5 * 3600 + 120
    iso_two_hours_back = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(now - 2 * 3600 - 120))
    return [
        (["GetGmtOffset", str(five_hours_on), "0"], OK,
         "GetGmtOffset = 4 (GMT_FROM_CLOCK), offset_hours = 5.00"),
        (["GetGmtOffset", iso_two_hours_back, "0"], OK,
         "GetGmtOffset = 4 (GMT_FROM_CLOCK), offset_hours = -2.00"),
    ]


def run(wine, folder, args):
    p = subprocess.run([wine, os.path.join(folder, "kestrune-probe.exe")] + args,
                       cwd=folder, capture_output=True, text=True, timeout=120)
    return p.returncode, p.stdout + p.stderr


def check(label, got, want_status, want_text):
    status, text = got
    ok = status == want_status and want_text in text
    print(("ok  " if ok else "FAIL"), label, "->", status, text.strip().replace("\n", " | "))
    return ok


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--wine", required=True)
    a = ap.parse_args()

    good = True
    for args, status, text in CASES + gmt_cases():
        good &= check(" ".join(args) or "(no arguments)", run(a.wine, a.build, args), status, text)

    for bad in BAD_TIMES:
        status, text = run(a.wine, a.build, ["trade_time", bad])
        one_line = text.strip().count("\n") == 0
        good &= check(f"trade_time {bad!r} (one line)", (status, text if one_line else ""),
                      USAGE, "argument 1")

    example = ["open_buy", "1.3002", "1.3", "4", "1", "-0.2", "1.3012", "10", "0.0001", "1"]
    with tempfile.TemporaryDirectory() as lonely:
        shutil.copy(os.path.join(a.build, "kestrune-probe.exe"), lonely)
        good &= check("without Kestrune.dll", run(a.wine, lonely, example), NO_DLL,
                      "cannot load Kestrune.dll")
        # A DLL named Kestrune.dll that exports nothing.
        shutil.copy(os.path.join(a.build, "empty.dll"), os.path.join(lonely, "Kestrune.dll"))
        good &= check("Kestrune.dll without the export", run(a.wine, lonely, example),
                      NO_EXPORT, "no export named open_buy")
        good &= check("selftest with a Kestrune.dll lacking exports",
                      run(a.wine, lonely, ["selftest"]), NO_EXPORT, "no export named")
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
