"""The client library and its command against the real program: PDF pages
rasterised and printed, compared with Ghostscript's own rendering of the
PDF; heartbeats while a slow program works. (A job the program refuses:
the CUPS tests.)"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import bmp
import peer
import tavri_print

TOOL = os.path.join(peer.SOURCE_DIR, "tools", "tavri_print_server.py")
class Printed(unittest.TestCase):
    """Work folder, and the check of a printed file against a PDF."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="client-e2e-", dir=peer.BUILD_DIR)
        self.addCleanup(shutil.rmtree, self.work, True)

    def assert_prints_like(self, printed, pdf, pages):
        """`printed` (PostScript) shows `pages` of `pdf`, in order, at 20 dpi."""
        got = bmp.render_postscript(printed, 20, self.work)
        want = bmp.render_postscript(pdf, 20, self.work)
        self.assertEqual(len(got), len(pages), "pages printed")
        for image, number in zip(got, pages):
            difference = bmp.mean_difference(image, want[number - 1])
            self.assertLess(difference, 6, "page %d differs by %.1f" % (number, difference))
            others = [bmp.mean_difference(image, w) for i, w in enumerate(want) if i != number - 1]
            self.assertGreater(min(others, default=99), 3 * difference + 4,
                               "page %d also looks like another page" % number)


class Command(Printed):
    def test_a_page_range_of_a_pdf_with_one_line_per_page(self):
        pdf = bmp.make_pdf(os.path.join(self.work, "four.pdf"), 4)
        output = "client-e2e-command-%d.ps" % os.getpid()
        result = subprocess.run([sys.executable, TOOL, "--wine-run", peer.WINE_RUN, "--pages",
                                 "2-3", "--output", output, "--job-id", "4242", pdf],
                                env=peer.program_env(),
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)
        printed = result.stdout.strip()
        self.addCleanup(os.remove, printed)
        self.assertEqual(printed, os.path.join(peer.drive_c(), output))
        self.assertRegex(result.stderr, r"page 1/2 printed \(0:\d\d\)\n.*page 2/2 printed")
        self.assert_prints_like(printed, pdf, [2, 3])


# Stands in for the program: answers a job, is slow with its result, logs codes.
STAND_IN = """import socket, sys, time
sys.path.insert(0, %r)
from tavri_print import protocol as p
conn, reader, log = socket.create_connection(("127.0.0.1", int(sys.argv[-1]))), p.PacketReader(), []
while not log or log[-1] not in (p.PRINT_DONE, p.CANCEL_PRINT_DONE):
    packet = reader.next()
    if packet is None:
        chunk = conn.recv(65536)
        reader.feed(chunk if chunk else sys.exit("closed after " + repr(log)))
        continue
    code, req_id, _ = packet
    log.append(code)
    if code == p.GET_PRINT_PAGE:
        conn.sendall(p.frame(p.ANSWER + code, req_id, bytes(4) + bytes((0, 4, 0, 4))))
    elif code in (p.START_PRINT, p.PAGE_FILENAME):
        conn.sendall(p.frame(p.ANSWER + code, req_id, p.text_body(0)))
    if code == p.PAGE_FILENAME and log.count(code) == 2:
        time.sleep(1.5)
        conn.sendall(p.frame(p.JOB_RESULT, 0, p.text_body(0, b"/out.ps")))
open(%r, "w").write(" ".join(map(hex, log)))
"""


class StandIn(Printed):
    def test_heartbeats_keep_a_slow_program_waiting(self):
        script, log = os.path.join(self.work, "stand_in.py"), os.path.join(self.work, "log")
        with open(script, "w") as f:
            f.write(STAND_IN % (os.path.join(peer.SOURCE_DIR, "client"), log))
        page = bmp.Page(4, 4, []).write(os.path.join(self.work, "p.bmp"))
        program = tavri_print.Program(exe=script, wine=sys.executable, heartbeat=0.3)
        settings = tavri_print.JobSettings(printer="P", output="o.ps")
        self.assertEqual(tavri_print.print_files(program, settings, [page, page]), "/out.ps")
        with open(log) as f:
            codes = f.read().split()
        self.assertGreaterEqual(codes.count("0x3002"), 3, codes)
        self.assertEqual([c for c in codes if c != "0x3002"], ["0x1", "0x8", "0x2", "0x2",
                                                               "0x3001"])


if __name__ == "__main__":
    peer.main()
