"""Pages printed end to end: BMP files written here are printed by the program
on the rig's PostScript queue under Wine; the driver's output file, named in
the job result, is rendered back with ghostscript and compared with the
pages that were sent: colours, and placement within a pixel or two."""
import collections
import os
import re
import shutil
import unittest

import bmp
import peer

DEVICE_DPI = 300  # the rig's printer
DPI = 30  # rendering resolution: one rendered pixel is 10 device pixels
SCALE = DPI / DEVICE_DPI
TOLERANCE = 24  # per colour channel
INSET = 15  # device pixels inside a block's corner where its colour is checked
WORK = os.path.join(peer.BUILD_DIR, "e2e-pages")

RED, GREEN, BLUE = (255, 0, 0), (0, 255, 0), (0, 0, 255)
YELLOW, CYAN, MAGENTA = (255, 255, 0), (0, 255, 255), (255, 0, 255)
ORANGE, GREY, NAVY = (255, 128, 0), (64, 64, 64), (0, 0, 128)
OLIVE, TEAL, MAROON = (128, 128, 0), (0, 128, 128), (128, 0, 0)
BRICK, COBALT = (200, 40, 0), (0, 40, 200)

METRICS = re.compile(r"nPrinterWidth (\d+), nPrinterHeight (\d+) remaining \d+/\d+ pages, "
                     r"(-?\d+) (-?\d+), (-?\d+) (-?\d+)")


def quadrants(width, height, colours):
    """Four blocks covering a width x height page, clockwise from the top left."""
    w, h = width // 2, height // 2
    return [(0, 0, w, h, colours[0]), (w, 0, width - w, h, colours[1]),
            (w, h, width - w, height - h, colours[2]), (0, h, w, height - h, colours[3])]


# The printer's page as the program logged it for a page.
Metrics = collections.namedtuple("Metrics", "printable_width printable_height physical_width "
                                 "physical_height offset_x offset_y")
JobRun = collections.namedtuple("JobRun", "statuses result output_path")


def metrics_in(stderr):
    match = METRICS.search(stderr)
    assert match, "no page progress line"
    return Metrics(*(int(v) for v in match.groups()))


def run_job(session, job_id, page_paths, scale=0):
    """Runs one whole job in `session`; the job result is None when none came
    before the answer to a value notice sent after the last page."""
    output = "e2e-pages-%d.ps" % job_id
    output_path = os.path.join(peer.drive_c(), output)
    if os.path.exists(output_path):
        os.remove(output_path)
    record = peer.start_print_record(job_id=job_id, output=output, pages=len(page_paths),
                                     scale=scale)
    assert session.request(1, job_id * 100, record).reply() == (0, b""), "job not started"
    session.request(8, job_id * 100 + 1, peer.u32(job_id))
    statuses = []
    for number, path in enumerate(page_paths):
        body = path.encode() + b"\0"
        packet = session.request(2, job_id * 100 + 10 + number, body, timeout=120)
        statuses.append(packet.reply()[0])
    # The job result, if any, comes right after the last page's answer.
    result = None
    session.send_packet(3, job_id * 100 + 99, peer.u32(0))
    while True:
        packet = session.expect(None, 60)
        if packet.code == 0x1003:
            break
        assert packet.code == 0x2001, "unexpected %r" % packet
        result = packet.reply()
    return JobRun(statuses, result, output_path)


def end_session(session):
    session.send_packet(0x3001, 0, peer.reply_body(0, b"done"))
    assert session.wait_exit() == 0
    return session.stderr()


class PrintedPages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if bmp.ghostscript() is None:
            raise unittest.SkipTest("ghostscript (gs) is not installed")
        os.makedirs(WORK, exist_ok=True)

    def write(self, name, page, **options):
        return bmp.write_bmp(os.path.join(WORK, name), page, **options)

    def assert_result(self, run, status=0):
        self.assertIsNotNone(run.result, "no job result")
        self.assertEqual(run.result, (status, run.output_path.encode()))
        with open(run.output_path, "rb") as f:
            self.assertEqual(f.read(4), b"%!PS", "the driver's PostScript")

    def assert_drawn(self, image, page, origin, scale_x=1.0, scale_y=1.0, label=""):
        """Every block's inner corners and centre, and the paper just right of
        and below the bitmap, where page, origin and scale put them."""

        def at(x, y):
            return (int((origin[0] + x * scale_x) * SCALE), int((origin[1] + y * scale_y) * SCALE))

        def check(x, y, expected, what):
            px, py = at(x, y)
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

    def test_as_is_pages_keep_their_colours_at_the_printable_corner(self):
        w, h = 400, 300
        pages = [
            ("24-bit bottom-up", bmp.Page(w, h, quadrants(w, h, [RED, GREEN, BLUE, YELLOW])),
             dict(bits=24)),
            ("24-bit top-down", bmp.Page(w, h, quadrants(w, h, [CYAN, ORANGE, GREY, NAVY])),
             dict(bits=24, top_down=True)),
            ("32-bit top-down", bmp.Page(w, h, quadrants(w, h, [MAGENTA, TEAL, RED, OLIVE])),
             dict(bits=32, top_down=True)),
            ("32-bit bottom-up", bmp.Page(w, h, quadrants(w, h, [MAROON, CYAN, YELLOW, BLUE])),
             dict(bits=32)),
            # The colour tables hold colours in an order of their own.
            ("8-bit table", bmp.Page(w, h, quadrants(w, h, [NAVY, OLIVE, TEAL, MAROON])),
             dict(bits=8, palette=[TEAL, (1, 2, 3), MAROON, NAVY, OLIVE])),
            ("4-bit table", bmp.Page(w, h, quadrants(w, h, [ORANGE, GREY, ORANGE, MAGENTA])),
             dict(bits=4)),
            ("1-bit table", bmp.Page(w, h, quadrants(w, h, [BRICK, COBALT, BRICK, COBALT])),
             dict(bits=1, palette=[COBALT, BRICK])),
        ]
        paths = [self.write("as-is-%d.bmp" % i, page, **options)
                 for i, (_, page, options) in enumerate(pages)]
        with peer.Session(env=peer.program_env(peer.TRACE)) as session:
            run = run_job(session, 11, paths)
            stderr = end_session(session)
        self.assertEqual(run.statuses, [0] * len(pages))
        self.assert_result(run)
        metrics = metrics_in(stderr)
        images = bmp.render_postscript(run.output_path, DPI, WORK)
        self.assertEqual(len(images), len(pages), "one printed page per page sent")
        for image, (label, page, _) in zip(images, pages):
            self.assert_drawn(image, page, (metrics.offset_x, metrics.offset_y), label=label)

    def test_fit_page_is_stretched_over_the_printable_area(self):
        w, h = 260, 350
        blocks = quadrants(w, h, [ORANGE, BLUE, GREEN, MAROON]) + [(150, 200, 60, 50, YELLOW)]
        page = bmp.Page(w, h, blocks)
        path = self.write("fit.bmp", page, bits=32, top_down=True)
        with peer.Session(env=peer.program_env(peer.TRACE)) as session:
            run = run_job(session, 31, [path], scale=1)
            stderr = end_session(session)
        self.assertEqual(run.statuses, [0])
        self.assert_result(run)
        self.assertIn("should not convert the image.", stderr)
        metrics = metrics_in(stderr)
        image = bmp.render_postscript(run.output_path, DPI, WORK)[0]
        self.assert_drawn(image, page, (metrics.offset_x, metrics.offset_y),
                          metrics.printable_width / w, metrics.printable_height / h, "fit")

    def test_physical_size_page_lines_up_and_fit_shrink_keeps_colours(self):
        probe = self.write("probe.bmp", bmp.Page(40, 30, [(0, 0, 40, 30, GREEN)]))
        with peer.Session(env=peer.program_env(peer.TRACE)) as session:
            run_job(session, 21, [probe])
            metrics = metrics_in(session.stderr())
            # The largest bitmap that still counts as the physical page's size.
            w, h = metrics.physical_width + 9, metrics.physical_height - 9
            corner = 300
            blocks = [(0, 0, corner, corner, RED), (w - corner, 0, corner, corner, GREEN),
                      (0, h - corner, corner, corner, BLUE),
                      (w - corner, h - corner, corner, corner, MAGENTA),
                      (w // 2 - 200, h // 2 - 200, 400, 400, TEAL)]
            page = bmp.Page(w, h, blocks)
            run = run_job(session, 22, [self.write("page-size.bmp", page, bits=8)], scale=1)
            # Two-pixel red and green stripes, a little wider than the
            # printable area: every column the shrink drops borders another
            # colour half the time, and merging instead of dropping would
            # blacken it.
            sw, sh = metrics.printable_width + 121, 60
            stripes = bmp.Page(sw, sh, [(x, 0, 2, sh, RED) for x in range(0, sw, 4)],
                               background=GREEN)
            shrunk = run_job(session, 52, [self.write("shrink.bmp", stripes, bits=8)], scale=1)
            stderr = end_session(session)
        self.assertEqual(run.statuses, [0])
        self.assert_result(run)
        self.assertEqual(stderr.count("should not convert the image."), 1, "only the shrink")
        image = bmp.render_postscript(run.output_path, DPI, WORK)[0]
        self.assert_drawn(image, page, (0, 0), label="physical size")

        self.assertEqual(shrunk.statuses, [0])
        image = bmp.render_postscript(shrunk.output_path, DPI, WORK)[0]
        merged = [(x, y) for y in range(image.height // 4, image.height * 3 // 4, 7)
                  for x in range(image.width)
                  if not any(bmp.close_to(image.pixel(x, y), c, TOLERANCE) for c in (RED, GREEN))]
        self.assertEqual(merged[:10], [], "%d rendered pixels are neither red nor green"
                         % len(merged))


if __name__ == "__main__":
    peer.main()
