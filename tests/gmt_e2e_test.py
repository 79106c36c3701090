#!/usr/bin/env python3
"""GetGmtOffset end to end: the built Kestrune.dll, loaded by name under Wine
by gmt_e2e_client.exe, asks the time service through real WinHTTP.

WinHTTP's default proxy follows http_proxy under Wine, so pointing it at a
server on 127.0.0.1 routes the DLL's fixed service host there; requests
arrive with the absolute URL. The services:

- a scripted server (tests/http_server.py) answering each request in turn
  with good, bad and wrapped bodies, a slow failure, and a 1.5 GiB body;
- nothing at all (a closed port);
- a real nginx with the README's location block, started and stopped here.

The cache lives as long as the process, so each scenario that needs a fresh
cache is a fresh client process."""
import argparse
import ctypes
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from http_server import HugeBody, InTurn, Route, ScriptedServer  # noqa: E402

PATH = "/access/gmt.php"
PROXY_VARS = ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
              "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY")
HOUR = 3600
GIB = 1 << 30

# The scripted service's clock runs two hours behind this machine's, so an
# answer from it (offset 5 h) and one from the machine's clock (3 h) differ.
# Wall times keep minutes of margin from any rounding edge: Wine under
# emulation is slow to start.
NOW = int(time.time())
GMT = NOW - 2 * HOUR
WALL = GMT + 5 * HOUR + 120
FROM_SERVER = (1, 5.0)
FROM_CLOCK = (4, 3.0)


class Failed(Exception):
    pass


def expect(what, got, want):
    if got != want:
        raise Failed(f"{what}: got {got!r}, want {want!r}")


# ---- the client ------------------------------------------------------------

def run_client(a, proxy, calls, timeout=300):
    """Runs one client process; returns its answers as (result, offset)."""
    env = dict(os.environ)
    for name in PROXY_VARS:
        env.pop(name, None)
    env["http_proxy"] = proxy
    p = subprocess.run([a.wine, a.client] + calls, cwd=os.path.dirname(a.client), env=env,
                       capture_output=True, text=True, timeout=timeout)
    if p.returncode != 0:
        raise Failed(f"client exited with {p.returncode}: {p.stderr.strip()}")
    answers = []
    for line in p.stdout.splitlines():
        result, offset = line.split()
        answers.append((int(result), float(offset)))
    return answers


# ---- the scripted service ---------------------------------------------------

def scripted(routes):
    turn = InTurn(PATH, routes)
    return turn, ScriptedServer(turn.routes, timeout=600, on_request=turn.on_request)


def request_lines(server):
    return [r.line for r in server.requests]


POST_LINE = f"POST http://{{host}}{PATH} HTTP/1.1"


def check_requests(server, count, host):
    lines = request_lines(server)
    expect("requests", len(lines), count)
    for line in lines:
        expect("request line", line, POST_LINE.format(host=host))


def bad_bodies_then_good(a):
    """Bodies without a number give 4 and the next call asks again; a good
    one gives 1, and the call after it is a cache hit with no request."""
    routes = [Route(200, [b"abc"]),                              # a letter
              Route(200, []),                                    # empty
              Route(200, [b"+ 5"]),                              # sign, space
              Route(200, [b"\xef\xbb\xbf%d" % GMT]),             # byte-order mark
              Route(200, [b"\x00%d" % GMT]),                     # zero byte first
              Route(502, [b"<html>Bad Gateway</html>"]),         # a proxy's page
              Route(200, [b"%d\n" % GMT])]                       # good
    turn, server = scripted(routes)
    with server:
        got = run_client(a, f"http://127.0.0.1:{server.port}", [f"{WALL}:1"] * 8)
        expect("answers", got, [FROM_CLOCK] * 6 + [FROM_SERVER] * 2)
        check_requests(server, 7, a.host)


def wrapped_bodies(a):
    """White space before the digits, a fraction and text after them, an
    error status: the number is read all the same. Then digits past 2^31-1
    wrap to a negative time, which gives 0.0 from the service, cached."""
    wall = GMT + 5 * HOUR + 7 * 60 + 30  # 5 h 7 min 30 s: halfway, rounds up
    _, server = scripted([Route(404, [b"\r\n \t%d.250 GMT</p>" % GMT])])
    with server:
        got = run_client(a, f"http://127.0.0.1:{server.port}", [f"{wall}:1", "0:1"])
        expect("answers", got, [(1, 5.25), (1, 5.25)])
        check_requests(server, 1, a.host)
    _, server = scripted([Route(200, [b"2147483648"])])
    with server:
        got = run_client(a, f"http://127.0.0.1:{server.port}", [f"{WALL}:1", f"{WALL}:1"])
        expect("answers", got, [(1, 0.0), (1, 0.0)])
        check_requests(server, 1, a.host)


def nothing_answers(a):
    """No service: the clock's answer, 4, on every call."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        closed = s.getsockname()[1]  # nothing listens once it is closed
    got = run_client(a, f"http://127.0.0.1:{closed}", [f"{WALL}:1", f"{WALL}:1", f"{WALL}:0"])
    expect("answers", got, [FROM_CLOCK] * 3)


def slow_failure_shared(a):
    """Eight threads miss the cache together while the service takes 2 s and
    then fails: one request, and every thread gets its clock answer."""
    _, server = scripted([Route(200, [b"", b"no time here"], delay=2.0)])
    with server:
        got = run_client(a, f"http://127.0.0.1:{server.port}", [f"8*{WALL}:1"])
        expect("answers", got, [FROM_CLOCK] * 8)
        check_requests(server, 1, a.host)


def huge_body(a):
    """1.5 GiB after the time: only the first 64 KiB are read, the process
    lives and answers from the service, and the server stops sending once
    the client has closed the connection."""
    body = HugeBody(b"%d\n" % GMT, 3 * GIB // 2)
    _, server = scripted([Route(200, body)])
    with server:
        got = run_client(a, f"http://127.0.0.1:{server.port}", [f"{WALL}:1", f"{WALL}:1"])
        expect("answers", got, [FROM_SERVER] * 2)
        check_requests(server, 1, a.host)
        if not body.stopped.wait(30):
            raise Failed("the server is still sending 30 s after the client left")
        expect("passes over the body cut short", len(body.abandoned), 1)
        expect("responses the client broke off", server.aborted, 1)
        if body.abandoned[0] > 256 << 20:
            raise Failed(f"{body.abandoned[0]} bytes went out before the client closed")
        print(f"     (server stopped after {body.abandoned[0] >> 20} MiB)")


# ---- nginx ------------------------------------------------------------------

NGINX_CONF = """\
daemon off;
master_process off;
worker_processes 1;
pid {dir}/nginx.pid;
error_log {dir}/error.log warn;
events {{ worker_connections 64; }}
http {{
    access_log {dir}/access.log;
    client_body_temp_path {dir}/client_body;
    proxy_temp_path {dir}/proxy;
    fastcgi_temp_path {dir}/fastcgi;
    uwsgi_temp_path {dir}/uwsgi;
    scgi_temp_path {dir}/scgi;
    server {{
        listen 127.0.0.1:{port};
        server_name {host};
        location = /access/gmt.php {{ default_type text/plain; return 200 "$msec"; }}
    }}
}}
"""


def die_with_parent():
    # nginx goes when this script goes, however it ends.
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class Nginx:
    """nginx in the foreground on a free port of 127.0.0.1, every file it
    writes in its own temporary folder."""

    def __init__(self, binary, host):
        self.binary, self.host = binary, host
        self.dir = tempfile.mkdtemp(prefix="kestrune-nginx-")
        self.proc = None
        self.port = None

    def __enter__(self):
        for _ in range(5):  # the free port may be taken in between
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                self.port = s.getsockname()[1]
            conf = os.path.join(self.dir, "nginx.conf")
            with open(conf, "w") as f:
                f.write(NGINX_CONF.format(dir=self.dir, port=self.port, host=self.host))
            self.proc = subprocess.Popen(
                [self.binary, "-p", self.dir, "-c", conf, "-e", os.path.join(self.dir, "error.log")],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=die_with_parent)
            deadline = time.monotonic() + 15
            while time.monotonic() < deadline and self.proc.poll() is None:
                try:
                    socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                    return self
                except OSError:
                    time.sleep(0.1)
            self._stop()
        raise Failed("nginx did not start: " + self.error_log())

    def __exit__(self, *exc):
        self._stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def _stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None

    def error_log(self):
        try:
            with open(os.path.join(self.dir, "error.log")) as f:
                return f.read()
        except OSError:
            return "(no error log)"

    def request_lines(self):
        try:
            with open(os.path.join(self.dir, "access.log")) as f:
                return [line.split('"')[1] for line in f if '"' in line]
        except OSError:
            return []


def nginx_service(a):
    """The README's location block on a real nginx: its $msec body gives 1;
    the next call is a cache hit; use_server 0 never reaches it."""
    with Nginx(a.nginx, a.host) as nginx:
        proxy = f"http://127.0.0.1:{nginx.port}"
        got = run_client(a, proxy, ["now+18120:0", "now+18120:1", "now-7320:1"])
        expect("answers", got, [(4, 5.0), (1, 5.0), (1, 5.0)])
        lines = nginx.request_lines()
        expect("nginx requests", lines, [POST_LINE.format(host=a.host)])


SCENARIOS = [bad_bodies_then_good, wrapped_bodies, nothing_answers,
             slow_failure_shared, huge_body, nginx_service]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--client", required=True, help="gmt_e2e_client.exe, beside Kestrune.dll")
    ap.add_argument("--wine", required=True)
    ap.add_argument("--host", required=True, help="the service host built into the DLL")
    ap.add_argument("--nginx", default=shutil.which("nginx") or "/usr/sbin/nginx")
    ap.add_argument("scenarios", nargs="*", help="run only these")
    a = ap.parse_args()
    a.client, a.wine = os.path.abspath(a.client), os.path.abspath(a.wine)
    good = True
    for scenario in SCENARIOS:
        if a.scenarios and scenario.__name__ not in a.scenarios:
            continue
        start = time.monotonic()
        try:
            scenario(a)
            print(f"ok   {scenario.__name__} ({time.monotonic() - start:.1f} s)", flush=True)
        except (Failed, subprocess.TimeoutExpired) as e:
            good = False
            print(f"FAIL {scenario.__name__}: {e}", flush=True)
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
