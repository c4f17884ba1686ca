"""The print job without Wine: page ranges and limits, pages made ahead
while the program hears heartbeats, what is sent and what stays."""
import hashlib
import os
import pathlib
import subprocess
import sys
import tempfile
import time
import unittest
from unittest import mock

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "client"))
from tavri_print.printing import RenderError, job, prefetch, render  # noqa: E402
from tavri_print.printing.ghostscript import Ghostscript  # noqa: E402

class Job(unittest.TestCase):
    """A job's pages: limits, heartbeats while one is made, what is sent and what stays."""

    def test_jobs_beyond_sane_limits_are_refused_before_any_work(self):
        doc = mock.Mock(pages=10 ** 9, size=(842, 595))
        self.assertEqual(job.paper_of(doc), 842 << 16 | 595)
        with self.assertRaisesRegex(RenderError, "has 1000000000 pages"):
            job.plan_pages([doc], None)
        for size in ((7200000, 7200000), (0, 842), (14401, 100)):
            self.assertRaises(RenderError, job.paper_of, mock.Mock(size=size))

    def test_pages_are_bounded_by_their_pixels(self):
        limit = render.page_bytes(2479, 3508, 24)
        render.check_page(2479, 3508, 24, limit, "A4")
        for width, height, bits, fault in ((2482, 3508, 24, "2482 x 3508 pixels at 24 bits"),
                                           (2479, 3509, 24, "takes 24 MiB"),
                                           (0, 3508, 1, "no pixels"), (9, -1, 8, "no pixels")):
            with self.assertRaisesRegex(RenderError, fault):
                render.check_page(width, height, bits, limit, "A4")
        self.assertEqual([render.page_bytes(33, 2, bits) for bits in (1, 8, 24)], [16, 72, 200])

    def test_a_slow_page_keeps_the_program_alive(self):
        calls = []

        def make(index, doc, number):  # done once waited for twice, however busy the machine
            deadline = time.monotonic() + 20
            while len(calls) < 2 and time.monotonic() < deadline:
                time.sleep(0.05)
            return "page-%d" % number, False

        pages = prefetch.Prefetch(mock.Mock(make=make), [(None, 1)], waiting=lambda: calls.append(1))
        self.assertEqual(list(pages), [("page-1", False)])
        pages.close()
        self.assertGreaterEqual(len(calls), 2)

    def test_bmp_files_go_as_they_are_and_stay_made_pages_go_once_printed(self):
        fake = mock.Mock(**{"page_size.return_value": (40, 40),
                            "job_result.return_value": "/out.ps"})
        with tempfile.TemporaryDirectory() as work, tempfile.TemporaryDirectory() as made:
            docs = [mock.Mock(path=os.path.join(work, name), kind=kind)
                    for name, kind in (("a.bmp", "bmp"), ("b.png", "png"))]
            Image.new("RGB", (8, 8), "red").save(docs[1].path)
            open(docs[0].path, "wb").close()
            for doc, passthrough in zip(docs, (True, False)):
                pages = job.JobPages([doc], [(doc, 1)] * 2, passthrough)
                options = job.PageOptions(dpi=300, max_page=1 << 20)
                self.assertEqual(job.run_pages(fake, mock.Mock(y_resolution=0), pages, options,
                                               job.Progress(), mock.Mock(), made), "/out.ps")
            sent = [call.args[0] for call in fake.print_page.call_args_list]
            self.assertEqual(sorted(os.listdir(work)), ["a.bmp", "b.png"])
            self.assertEqual(sent[:2], [docs[0].path] * 2)
            self.assertEqual(len(set(sent[2:])), 2, "each made page a file of its own")
            self.assertEqual(os.listdir(made), [], "made pages left behind")

    def test_a_document_ghostscript_cannot_read_is_named_with_its_words(self):
        with tempfile.TemporaryDirectory() as work:
            doc = mock.Mock(pdf=os.path.join(work, "bad.pdf"))
            doc.name = "bad.pdf"
            pathlib.Path(doc.pdf).write_bytes(b"%PDF-1.4\n1 0 obj <<")
            pages = render.PdfPages(Ghostscript(), doc, render.PageLayout(9, 9, 72, "grey", 1),
                                    work)
            self.assertRaisesRegex(RenderError, r"^Ghostscript failed on page 1 of bad.pdf: "
                                   r"(?!no message)\w", pages.render, 1)
            pages.close()

    def test_page_ranges_and_those_refused(self):
        for text, total, pages in (("2-5", 9, [2, 3, 4, 5]), ("1,3,7-", 8, [1, 3, 7, 8]),
                                   ("-3", 9, [1, 2, 3]), (" 4 ", 9, [4]), ("8-12", 9, [8, 9]),
                                   ("1-2147483647", 3, [1, 2, 3]),
                                   ("3,1-1000000000", 4, [3, 1, 2, 3, 4])):
            self.assertEqual(job.parse_ranges(text, total), pages, text)
        for text, message in (("0", "is empty"), ("5-3", "is empty"), ("x", "expected N"),
                              ("", "expected N"), ("1,,3", "expected N"),
                              ("10-", "is empty"), ("10-2147483647", "no page of the 9")):
            with self.subTest(text), self.assertRaisesRegex(RenderError, message):
                job.parse_ranges(text, 9)


class SamplePages(unittest.TestCase):
    def test_the_demos_pages_are_drawn_exactly_as_before(self):
        tool = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "sample_pages.py")
        with tempfile.TemporaryDirectory() as out:
            done = subprocess.run([sys.executable, tool, out, "--size", "1240x1754"],
                                  capture_output=True, text=True, check=True)
            digests = [hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()[:16]
                       for path in done.stdout.split()]
        self.assertEqual(digests, ["86ad42c01c41eea9", "305a5050b617ac66"])


if __name__ == "__main__":
    unittest.main()
