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
    status: int = 200
    chunks: list = field(default_factory=list)  # bytes; the body is their join
    chunked: bool = False  # Transfer-Encoding: chunked, one HTTP chunk each
    delay: float = 0.0  # seconds between chunks
    headers: list = field(default_factory=list)  # extra (name, value) pairs


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


NOT_FOUND = Route(404, [b"<html><body><h1>404 Not Found</h1></body></html>"],
                  headers=[("Content-Type", "text/html")])


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):  # quiet
        pass

    def _serve(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        self.server.record(Request(self.requestline, list(self.headers.items()), body,
                                   self.client_address))
        path = urllib.parse.urlsplit(self.path).path
        route = self.server.routes.get(path, NOT_FOUND)
        self.send_response(route.status)
        for name, value in route.headers:
            self.send_header(name, value)
        if route.chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(sum(len(c) for c in route.chunks)))
        self.end_headers()
        for i, chunk in enumerate(route.chunks):
            if i and route.delay:
                time.sleep(route.delay)
            if route.chunked:
                if chunk:  # an empty HTTP chunk would end the body
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
            else:
                self.wfile.write(chunk)
            self.wfile.flush()
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
        self.on_request = on_request
        self._lock = threading.Lock()

    def record(self, request):
        with self._lock:
            self.requests.append(request)
        if self.on_request:
            self.on_request(request)


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
    ap.add_argument("--routes", default="{}", help="JSON: {path: {status, chunks, chunked, delay}}")
    ap.add_argument("--timeout", type=float, default=60.0)
    a = ap.parse_args()
    routes = {}
    for path, r in json.loads(a.routes).items():
        routes[path] = Route(r.get("status", 200),
                             [c.encode("latin-1") for c in r.get("chunks", [])],
                             r.get("chunked", False), r.get("delay", 0.0),
                             [tuple(h) for h in r.get("headers", [])])

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
