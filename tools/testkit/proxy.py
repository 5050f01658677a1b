#!/usr/bin/env python3
"""A tiny loopback HTTP proxy that alone knows the test host names.

It listens on 127.0.0.1 on a port the system picks and serves CONNECT tunnels
(for HTTPS) and absolute-form requests (plain HTTP). A target host is looked
up in the map it was given ({"wex-test.invalid": "127.0.0.1"}); a loopback
address is used as is; any other host is refused with 502, so a test using a
mapped name can only succeed through this proxy, and nothing leaves the
machine. Each tunnel or request is counted per "host:port" in `targets`.

Command line: proxy.py [--map NAME=ADDRESS ...] prints its port, runs until
interrupted.
"""

import argparse
import select
import socket
import socketserver
import threading
import urllib.parse

LOOPBACK_NAMES = {"127.0.0.1", "localhost", "::1"}


def _read_head(sock):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(4096)
        if not chunk:
            return None, b""
        data += chunk
        if len(data) > 65536:
            return None, b""
    head, rest = data.split(b"\r\n\r\n", 1)
    return head.decode("latin-1").split("\r\n"), rest


def _pipe(a, b):
    """Copies both ways until either side closes."""
    sockets = [a, b]
    while True:
        readable, _, broken = select.select(sockets, [], sockets, 300)
        if broken or not readable:
            return
        for sock in readable:
            data = sock.recv(65536)
            if not data:
                return
            (b if sock is a else a).sendall(data)


class _Handler(socketserver.BaseRequestHandler):
    def handle(self):
        owner = self.server.owner
        lines, rest = _read_head(self.request)
        if not lines:
            return
        method, target, version = (lines[0].split(" ") + ["", ""])[:3]
        if method == "CONNECT":
            host, _, port = target.rpartition(":")
            head = None
        else:
            parts = urllib.parse.urlsplit(target)
            host, port = parts.hostname or "", str(parts.port or 80)
            origin = urllib.parse.urlunsplit(("", "", parts.path or "/", parts.query, ""))
            head = "\r\n".join(["%s %s %s" % (method, origin, version)] + lines[1:]) + "\r\n\r\n"
        address = owner.resolve(host.strip("[]"))
        if address is None or not port.isdigit():
            owner.log("proxy refused %s" % target)
            self.request.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return
        try:
            upstream = socket.create_connection((address, int(port)), timeout=10)
        except OSError as error:
            owner.log("proxy cannot reach %s: %s" % (target, error))
            self.request.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return
        upstream.settimeout(None)
        owner.count("%s:%s" % (host, port))
        with upstream:
            if head is None:
                self.request.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            else:
                upstream.sendall(head.encode("latin-1"))
            if rest:
                upstream.sendall(rest)
            _pipe(self.request, upstream)


class _Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


class LoopbackProxy:
    def __init__(self, host_map, log=None):
        self._map = {k.lower(): v for k, v in host_map.items()}
        self._log = log
        self._lock = threading.Lock()
        self.targets = {}
        self._server = None

    def resolve(self, host):
        host = host.lower()
        if host in self._map:
            return self._map[host]
        if host in LOOPBACK_NAMES:
            return host
        return None

    def count(self, target):
        with self._lock:
            self.targets[target] = self.targets.get(target, 0) + 1

    def log(self, text):
        if self._log:
            self._log(text)

    def start(self):
        self._server = _Server(("127.0.0.1", 0), _Handler)
        self._server.owner = self
        threading.Thread(target=self._server.serve_forever, args=(0.1,), daemon=True).start()
        return self._server.server_address[1]

    def stop(self):
        if self._server:
            self._server.shutdown()
            self._server.server_close()
            self._server = None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--map", action="append", default=[], metavar="NAME=ADDRESS")
    args = parser.parse_args()
    relay = LoopbackProxy(dict(item.split("=", 1) for item in args.map), log=print)
    print(relay.start(), flush=True)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        relay.stop()


if __name__ == "__main__":
    main()
