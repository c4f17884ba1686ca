"""The program under Wine, the test as its server: replies byte by byte and
the messages that end a session (malformed packets: the hostile server),
pages printed and rendered back, and a PDF printed by tavri-print.
(A job the program refuses: the CUPS tests.)"""
import os
import pathlib
import re
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

import PIL.Image

import bmp
import peer
from peer import p

DPI = 30  # rendering resolution: one rendered pixel is 10 device pixels
SCALE = DPI / 300  # the rig's printer has 300
TOLERANCE = 24  # per colour channel
INSET = 15  # device pixels inside a block's corner where its colour is checked
WORK = os.path.join(peer.BUILD_DIR, "e2e-pages")
# The command, from the native build beside the program's.
TOOL = os.path.join(
    os.environ.get("PROXY_NATIVE_BUILD_DIR", peer.BUILD_DIR + "-native"), "tavri-print"
)

RED, GREEN, BLUE, YELLOW = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0)
CYAN, MAGENTA, ORANGE, GREY = (0, 255, 255), (255, 0, 255), (255, 128, 0), (64, 64, 64)
NAVY, OLIVE, TEAL, MAROON = (0, 0, 128), (128, 128, 0), (0, 128, 128), (128, 0, 0)

OK, NOT_IMPLEMENTED = p.text_body(0, b"OK"), p.text_body(21, b"Action not implemented")
PRINTER = peer.PRINTER.encode() + b"\0"
METRICS = re.compile(
    r"nPrinterWidth (\d+), nPrinterHeight (\d+) remaining \d+/\d+ pages, "
    r"(-?\d+) (-?\d+), (-?\d+) (-?\d+)"
)


class Session(unittest.TestCase):
    def test_replies_byte_exact_and_the_messages_that_end_a_session(self):
        # Rows: what, [(code, body, answer body; None: a notice)], log lines. The
        # first packet goes a byte at a time. (Short bodies: the hostile pass.)
        replies = [
            (3, p.u32(12345), OK),
            (0xF005, b"x", NOT_IMPLEMENTED),
            (6, p.u32(99), OK),
            (6, p.u32(99), OK),  # a job ended twice
            # page size: status little-endian; 25 for another job, 1 for a short body
            (8, p.u32(0), bytes(8)),
            (8, p.u32(7), b"\x19" + bytes(7)),
            (8, b"\x00\x07", b"\x01" + bytes(7)),
            (2, b"/tmp/x.bmp\0", p.text_body(1)),
        ]  # a page outside a job: no document
        text_job = peer.record(77, "dialogs-job.ps", data_type=2)
        done, ended = (0x3001, p.text_body(5), None), "Client exited"
        with_text = (0x3001, struct.pack(">iI", -3, 4) + b"ab\x00d", None)
        cancel = (0x3003, struct.pack(">II", 7, 100) + b"short", None)
        # Wine 8 has no printer-properties dialog: PrinterProperties fails
        # with ERROR_CALL_NOT_IMPLEMENTED.
        dialog = (
            "err:printproxy:set_printer_DrvDevicePropertySheets PrinterProperties error: 120 \n"
        )
        # A text job is accepted, and runs, though no document can start for
        # it: nothing is left open when the session ends.
        in_job = [
            (1, text_job, p.text_body(1)),
            (4, PRINTER, p.text_body(13, b"Printing in progress")),
        ]
        for what, steps, lines in (
            ("done", replies + [done], ("print done: 5, msg: (null)", ended)),
            ("done with text", [with_text], ('print done: -3, msg: "ab"', ended)),
            ("cancel", [cancel], ("cancel print done: 7, msg: (null)", ended)),
            ("device dialog", [(5, PRINTER, p.text_body(1))], (dialog,)),
            ("dialog in a job", in_job, ()),
        ):
            with self.subTest(what), peer.Session(env=peer.program_env(peer.TRACE)) as session:
                for req_id, (code, body, answer) in enumerate(steps, 1):
                    data = p.frame(code, req_id if answer is not None else 0, body)
                    for piece in [bytes((b,)) for b in data] if req_id == 1 else [data]:
                        session.send(piece)
                        time.sleep(0.002)
                    if answer is not None:
                        got = session.expect((p.ANSWER + code) & 0xFFFF, timeout=30)
                        self.assertEqual((got.req_id, got.body), (req_id, answer), what)
                self.assertTrue(session.closed_by_program(), "more after the end")
                self.assertEqual(session.process.wait(timeout=10), 0)
                for line in lines:
                    self.assertIn(line, session.stderr())


def quadrants(width, height, colours, extra=()):
    """Four blocks covering a width x height page, clockwise from the top left."""
    w, h = width // 2, height // 2
    return [
        (0, 0, w, h, colours[0]),
        (w, 0, width - w, h, colours[1]),
        (w, h, width - w, height - h, colours[2]),
        (0, h, w, height - h, colours[3]),
        *extra,
    ]


class Query(unittest.TestCase):
    def test_every_mode_and_exit_status_of_the_query_program(self):
        query = os.path.join(os.path.dirname(peer.PROXY_EXE), "tavri-printer-query.exe")
        usage = "usage: tavri-printer-query printers | capabilities NAME | font-link\n"
        generic = peer.PRINTER + "Generic"  # its driver lists no resolution at all
        peer.run("lpadmin", "-p", generic, "-m", "drv:///sample.drv/generic.ppd", check=True)
        self.addCleanup(peer.run, "lpadmin", "-x", generic)
        for args, status, out, err in (
            (["printers"], 0, "\tCUPS:%s\t" % peer.PRINTER, ""),
            (["capabilities", peer.PRINTER], 0, "printer\t%s\n" % peer.PRINTER, ""),
            (["capabilities", generic], 0, "printer\t%s\n" % generic, ""),
            (["capabilities", "NoSuchPrinter"], 2, "", "cannot open printer NoSuchPrinter"),
            (["font-link"], 0, "", ""),
            ([], 1, "", usage),
            (["printers", "x"], 1, "", usage),
            (["capabilities"], 1, "", usage),
            (["Printers"], 1, "", usage),
        ):
            done = peer.run(peer.WINE_RUN, query, *args, env=peer.program_env("-all"), timeout=120)
            self.assertEqual(status, done.returncode, (args, done.stderr))
            self.assertIn(out, done.stdout, args)
            self.assertIn(err, done.stderr, args)
            self.assertEqual(not out, not done.stdout, args)


class PrintedPages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)

    def run_session(self, job_id, pages, scale, env):
        """One session of one job of `pages` (path, expected status), every
        answer and the job result checked; the output's unix path and the
        program's log."""
        output = "e2e-pages-%d.ps" % job_id
        output_path = os.path.join(peer.DRIVE_C, output)
        pathlib.Path(output_path).unlink(missing_ok=True)
        with peer.Session(env=env) as session:
            record = peer.record(job_id, output, page_count=len(pages), scale=scale)
            answer = session.request(1, job_id, record).reply()
            self.assertEqual(answer, (0, b""), "job not started: " + session.stderr()[-2000:])
            size = session.request(8, job_id + 1, p.u32(job_id)).body
            self.assertEqual(size[:4], bytes(4), "page-size status")
            self.assertNotIn(bytes(2), (size[4:6], size[6:8]), "no printable size")
            for number, (path, status) in enumerate(pages):
                packet = session.request(2, job_id + 10 + number, path.encode() + b"\0", timeout=30)
                self.assertEqual(packet.reply(), (status, b""), "page %d: %s" % (number + 1, path))
            result = session.expect(0x2001, timeout=30)
            self.assertEqual(result.reply(), (0, output_path.encode()), "job result")
            session.send_packet(0x3001, 0, p.text_body(0, b"done"))
            self.assertEqual(session.process.wait(timeout=20), 0)
            self.assertEqual(pathlib.Path(output_path).read_bytes()[:4], b"%!PS", "the driver's")
            return output_path, session.stderr()

    def assert_drawn(self, image, page, origin, scale_x=1.0, scale_y=1.0, label=""):
        """Every block's inner corners and centre, and the paper just right of
        and below the bitmap, where page, origin and scale put them."""
        inset_x, inset_y = INSET / scale_x, INSET / scale_y
        points = [
            (x, y, page.colour_at(int(x), int(y)), "block %r" % (block[:4],))
            for block in page.blocks
            for x, y in (
                (block[0] + block[2] / 2, block[1] + block[3] / 2),
                (block[0] + inset_x, block[1] + inset_y),
                (block[0] + block[2] - inset_x, block[1] + block[3] - inset_y),
            )
        ]
        points += [
            (page.width + 2 * inset_x, page.height / 2, bmp.WHITE, "paper on the right"),
            (page.width / 2, page.height + 2 * inset_y, bmp.WHITE, "paper below"),
        ]
        for x, y, expected, what in points:
            px, py = int((origin[0] + x * scale_x) * SCALE), int((origin[1] + y * scale_y) * SCALE)
            if 0 <= px < image.width and 0 <= py < image.height:
                actual = image.pixel(px, py)
                self.assertTrue(
                    bmp.close_to(actual, expected, TOLERANCE),
                    "%s: %s at rendered (%d, %d): actual %r, expected %r"
                    % (label, what, px, py, actual, expected),
                )

    def test_every_format_and_placement(self):
        w, h = 400, 300
        # (label, quadrant colours, format); colour tables hold their colours
        # in an order of their own, one with a colour that no pixel uses.
        table8, table4 = [TEAL, (1, 2, 3), MAROON, NAVY, OLIVE], [GREY, MAGENTA, ORANGE]
        formats = [
            ("24-bit", [RED, GREEN, BLUE, YELLOW], dict(bits=24)),
            ("24-bit top-down", [CYAN, ORANGE, GREY, NAVY], dict(bits=24, top_down=True)),
            ("32-bit top-down", [MAGENTA, TEAL, RED, OLIVE], dict(bits=32, top_down=True)),
            ("32-bit masks", [MAROON, CYAN, YELLOW, BLUE], dict(bits=32, masks=True)),
            ("16-bit", [BLUE, RED, GREEN, MAGENTA], dict(bits=16)),
            ("8-bit", [NAVY, OLIVE, TEAL, MAROON], dict(bits=8, palette=table8)),
            ("4-bit", [ORANGE, GREY, ORANGE, MAGENTA], dict(bits=4, palette=table4)),
            ("1-bit", [RED, BLUE, RED, BLUE], dict(bits=1, palette=[BLUE, RED])),
        ]
        as_is = [(label, bmp.Page(w, h, quadrants(w, h, colours))) for label, colours, _ in formats]
        good = [
            page.write(os.path.join(WORK, "as-is-%d.bmp" % i), **options)
            for i, ((_, page), (_, _, options)) in enumerate(zip(as_is, formats))
        ]
        refused = [(os.path.join(WORK, "missing.bmp"), 6)]
        truncated = pathlib.Path(good[0]).read_bytes()[:5000]
        for name, data, status in (
            ("truncated.bmp", truncated, 15),
            ("empty.bmp", b"", 6),
            ("not-bmp.bmp", b"\x89PNG\r\n\x1a\n" + bytes(100), 15),
        ):
            pathlib.Path(WORK, name).write_bytes(data)
            refused.append((os.path.join(WORK, name), status))
        first, err = self.run_session(
            100, refused + [(path, 0) for path in good], 0, peer.program_env(peer.TRACE)
        )
        for line in (
            "invalid bmp file: pixel data outside the file, file size 5000",
            "not bmp file 5089",
            "read_one_fram_bmp_from_file open file failed, err=2",
            "invalid file size 0",
            "dump_fields DM_ORIENTATION DM_PAPERSIZE DM_PAPERLENGTH",
            "dmCopies: 1\n",
        ):
            self.assertIn(line, err)
        images = bmp.render_postscript(first, DPI, WORK)
        self.assertEqual(len(images), len(as_is), "one printed page per page drawn")
        m = [int(v) for v in METRICS.search(err).groups()]
        printable, physical, offset = m[0:2], m[2:4], m[4:6]
        for image, (label, page) in zip(images, as_is):
            self.assert_drawn(image, page, offset, label=label)

        # Pages fitted to the printable area, the second of one format reusing
        # the job's image (and showing only its own pixels), a page of the
        # physical size (within its slack) and two-pixel stripes a little
        # wider than the printable area; printed with no display, where the
        # progress window cannot be created and its thread ends all the same.
        yellow = [(150, 200, 60, 50, YELLOW)]
        fit = bmp.Page(260, 350, quadrants(260, 350, [ORANGE, BLUE, GREEN, MAROON], yellow))
        refit = bmp.Page(260, 350, quadrants(260, 350, [TEAL, MAGENTA, NAVY, YELLOW]))
        pw, ph = physical[0] + 9, physical[1] - 9
        corners = [(0, 0, RED), (pw - 300, 0, GREEN), (0, ph - 300, BLUE)]
        corners += [(pw - 300, ph - 300, MAGENTA), (pw // 2 - 150, ph // 2 - 150, TEAL)]
        page_size = bmp.Page(pw, ph, [(x, y, 300, 300, c) for x, y, c in corners])
        sw = printable[0] + 121
        stripes = bmp.Page(sw, 60, [(x, 0, 2, 60, RED) for x in range(0, sw, 4)], background=GREEN)
        palette = [bmp.WHITE, RED, GREEN, BLUE, MAGENTA, TEAL]
        paths = [
            fit.write(os.path.join(WORK, "fit.bmp"), bits=32, top_down=True),
            refit.write(os.path.join(WORK, "refit.bmp"), bits=32, top_down=True),
            page_size.write(os.path.join(WORK, "page-size.bmp"), bits=8, palette=palette),
            stripes.write(os.path.join(WORK, "shrink.bmp"), bits=8, palette=[GREEN, RED]),
        ]
        env = peer.program_env(peer.TRACE + ",err+sync,err+heap")
        env.pop("DISPLAY", None)
        second, err = self.run_session(200, [(path, 0) for path in paths], 1, env)
        # Fit, refit and shrink say so; a good job logs no other error, nor
        # does Wine of its locks or heap.
        self.assertEqual(
            ["printproxy:HandlePageFilename should not convert the image."] * 3,
            re.findall(r"err:(\w+:.*)", err),
        )
        images = bmp.render_postscript(second, DPI, WORK)
        self.assertEqual(len(images), 4)
        for image, page, label in ((images[0], fit, "fit"), (images[1], refit, "refit")):
            self.assert_drawn(
                image, page, offset, printable[0] / page.width, printable[1] / page.height, label
            )
        self.assert_drawn(images[2], page_size, (0, 0), label="physical size")
        # Dropping the columns a shrink loses keeps every pixel red or green;
        # merging them (the DC's default stretch mode) would blacken them.
        image = images[3]
        merged = [
            (x, y)
            for y in range(image.height // 4, image.height * 3 // 4, 7)
            for x in range(image.width)
            if not any(bmp.close_to(image.pixel(x, y), c, TOLERANCE) for c in (RED, GREEN))
        ]
        self.assertEqual(merged[:10], [], "%d pixels neither red nor green" % len(merged))


class Printed(unittest.TestCase):
    """A test that prints, with a work folder of its own."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="e2e-work-", dir=peer.BUILD_DIR)
        self.addCleanup(shutil.rmtree, self.work, True)


class Command(Printed):
    def test_an_interrupted_job_then_a_page_range_of_a_pdf_with_one_line_per_page(self):
        pdf = bmp.make_pdf(os.path.join(self.work, "four.pdf"), 4)
        output = "tavri-print-e2e-%d.ps" % os.getpid()
        command = [TOOL, "--wine-run", peer.WINE_RUN, "--output", output]
        options = dict(env=peer.program_env(), stdin=subprocess.DEVNULL, text=True)
        # Terminated twice, once more as it cleans up: its program and output go before it does.
        cut = subprocess.Popen(command + [pdf], stderr=subprocess.PIPE, **options)
        self.assertIn("page 1/4 printed", cut.stderr.readline())
        program = pathlib.Path("/proc/%d/task/%d/children" % (cut.pid, cut.pid)).read_text().split()
        for _ in range(2):
            cut.terminate(), time.sleep(0.05)
        gone = ["/proc/" + program[0], os.path.join(peer.DRIVE_C, output)]
        self.assertEqual(
            (cut.wait(60), cut.stderr.read(), list(map(os.path.exists, gone))),
            (130, "tavri-print: interrupted; the job was ended\n", [False] * 2),
        )
        env = options["env"]
        result = peer.run(*command, "--pages", "2-3", "--job-id", "4242", pdf, env=env, timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)
        printed = result.stdout.strip()
        self.addCleanup(os.remove, printed)
        self.assertEqual(printed, os.path.join(peer.DRIVE_C, output))
        self.assertRegex(result.stderr, r"page 1/2 printed \(0:\d\d\)\n.*page 2/2 printed")
        # Pages 2 and 3 of the PDF, in order, at 20 dpi.
        got = bmp.render_postscript(printed, 20, self.work)
        want = bmp.render_postscript(pdf, 20, self.work)
        self.assertEqual(len(got), 2, "pages printed")
        for image, number in zip(got, (2, 3)):
            difference = bmp.mean_difference(image, want[number - 1])
            self.assertLess(difference, 6, "page %d differs by %.1f" % (number, difference))
            others = [bmp.mean_difference(image, w) for i, w in enumerate(want) if i != number - 1]
            self.assertGreater(
                min(others), 3 * difference + 4, "page %d also looks like another page" % number
            )

    def test_every_kind_of_document_then_the_printers(self):
        # A BMP stretched over the page, pictures fitted (a wide one with white
        # above and below it) and PostScript, as one job.
        options = dict(env=peer.program_env(), timeout=300)
        paths = [bmp.Page(40, 30, [], background=RED).write(os.path.join(self.work, "red.bmp"))]
        for name, colour in (("blue.png", BLUE), ("green.jpg", GREEN)):
            paths.append(os.path.join(self.work, name))
            PIL.Image.new("RGB", (300, 100), colour).save(paths[-1])
        paths.append(os.path.join(self.work, "yellow.ps"))
        pathlib.Path(paths[-1]).write_text("%!PS\n1 1 0 setrgbcolor clippath fill showpage\n")
        command = [TOOL, "--wine-run", peer.WINE_RUN]
        result = peer.run(*command, "--scale", "fit", "--dpi", "30", *paths, **options)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.addCleanup(os.remove, result.stdout.strip())
        images = bmp.render_postscript(result.stdout.strip(), 20, self.work)
        self.assertEqual(len(images), 4, "pages printed")
        for image, colour, path in zip(images, (RED, BLUE, GREEN, YELLOW), paths):
            at = (image.width // 2, image.height // 2)
            self.assertTrue(bmp.close_to(image.pixel(*at), colour, TOLERANCE), path)
        self.assertEqual(images[1].pixel(images[1].width // 2, images[1].height // 10), bmp.WHITE)
        # As it is, a page of 200 points stays that small in the paper's middle.
        small = pathlib.Path(self.work, "small.ps")
        small.write_text("%!PS\n<</PageSize [200 200]>> setpagedevice clippath fill showpage\n")
        result = peer.run(*command, "--scale", "as-is", "--dpi", "30", str(small), **options)
        self.addCleanup(os.remove, result.stdout.strip())
        (image,) = bmp.render_postscript(result.stdout.strip(), 20, self.work)
        inked = [image.pixel(image.width // n, image.height // 2) != bmp.WHITE for n in (2, 10)]
        self.assertEqual(inked, [True, False])
        listed = peer.run(*command, "--list", **options)
        self.assertIn("* " + peer.PRINTER, listed.stdout.splitlines(), listed.stderr)


if __name__ == "__main__":
    peer.main()
