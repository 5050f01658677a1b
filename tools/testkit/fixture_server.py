#!/usr/bin/env python3
"""Loopback fixture server of the installer's test kit: catalogue, packages,
report endpoint, with fault switches per URL. Python standard library only.

Every listener binds 127.0.0.1 on a port the system picks and serves the same
routes; only the scheme differs. The HTTPS listeners use a self-signed
certificate for CN=localhost made with openssl at start in the state folder
(cert.pem, key.pem), so a client that keeps the platform's certificate checks
is refused by them.

State folder (--state-dir D):
  ports.json      {"http": n, "https": n, "fallbackHttps": n, "closed": n}
                  "https" is the primary catalogue host, "fallbackHttps" the
                  fallback one; "closed" is a port held bound without
                  listening, so connecting to it is refused.
  server.pid      the server's process id (used by stop)
  files/          the default package root (--files DIR serves another one)
  faults.json     optional; written by tests, re-read when it changes
  requests.jsonl  one JSON object per request received (see Records)
  reports.jsonl   the same, for the report endpoint only
  server.log      the server's own log

Routes:
  GET, HEAD  /<path>                    the file <root>/<path>; 404 page if none.
             The catalogue lives at <root>/downloads/xml/compoment.xml
             (primary) and <root>/open/qrmt/xml/compoment.xml (fallback).
  POST       /bin/in/clientreport.php   recorded in reports.jsonl; "ok" answer
  GET        /control/requests?path=P   JSON list of the records whose path
                                        (without query) is P; all without P
  GET        /control/count?path=P      {"count": n, "<METHOD>": n, ...}
  GET, POST  /control/faults            the fault table set by the control
             endpoint; a POST body {key: fault or null} merges into it
             (null removes) and answers the table
  GET, POST  /control/site?files=DIR    starts another set of listeners (http,
             https, fallbackHttps) serving DIR (relative to the state folder,
             or absolute) and answers their ports; records and faults are
             shared with the first set. Lets tests that need their own
             catalogue run side by side.
Control requests are not recorded.

Faults: an object {key: fault}. A key is a path without query ("/pkg/a.exe")
or an address and a path ("127.0.0.1:8443/pkg/a.exe") for one listener only,
which wins over the plain path. Entries of faults.json win over those set
through the control endpoint. A fault holds any of:
  "status": n        status code of HEAD and GET; from 400 on the body is an
                     error page instead of the file (POST: the report answer)
  "body": "text"     this text (UTF-8) instead of the file
  "headLength": v    Content-Length of the HEAD answer: a number or any text
                     sent as is; null leaves the header out
  "getLength": v     the same for the GET answer; the connection is closed
                     after the body, so a body longer or shorter than
                     announced never spills into a next request
  "chunked": true    GET body in chunked transfer coding (HEAD: no length)
  "dropAfter": n     only the first n body bytes are sent, then the
                     connection is closed (with the full length announced)
  "reset": true      closing after dropAfter is abortive (RST, not FIN)
  "chunkSize": n     body written n bytes at a time (default 65536)
  "chunkDelay": s    seconds of sleep after each written piece (slow body)
  "delay": s         seconds of sleep before the answer's headers
  "corrupt": n|[n]   the body bytes at these offsets are flipped (xor 0xFF)
  "times": n         the fault applies only while the path has received at
                     most n requests (all methods, this one included)

Records (requests.jsonl, reports.jsonl, /control/requests), one object each:
  {"time": epoch seconds, "listener": "http"|"https"|"fallbackHttps",
   "port": n, "method": "POST", "path": "/bin/in/clientreport.php",
   "query": "raw query text", "args": {name: value} (query, last one wins),
   "headers": [[name, value], ...] (as received, repeats kept),
   "body": text (UTF-8, invalid bytes replaced), "bodyHex": "..."}

Command line:
  fixture_server.py start --state-dir D [--files DIR] [--lifetime S] [--ports P]
                    detached; returns once ports.json is written
  fixture_server.py stop --state-dir D
  fixture_server.py run --state-dir D [--files DIR]    foreground
"""

import argparse
import json
import os
import socket
import ssl
import struct
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import server_process  # noqa: E402  (the sibling module of this test kit)

LOOPBACK = server_process.LOOPBACK
REPORT_PATH = "/bin/in/clientreport.php"
CATALOGUE_PATHS = ("/downloads/xml/compoment.xml", "/open/qrmt/xml/compoment.xml")
DEFAULT_CHUNK = 65536


def error_page(status):
    return b"<html><head><title>%d</title></head><body><h1>%d</h1>error page</body></html>" % (status, status)


class Fixture:
    """State shared by every listener: roots, records and faults."""

    def __init__(self, state_dir):
        self.state_dir = state_dir
        self._lock = threading.RLock()  # log_line is called with it held
        self._records = []
        self._control_faults = {}
        self._file_faults = {}
        self._faults_stamp = None
        self._sites = []
        self.cert = None
        self.key = None

    # ---- files ----
    def path(self, name):
        return os.path.join(self.state_dir, name)

    def log_line(self, text):
        with self._lock, open(self.path("server.log"), "a") as f:
            f.write(time.strftime("%H:%M:%S ") + text + "\n")

    def _append(self, name, record):
        with open(self.path(name), "a") as f:
            f.write(json.dumps(record) + "\n")

    # ---- records ----
    def record(self, record):
        with self._lock:
            self._records.append(record)
            self._append("requests.jsonl", record)
            if record["path"] == REPORT_PATH:
                self._append("reports.jsonl", record)

    def recorded(self, path=None):
        with self._lock:
            return [r for r in self._records if path is None or r["path"] == path]

    # ---- faults ----
    def _reload_file_faults(self):
        name = self.path("faults.json")
        try:
            st = os.stat(name)
            stamp = (st.st_mtime_ns, st.st_size)
        except OSError:
            stamp = None
        if stamp == self._faults_stamp:
            return
        table = {}
        if stamp is not None:
            try:
                with open(name) as f:
                    table = json.load(f)
                if not isinstance(table, dict):
                    raise ValueError("not an object")
            except (OSError, ValueError) as e:
                # A file caught mid-write is read again at its next change.
                self.log_line("faults.json ignored: %s" % e)
                return
        self._file_faults = table
        self._faults_stamp = stamp

    def fault_for(self, port, path):
        with self._lock:
            self._reload_file_faults()
            count = sum(1 for r in self._records if r["path"] == path)
            for key in ("%s:%d%s" % (LOOPBACK, port, path), path):
                for table in (self._file_faults, self._control_faults):
                    fault = table.get(key)
                    if isinstance(fault, dict):
                        if "times" in fault and count > int(fault["times"]):
                            return {}
                        return fault
            return {}

    def merge_faults(self, changes):
        with self._lock:
            for key, fault in changes.items():
                if fault is None:
                    self._control_faults.pop(key, None)
                else:
                    self._control_faults[key] = fault
            return dict(self._control_faults)

    def control_faults(self):
        with self._lock:
            return dict(self._control_faults)

    # ---- listeners ----
    def make_certificate(self):
        self.cert, self.key = self.path("cert.pem"), self.path("key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
                        "-days", "2", "-keyout", self.key, "-out", self.cert],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start_site(self, root, fixed_ports=None):
        """fixed_ports: {listener name: port} for listeners that must use a
        known port (a build whose server addresses are fixed); others pick."""
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.cert, self.key)
        os.makedirs(root, exist_ok=True)
        ports = {}
        for name, ctx in (("http", None), ("https", context), ("fallbackHttps", context)):
            port = (fixed_ports or {}).get(name, 0)
            server = _Server(self, name, os.path.abspath(root), ctx, port)
            ports[name] = server.server_address[1]
            threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()
            with self._lock:
                self._sites.append(server)
        return ports

    def stop(self):
        with self._lock:
            sites, self._sites = self._sites, []
        for server in sites:
            server.shutdown()
            server.server_close()


class _Server(server_process.LoopbackHttpServer):
    request_queue_size = 64

    def __init__(self, fixture, name, root, context, port=0):
        super().__init__(port, _Handler, context, lambda text: fixture.log_line(name + ": " + text))
        self.fixture = fixture
        self.name = name
        self.root = root


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        self.server.fixture.log_line("%s %s" % (self.server.name, fmt % args))

    # ---- request side ----
    def _read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        length = self.headers.get("Content-Length", "").strip()
        return self.rfile.read(int(length)) if length.isdigit() else b""

    def _dispatch(self):
        fixture = self.server.fixture
        parts = urllib.parse.urlsplit(self.path)
        path = urllib.parse.unquote(parts.path)
        body = self._read_body()
        if path.startswith("/control/"):
            self._control(path, parts.query, body)
            return
        fixture.record({
            "time": time.time(),
            "listener": self.server.name,
            "port": self.server.server_address[1],
            "method": self.command,
            "path": path,
            "query": parts.query,
            "args": dict(urllib.parse.parse_qsl(parts.query, keep_blank_values=True)),
            "headers": [[k, v] for k, v in self.headers.items()],
            "body": body.decode("utf-8", errors="replace"),
            "bodyHex": body.hex(),
        })
        fault = fixture.fault_for(self.server.server_address[1], path)
        if fault.get("delay"):
            time.sleep(float(fault["delay"]))
        if path == REPORT_PATH and self.command == "POST":
            status = int(fault.get("status", 200))
            text = fault["body"].encode() if "body" in fault else b"ok\n"
            self._send_bytes(status, text, "text/plain", fault)
        elif self.command in ("GET", "HEAD"):
            self._send_file(path, fault)
        else:
            self._send_bytes(405, error_page(405), "text/html", {})

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = _dispatch

    # ---- answers ----
    def _head(self, status, headers):
        reason = self.responses.get(status, ("Unknown",))[0]
        lines = ["HTTP/1.1 %d %s\r\n" % (status, reason)]
        lines += ["%s: %s\r\n" % (k, v) for k, v in headers]
        lines.append("\r\n")
        self.wfile.write("".join(lines).encode("latin-1"))

    def _length_header(self, fault, key, length):
        """The Content-Length header of this answer: (headers, closes)."""
        if key not in fault:
            return [("Content-Length", str(length))], False
        value = fault[key]
        return ([] if value is None else [("Content-Length", str(value))]), True

    def _send_bytes(self, status, data, content_type, fault):
        self._send(status, content_type, len(data), lambda offset, count: data[offset:offset + count], fault,
                   None)

    def _send_file(self, path, fault):
        status = int(fault.get("status", 200))
        if "body" in fault:
            self._send_bytes(status, fault["body"].encode("utf-8"), "application/octet-stream", fault)
            return
        target = os.path.normpath(os.path.join(self.server.root, path.lstrip("/")))
        inside = target == self.server.root or target.startswith(self.server.root + os.sep)
        if status >= 400 or not inside or not os.path.isfile(target):
            if status < 400:
                status = 404
            self._send_bytes(status, error_page(status), "text/html", fault)
            return
        with open(target, "rb") as f:
            size = os.fstat(f.fileno()).st_size

            def piece(offset, count):
                f.seek(offset)
                return f.read(count)
            self._send(status, "application/octet-stream", size, piece, fault, f)

    def _send(self, status, content_type, size, piece, fault, file):
        """Writes head and body as the fault asks. piece(offset, count) gives
        body bytes; `file`, when given, may be sent whole with sendfile."""
        chunked = bool(fault.get("chunked"))
        headers = [("Content-Type", content_type)]
        closes = False
        if self.command == "HEAD":
            if not chunked:
                length, closes = self._length_header(fault, "headLength", size)
                headers += length
        elif chunked:
            headers.append(("Transfer-Encoding", "chunked"))
        else:
            length, closes = self._length_header(fault, "getLength", size)
            headers += length
            if not length:
                closes = True
        if closes:
            headers.append(("Connection", "close"))
            self.close_connection = True
        self._head(status, headers)
        if self.command == "HEAD":
            return

        limit = size
        if "dropAfter" in fault:
            limit = min(size, int(fault["dropAfter"]))
        corrupt = fault.get("corrupt", [])
        corrupt = set(corrupt if isinstance(corrupt, list) else [corrupt])
        step = int(fault.get("chunkSize", DEFAULT_CHUNK))
        delay = float(fault.get("chunkDelay", 0))
        plain = not (chunked or corrupt or delay or "dropAfter" in fault or "chunkSize" in fault)
        if plain and file is not None:
            self.connection.sendfile(file, 0, size)
        else:
            offset = 0
            while offset < limit:
                data = bytearray(piece(offset, min(step, limit - offset)))
                if not data:
                    break
                for at in corrupt:
                    if offset <= at < offset + len(data):
                        data[at - offset] ^= 0xFF
                if chunked:
                    self.wfile.write(b"%x\r\n" % len(data) + bytes(data) + b"\r\n")
                else:
                    self.wfile.write(bytes(data))
                offset += len(data)
                if delay:
                    time.sleep(delay)
            if "dropAfter" in fault and limit < size:
                self.close_connection = True
                if fault.get("reset"):
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                return
            if chunked:
                self.wfile.write(b"0\r\n\r\n")

    # ---- control ----
    def _json(self, value, status=200):
        data = json.dumps(value).encode()
        self._head(status, [("Content-Type", "application/json"), ("Content-Length", str(len(data)))])
        if self.command != "HEAD":
            self.wfile.write(data)

    def _control(self, path, query, body):
        fixture = self.server.fixture
        args = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
        if path == "/control/requests":
            self._json(fixture.recorded(args.get("path")))
        elif path == "/control/count":
            records = fixture.recorded(args.get("path"))
            counts = {"count": len(records)}
            for r in records:
                counts[r["method"]] = counts.get(r["method"], 0) + 1
            self._json(counts)
        elif path == "/control/faults":
            if self.command == "POST":
                try:
                    changes = json.loads(body or b"{}")
                    if not isinstance(changes, dict):
                        raise ValueError("not an object")
                except ValueError as e:
                    self._json({"error": str(e)}, 400)
                    return
                self._json(fixture.merge_faults(changes))
            else:
                self._json(fixture.control_faults())
        elif path == "/control/site":
            folder = args.get("files", "")
            if not folder:
                self._json({"error": "files= is missing"}, 400)
                return
            self._json(fixture.start_site(os.path.join(fixture.state_dir, folder)))
        else:
            self._json({"error": "unknown control path"}, 404)


# ---- Command line ----

def _write_atomically(name, text):
    with open(name + ".tmp", "w") as f:
        f.write(text)
    os.replace(name + ".tmp", name)


def serve(state_dir, files, lifetime, ready=None, fixed_ports=None):
    fixture = Fixture(state_dir)
    fixture.make_certificate()
    ports = fixture.start_site(files, fixed_ports)
    closed = server_process.closed_port()
    ports["closed"] = closed.getsockname()[1]
    _write_atomically(fixture.path("ports.json"), json.dumps(ports))
    fixture.log_line("serving %s on %s" % (files, ports))
    if ready:
        ready()
    server_process.wait_for_stop(lifetime)
    fixture.stop()
    closed.close()
    for name in ("ports.json", "server.pid"):
        if os.path.exists(fixture.path(name)):
            os.unlink(fixture.path(name))


SCRIPT = "fixture_server.py"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=["run", "start", "stop"])
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--files", help="package root; default <state-dir>/files")
    parser.add_argument("--lifetime", type=float, default=3600,
                        help="seconds after which the server stops by itself")
    parser.add_argument("--ports", default="",
                        help="fixed ports, e.g. https=47443,fallbackHttps=47444,http=47480")
    args = parser.parse_args()
    fixed_ports = {}
    for entry in filter(None, args.ports.split(",")):
        name, _, port = entry.partition("=")
        if name not in ("http", "https", "fallbackHttps") or not port.isdigit():
            parser.error("--ports takes http=N, https=N and fallbackHttps=N")
        fixed_ports[name] = int(port)
    state_dir = os.path.abspath(args.state_dir)
    files = os.path.abspath(args.files) if args.files else os.path.join(state_dir, "files")
    if args.command == "stop":
        server_process.stop_server(state_dir, SCRIPT)
    elif args.command == "start":
        if args.state_dir != state_dir or args.files != files:
            # The detached server keeps this command line: stop compares it.
            os.execv(sys.executable, [sys.executable, os.path.abspath(__file__), "start", "--state-dir",
                                      state_dir, "--files", files, "--lifetime", str(args.lifetime),
                                      "--ports", args.ports])
        server_process.start_detached(
            state_dir, SCRIPT, lambda ready: serve(state_dir, files, args.lifetime, ready, fixed_ports))
    else:
        os.makedirs(state_dir, exist_ok=True)
        serve(state_dir, files, args.lifetime, fixed_ports=fixed_ports)


if __name__ == "__main__":
    main()
