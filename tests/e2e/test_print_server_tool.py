"""tools/tavri_print_server.py as a user runs it: against the real program for
a whole job, and against stand-in programs for the waits and failures that
the real one cannot be made to show on demand."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest

import bmp
import peer

TOOL = os.path.join(peer.SOURCE_DIR, "tools", "tavri_print_server.py")


def write_bmp(path, width, height, colours):
    """A 24-bit page of horizontal stripes."""
    n = len(colours)
    stripes = [(0, height * i // n, width, height // n + 1, c) for i, c in enumerate(colours)]
    bmp.write_bmp(path, bmp.Page(width, height, stripes))


def run_tool(args, timeout=300):
    return subprocess.run([sys.executable, TOOL] + args, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                          timeout=timeout)


class WholeJob(unittest.TestCase):
    def setUp(self):
        self.pages_dir = tempfile.mkdtemp(prefix="tool-e2e-", dir=peer.BUILD_DIR)
        self.addCleanup(shutil.rmtree, self.pages_dir, True)

    def test_two_pages_end_in_a_two_page_postscript_file(self):
        pages = []
        for number, colors in enumerate(([(0, 0, 255), (255, 255, 255)],
                                         [(255, 0, 0), (0, 255, 0), (0, 0, 0)]), 1):
            pages.append(os.path.join(self.pages_dir, "page %d.bmp" % number))
            write_bmp(pages[-1], 240, 160, colors)
        output = "tool-e2e-%d.ps" % os.getpid()
        expected = os.path.join(peer.drive_c(), output)
        if os.path.exists(expected):
            os.remove(expected)
        log = os.path.join(peer.BUILD_DIR, "logs", "tool-e2e-%d.stderr" % os.getpid())

        result = run_tool(["--output", output, "--job-id", "4242", "--program-log", log] + pages)

        self.assertEqual(result.returncode, 0, "tool exit %d, stderr:\n%s"
                         % (result.returncode, result.stderr))
        printed = result.stdout.strip()
        self.assertEqual(os.path.realpath(printed), os.path.realpath(expected),
                         "printed path %r, expected %r" % (printed, expected))
        self.assertTrue(os.path.isfile(printed), "no file at %s" % printed)
        with open(printed, "rb") as f:
            page_count = len(re.findall(rb"^%%Page:", f.read(), re.MULTILINE))
        self.assertEqual(page_count, 2, "%%Page: lines %d, expected 2" % page_count)
        self.assertIn("page 2/2 printed", result.stderr)


# A stand-in for the program: connects like it, plays one scripted job and
# logs every code it receives, one per line, to STAND_IN_LOG.
STAND_IN = textwrap.dedent("""\
    import os, socket, struct, sys, time
    sys.path.insert(0, {peer_dir!r})
    import peer

    MODE, LOG = {mode!r}, {log!r}
    conn = socket.create_connection(("127.0.0.1", int(sys.argv[-1])))
    buffer = b""

    def receive():
        global buffer
        while len(buffer) < 16 or len(buffer) < 20 + struct.unpack(">I", buffer[12:16])[0]:
            chunk = conn.recv(65536)
            if not chunk:
                sys.exit(0)
            buffer += chunk
        code, req_id, length = struct.unpack(">HII", buffer[6:16])
        body, buffer = buffer[16:16 + length], buffer[20 + length:]
        with open(LOG, "a") as log:
            log.write("%#x\\n" % code)
        return code, req_id, body

    def answer(code, req_id, status=0):
        conn.sendall(peer.frame(0x1000 + code, req_id, peer.reply_body(status)))

    while True:
        code, req_id, body = receive()
        if code == 1:
            if MODE == "exit-after-start":
                sys.exit(3)
            pages = struct.unpack(">I", body[296:300])[0]
            answer(1, req_id)
        elif code == 8:
            conn.sendall(peer.frame(0x1008, req_id, b"\\0\\0\\0\\0" + struct.pack(">HH", 10, 20)))
        elif code == 2:
            answer(2, req_id)
            if MODE == "user-cancel":
                conn.sendall(peer.frame(0x2003, 0, peer.u32(1)))
            elif MODE == "receive-failure":
                conn.sendall(peer.frame(0x2004, 0, peer.reply_body(19)))
            elif MODE == "slow-result":
                pages -= 1
                if pages == 0:
                    time.sleep(2.5)
                    conn.sendall(peer.frame(0x2001, 0, peer.reply_body(0, b"/tmp/out.ps")))
        elif code in (0x3001, 0x3003):
            sys.exit(0)
    """)


class StandIn(unittest.TestCase):
    """Runs the tool with --wine-run python3 and a scripted stand-in as the program."""

    def run_against(self, mode, extra_args=()):
        work = tempfile.mkdtemp(prefix="tool-stand-in-")
        self.addCleanup(shutil.rmtree, work, True)
        self.log = os.path.join(work, "codes.log")
        script = os.path.join(work, "stand_in.py")
        with open(script, "w") as f:
            f.write(STAND_IN.format(peer_dir=os.path.dirname(peer.__file__), mode=mode,
                                    log=self.log))
        page = os.path.join(work, "page.bmp")
        write_bmp(page, 4, 4, [(0, 0, 0)])
        return run_tool(["--wine-run", sys.executable, "--exe", script, "--timeout", "10"]
                        + list(extra_args) + [page, page], timeout=60)

    def received_codes(self):
        with open(self.log) as f:
            return f.read().split()

    def test_heartbeats_while_waiting_for_the_result(self):
        result = self.run_against("slow-result", ["--heartbeat", "0.5"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "/tmp/out.ps\n")
        codes = self.received_codes()
        self.assertGreaterEqual(codes.count("0x3002"), 3,
                                "heartbeats in 2.5 s at 0.5 s: %s" % codes)
        self.assertEqual([c for c in codes if c != "0x3002"],
                         ["0x1", "0x8", "0x2", "0x2", "0x3001"], codes)

    def test_failures_are_reported_and_end_the_program(self):
        rows = [("user cancel", "user-cancel", "cancelled the job in the progress window",
                 "0x3003"),
                ("reception failure", "receive-failure", "status 19 (receive time-out)", "0x3003"),
                ("program exit", "exit-after-start", "closed the connection", "0x1")]
        for row, mode, message, last_code in rows:
            with self.subTest(row=row):
                result = self.run_against(mode)
                self.assertEqual(result.returncode, 1, "exit %d, expected 1" % result.returncode)
                self.assertIn(message, result.stderr)
                self.assertEqual(result.stdout, "")
                codes = self.received_codes()
                self.assertEqual(codes[-1], last_code, "codes received: %s" % codes)


if __name__ == "__main__":
    peer.main()
