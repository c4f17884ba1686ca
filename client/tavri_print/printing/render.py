"""Documents turned into the pages that the program prints: BMP files of
exactly the printable size, rasterised with Ghostscript (PDF, PostScript)
or Pillow (pictures)."""
from __future__ import annotations

import importlib.util
import os
import subprocess
from typing import Dict, Iterable, NamedTuple, Tuple

from .documents import PICTURES, Document
from .errors import RenderError
from .ghostscript import Ghostscript, last_line, ps_string

# Colors of the page files: 24 bits, 8-bit grey, 1 bit.
GS_DEVICES = {"color": "bmp16m", "grey": "bmpgray", "mono": "bmpmono"}
DEPTHS = {"color": 24, "grey": 8, "mono": 1}
MAX_PAGE_BYTES = 1 << 30  # one page image, made or passed through
MAX_PICTURE_PIXELS = 1 << 26  # a picture's own pixels, before it is decoded
COMMON_DPI = (72, 75, 96, 100, 120, 150, 180, 200, 240, 300, 360, 400, 600, 720, 1200, 2400)


class PageLayout(NamedTuple):
    """How the pages are made: the printable size in device pixels, the
    resolution, their color ("color", "grey" or "mono"), fitted to the
    printable area or placed as they are, and upside down or not."""
    width: int
    height: int
    dpi: float
    color: str
    fit: bool
    turned: bool = False


def page_bytes(width: int, height: int, bits: int) -> int:
    """The size of a page image: rows padded to 32 bits, as in a BMP file."""
    return (width * bits + 31) // 32 * 4 * height


def check_page(width: int, height: int, bits: int, limit: int, what: str) -> None:
    """Refuses a page whose image would not fit into `limit` bytes, before
    any of it is made: its pixels, not its points, cost memory."""
    if width <= 0 or height <= 0:
        raise RenderError("%s has no pixels (%d x %d)" % (what, width, height))
    size = page_bytes(width, height, bits)
    if size > limit:
        raise RenderError("%s of %d x %d pixels at %d bits takes %d MiB, more than the %d MiB "
                          "a page may take: choose a lower resolution or a smaller paper"
                          % (what, width, height, bits, size >> 20, limit >> 20))


def snap_dpi(dpi: float) -> int:
    nearest = min(COMMON_DPI, key=lambda common: abs(common - dpi))
    return nearest if abs(nearest - dpi) <= 0.08 * nearest else round(dpi)


def estimate_dpi(width: int, height: int, documents: Iterable[Document]) -> int:
    """The device resolution from the printable size and the first
    document page size in points (the printable area is a little smaller
    than the paper, so the estimate snaps to a common resolution)."""
    for doc in documents:
        if doc.size:
            return snap_dpi(max(width, height) * 72.0 / max(doc.size))
    return 300


def pdf_device_args(layout: PageLayout) -> list:
    args = ["-sDEVICE=" + GS_DEVICES[layout.color], "-r%g" % layout.dpi,
            "-g%dx%d" % (layout.width, layout.height), "-dFIXEDMEDIA"]
    return args + (["-dPDFFitPage"] if layout.fit else [])


def render_pdf_page(gs: Ghostscript, doc: Document, number: int, layout: PageLayout,
                    out: str) -> None:
    """One page by one run of Ghostscript."""
    gs.run(pdf_device_args(layout) + ["-dFirstPage=%d" % number, "-dLastPage=%d" % number,
                                      "-sOutputFile=" + out, doc.pdf],
           "page %d of %s" % (number, doc.name))


class PdfPages:
    """One Ghostscript for all the pages of a document, asked for one page at
    a time: the document is opened once, and a page costs only its drawing."""
    DONE = "#tavri-page-done"

    def __init__(self, gs: Ghostscript, doc: Document, layout: PageLayout, work_dir: str):
        self.doc, self.made = doc, 0
        self.pattern = os.path.join(work_dir, "gs-%d-%%d.bmp" % id(self))
        self.log = os.path.join(work_dir, "gs-%d.log" % id(self))
        with open(self.log, "wb") as log:
            self.process = gs.start(pdf_device_args(layout) + [
                "-dNOPROMPT", "-sOutputFile=" + self.pattern, "--permit-file-read=" + doc.pdf],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log)
        self.command("(%s) (r) file runpdfbegin" % ps_string(doc.pdf))

    def command(self, line: str) -> None:
        try:
            self.process.stdin.write(("%s\n(%s) = flush\n" % (line, self.DONE)).encode())
            self.process.stdin.flush()
            self.said = []
            while True:
                line = self.process.stdout.readline()
                text = line.decode("utf-8", "replace").strip()
                if text == self.DONE:
                    return
                if not line and self.process.poll() is not None:
                    raise BrokenPipeError()
                if text:
                    self.said.append(text)
        except (BrokenPipeError, ValueError):
            raise RenderError("Ghostscript ended on %s: %s" % (self.doc.name, self.failure()))

    def failure(self) -> str:
        """Ghostscript's last words: errors go to standard output in its
        interactive mode, unrecoverable ones to standard error."""
        with open(self.log, "rb") as log:
            said = last_line(log.read())
        return self.said[-1] if said == "no message" and self.said else said

    def render(self, number: int) -> str:
        self.command("%d pdfgetpage pdfshowpage" % number)
        path = self.pattern % (self.made + 1)
        if not os.path.exists(path):
            raise RenderError("Ghostscript failed on page %d of %s: %s"
                              % (number, self.doc.name, self.failure()))
        self.made += 1
        return path

    def close(self) -> None:
        try:
            self.process.stdin.close()
            self.process.wait(timeout=5)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()


def render_picture(path: str, layout: PageLayout, out: str) -> None:
    if importlib.util.find_spec("PIL") is None:  # Debian's python3-pil
        return render_picture_with_imagemagick(path, layout, out)
    return render_picture_with_pillow(path, layout, out)


def render_picture_with_pillow(path: str, layout: PageLayout, out: str) -> None:
    from PIL import Image, ImageOps
    try:
        with Image.open(path) as original:
            if original.width * original.height > MAX_PICTURE_PIXELS:
                raise RenderError("the picture %s has %d x %d pixels, more than %d million"
                                  % (path, original.width, original.height,
                                     MAX_PICTURE_PIXELS // 10**6))
            picture = ImageOps.exif_transpose(original).convert("RGBA")
    except (OSError, ValueError, Image.DecompressionBombError) as error:
        raise RenderError("cannot read the picture %s: %s" % (path, error))
    white = Image.new("RGBA", picture.size, "white")
    picture = Image.alpha_composite(white, picture).convert("RGB")
    if layout.fit:
        scale = min(layout.width / picture.width, layout.height / picture.height)
        size = (max(1, round(picture.width * scale)), max(1, round(picture.height * scale)))
        picture = picture.resize(size, Image.LANCZOS)
    page = Image.new("RGB", (layout.width, layout.height), "white")
    at = ((layout.width - picture.width) // 2, (layout.height - picture.height) // 2)
    page.paste(picture, at if layout.fit else (0, 0))
    page.convert({"color": "RGB", "grey": "L", "mono": "1"}[layout.color]).save(out, "BMP")


def render_picture_with_imagemagick(path: str, layout: PageLayout, out: str) -> None:
    size = "%dx%d" % (layout.width, layout.height)
    command = ["convert", path + "[0]", "-auto-orient", "-background", "white",
               "-alpha", "remove", "-alpha", "off"]
    command += ["-resize", size, "-gravity", "center"] if layout.fit else ["-gravity",
                                                                            "northwest"]
    command += ["-extent", size]
    command += {"color": [], "grey": ["-colorspace", "Gray", "-type", "Grayscale"],
                "mono": ["-monochrome"]}[layout.color]
    result = subprocess.run(command + ["BMP3:" + out], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if result.returncode != 0:
        raise RenderError("cannot convert the picture %s: %s"
                          % (path, result.stderr.decode("utf-8", "replace").strip()))


def turn_over(path: str) -> None:
    """Turns a page file upside down, in place."""
    from PIL import Image
    with Image.open(path) as page:
        turned = page.rotate(180)
    turned.save(path, "BMP")


class PageMaker:
    """Makes page n of the job into a file; `passthrough` sends BMP files
    as they are."""

    def __init__(self, gs: Ghostscript, work_dir: str, layout: PageLayout, passthrough: bool):
        self.gs, self.work_dir = gs, work_dir
        self.layout, self.passthrough = layout, passthrough
        self.sessions: Dict[Document, PdfPages] = {}

    def make(self, index: int, doc: Document, number: int) -> Tuple[str, bool]:
        """(path, temporary) of one page."""
        if self.passthrough:
            return doc.path, False
        if doc.kind in PICTURES:
            out = os.path.join(self.work_dir, "page-%d.bmp" % index)
            render_picture(doc.path, self.layout, out)
        else:
            if doc not in self.sessions:
                self.sessions[doc] = PdfPages(self.gs, doc, self.layout, self.work_dir)
            out = self.sessions[doc].render(number)
        if self.layout.turned:
            turn_over(out)
        return out, True

    def close(self) -> None:
        for session in self.sessions.values():
            session.close()
