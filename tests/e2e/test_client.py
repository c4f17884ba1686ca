"""The client library and its command against the real program: PDF pages
rasterised and printed, compared with Ghostscript's own rendering of the
PDF. (A job the program refuses: the CUPS tests.)"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import bmp
import peer

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


if __name__ == "__main__":
    peer.main()
