"""A Linux-side stand-in for the print server for end-to-end tests: it starts
the program under Wine with "x PORT" and exchanges packets with it through
the client's codec, which the codec's own unit tests pin byte by byte."""
import os
import select
import socket
import subprocess
import sys
import time
import unittest

SOURCE_DIR = os.environ.get("PROXY_SOURCE_DIR",
                            os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BUILD_DIR = os.environ.get("PROXY_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
PROXY_EXE = os.environ.get("PROXY_EXE", os.path.join(BUILD_DIR, "tavri-printer-proxy.exe"))
WINE_RUN = os.path.join(SOURCE_DIR, "scripts", "wine-run")
PRINTER = os.environ.get("PROXY_TEST_PRINTER", "TavriTestPDF")
sys.path.insert(0, os.path.join(SOURCE_DIR, "client"))
from tavri_print import protocol as p  # noqa: E402

frame, reply_body, u32 = p.frame, p.text_body, p.u32
# Channel settings that show the program's own lines and nothing of Wine's.
TRACE = "-all,trace+printproxy,err+printproxy,fixme+printproxy"
ERRORS = "-all,err+printproxy,fixme+printproxy"


class Packet:
    def __init__(self, code, req_id, body):
        self.code, self.req_id, self.body = code, req_id, body
        self.raw = p.frame(code, req_id, body)

    def reply(self):
        status, text = p.parse_text_body(self.body)
        assert len(self.body) == 8 + len(text), "reply text length in %r" % self.body
        return status, text

    def __repr__(self):
        return "Packet(%#x, %d, %r)" % (self.code, self.req_id, self.body[:64])


def program_env(wine_debug=ERRORS, extra=None, no_rpc="1"):
    env = dict(os.environ, WINEDEBUG=wine_debug, NO_RPC=no_rpc or "")
    if no_rpc is None:
        del env["NO_RPC"]
    return dict(env, **(extra or {}))


def record(job_id, output, printer=PRINTER, **values):
    """A start-print record on the rig's printer; `values` as the codec names them."""
    return p.raw_record(job_id, printer.encode(), output.encode(), **values)


class Session:
    """One run of the program connected to this peer."""

    def __init__(self, env=None, args=None, accept_timeout=30):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.stderr_path = os.path.join(BUILD_DIR, "logs",
                                        "e2e-%d-%d.stderr" % (os.getpid(), self.port))
        os.makedirs(os.path.dirname(self.stderr_path), exist_ok=True)
        self.stderr_file = open(self.stderr_path, "wb")
        self.process = subprocess.Popen(
            [WINE_RUN, PROXY_EXE] + (args or ["x", str(self.port)]), env=env or program_env(),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.stderr_file)
        self.listener.settimeout(accept_timeout)
        self.conn, _ = self.listener.accept()
        self.reader = p.PacketReader()

    def send(self, data):
        self.conn.sendall(data)

    def send_packet(self, code, req_id, body=b""):
        self.send(p.frame(code, req_id, body))

    def read_packet(self, timeout=10):
        """The next packet, or None when none arrives (or the peer closed)."""
        deadline = time.monotonic() + timeout
        while (packet := self.reader.next()) is None:
            ready, _, _ = select.select([self.conn], [], [], max(deadline - time.monotonic(), 0))
            try:  # a program that closed with unread input resets
                chunk = self.conn.recv(65536) if ready else b""
            except ConnectionResetError:
                chunk = b""
            if not chunk:
                return None
            self.reader.feed(chunk)
        return Packet(*packet)

    def expect(self, code, timeout=10, skip_heartbeats=True):
        """The next packet, which must have `code` (None: any but a heartbeat)."""
        while True:
            packet = self.read_packet(timeout)
            assert packet is not None, "no packet %r arrived" % code
            if skip_heartbeats and packet.code == p.PROGRAM_HEARTBEAT != code:
                continue
            assert code in (None, packet.code), "expected %r, got %r" % (code, packet)
            return packet

    def request(self, code, req_id, body=b"", answer=None, timeout=10):
        self.send_packet(code, req_id, body)
        packet = self.expect((p.ANSWER + code) & 0xFFFF if answer is None else answer, timeout)
        assert packet.req_id == req_id, "answer carries req_id %d, not %d" % (packet.req_id, req_id)
        return packet

    def closed_by_program(self, timeout=10):
        """True when the program closes its end with nothing more sent than
        heartbeats (a job's heartbeat thread sends one as it is stopped)."""
        while True:
            packet = self.read_packet(timeout)
            if packet is None or packet.code != p.PROGRAM_HEARTBEAT:
                return packet is None

    def wait_exit(self, timeout=20):
        return self.process.wait(timeout=timeout)

    def stderr(self):
        self.stderr_file.flush()
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def close(self):
        self.conn.close()
        self.listener.close()
        if self.process.poll() is None:
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.stderr_file.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def main():
    unittest.main(verbosity=2)


def drive_c():
    """The unix folder behind drive C: of the rig's Wine prefix."""
    prefix = os.environ.get("WINEPREFIX", os.path.join(BUILD_DIR, "wineprefix"))
    return os.path.join(prefix, "drive_c")
