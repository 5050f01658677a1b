"""What the test-kit servers share: their loopback listener, and running
detached from ctest and stopping again.

A server started for a state folder keeps these files there:
  server.pid   its process id
  server.log   its standard output and error
  ports.json   written by the server once it listens (removed when it stops)
ctest waits until every holder of a test's output pipe has closed it, so the
server runs in its own session on /dev/null.
"""
import os
import signal
import socket
import sys
import threading
import time
from http.server import ThreadingHTTPServer

LOOPBACK = "127.0.0.1"


def closed_port():
    """A socket bound on loopback but not listening: connecting to its port is
    refused. The caller keeps it while the server runs and closes it."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.bind((LOOPBACK, 0))
    return sock


def wait_for_stop(lifetime):
    """Blocks until SIGTERM or SIGINT arrives or `lifetime` seconds (None:
    no limit) have passed. Call it from the main thread."""
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    stop.wait(lifetime)


class LoopbackHttpServer(ThreadingHTTPServer):
    """An HTTP listener on 127.0.0.1 (port 0: any free port); with an SSL
    context it speaks HTTPS. Connections that end in an error are reported to
    `log_line`, a callable taking one text."""
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, handler, context, log_line):
        super().__init__((LOOPBACK, port), handler)
        self.context = context
        self._log_line = log_line

    def get_request(self):
        sock, address = super().get_request()
        if self.context is not None:
            # The handshake runs on the handler's thread at its first read, so
            # a stalled or refusing client never blocks the accepting loop.
            sock = self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, address

    def handle_error(self, request, client_address):
        self._log_line("connection from %s ended: %s" % (client_address, sys.exc_info()[1]))


def _gone(pid):
    """True once the process has ended (an unreaped zombie counts as ended)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


def stop_server(state_dir, script_name):
    """Stops the server of `script_name` started for `state_dir`, if any."""
    pid_file = os.path.join(state_dir, "server.pid")
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        return
    # A stale file may name a process that is not ours any more: only the
    # server started for this very state folder is stopped.
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            argv = f.read().decode(errors="replace").split("\0")
    except OSError:
        argv = []
    try:
        if not any(a.endswith(script_name) for a in argv) or state_dir not in argv:
            raise ProcessLookupError
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            if _gone(pid):
                break
            time.sleep(0.05)
        else:
            os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    for name in ("server.pid", "ports.json"):
        path = os.path.join(state_dir, name)
        if os.path.exists(path):
            os.unlink(path)


def start_detached(state_dir, script_name, serve):
    """Stops an earlier server of the folder, then runs serve(ready) in a
    detached process and returns once it has called ready(); prints the
    ports. Exits the calling process when the server does not come up."""
    os.makedirs(state_dir, exist_ok=True)
    stop_server(state_dir, script_name)
    log_file = os.path.join(state_dir, "server.log")
    read_end, write_end = os.pipe()
    if os.fork() == 0:
        os.close(read_end)
        os.setsid()
        if os.fork() != 0:
            os._exit(0)
        null = os.open(os.devnull, os.O_RDWR)
        log = os.open(log_file, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        os.dup2(null, 0)
        os.dup2(log, 1)
        os.dup2(log, 2)
        with open(os.path.join(state_dir, "server.pid"), "w") as f:
            f.write(str(os.getpid()))

        def ready():
            os.write(write_end, b"1")
            os.close(write_end)
        try:
            serve(ready)
        finally:
            os._exit(0)
    os.close(write_end)
    os.wait()
    ok = os.read(read_end, 1) == b"1"
    os.close(read_end)
    if not ok:
        sys.exit("%s did not start; see %s" % (script_name, log_file))
    with open(os.path.join(state_dir, "ports.json")) as f:
        print("%s ports: %s" % (script_name, f.read()))
