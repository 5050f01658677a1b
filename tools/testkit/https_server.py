#!/usr/bin/env python3
"""Loopback HTTPS and HTTP server with scripted routes, for tests under Wine.

Both listeners bind 127.0.0.1 on ports the system picks. The HTTPS listener
uses a self-signed certificate for CN=localhost made with openssl at start in a
temporary folder, so a client must relax its certificate checks to read it.

Routes are matched by path prefix; a handler gets a Request and returns a
Response, or None when it wrote (or deliberately did not write) the answer on
the raw connection itself. Every request except /requests is recorded, so a
test can count what reached the server: GET /requests?path=P answers a JSON
list of the recorded requests whose path (without query) equals P.

Other test servers reuse this module: build a TestServer, add_route() their
own handlers, and start() it.

Command line:
  https_server.py run [--port-file F]        foreground; prints the ports
  https_server.py start --state-dir D        detached; writes D/ports.json
  https_server.py stop --state-dir D         stops the server started in D
ports.json: {"https": n, "http": n, "proxy": n, "closed": n, "proxyHost": s}.
"closed" is a port held bound without listening: connecting to it is refused.
"""

import argparse
import json
import os
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import proxy  # noqa: E402  (the sibling module of this test kit)
import server_process  # noqa: E402

LOOPBACK = server_process.LOOPBACK
TEST_HOST = "wex-test.invalid"


class Request:
    def __init__(self, method, target, headers, body):
        self.method = method
        parts = urllib.parse.urlsplit(target)
        self.path = parts.path
        self.query = dict(urllib.parse.parse_qsl(parts.query, keep_blank_values=True))
        self.headers = headers  # list of (name, value), as received, repeats kept
        self.body = body

    def header_values(self, name):
        return [v for k, v in self.headers if k.lower() == name.lower()]

    def to_json(self):
        return {
            "method": self.method,
            "path": self.path,
            "query": self.query,
            "headers": [[k, v] for k, v in self.headers],
            "bodyHex": self.body.hex(),
        }


class Response:
    def __init__(self, status=200, body=b"", headers=None, reason=None, chunked=False):
        self.status = status  # int, or a str sent as is on the status line
        self.reason = reason
        self.body = body
        self.headers = list(headers or [])
        self.chunked = chunked


def json_response(value, status=200):
    return Response(status, json.dumps(value).encode(), [("Content-Type", "application/json")])


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        self.server.owner.log_line("%s %s" % (self.address_string(), fmt % args))

    def _dispatch(self):
        owner = self.server.owner
        headers = list(self.headers.items())
        lengths = [v for k, v in headers if k.lower() == "content-length"]
        # A repeated or malformed length is recorded and refused: the client
        # must send exactly one valid Content-Length with a body.
        sane = len(lengths) <= 1 and all(v.strip().isdigit() for v in lengths)
        body = self.rfile.read(int(lengths[0])) if sane and lengths else b""
        request = Request(self.command, self.path, headers, body)
        if request.path != "/requests":
            owner.record(request)
        if not sane:
            self.close_connection = True
            self.write_response(Response(400, b"bad Content-Length\n"))
            return
        response = owner.route(request, self)
        if response is not None:
            self.write_response(response)

    do_GET = do_POST = do_PUT = do_HEAD = do_DELETE = _dispatch

    def write_response(self, response):
        if isinstance(response.status, int):
            reason = response.reason or self.responses.get(response.status, ("Unknown",))[0]
            status_line = "HTTP/1.1 %d %s\r\n" % (response.status, reason)
        else:
            status_line = "HTTP/1.1 %s %s\r\n" % (response.status, response.reason or "Odd")
        head = [status_line]
        names = {k.lower() for k, _ in response.headers}
        for k, v in response.headers:
            head.append("%s: %s\r\n" % (k, v))
        if response.chunked:
            head.append("Transfer-Encoding: chunked\r\n")
        elif "content-length" not in names:
            head.append("Content-Length: %d\r\n" % len(response.body))
        head.append("\r\n")
        self.wfile.write("".join(head).encode("latin-1"))
        if self.command == "HEAD":
            return
        if response.chunked:
            for i in range(0, len(response.body), 8192):
                piece = response.body[i:i + 8192]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        else:
            # Several writes, so a client sees the body arrive in pieces.
            for i in range(0, len(response.body), 16384):
                self.wfile.write(response.body[i:i + 16384])
                self.wfile.flush()
        self.wfile.flush()


class _Server(server_process.LoopbackHttpServer):
    def __init__(self, owner, context=None):
        super().__init__(0, _Handler, context, owner.log_line)
        self.owner = owner


def make_certificate(folder):
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
                    "-days", "2", "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


class TestServer:
    """An HTTPS and an HTTP listener sharing one route table and request log."""

    def __init__(self, log_file=None):
        self._routes = []  # (prefix, handler), longest prefix wins
        self._lock = threading.Lock()
        self._requests = []
        self._log_file = log_file
        self._servers = []
        self._temp = None
        self.ports = {}
        self.add_route("/requests", self._requests_route)

    def add_route(self, prefix, handler):
        self._routes.append((prefix, handler))
        self._routes.sort(key=lambda r: -len(r[0]))

    def log_line(self, text):
        if self._log_file:
            with self._lock, open(self._log_file, "a") as f:
                f.write(time.strftime("%H:%M:%S ") + text + "\n")

    def record(self, request):
        with self._lock:
            self._requests.append(request)

    def recorded(self, path):
        with self._lock:
            return [r for r in self._requests if r.path == path]

    def count(self, path):
        return len(self.recorded(path))

    def route(self, request, handler):
        for prefix, fn in self._routes:
            if request.path == prefix or request.path.startswith(prefix.rstrip("/") + "/"):
                return fn(self, request, handler)
        return Response(404, b"<html><body>no route</body></html>", [("Content-Type", "text/html")])

    def _requests_route(self, server, request, handler):
        return json_response([r.to_json() for r in self.recorded(request.query.get("path", ""))])

    def start(self):
        self._temp = tempfile.mkdtemp(prefix="wex-testkit-")
        cert, key = make_certificate(self._temp)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        for name, ctx in (("https", context), ("http", None)):
            server = _Server(self, ctx)
            self._servers.append(server)
            self.ports[name] = server.server_address[1]
            threading.Thread(target=server.serve_forever, args=(0.1,), daemon=True).start()
        return self.ports

    def stop(self):
        for server in self._servers:
            server.shutdown()
            server.server_close()
        self._servers = []
        if self._temp:
            for name in os.listdir(self._temp):
                os.unlink(os.path.join(self._temp, name))
            os.rmdir(self._temp)
            self._temp = None


# ---- The scripted cases of the HTTP client's tests ----

CHARSET_BODY = "caf\u00e9 \u20ac".encode("utf-8")
CHARSET_VARIANTS = {
    # variant: response headers naming (or not naming) a character set
    "header-utf8": [("Content-Type", "text/plain; Charset=UTF-8")],
    "none": [("Content-Type", "text/plain")],
    "header-latin1": [("Content-Type", "text/plain; charset=ISO-8859-1")],
    "first-wins": [("Content-Type", "text/plain; charset=windows-1252"), ("X-Note", "charset=utf-8")],
}


def position_bytes(size):
    """Bytes whose every 9-byte line names its own offset: "%08d\\n"."""
    out = bytearray()
    offset = 0
    while len(out) < size:
        out += b"%08d\n" % offset
        offset += 9
    return bytes(out[:size])


def _charset(server, request, handler):
    variant = request.path.rsplit("/", 1)[-1]
    if variant not in CHARSET_VARIANTS:
        return Response(404, b"unknown variant")
    return Response(200, CHARSET_BODY, CHARSET_VARIANTS[variant])


def _status(server, request, handler):
    code = request.path.rsplit("/", 1)[-1]
    page = b"<html><body><h1>%s</h1>error page</body></html>" % code.encode()
    return Response(int(code) if code.isdigit() else code, page, [("Content-Type", "text/html")])


def _size(server, request, handler):
    size = int(request.path.rsplit("/", 1)[-1])
    return Response(200, position_bytes(size), [("Content-Type", "application/octet-stream")],
                    chunked=request.query.get("chunked") == "1")


def _zero_mid_body(server, request, handler):
    return Response(200, b"before\x00after", [("Content-Type", "text/plain")])


def _html(server, request, handler):
    """/html/<token>?truncated=K: the first K answers lack the closing tag."""
    truncated = int(request.query.get("truncated", "0"))
    if server.count(request.path) <= truncated:
        body = b"<HTML><body>the first part only"
    else:
        body = b"<HTML><body>whole page</body></HTML>"
    return Response(200, body, [("Content-Type", "text/html")])


def _xml(server, request, handler):
    return Response(200, b'<?xml version="1.0"?><catalog><item/></catalog>', [("Content-Type", "text/xml")])


def _echo(server, request, handler):
    """/echo/<token>?fail=N: the first N requests are read and then the
    connection is closed without an answer; later ones get the echo."""
    if server.count(request.path) <= int(request.query.get("fail", "0")):
        handler.close_connection = True
        return None
    return json_response(request.to_json())


def _slow(server, request, handler):
    """Headers, then a stall of ?seconds=S before the body."""
    handler.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n")
    handler.wfile.flush()
    time.sleep(float(request.query.get("seconds", "60")))
    handler.wfile.write(b"late\n")
    return None


def _pac(server, request, handler):
    """/pac/<proxy port>: sends only the test host through the proxy."""
    port = request.path.rsplit("/", 1)[-1]
    script = ('function FindProxyForURL(url, host) {\n'
              '  if (host == "%s") return "PROXY %s:%s";\n'
              '  return "DIRECT";\n}\n' % (TEST_HOST, LOOPBACK, port))
    return Response(200, script.encode(), [("Content-Type", "application/x-ns-proxy-autoconfig")])


def add_http_client_routes(server):
    server.add_route("/charset", _charset)
    server.add_route("/status", _status)
    server.add_route("/size", _size)
    server.add_route("/zero-mid-body", _zero_mid_body)
    server.add_route("/html", _html)
    server.add_route("/xml", _xml)
    server.add_route("/echo", _echo)
    server.add_route("/slow", _slow)
    server.add_route("/pac", _pac)


# ---- Command line ----

def serve(port_file, log_file, lifetime, ready=None):
    server = TestServer(log_file)
    add_http_client_routes(server)
    ports = dict(server.start())
    relay = proxy.LoopbackProxy({TEST_HOST: LOOPBACK}, log=server.log_line)
    ports["proxy"] = relay.start()
    closed = server_process.closed_port()
    ports["closed"] = closed.getsockname()[1]
    ports["proxyHost"] = TEST_HOST
    text = json.dumps(ports)
    if port_file:
        temp = port_file + ".tmp"
        with open(temp, "w") as f:
            f.write(text)
        os.replace(temp, port_file)
    else:
        print(text, flush=True)
    if ready:
        ready()
    server_process.wait_for_stop(lifetime)
    relay.stop()
    server.stop()
    closed.close()
    if port_file and os.path.exists(port_file):
        os.unlink(port_file)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=["run", "start", "stop"])
    parser.add_argument("--port-file")
    parser.add_argument("--state-dir")
    parser.add_argument("--lifetime", type=float, default=3600,
                        help="seconds after which the server stops by itself")
    args = parser.parse_args()
    if args.state_dir:
        # The detached server keeps this command line: stop compares it.
        args.state_dir = os.path.abspath(args.state_dir)
        if sys.argv.count(args.state_dir) == 0:
            os.execv(sys.executable, [sys.executable, os.path.abspath(__file__), args.command,
                                      "--state-dir", args.state_dir, "--lifetime", str(args.lifetime)])
    if args.command == "run":
        serve(args.port_file, None, args.lifetime)
    elif not args.state_dir:
        parser.error("start and stop need --state-dir")
    elif args.command == "start":
        port_file = os.path.join(args.state_dir, "ports.json")
        log_file = os.path.join(args.state_dir, "server.log")
        server_process.start_detached(args.state_dir, "https_server.py",
                                      lambda ready: serve(port_file, log_file, args.lifetime, ready))
    else:
        server_process.stop_server(args.state_dir, "https_server.py")


if __name__ == "__main__":
    main()
