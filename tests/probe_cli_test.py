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
    ([], USAGE, "usage"),
    (["open_buy", "1"], USAGE, "takes 9 arguments, got 1"),
    (["open_buy", "1.3002x", "1.3", "4", "1", "-0.2", "1.3012", "10", "0.0001", "1"], USAGE, "argument 1"),
    (["open_buy", "1.3002", "1.3", "4.5", "1", "-0.2", "1.3012", "10", "0.0001", "1"], USAGE, "argument 3"),
    (["open_buy", "1.3002", "1.3", "4", "1", "-0.2", "1.3012", "2147483648", "0.0001", "1"], USAGE, "argument 7"),
    (["open_buy", "1.3002", "1.3", "4", "1", "", "1.3012", "10", "0.0001", "1"], USAGE, "argument 5"),
    (["no_such_export"], USAGE, "unknown export"),
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

    example = ["open_buy", "1.3002", "1.3", "4", "1", "-0.2", "1.3012", "10", "0.0001", "1"]
    with tempfile.TemporaryDirectory() as lonely:
        shutil.copy(os.path.join(a.build, "kestrune-probe.exe"), lonely)
        good &= check("without Kestrune.dll", run(a.wine, lonely, example), NO_DLL,
                      "cannot load Kestrune.dll")
        # A DLL named Kestrune.dll that exports nothing.
        shutil.copy(os.path.join(a.build, "empty.dll"), os.path.join(lonely, "Kestrune.dll"))
        good &= check("Kestrune.dll without the export", run(a.wine, lonely, example),
                      NO_EXPORT, "no export named open_buy")
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
