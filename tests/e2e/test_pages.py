"""Pages printed on the rig's queue, rendered back and compared with those sent."""
import os
import re
import unittest

import bmp
import peer

DPI = 30  # rendering resolution: one rendered pixel is 10 device pixels
SCALE = DPI / 300  # the rig's printer has 300
TOLERANCE = 24  # per colour channel
INSET = 15  # device pixels inside a block's corner where its colour is checked
WORK = os.path.join(peer.BUILD_DIR, "e2e-pages")

RED, GREEN, BLUE, YELLOW = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0)
CYAN, MAGENTA, ORANGE, GREY = (0, 255, 255), (255, 0, 255), (255, 128, 0), (64, 64, 64)
NAVY, OLIVE, TEAL, MAROON = (0, 0, 128), (128, 128, 0), (0, 128, 128), (128, 0, 0)

METRICS = re.compile(r"nPrinterWidth (\d+), nPrinterHeight (\d+) remaining \d+/\d+ pages, "
                     r"(-?\d+) (-?\d+), (-?\d+) (-?\d+)")


def quadrants(width, height, colours):
    """Four blocks covering a width x height page, clockwise from the top left."""
    w, h = width // 2, height // 2
    return [(0, 0, w, h, colours[0]), (w, 0, width - w, h, colours[1]),
            (w, h, width - w, height - h, colours[2]), (0, h, w, height - h, colours[3])]


class PrintedPages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if bmp.ghostscript() is None:
            raise unittest.SkipTest("ghostscript (gs) is not installed")
        os.makedirs(os.path.join(WORK, "cwd"), exist_ok=True)

    def write(self, name, page, **options):
        return bmp.write_bmp(os.path.join(WORK, name), page, **options)

    def run_job(self, session, job_id, pages, scale):
        """One job of `pages` (path, expected status); returns the output's
        unix path, after checking every answer and the job result."""
        output = "e2e-pages-%d.ps" % job_id
        output_path = os.path.join(peer.drive_c(), output)
        if os.path.exists(output_path):
            os.remove(output_path)
        record = peer.record(job_id, output, page_count=len(pages), scale=scale)
        answer = session.request(1, job_id, record).reply()
        self.assertEqual(answer, (0, b""), "job not started: " + session.stderr()[-2000:])
        size = session.request(8, job_id + 1, peer.u32(job_id)).body
        self.assertEqual(size[:4], bytes(4), "page-size status")
        self.assertNotIn(bytes(2), (size[4:6], size[6:8]), "no printable size")
        for number, (path, status) in enumerate(pages):
            packet = session.request(2, job_id + 10 + number, path.encode() + b"\0", timeout=30)
            self.assertEqual(packet.reply(), (status, b""), "page %d: %s" % (number + 1, path))
        result = session.expect(0x2001, timeout=30)
        self.assertEqual(result.reply(), (0, output_path.encode()), "job result")
        with open(output_path, "rb") as f:
            self.assertEqual(f.read(4), b"%!PS", "the driver's PostScript")
        return output_path

    def assert_drawn(self, image, page, origin, scale_x=1.0, scale_y=1.0, label=""):
        """Every block's inner corners and centre, and the paper just right of
        and below the bitmap, where page, origin and scale put them."""
        def check(x, y, expected, what):
            px = int((origin[0] + x * scale_x) * SCALE)
            py = int((origin[1] + y * scale_y) * SCALE)
            if not (0 <= px < image.width and 0 <= py < image.height):
                return
            actual = image.pixel(px, py)
            self.assertTrue(bmp.close_to(actual, expected, TOLERANCE),
                            "%s: %s at rendered (%d, %d): actual %r, expected %r"
                            % (label, what, px, py, actual, expected))

        inset_x, inset_y = INSET / scale_x, INSET / scale_y
        for bx, by, bw, bh, _ in page.blocks:
            for x, y in ((bx + bw / 2, by + bh / 2), (bx + inset_x, by + inset_y),
                         (bx + bw - inset_x, by + bh - inset_y)):
                check(x, y, page.colour_at(int(x), int(y)), "block %r" % ((bx, by, bw, bh),))
        check(page.width + 2 * inset_x, page.height / 2, bmp.WHITE, "paper right of the bitmap")
        check(page.width / 2, page.height + 2 * inset_y, bmp.WHITE, "paper below the bitmap")

    def test_every_format_and_placement(self):
        w, h = 400, 300
        # (label, quadrant colours, format); colour tables hold their colours
        # in an order of their own.
        formats = [("24-bit", [RED, GREEN, BLUE, YELLOW], dict(bits=24)),
                   ("24-bit top-down", [CYAN, ORANGE, GREY, NAVY], dict(bits=24, top_down=True)),
                   ("32-bit top-down", [MAGENTA, TEAL, RED, OLIVE], dict(bits=32, top_down=True)),
                   ("32-bit masks", [MAROON, CYAN, YELLOW, BLUE], dict(bits=32, masks=True)),
                   ("16-bit", [BLUE, RED, GREEN, MAGENTA], dict(bits=16)),
                   ("8-bit", [NAVY, OLIVE, TEAL, MAROON],
                    dict(bits=8, palette=[TEAL, (1, 2, 3), MAROON, NAVY, OLIVE])),
                   ("4-bit", [ORANGE, GREY, ORANGE, MAGENTA],
                    dict(bits=4, palette=[GREY, MAGENTA, ORANGE])),
                   ("1-bit", [RED, BLUE, RED, BLUE], dict(bits=1, palette=[BLUE, RED]))]
        as_is = [(label, bmp.Page(w, h, quadrants(w, h, colours)), options)
                 for label, colours, options in formats]
        good = [self.write("as-is-%d.bmp" % i, page, **options)
                for i, (_, page, options) in enumerate(as_is)]
        refused = [(os.path.join(WORK, "missing.bmp"), 6)]
        for name, data in (("truncated.bmp", open(good[0], "rb").read()[:5000]),
                           ("not-bmp.bmp", b"\x89PNG\r\n\x1a\n" + bytes(100))):
            with open(os.path.join(WORK, name), "wb") as f:
                f.write(data)
            refused.append((f.name, 15))
        # Started elsewhere: the output still goes to the root of drive C:.
        saved = os.getcwd()
        os.chdir(os.path.join(WORK, "cwd"))
        try:
            with peer.Session(env=peer.program_env(peer.TRACE)) as session:
                first = self.run_job(session, 100, refused + [(p, 0) for p in good], scale=0)
                m = [int(v) for v in METRICS.search(session.stderr()).groups()]
                printable, physical, offset = m[0:2], m[2:4], m[4:6]
                fit, refit, page_size, stripes = self.scaled_pages(printable, physical)
                # Two fit pages of one format in a row: the second reuses the
                # job's image and must still show only its own pixels.
                second = self.run_job(session, 200, [(fit[0], 0), (refit[0], 0), (page_size[0], 0),
                                                     (stripes[0], 0)], scale=1)
                session.send_packet(0x3001, 0, peer.reply_body(0, b"done"))
                self.assertEqual(session.wait_exit(), 0)
                err = session.stderr()
        finally:
            os.chdir(saved)
        self.assertEqual(os.listdir(os.path.join(WORK, "cwd")), [], "output in the working folder")
        for line in ("invalid bmp file: pixel data outside the file, file size 5000",
                     "not bmp file 5089", "read_one_fram_bmp_from_file open file failed, err=2",
                     "dump_fields DM_ORIENTATION DM_PAPERSIZE DM_PAPERLENGTH", "dmCopies: 1\n"):
            self.assertIn(line, err)
        self.assertEqual(err.count("should not convert the image."), 3,
                         "fit, refit and shrink only")

        images = bmp.render_postscript(first, DPI, WORK)
        self.assertEqual(len(images), len(as_is), "one printed page per page drawn")
        for image, (label, page, _) in zip(images, as_is):
            self.assert_drawn(image, page, offset, label=label)
        images = bmp.render_postscript(second, DPI, WORK)
        self.assertEqual(len(images), 4)
        for image, (_, page), label in ((images[0], fit, "fit"), (images[1], refit, "refit")):
            self.assert_drawn(image, page, offset, printable[0] / page.width,
                              printable[1] / page.height, label)
        self.assert_drawn(images[2], page_size[1], (0, 0), label="physical size")
        # Dropping the columns a shrink loses keeps every pixel red or green;
        # merging them (the DC's default stretch mode) would blacken them.
        image = images[3]
        merged = [(x, y) for y in range(image.height // 4, image.height * 3 // 4, 7)
                  for x in range(image.width)
                  if not any(bmp.close_to(image.pixel(x, y), c, TOLERANCE) for c in (RED, GREEN))]
        self.assertEqual(merged[:10], [], "%d pixels neither red nor green" % len(merged))

    def scaled_pages(self, printable, physical):
        """(path, page) of two pages stretched over the printable area, one of
        the physical page's size (within its slack) and two-pixel stripes a
        little wider than the printable area."""
        fit = bmp.Page(260, 350, quadrants(260, 350, [ORANGE, BLUE, GREEN, MAROON])
                       + [(150, 200, 60, 50, YELLOW)])
        w, h = physical[0] + 9, physical[1] - 9
        page_size = bmp.Page(w, h, [(x, y, 300, 300, c) for x, y, c in (
            (0, 0, RED), (w - 300, 0, GREEN), (0, h - 300, BLUE), (w - 300, h - 300, MAGENTA),
            (w // 2 - 150, h // 2 - 150, TEAL))])
        sw = printable[0] + 121
        stripes = bmp.Page(sw, 60, [(x, 0, 2, 60, RED) for x in range(0, sw, 4)], background=GREEN)
        refit = bmp.Page(260, 350, quadrants(260, 350, [TEAL, MAGENTA, NAVY, YELLOW]))
        return ((self.write("fit.bmp", fit, bits=32, top_down=True), fit),
                (self.write("refit.bmp", refit, bits=32, top_down=True), refit),
                (self.write("page-size.bmp", page_size, bits=8,
                            palette=[bmp.WHITE, RED, GREEN, BLUE, MAGENTA, TEAL]), page_size),
                (self.write("shrink.bmp", stripes, bits=8, palette=[GREEN, RED]), stripes))

    def test_job_prints_without_a_display(self):
        """The progress window cannot be created; its thread ends all the same."""
        page = self.write("no-display.bmp", bmp.Page(40, 30, [(0, 0, 40, 30, GREEN)]))
        env = peer.program_env(peer.ERRORS)
        env.pop("DISPLAY", None)
        with peer.Session(env=env) as session:
            self.run_job(session, 300, [(page, 0)], scale=0)
            session.send_packet(0x3001, 0, peer.reply_body(0))
            self.assertEqual(session.wait_exit(), 0)


if __name__ == "__main__":
    peer.main()
