#!/usr/bin/env python3
"""A scripted HTTP server for tests, on 127.0.0.1 only, that stops by itself.

Point WinHTTP at it as the proxy (http_proxy=http://127.0.0.1:PORT): requests
then arrive with the absolute URL in the request line, and are routed by the
URL's path. Every request is recorded exactly as it came: request line,
headers in order, and body.

As a module:

    with ScriptedServer({"/x": Route(200, [b"12", b"34"], chunked=True)}) as s:
        ... http_proxy=f"http://127.0.0.1:{s.port}" ...
        s.requests  # [Request(line, headers, body), ...]

A route can also misbehave: answer late (stall), never answer (status None),
drip its body (delay), or break off mid-body (cut). InTurn scripts one path
request by request; HugeBody is a body of any size made as it is sent.

From the command line (routes as JSON, bodies as Latin-1 text):

    http_server.py --timeout 60 --routes '{"/x": {"status": 200, "chunks": ["12"]}}'

prints "PORT n", then one JSON line per request, and exits after the timeout.
"""
import argparse
import http.server
import json
import sys
import threading
import time
import urllib.parse
from dataclasses import dataclass, field


@dataclass
class Route:
    status: int = 200  # None: never answer; close the connection after the stall
    chunks: list = field(default_factory=list)  # bytes; the body is their join
    chunked: bool = False  # Transfer-Encoding: chunked, one HTTP chunk each
    delay: float = 0.0  # seconds between chunks
    headers: list = field(default_factory=list)  # extra (name, value) pairs
    stall: float = 0.0  # seconds between the request and the status line
    # Send only this many bytes of the body, then close the connection. The
    # headers still announce the whole body (its Content-Length, or the full
    # size of the HTTP chunk the cut falls in), so the body is cut short.
    cut: int = None


@dataclass
class Request:
    line: str
    headers: list  # (name, value) in the order sent
    body: bytes
    client: tuple = None  # (address, port) of the connection it came on

    def header_names(self):
        return [name.lower() for name, _ in self.headers]

    def header(self, name):
        values = [v for n, v in self.headers if n.lower() == name.lower()]
        return values[0] if len(values) == 1 else values or None


class InTurn:
    """Scripts one path: its n-th request is answered with the n-th route of
    `script`, every later one with the last. `routes` is what the server is
    given: the scripted path beside any fixed `others`. The server looks the
    route up after it has reported the request (on_request), so that report
    is where the next route is put in place; requests to other paths leave
    the script where it is."""

    def __init__(self, path, script, others=None):
        self.path, self.script = path, list(script)
        self.routes = dict(others or {})
        self.routes[path] = self.script[0]
        self.count = 0
        self.lock = threading.Lock()

    def on_request(self, request):
        words = request.line.split()
        if len(words) < 2 or urllib.parse.urlsplit(words[1]).path != self.path:
            return
        with self.lock:
            self.routes[self.path] = self.script[min(self.count, len(self.script) - 1)]
            self.count += 1


class HugeBody:
    """A body of `size` bytes made as it is sent: `head`, then filler in
    1 MiB pieces, so it costs no memory. Notes how far each pass over it got
    when it was abandoned, that is, when the client closed the connection
    and the server stopped."""

    PIECE = b"x" * (1 << 20)

    def __init__(self, head, size):
        self.head, self.size = head, size
        self.abandoned = []  # bytes handed out by each pass that stopped early
        self.stopped = threading.Event()

    def __iter__(self):
        handed = 0
        try:
            yield self.head
            handed = len(self.head)
            while handed < self.size:
                piece = self.PIECE[:self.size - handed]
                yield piece
                handed += len(piece)
        except GeneratorExit:
            self.abandoned.append(handed)
            self.stopped.set()
            raise


NOT_FOUND = Route(404, [b"<html><body><h1>404 Not Found</h1></body></html>"],
                  headers=[("Content-Type", "text/html")])


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):  # quiet
        pass

    def handle(self):
        try:
            super().handle()
        except ConnectionError:
            pass  # the client reset the connection between requests: its right

    def _serve(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        self.server.record(Request(self.requestline, list(self.headers.items()), body,
                                   self.client_address))
        path = urllib.parse.urlsplit(self.path).path
        route = self.server.routes.get(path, NOT_FOUND)
        if route.stall:
            time.sleep(route.stall)
        if route.status is None:
            self.close_connection = True
            return
        try:
            self._respond(route)
        except ConnectionError:
            # The client closed the connection before the response was out.
            self.close_connection = True
            self.server.note_abort()

    def _respond(self, route):
        self.send_response(route.status)
        for name, value in route.headers:
            self.send_header(name, value)
        if route.chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(sum(len(c) for c in route.chunks)))
        self.end_headers()
        left = route.cut  # body bytes still to send when cut short
        chunks = iter(route.chunks)
        try:
            for i, chunk in enumerate(chunks):
                if i and route.delay:
                    time.sleep(route.delay)
                part = chunk if left is None or left >= len(chunk) else chunk[:left]
                if route.chunked:
                    if chunk:  # an empty HTTP chunk would end the body
                        self.wfile.write(b"%x\r\n%s" % (len(chunk), part))
                        if part is chunk:
                            self.wfile.write(b"\r\n")
                else:
                    self.wfile.write(part)
                self.wfile.flush()
                if part is not chunk:  # cut short: no more, not even the end
                    self.close_connection = True
                    return
                if left is not None:
                    left -= len(chunk)
        finally:
            if hasattr(chunks, "close"):  # a generator: stop making the body
                chunks.close()
        if route.chunked:
            self.wfile.write(b"0\r\n\r\n")
            self.wfile.flush()

    do_POST = do_GET = do_PUT = do_HEAD = _serve


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, routes, on_request):
        super().__init__(("127.0.0.1", 0), _Handler)
        self.routes = routes
        self.requests = []
        self.aborted = 0  # responses the client broke off by closing
        self.on_request = on_request
        self._lock = threading.Lock()

    def record(self, request):
        with self._lock:
            self.requests.append(request)
        if self.on_request:
            self.on_request(request)

    def note_abort(self):
        with self._lock:
            self.aborted += 1


class ScriptedServer:
    """Serves `routes` ({path: Route}) on 127.0.0.1 at an ephemeral port from
    a background thread; stops when the `with` block ends or `timeout` seconds
    have passed, whichever comes first."""

    def __init__(self, routes, timeout=120.0, on_request=None):
        self._server = _Server(routes, on_request)
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._timer = threading.Timer(timeout, self._server.shutdown)
        self._timer.daemon = True

    @property
    def requests(self):
        with self._server._lock:
            return list(self._server.requests)

    @property
    def aborted(self):
        """How many responses the client broke off by closing the connection."""
        with self._server._lock:
            return self._server.aborted

    def start(self):
        self._thread.start()
        self._timer.start()
        return self

    def stop(self):
        self._timer.cancel()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join()

    def wait(self):
        self._thread.join()
        self._timer.cancel()
        self._server.server_close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--routes", default="{}",
                    help="JSON: {path: {status, chunks, chunked, delay, headers, stall, cut}}")
    ap.add_argument("--timeout", type=float, default=60.0)
    a = ap.parse_args()
    routes = {}
    for path, r in json.loads(a.routes).items():
        routes[path] = Route(r.get("status", 200),
                             [c.encode("latin-1") for c in r.get("chunks", [])],
                             r.get("chunked", False), r.get("delay", 0.0),
                             [tuple(h) for h in r.get("headers", [])],
                             r.get("stall", 0.0), r.get("cut"))

    def show(request):
        print(json.dumps({"line": request.line, "headers": request.headers,
                          "body": request.body.decode("latin-1"),
                          "client": list(request.client)}), flush=True)

    server = ScriptedServer(routes, a.timeout, show).start()
    print(f"PORT {server.port}", flush=True)
    server.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
