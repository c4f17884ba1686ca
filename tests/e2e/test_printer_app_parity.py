"""One engine behind three front ends: the same documents and options,
printed through the printer application, tavri-print and a CUPS queue on
the same Wine printer of the same prefix, bring the driver the same pages:
paper, sides, resolution, size in pixels, turn and colour, each page drawn
alike. Sent at once, the three print one after another: one prefix lock."""
import glob
import os
import pwd
import re
import shutil
import tempfile
import unittest

import bmp
import peer
from test_cups_backend import PREFIX, USER, ink_mismatch, lp, make_queue, owned_folder, run
from test_cups_backend import wait_until
from test_printer_app import APP, JOB_ID, PRINT_JOB, start_app

TOOL = os.path.join(os.environ.get("PROXY_NATIVE_BUILD_DIR", peer.BUILD_DIR + "-native"), "")
# A document, and an option as the application (an IPP keyword), the
# command and the CUPS queue (lp -o) say it.
ROWS = [
    ("two.pdf", "", "", ""),
    ("two.pdf", "print-color-mode monochrome", "--color grey", "ColorModel=Gray"),
    ("two.pdf", "sides two-sided-long-edge", "--duplex long-edge", "sides=two-sided-long-edge"),
    ("wide.pdf", "", "", ""),
]
# What the driver is told of a page in its PostScript: the paper and sides,
# the resolution, the turn, the image's size and its colour components.
PAGE = re.compile(
    rb"\*(?:PageSize|Duplex) (\S+)|72 (\d+) div 72 (\d+) div scale|(-?\d+) rotate\n|"
    rb"/Width (\d+)\n /Height (\d+)\n.*?/Decode \[([^\]]*)\]",
    re.S,
)


def driver_pages(path):
    """Per page: (paper and sides, dpi, turn, width, height, components)."""
    paper, pages, page = "", [], {}
    with open(path, "rb") as output:
        found = list(PAGE.finditer(output.read()))
    for m in found:
        if m[1]:
            paper += m[1].decode() + " "
        elif m[2]:
            page = {"dpi": (int(m[2]), int(m[3]))}
        elif m[4] is not None:
            page["turn"] = int(m[4])
        else:
            size = int(m[5]), int(m[6])
            pages.append((paper, page.get("dpi"), page.get("turn"), *size, len(m[7].split()) // 2))
    return pages


class Parity(unittest.TestCase):
    def setUp(self):
        if not os.access(APP, os.X_OK) or not os.access(TOOL + "tavri-print", os.X_OK):
            self.skipTest("the native front ends are not built")
        self.work = tempfile.mkdtemp(prefix="e2e-parity-", dir=peer.BUILD_DIR)
        self.addCleanup(shutil.rmtree, self.work, True)
        self.folder, self.queue = owned_folder(self, "queue"), "TavriParity%d" % os.getpid()
        self.assertEqual(make_queue(self, self.queue, peer.PRINTER, self.folder).returncode, 0)
        self.host = start_app(self, PREFIX, 0)
        self.documents = {
            "two.pdf": bmp.make_pdf(self.work + "/two.pdf", 2),
            "wide.pdf": bmp.make("pdfwrite", self.work + "/wide.pdf", bmp.RED_BLOCK, (842, 595)),
        }

    def to_the_application(self, document, keyword):
        test = os.path.join(self.work, "job.test")
        with open(PRINT_JOB) as job, open(test, "w") as out:
            out.write(job.read().replace("copies 1", "copies 1\nATTR keyword " + keyword))
        printed = run(
            "ipptool", "-tv", "-f", document, self.host.uri, test if keyword else PRINT_JOB
        )
        return os.path.join(self.host.out, "job-%s-*" % re.search(JOB_ID, printed.stdout)[1])

    def through_the_command(self, document, options):
        env = ["HOME=" + pwd.getpwnam(USER).pw_dir, "WINEPREFIX=" + PREFIX]
        env += ["%s=%s" % (n, os.environ[n]) for n in ("DISPLAY", "CUPS_SERVER")]
        command = ["runuser", "-u", USER, "--", "env", *env, "PROXY_EXE=" + peer.PROXY_EXE]
        command += [TOOL + "tavri-print", "--printer", peer.PRINTER, *options.split()]
        done = run(*command, document, timeout=300)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.addCleanup(os.remove, done.stdout.strip())
        return done.stdout.strip()

    def to_the_queue(self, document, option):
        return os.path.join(self.folder, "job-%s-*" % lp(self.queue, document, *option.split()))

    def test_the_same_pages_reach_the_driver_whichever_way_a_document_comes(self):
        for name, keyword, options, option in ROWS:
            document = self.documents[name]
            # All three at once: the prefix's lock has them print one at a time.
            sent = {
                "application": self.to_the_application(document, keyword),
                "queue": self.to_the_queue(document, option),
            }
            got = {"command": self.through_the_command(document, options)}
            for way, pattern in sent.items():
                got[way] = wait_until(lambda: glob.glob(pattern), 180, way + "'s job")[0]
            with self.subTest(name=name, options=options):
                facts = {way: driver_pages(path) for way, path in got.items()}
                self.assertTrue(facts["command"], "pages reached the driver")
                self.assertEqual(facts["application"], facts["command"], facts)
                self.assertEqual(facts["queue"], facts["command"], facts)
                drawn = {
                    way: bmp.render_postscript(path, 10, self.work) for way, path in got.items()
                }
                for way in ("application", "queue"):
                    for a, b in zip(drawn[way], drawn["command"]):
                        self.assertLess(ink_mismatch(a, b), 0.04, (way, name, options))


if __name__ == "__main__":
    unittest.main()
