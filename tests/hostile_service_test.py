#!/usr/bin/env python3
"""GetGmtOffset against a hostile time service, under Wine.

The built Kestrune.dll, loaded by name by gmt_e2e_client.exe, asks its fixed
service host through real WinHTTP; http_proxy points WinHTTP at a scripted
server on 127.0.0.1 (tests/http_server.py) that misbehaves in one way per
case: a 1.5 GiB body, a body dripped a byte at a time, a connection cut
mid-body, no answer at all, redirects, garbage bodies, and 32 callers at
once while the service is slow.

Every case is a fresh client process (the cache lives as long as the
process), which makes its calls in this order:

  WALL:0           warm-up: the export's first call, no network
  WALL:1           warm-up: one WinHTTP exchange with a body that holds no
                   number (result 4, so the cache stays empty for the case)
  winhttp-handles  the baselines: WinHTTP handles open, process handles
  handles
  ...              the case's calls
  winhttp-handles  the same after them
  handles

Every case checks that the process exits 0 having printed every line; that
every call answers 1 or 4 with the offset written (the client pre-fills it
with NaN) as a whole number of quarter hours, and exactly the answer the case
expects; that the server saw exactly the requests expected; that no WinHTTP
handle is left open; and that the process handle count after the calls is the
baseline plus the idle keep-alive connection Wine's WinHTTP pools, if the
case leaves one (see Case.pooled).

Two allowances, both measured out rather than tolerated:
- The warm-ups take out what is made once per process on first use and
  kept: under Wine 8 the first WinHTTP exchange makes one event object. The
  warm-up's answer says "Connection: close", so the baseline holds no pooled
  connection.
- The pooled connection is a socket WinHTTP keeps after a response read to
  its end; each case states whether it leaves one, so a socket held for any
  other reason still shows.

Wine 8's GetProcessHandleCount always answers 0; the client then counts the
process's handles by asking about each handle value in turn. WinHTTP's own
handles (session, connection, request) are no process handles at all, so the
client counts them separately (see gmt_e2e_client.cpp). With the DLL's close
of the request, the connection or the session taken out, every case fails.

Every client run and every server has a timeout, so the suite ends in
bounded time whatever the DLL does."""
import argparse
import math
import os
import random
import socket
import subprocess
import sys
import time
import urllib.parse
from dataclasses import dataclass, field

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from http_server import HugeBody, InTurn, Route, ScriptedServer  # noqa: E402

PATH = "/access/gmt.php"
MOVED = "/access/moved.php"
PROXY_VARS = ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
              "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY")
HOUR = 3600
GIB = 1 << 30
BODY_LIMIT = 64 * 1024  # the library reads no more of a body than this

CLIENT_TIMEOUT = 60  # seconds for one client process, slow cases included
SERVER_TIMEOUT = 90  # a server stops by itself after this
# The whole suite's time (about 40 s when all is well). A case is not begun,
# and no client runs, past it; CTest's own limit for the test lies beyond.
SUITE_BUDGET = 150

# The scripted service's clock runs two hours behind this machine's, so an
# answer from it (offset 5 h) and one from the machine's clock (3 h) differ.
# WALL keeps 2 minutes of margin from a rounding edge: the slow cases add
# their seconds to the difference, and the suite takes a while.
NOW = int(time.time())
GMT = NOW - 2 * HOUR
WALL = GMT + 5 * HOUR + 120
FROM_SERVER = (1, 5.0)
FROM_CLOCK = (4, 3.0)
ONE = f"{WALL}:1"
POST = f"POST {PATH}"

# The warm-up exchange: no number in the body (result 4, cache left empty),
# and no keep-alive, so the baseline holds no pooled connection.
WARM_UP = Route(200, [b"warming up"], headers=[("Connection", "close")])


class Failed(Exception):
    pass


def expect(what, got, want):
    if got != want:
        raise Failed(f"{what}: got {got!r}, want {want!r}")


# ---- bodies -----------------------------------------------------------------

RNG = random.Random(6)


def wrap32(digits):
    """What "%d" reads from a run of digits: their value modulo 2^32, signed."""
    v = 0
    for d in digits:
        v = (v * 10 + d - 48) & 0xFFFFFFFF
    return v - (1 << 32) if v >= 1 << 31 else v


def digits_reading_as(value, length):
    """`length` random digits that "%d" reads as `value`: the last ten are
    chosen so that the whole run is congruent to it modulo 2^32."""
    head = bytes(RNG.choice(b"123456789") for _ in range(length - 10))
    tail = (value - wrap32(head) * 10 ** 10) % (1 << 32)
    run = head + b"%010d" % tail
    assert len(run) == length and wrap32(run) == value
    return run


def random_bytes(n, first):
    return bytes([first]) + bytes(RNG.randrange(256) for _ in range(n - 1))


TIME = b"%d" % GMT
# More digits than the library reads: the first 64 KiB read as GMT, all of
# them as something else, so the answer shows where reading stopped.
LONG_DIGITS = digits_reading_as(GMT, BODY_LIMIT) + bytes(
    RNG.choice(b"0123456789") for _ in range(36 * 1024))
assert abs(wrap32(LONG_DIGITS) - GMT) > HOUR
TIME_THEN_MORE = TIME + b"999\n"  # as a whole it reads as another time
assert abs(wrap32(TIME_THEN_MORE[:-1]) - GMT) > HOUR
ERROR_PAGE = (b"<!DOCTYPE html>\n<html><head><title>500 Internal Server Error</title>"
              b"</head><body><h1>Internal Server Error</h1><p>%d</p></body></html>\n" % GMT)


def dripped(body):
    return [body[i:i + 1] for i in range(len(body))]


# ---- the cases --------------------------------------------------------------

@dataclass
class Case:
    name: str
    # Routes for PATH's requests after the warm-up, in turn (the last one for
    # ever after); None: nothing listens on the proxy port.
    script: list
    answers: list  # (result, offset) expected, one per answer printed
    requests: list  # "METHOD path" expected after the warm-up's
    # Idle keep-alive connections left after the calls. Wine's WinHTTP keeps
    # a connection whose response was read to its end in a process-wide pool
    # for 30 s (a socket handle), unless the response said "Connection:
    # close". A response broken off, cut short or failed leaves none.
    pooled: int
    calls: list = field(default_factory=lambda: [ONE])
    others: dict = field(default_factory=dict)  # fixed routes beside PATH
    after: object = None  # further checks: after(server)


def huge_body_stops():
    """The server stops sending once the client has closed: the client broke
    the response off once, well before its end."""
    body = HugeBody(b"%d\n" % GMT, 3 * GIB // 2)

    def after(server):
        if not body.stopped.wait(30):
            raise Failed("the server is still sending 30 s after the client left")
        expect("responses the client broke off", server.aborted, 1)
        expect("passes over the body cut short", len(body.abandoned), 1)
        if body.abandoned[0] > 256 << 20:
            raise Failed(f"{body.abandoned[0]} bytes went out before the client closed")
        print(f"     (the server stopped after {body.abandoned[0] >> 20} MiB)")

    return body, after


def cases(host):
    huge, huge_after = huge_body_stops()
    moved = {MOVED: Route(200, [TIME])}
    return [
        # 1.5 GiB after the time: the first 64 KiB are read, the request is
        # closed with the rest unread, and the second call is a cache hit.
        Case("huge/1.5-GiB-body", [Route(200, huge)], [FROM_SERVER] * 2, [POST], 0,
             calls=[ONE, ONE], after=huge_after),

        # A byte every 250 ms for about 3 s, then the server closes with the
        # body short of its announced length.
        Case("drip/time-then-close",
             [Route(200, dripped(b"  " + TIME + b"\n" + b"x" * 20), delay=0.25,
                    cut=len(TIME) + 3)],
             [FROM_SERVER], [POST], 0),
        # One HTTP chunk a byte; the server closes right after the size line
        # of the 13th. Wine's WinHTTP takes that for the body's end and pools
        # the dead connection (one cut a byte later into a chunk it does not).
        Case("drip/white-space-chunked-then-close",
             [Route(200, dripped(b" \t\r\n" * 3 + TIME), chunked=True, delay=0.25, cut=12)],
             [FROM_CLOCK], [POST], 1),

        # Cut mid-body. Wine's WinHTTP reports the cut as the body's end, so
        # the library reads what arrived: a number cut short reads as the
        # shorter number (here exactly GMT, where the whole body would not).
        Case("cut/length-after-number",
             [Route(200, [TIME + b"\n", b"y" * 200], cut=len(TIME) + 50)],
             [FROM_SERVER], [POST], 0),
        Case("cut/length-inside-number",
             [Route(200, [TIME_THEN_MORE], cut=len(TIME))], [FROM_SERVER], [POST], 0),
        Case("cut/length-before-number",
             [Route(200, [b"\r\n\r\n" + TIME], cut=2)], [FROM_CLOCK], [POST], 0),
        Case("cut/length-headers-only",
             [Route(200, [TIME], cut=0)], [FROM_CLOCK], [POST], 0),
        Case("cut/chunked-after-number",
             [Route(200, [TIME + b"\n", b"y" * 200], chunked=True, cut=len(TIME) + 100)],
             [FROM_SERVER], [POST], 0),
        Case("cut/chunked-before-number",
             [Route(200, [b" \t", b"\r\n" + TIME], chunked=True, cut=3)],
             [FROM_CLOCK], [POST], 0),

        # No answer: nothing listens, or the server takes the request, says
        # nothing for 3 s and closes.
        Case("silent/nothing-listens", None, [FROM_CLOCK] * 2, [], 0, calls=[ONE, ONE]),
        Case("silent/accepts-never-answers", [Route(None, stall=3.0)],
             [FROM_CLOCK], [POST], 0),

        # Redirects are followed by WinHTTP: 301 and 302 as a GET (the body
        # of the 302 is drained first), 307 as a POST; a loop ends after 10
        # redirects as a failed exchange.
        Case("redirect/302-absolute",
             [Route(302, [b"<a href=moved>moved</a>"],
                    headers=[("Location", f"http://{host}{MOVED}")])],
             [FROM_SERVER], [POST, f"GET {MOVED}"], 1, others=moved),
        Case("redirect/301-relative",
             [Route(301, [], headers=[("Location", MOVED)])],
             [FROM_SERVER], [POST, f"GET {MOVED}"], 1, others=moved),
        Case("redirect/307-keeps-post",
             [Route(307, [], headers=[("Location", MOVED)])],
             [FROM_SERVER], [POST, f"POST {MOVED}"], 1, others=moved),
        Case("redirect/loop",
             [Route(302, [], headers=[("Location", PATH)])],
             [FROM_CLOCK], [POST] + [f"GET {PATH}"] * 10, 0),

        # Garbage, binary and zero bytes.
        Case("garbage/random-bytes", [Route(200, [random_bytes(4096, 0xC3)])],
             [FROM_CLOCK], [POST], 1),
        Case("garbage/time-then-random-bytes",
             [Route(200, [TIME + random_bytes(4096, 0xC3)])], [FROM_SERVER], [POST], 1),
        Case("garbage/zero-byte-first", [Route(200, [b"\x00" + TIME])],
             [FROM_CLOCK], [POST], 1),
        Case("garbage/utf8-bom", [Route(200, [b"\xef\xbb\xbf" + TIME])],
             [FROM_CLOCK], [POST], 1),
        Case("garbage/60000-digits-wrapping-to-the-time",
             [Route(200, [digits_reading_as(GMT, 60000)])], [FROM_SERVER], [POST], 1),
        Case("garbage/digits-past-64-KiB",
             [Route(200, [LONG_DIGITS])], [FROM_SERVER], [POST], 0),
        Case("garbage/white-space-only", [Route(200, [b" \t\n\v\f\r" * 2000])],
             [FROM_CLOCK], [POST], 1),
        Case("garbage/zero-bytes-only", [Route(200, [bytes(100 * 1024)])],
             [FROM_CLOCK], [POST], 0),
        Case("garbage/html-500-page",
             [Route(500, [ERROR_PAGE], headers=[("Content-Type", "text/html")])],
             [FROM_CLOCK], [POST], 1),

        # 32 callers miss the cache together while the service takes 2 s:
        # one request, and every caller gets its outcome.
        Case("crowd/32-callers-slow-answer", [Route(200, [TIME], stall=2.0)],
             [FROM_SERVER] * 32, [POST], 1, calls=[f"32*{WALL}:1"]),
        Case("crowd/32-callers-slow-failure", [Route(None, stall=2.0)],
             [FROM_CLOCK] * 32, [POST], 0, calls=[f"32*{WALL}:1"]),
    ]


# ---- running a case ---------------------------------------------------------

def run_client(a, port, calls):
    env = dict(os.environ)
    for name in PROXY_VARS:
        env.pop(name, None)
    env["http_proxy"] = f"http://127.0.0.1:{port}"
    timeout = min(CLIENT_TIMEOUT, a.deadline - time.monotonic())
    if timeout <= 0:
        raise Failed(f"not run: the suite's {SUITE_BUDGET} s are up")
    try:
        p = subprocess.run([a.wine, a.client] + calls, cwd=os.path.dirname(a.client),
                           env=env, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failed(f"the client took more than {timeout:.0f} s")
    if p.returncode != 0:
        raise Failed(f"the client exited with {p.returncode}: {p.stderr.strip()}")
    return p.stdout.splitlines()


def answer_count(call):
    return int(call.split("*")[0]) if "*" in call else 1


def parse_answer(line):
    """(result, offset) from "result offset"; the offset must have been
    written (not NaN) and be a whole number of quarter hours."""
    fields = line.split()
    if len(fields) != 2:
        raise Failed(f"not an answer: {line!r}")
    result, offset = int(fields[0]), float(fields[1])
    if result not in (1, 4):
        raise Failed(f"result {result}, neither 1 nor 4")
    if math.isnan(offset):
        raise Failed(f"result {result} with the offset left unwritten")
    if offset * 4 != math.floor(offset * 4):
        raise Failed(f"offset {offset!r} is not a whole number of quarter hours")
    return result, offset


def parse_handles(line):
    fields = line.split()
    if len(fields) != 3 or fields[0] != "handles" or not fields[1].isdigit() \
            or int(fields[1]) == 0:
        raise Failed(f"no handle count: {line!r}")
    return int(fields[1])


def request_summary(request):
    method, target = request.line.split()[:2]
    return f"{method} {urllib.parse.urlsplit(target).path}"


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]  # nothing listens once it is closed


def parse_winhttp_handles(line):
    fields = line.split()
    if len(fields) != 2 or fields[0] != "winhttp-handles" or not fields[1].isdigit():
        raise Failed(f"no WinHTTP handle count: {line!r}")
    return int(fields[1])


def run_case(a, case):
    probes = ["winhttp-handles", "handles"]
    calls = [f"{WALL}:0", ONE] + probes + case.calls + probes
    want_lines = 2 + 2 + sum(answer_count(c) for c in case.calls) + 2
    server = None
    if case.script is None:
        lines = run_client(a, closed_port(), calls)
    else:
        turn = InTurn(PATH, [WARM_UP] + case.script, case.others)
        server = ScriptedServer(turn.routes, timeout=SERVER_TIMEOUT, on_request=turn.on_request)
        with server:
            lines = run_client(a, server.port, calls)
            requests = [request_summary(r) for r in server.requests]
            if case.after:
                case.after(server)
    if len(lines) != want_lines:
        raise Failed(f"{len(lines)} lines printed, want {want_lines}: {lines}")
    warm_ups = [parse_answer(line) for line in lines[:2]]
    winhttp_before, before = parse_winhttp_handles(lines[2]), parse_handles(lines[3])
    answers = [parse_answer(line) for line in lines[4:-2]]
    winhttp_after, after = parse_winhttp_handles(lines[-2]), parse_handles(lines[-1])
    expect("warm-up answers", warm_ups, [FROM_CLOCK] * 2)
    expect("answers", answers, case.answers)
    if server:
        expect("requests", requests, [POST] + case.requests)
    if winhttp_after != winhttp_before:
        raise Failed(f"WinHTTP handles: {winhttp_before} open before the calls, "
                     f"{winhttp_after} after")
    if after != before + case.pooled:
        raise Failed(f"handles: {before} before the calls, {after} after, want "
                     f"{before + case.pooled} ({case.pooled} pooled connection)")
    return f"{answers[0]}{' x%d' % len(answers) if len(answers) > 1 else ''}, " \
           f"handles {before} -> {after}, WinHTTP handles {winhttp_before} -> {winhttp_after}"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--client", required=True, help="gmt_e2e_client.exe, beside Kestrune.dll")
    ap.add_argument("--wine", required=True)
    ap.add_argument("--host", required=True, help="the service host built into the DLL")
    ap.add_argument("cases", nargs="*", help="run only the cases whose names start so")
    a = ap.parse_args()
    a.client, a.wine = os.path.abspath(a.client), os.path.abspath(a.wine)
    start = time.monotonic()
    a.deadline = start + SUITE_BUDGET
    good = True
    for case in cases(a.host):
        if a.cases and not any(case.name.startswith(c) for c in a.cases):
            continue
        began = time.monotonic()
        try:
            note = run_case(a, case)
            print(f"ok   {case.name} ({time.monotonic() - began:.1f} s): {note}", flush=True)
        except Failed as e:
            good = False
            print(f"FAIL {case.name} ({time.monotonic() - began:.1f} s): {e}", flush=True)
    print(f"{'passed' if good else 'FAILED'} in {time.monotonic() - start:.0f} s")
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
