#!/usr/bin/env python3
"""http_post over real WinHTTP under Wine, on the wire.

A scripted server on 127.0.0.1 is WinHTTP's proxy (http_proxy), so every
request arrives there with its absolute URL. Checks the request exactly as
sent, and the bodies as http_post returns them. Then, with no proxy, a host
that does not resolve must fail at sending and leave the body alone."""
import argparse
import os
import random
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from http_server import Route, ScriptedServer  # noqa: E402

HOST = "service.example"
USER_AGENT = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; Q312461)"
SENTINEL = b"sentinel"  # the probe's body before each call
# The headers WinHTTP adds of itself to a bodiless POST; the library adds none.
WINHTTP_OWN = {"user-agent", "host", "content-length", "connection", "proxy-connection"}
PROXY_VARS = ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
              "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY")

NOT_FOUND_PAGE = b"<html><body><h1>404 Not Found</h1><p>No such page.</p></body></html>"
EVERY_BYTE = bytes(random.Random(4).randrange(256) for _ in range(300_000))

ROUTES = {
    "/access/gmt.php": Route(200, [b"1700000000"]),
    "/missing": Route(404, [NOT_FOUND_PAGE], headers=[("Content-Type", "text/html")]),
    "/chunked": Route(200, [b"first-", b"second-", b"\x00third-", b"fourth"],
                      chunked=True, delay=0.1),
    "/zero": Route(200, [b"a\x00b\x00\x00c\x00"]),
    "/empty": Route(200, []),
    "/empty-chunked": Route(200, [], chunked=True),
    "/limited": Route(200, [b"0123", b"456789"], chunked=True, delay=0.05),
    "/every-byte": Route(200, [EVERY_BYTE[i:i + 65536] for i in range(0, len(EVERY_BYTE), 65536)],
                         chunked=True),
}

# (path, limit or "-", result, body)
CASES = [
    ("/access/gmt.php", "-", 0, b"1700000000"),
    ("/missing", "-", 0, NOT_FOUND_PAGE),
    ("/chunked", "-", 0, b"first-second-\x00third-fourth"),
    ("/zero", "-", 0, b"a\x00b\x00\x00c\x00"),
    ("/empty", "-", 0, b""),
    ("/empty-chunked", "-", 0, b""),
    ("/limited", "4", 0, b"0123"),
    ("/every-byte", "-", 0, EVERY_BYTE),
]


def run_probe(a, env, triples):
    args = [a.wine, a.probe] + [x for t in triples for x in t]
    p = subprocess.run(args, env=env, capture_output=True, text=True, timeout=180)
    if p.returncode != 0:
        raise SystemExit(f"probe failed ({p.returncode}): {p.stderr}")
    out = []
    for line in p.stdout.splitlines():
        fields = dict(f.split("=", 1) for f in line.split())
        out.append((int(fields["result"]), int(fields["ms"]), bytes.fromhex(fields["body"])))
    if len(out) != len(triples):
        raise SystemExit(f"probe answered {len(out)} of {len(triples)} calls:\n{p.stdout}{p.stderr}")
    return out


def env_without_proxy():
    env = dict(os.environ)
    for name in PROXY_VARS:
        env.pop(name, None)
    return env


def show(body):
    return repr(body if len(body) <= 60 else body[:60] + b"...")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--probe", required=True)
    ap.add_argument("--wine", required=True)
    a = ap.parse_args()
    failures = []

    def check(ok, what):
        print(("ok  " if ok else "FAIL"), what)
        if not ok:
            failures.append(what)

    with ScriptedServer(ROUTES, timeout=240) as server:
        env = env_without_proxy()
        env["http_proxy"] = f"http://127.0.0.1:{server.port}"
        answers = run_probe(a, env, [(HOST, path, limit) for path, limit, _, _ in CASES])
        requests = server.requests

    for (path, limit, result, body), (got, ms, got_body) in zip(CASES, answers):
        check(got == result and got_body == body,
              f"{path} limit {limit}: result {got}, body {show(got_body)} ({len(got_body)} bytes)")

    check(len(requests) == len(CASES), f"{len(requests)} requests for {len(CASES)} calls")
    for (path, _, _, _), req in zip(CASES, requests):
        names = req.header_names()
        want_line = f"POST http://{HOST}{path} HTTP/1.1"
        check(req.line == want_line, f"request line {req.line!r}")
        check(req.header("User-Agent") == USER_AGENT, f"{path}: User-Agent {req.header('User-Agent')!r}")
        check(req.header("Host") == HOST, f"{path}: Host {req.header('Host')!r}")
        check("accept" not in names, f"{path}: no Accept header")
        check(req.header("Content-Length") in (None, "0") and "transfer-encoding" not in names
              and req.body == b"", f"{path}: empty body (Content-Length {req.header('Content-Length')!r})")
        check(set(names) <= WINHTTP_OWN and len(names) == len(set(names)),
              f"{path}: only WinHTTP's own headers {names}")
    # Not checked: Wine's WinHTTP keeps idle connections in a pool of its own
    # for a few seconds after every handle is closed, so calls may share one.
    print("info", len({r.client for r in requests}), "connections for", len(requests), "calls")

    # No proxy: the name must be resolved by the machine, and .invalid never is.
    start = time.monotonic()
    [(got, ms, body)] = run_probe(a, env_without_proxy(), [("kestrune-unreachable.invalid", "/access/gmt.php", "-")])
    check(got == 2 and body == SENTINEL,
          f"unresolvable host without a proxy: result {got}, body {show(body)}, "
          f"{ms} ms in http_post, {time.monotonic() - start:.1f} s with Wine's start")

    print("FAILED" if failures else "passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
