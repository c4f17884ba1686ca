"""A Linux-side stand-in for the print server for end-to-end tests: it starts
the program under Wine with "x PORT" and exchanges packets with it through
the tests' codec (protocol), whose numbers a unit test holds to the
program's catalogue."""
import collections
import os
import select
import socket
import subprocess
import sys
import time
import unittest

SOURCE_DIR = os.environ.get(
    "PROXY_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
)
BUILD_DIR = os.environ.get("PROXY_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
PROXY_EXE = os.environ.get("PROXY_EXE", os.path.join(BUILD_DIR, "tavri-printer-proxy.exe"))
WINE_RUN = os.path.join(SOURCE_DIR, "scripts", "wine-run")
PRINTER = os.environ.get("PROXY_TEST_PRINTER", "TavriTestPDF")
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import protocol as p  # noqa: E402


def run(*command, **options):
    """A command's completed run, its output as text, without our stdin."""
    return subprocess.run(
        command, capture_output=True, text=True, stdin=subprocess.DEVNULL, **options
    )


# Channel settings that show the program's own lines and nothing of Wine's.
TRACE = "-all,trace+printproxy,err+printproxy,fixme+printproxy"
ERRORS = "-all,err+printproxy,fixme+printproxy"


class Packet(collections.namedtuple("Packet", "code req_id body")):
    def reply(self):
        status, text = p.parse_text_body(self.body)
        assert len(self.body) == 8 + len(text), "reply text length in %r" % self.body
        return status, text


PREFIX = os.environ.get("WINEPREFIX", os.path.join(BUILD_DIR, "wineprefix"))
DRIVE_C = os.path.join(PREFIX, "drive_c")  # the unix folder behind drive C:
LOG_DIR = os.environ.get("PROXY_LOG_DIR", os.path.join(BUILD_DIR, "logs"))  # the rig's logs


def program_env(wine_debug=ERRORS):
    """The rig's prefix named for the library as for scripts/wine-run, which defaults to it."""
    return dict(os.environ, WINEDEBUG=wine_debug, NO_RPC="1", WINEPREFIX=PREFIX)


# The record's numbers between the names and the page count, in order.
SETTINGS = "fields collate copies duplex scale paper_source paper quality y_resolution".split()


def record(job_id, output, printer=PRINTER, page_count=1, color=0, data_type=1, **settings):
    """Any start-print record, also one to be refused (the rig's printer unless
    `printer` says): names, str or bytes, are cut or NUL-padded to their field;
    SETTINGS not given are 0."""
    printer, output = (n.encode() if isinstance(n, str) else n for n in (printer, output))
    values = [settings.pop(name, 0) for name in SETTINGS]
    assert not settings, "no such setting: %s" % settings
    return p.RECORD.pack(job_id, printer, output, *values, page_count, color, data_type)


class Session:
    """One run of the program connected to this peer."""

    def __init__(self, env=None, accept_timeout=30):
        listener = socket.create_server(("127.0.0.1", 0))
        port = listener.getsockname()[1]
        self.stderr_path = os.path.join(LOG_DIR, "e2e-%d-%d.stderr" % (os.getpid(), port))
        os.makedirs(os.path.dirname(self.stderr_path), exist_ok=True)
        self.stderr_file = open(self.stderr_path, "wb")
        self.process = subprocess.Popen(
            [WINE_RUN, PROXY_EXE, "x", str(port)],
            env=env or program_env(),
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=self.stderr_file,
        )
        self.reader = p.PacketReader()
        listener.settimeout(accept_timeout)
        try:
            self.conn = listener.accept()[0]
        except OSError as error:  # what the program did instead, for the report
            running = self.process.poll() is None
            self.process.kill()
            self.process.wait()
            state = "still ran" if running else "had exited: %d" % self.process.returncode
            tail = self.stderr()[-2000:] or "(nothing)"
            raise OSError(
                "%s; the program %s; its output ends: %s" % (error, state, tail)
            ) from error
        finally:
            listener.close()

    def send(self, data):
        self.conn.sendall(data)

    def send_packet(self, code, req_id, body=b""):
        self.send(p.frame(code, req_id, body))

    def read_packet(self, timeout=10):
        """The next packet, or None when the program closed; TimeoutError when
        none arrives in time, p.FrameError for a malformed one."""
        deadline = time.monotonic() + timeout
        while (packet := self.reader.next()) is None:
            if not select.select([self.conn], [], [], max(deadline - time.monotonic(), 0))[0]:
                raise TimeoutError("no packet within %.0f s" % timeout)
            try:  # a program that closed with unread input resets
                chunk = self.conn.recv(65536)
            except ConnectionResetError:
                chunk = b""
            if not chunk:
                return None
            self.reader.feed(chunk)
        return Packet(*packet)

    def expect(self, code, timeout=10):
        """The next packet but heartbeats, which must have `code`."""
        while True:
            packet = self.read_packet(timeout)
            assert packet is not None, "the program closed before %#x" % code
            if packet.code != p.PROGRAM_HEARTBEAT:
                assert packet.code == code, "expected %#x, got %r" % (code, packet)
                return packet

    def request(self, code, req_id, body=b"", timeout=10):
        self.send_packet(code, req_id, body)
        packet = self.expect((p.ANSWER + code) & 0xFFFF, timeout)
        assert packet.req_id == req_id, "answer carries req_id %d, not %d" % (packet.req_id, req_id)
        return packet

    def closed_by_program(self, timeout=10):
        """True when the program closes its end with nothing more sent than
        heartbeats (a job's heartbeat thread sends one as it is stopped)."""
        while (packet := self.read_packet(timeout)) is not None:
            if packet.code != p.PROGRAM_HEARTBEAT:
                return False
        return True

    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def close(self):
        self.conn.close()
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
