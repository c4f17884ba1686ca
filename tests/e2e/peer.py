"""A Linux-side stand-in for the print server for end-to-end tests: it starts
the program under Wine with "x PORT" and exchanges packets byte by byte, in an
encoding of its own that shares no code with the program."""
import os
import select
import socket
import struct
import subprocess
import time
import unittest

MAGIC = 0xAABB1122
VERSION = 2
TRAILER = 0xCCDD3344

SOURCE_DIR = os.environ.get("PROXY_SOURCE_DIR",
                            os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BUILD_DIR = os.environ.get("PROXY_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
PROXY_EXE = os.environ.get("PROXY_EXE", os.path.join(BUILD_DIR, "tavri-printer-proxy.exe"))
WINE_RUN = os.path.join(SOURCE_DIR, "scripts", "wine-run")

# Channel settings that show the program's own lines and nothing of Wine's.
TRACE = "-all,trace+printproxy,err+printproxy,fixme+printproxy"
ERRORS = "-all,err+printproxy,fixme+printproxy"


def frame(code, req_id, body=b"", magic=MAGIC, version=VERSION, trailer=TRAILER, length=None):
    if length is None:
        length = len(body)
    return (struct.pack(">IHHII", magic, version, code, req_id, length) + body
            + struct.pack(">I", trailer))


def reply_body(status, text=b""):
    return struct.pack(">II", status, len(text)) + text


def u32(value):
    return struct.pack(">I", value)


class Packet:
    def __init__(self, code, req_id, body, raw):
        self.code, self.req_id, self.body, self.raw = code, req_id, body, raw

    def reply(self):
        status, length = struct.unpack(">II", self.body[:8])
        assert len(self.body) == 8 + length, "reply text length %d in %r" % (length, self.body)
        return status, self.body[8:]

    def __repr__(self):
        return "Packet(%#x, %d, %r)" % (self.code, self.req_id, self.body[:64])


def program_env(wine_debug=ERRORS, extra=None, no_rpc="1"):
    env = dict(os.environ, WINEDEBUG=wine_debug, NO_RPC=no_rpc or "")
    if no_rpc is None:
        del env["NO_RPC"]
    return dict(env, **(extra or {}))


class Session:
    """One run of the program connected to this peer."""

    def __init__(self, env=None, args=None, accept_timeout=30):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
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
        self.buffer = b""

    def send(self, data):
        self.conn.sendall(data)

    def send_packet(self, code, req_id, body=b""):
        self.send(frame(code, req_id, body))

    def _fill(self, count, timeout):
        deadline = time.monotonic() + timeout
        while len(self.buffer) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            ready, _, _ = select.select([self.conn], [], [], left)
            if not ready:
                return False
            try:  # a program that closed with unread input resets
                chunk = self.conn.recv(65536)
            except ConnectionResetError:
                chunk = b""
            if not chunk:
                return False
            self.buffer += chunk
        return True

    def read_packet(self, timeout=10):
        """The next packet, or None when none arrives (or the peer closed)."""
        if not self._fill(16, timeout):
            return None
        magic, version, code, req_id, length = struct.unpack(">IHHII", self.buffer[:16])
        assert magic == MAGIC and version == VERSION, "bad header %r" % self.buffer[:16]
        if not self._fill(16 + length + 4, timeout):
            return None
        raw = self.buffer[:20 + length]
        (trailer,) = struct.unpack(">I", raw[16 + length:])
        assert trailer == TRAILER, "bad trailer %r" % raw[-4:]
        self.buffer = self.buffer[20 + length:]
        return Packet(code, req_id, raw[16:16 + length], raw)

    def expect(self, code, timeout=10, skip_heartbeats=True):
        """The next packet, which must have `code` (None: any but a heartbeat)."""
        while True:
            packet = self.read_packet(timeout)
            assert packet is not None, "no packet %r arrived" % code
            if skip_heartbeats and packet.code == 0x2002 and code != 0x2002:
                continue
            assert code in (None, packet.code), "expected %r, got %r" % (code, packet)
            return packet

    def request(self, code, req_id, body=b"", answer=None, timeout=10):
        self.send_packet(code, req_id, body)
        packet = self.expect((0x1000 + code) & 0xFFFF if answer is None else answer, timeout)
        assert packet.req_id == req_id, "answer carries req_id %d, not %d" % (packet.req_id, req_id)
        return packet

    def closed_by_program(self, timeout=10):
        """True when the program closes its end with nothing more sent than
        heartbeats (a job's heartbeat thread sends one as it is stopped)."""
        while True:
            packet = self.read_packet(timeout)
            if packet is None or packet.code != 0x2002:
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


def name_field(text):
    raw = text.encode("latin-1") if isinstance(text, str) else text
    return raw + bytes(128 - len(raw))


def start_print_record(job_id=1, printer=None, output="tavri-out.ps", fields=0, collate=0,
                       copies=1, duplex=1, scale=0, paper_source=0, paper_size=0,
                       print_quality=0, y_resolution=0, pages=1, color=0, data_type=1):
    """The 308-byte body of action 1. `printer` defaults to the rig's queue."""
    if printer is None:
        printer = os.environ.get("PROXY_TEST_PRINTER", "TavriTestPDF")
    return (struct.pack(">I", job_id) + name_field(printer) + name_field(output)
            + struct.pack(">IIIIIIIiIIII", fields, collate, copies, duplex, scale, paper_source,
                          paper_size, print_quality, y_resolution, pages, color, data_type))


def drive_c():
    """The unix folder behind drive C: of the rig's Wine prefix."""
    prefix = os.environ.get("WINEPREFIX", os.path.join(BUILD_DIR, "wineprefix"))
    return os.path.join(prefix, "drive_c")
