"""Documents turned into the pages that the program prints: BMP files of
exactly the printable size, rasterised with Ghostscript (PDF, PostScript)
or Pillow (pictures), one page ahead of the printer."""
import importlib.util
import os
import queue
import shutil
import struct
import subprocess
import threading

from .errors import RenderError

PICTURES = ("bmp", "png", "jpeg")
# Colours of the page files: 24 bits, 8-bit grey, 1 bit.
GS_DEVICES = {"color": "bmp16m", "grey": "bmpgray", "mono": "bmpmono"}
DEPTHS = {"color": 24, "grey": 8, "mono": 1}
MAX_PAGE_BYTES = 1 << 30  # one page image, made or passed through
MAX_PICTURE_PIXELS = 1 << 26  # a picture's own pixels, before it is decoded
HEAD = 1024  # bytes that tell a document's kind
COMMON_DPI = (72, 75, 96, 100, 120, 150, 180, 200, 240, 300, 360, 400, 600, 720, 1200, 2400)


def sniff(path, name=None):
    """The kind of a document from its first bytes; messages call it `name`
    (default: its path)."""
    name = name or path
    try:
        with open(path, "rb") as f:
            head = f.read(HEAD)
    except OSError as error:
        raise RenderError("cannot read %s: %s" % (name, error.strerror))
    return kind_of(head, name)


def kind_of(head, name):
    """The kind of a document from its first HEAD bytes."""
    if head.startswith(b"%!") or head.startswith(b"\x04%!"):
        return "ps"
    if b"%PDF-" in head:
        return "pdf"
    for magic, kind in ((b"BM", "bmp"), (b"\x89PNG\r\n", "png"), (b"\xff\xd8\xff", "jpeg")):
        if head.startswith(magic):
            return kind
    raise RenderError("%s is neither PDF, PostScript, BMP, PNG nor JPEG" % name)


def bmp_geometry(path, name):
    """(width, height, bits per pixel) from a BMP file's header."""
    try:
        with open(path, "rb") as f:
            header = f.read(30)
        width, height = struct.unpack("<ii", header[18:26])
        (bits,) = struct.unpack("<H", header[28:30])
    except (OSError, struct.error):
        raise RenderError("%s is no BMP file that can be printed" % name)
    return width, abs(height), bits


def page_bytes(width, height, bits):
    """The size of a page image: rows padded to 32 bits, as in a BMP file."""
    return (width * bits + 31) // 32 * 4 * height


def check_page(width, height, bits, limit, what):
    """Refuses a page whose image would not fit into `limit` bytes, before
    any of it is made: its pixels, not its points, cost memory."""
    if width <= 0 or height <= 0:
        raise RenderError("%s has no pixels (%d x %d)" % (what, width, height))
    size = page_bytes(width, height, bits)
    if size > limit:
        raise RenderError("%s of %d x %d pixels at %d bits takes %d MiB, more than the %d MiB "
                          "a page may take: choose a lower resolution or a smaller paper"
                          % (what, width, height, bits, size >> 20, limit >> 20))


def parse_ranges(text, total):
    """1-based page numbers of "2-5", "1,3,7-", "-3" within 1..total, in order."""
    numbers = []
    for part in text.split(","):
        first, dash, last = part.strip().partition("-")
        try:
            low = int(first) if first or not dash else 1  # "" and "1,,3" are refused
            high = (int(last) if last else total) if dash else low
        except ValueError:
            raise RenderError("page range %r: expected N, N-M, N- or -M" % part)
        if low < 1 or high < low:
            raise RenderError("page range %r is empty" % part)
        numbers += range(low, min(high, total) + 1)  # "1-2147483647" walks no further
    if not numbers:
        raise RenderError("no page of the %d in the document is in %r" % (total, text))
    return numbers


def snap_dpi(dpi):
    nearest = min(COMMON_DPI, key=lambda common: abs(common - dpi))
    return nearest if abs(nearest - dpi) <= 0.08 * nearest else round(dpi)


class Ghostscript:
    """Runs gs, niced and within `limits` (a command prefix such as
    prlimit's); a cancel kills every run in progress."""

    def __init__(self, env=None, limits=()):
        # Rasterising only has to keep ahead of the printer; on a busy
        # machine the printing, not the next page, should get the processor.
        self.env, self.prefix = env, ["nice", "-n", "10"] + list(limits)
        self.running = []
        self.cancelled = False
        self.lock = threading.Lock()

    def start(self, args, **streams):
        command = self.prefix + [shutil.which("gs") or "gs", "-q", "-dSAFER", "-dNOPAUSE"]
        command += args
        with self.lock:
            if self.cancelled:
                raise RenderError("cancelled")
            try:
                process = subprocess.Popen(command, env=self.env, **streams)
            except OSError as error:
                raise RenderError("cannot run Ghostscript (%s)" % error.strerror)
            self.running.append(process)
            return process

    def run(self, args, what):
        process = self.start(["-dBATCH"] + args, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, err = process.communicate()
        if process.returncode != 0:
            raise RenderError("Ghostscript failed on %s: %s" % (what, last_line(err)))
        return out.decode("utf-8", "replace")

    def cancel(self):
        with self.lock:
            self.cancelled = True
            for process in self.running:
                if process.poll() is None:
                    process.kill()
                    process.wait()


def last_line(data):
    lines = data.decode("utf-8", "replace").strip().splitlines()
    return lines[-1] if lines else "no message"


class Document:
    """One input file: its kind, its page count and, for PDF and PostScript,
    the size of its first page in points."""

    def __init__(self, path, gs, work_dir, name=None):
        self.path, self.name = os.path.abspath(path), name or path
        self.kind = sniff(path, self.name)
        self.pages, self.size = 1, None
        if self.kind == "ps":
            self.pdf = os.path.join(work_dir, "doc-%d.pdf" % id(self))
            gs.run(["-sDEVICE=pdfwrite", "-sOutputFile=" + self.pdf, self.path], self.name)
        elif self.kind == "pdf":
            self.pdf = self.path
        if self.kind in ("ps", "pdf"):
            self._measure(gs)

    def _measure(self, gs):
        out = gs.run(["-dNODISPLAY", "--permit-file-read=" + self.pdf, "-c",
                      "(%s) (r) file runpdfbegin pdfpagecount = "
                      "1 pdfgetpage /MediaBox pget pop == quit" % ps_string(self.pdf)],
                     self.name).split()
        try:
            self.pages = int(out[0])
            box = [float(v.strip("[]")) for v in out[1:5]]
            self.size = (abs(box[2] - box[0]), abs(box[3] - box[1]))
        except (ValueError, IndexError):
            raise RenderError("cannot count the pages of %s" % self.name)
        if self.pages < 1:
            raise RenderError("%s has no pages" % self.name)


def ps_string(text):
    return text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


class Layout:
    """How pages are made: printable size in device pixels, resolution,
    colour and placement."""

    def __init__(self, width, height, dpi, colour, fit, turned=False):
        self.width, self.height, self.dpi = width, height, dpi
        self.colour, self.fit, self.turned = colour, fit, turned


def estimate_dpi(width, height, documents):
    """The device resolution from the printable size and the first
    document page size in points (the printable area is a little smaller
    than the paper, so the estimate snaps to a common resolution)."""
    for doc in documents:
        if doc.size:
            return snap_dpi(max(width, height) * 72.0 / max(doc.size))
    return 300


def pdf_device_args(layout):
    args = ["-sDEVICE=" + GS_DEVICES[layout.colour], "-r%g" % layout.dpi,
            "-g%dx%d" % (layout.width, layout.height), "-dFIXEDMEDIA"]
    return args + (["-dPDFFitPage"] if layout.fit else [])


def render_pdf_page(gs, doc, number, layout, out):
    """One page by one run of Ghostscript."""
    gs.run(pdf_device_args(layout) + ["-dFirstPage=%d" % number, "-dLastPage=%d" % number,
                                      "-sOutputFile=" + out, doc.pdf],
           "page %d of %s" % (number, doc.name))


class PdfPages:
    """One Ghostscript for all the pages of a document, asked for one page at
    a time: the document is opened once, and a page costs only its drawing."""
    DONE = "#tavri-page-done"

    def __init__(self, gs, doc, layout, work_dir):
        self.doc, self.made = doc, 0
        self.pattern = os.path.join(work_dir, "gs-%d-%%d.bmp" % id(self))
        self.log = open(os.path.join(work_dir, "gs-%d.log" % id(self)), "w+b")
        self.process = gs.start(pdf_device_args(layout) + [
            "-dNOPROMPT", "-sOutputFile=" + self.pattern, "--permit-file-read=" + doc.pdf],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log)
        self.command("(%s) (r) file runpdfbegin" % ps_string(doc.pdf))

    def command(self, line):
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

    def failure(self):
        """Ghostscript's last words: errors go to standard output in its
        interactive mode, unrecoverable ones to standard error."""
        self.log.seek(0)
        said = last_line(self.log.read())
        return self.said[-1] if said == "no message" and self.said else said

    def render(self, number):
        self.command("%d pdfgetpage pdfshowpage" % number)
        path = self.pattern % (self.made + 1)
        if not os.path.exists(path):
            raise RenderError("Ghostscript failed on page %d of %s: %s"
                              % (number, self.doc.name, self.failure()))
        self.made += 1
        return path

    def close(self):
        try:
            self.process.stdin.close()
            self.process.wait(timeout=5)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()
        self.log.close()


def render_picture(path, layout, out):
    if importlib.util.find_spec("PIL") is None:  # Debian's python3-pil
        return render_picture_with_imagemagick(path, layout, out)
    return render_picture_with_pillow(path, layout, out)


def render_picture_with_pillow(path, layout, out):
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
    page.convert({"color": "RGB", "grey": "L", "mono": "1"}[layout.colour]).save(out, "BMP")


def render_picture_with_imagemagick(path, layout, out):
    size = "%dx%d" % (layout.width, layout.height)
    command = ["convert", path + "[0]", "-auto-orient", "-background", "white",
               "-alpha", "remove", "-alpha", "off"]
    command += ["-resize", size, "-gravity", "center"] if layout.fit else ["-gravity",
                                                                            "northwest"]
    command += ["-extent", size]
    command += {"color": [], "grey": ["-colorspace", "Gray", "-type", "Grayscale"],
                "mono": ["-monochrome"]}[layout.colour]
    result = subprocess.run(command + ["BMP3:" + out], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if result.returncode != 0:
        raise RenderError("cannot convert the picture %s: %s"
                          % (path, result.stderr.decode("utf-8", "replace").strip()))


def turn_over(path):
    """Turns a page file upside down, in place."""
    from PIL import Image
    with Image.open(path) as page:
        turned = page.rotate(180)
    turned.save(path, "BMP")


class PageMaker:
    """Makes page n of the job into a file; `passthrough` sends BMP files
    as they are."""

    def __init__(self, gs, work_dir, layout, passthrough):
        self.gs, self.work_dir = gs, work_dir
        self.layout, self.passthrough = layout, passthrough
        self.sessions = {}

    def make(self, index, doc, number):
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

    def close(self):
        for session in self.sessions.values():
            session.close()


class Prefetch:
    """Yields the pages in order while a thread makes the next ones, at most
    `ahead` finished pages waiting (0: each page is made when it is due).
    While a page is not ready, `waiting` is called about once a second."""

    def __init__(self, maker, pages, ahead=1, waiting=None):
        self.maker, self.pages, self.ahead = maker, pages, ahead
        self.waiting = waiting or (lambda: None)
        self.stopped = threading.Event()
        self.queue = queue.Queue(maxsize=max(ahead, 1))
        self.thread = None

    def __iter__(self):
        if self.ahead == 0:
            for index, (doc, number) in enumerate(self.pages, 1):
                yield self.maker.make(index, doc, number)
            return
        self.thread = threading.Thread(target=self._produce, daemon=True)
        self.thread.start()
        for _ in self.pages:
            item = self._next()
            if isinstance(item, BaseException):
                raise item
            yield item

    def _next(self):
        while True:
            try:
                return self.queue.get(timeout=1)
            except queue.Empty:
                self.waiting()

    def _produce(self):
        try:
            for index, (doc, number) in enumerate(self.pages, 1):
                if not self._put(self.maker.make(index, doc, number)):
                    return
        except BaseException as error:  # handed to the printing side
            self._put(error)

    def _put(self, item):
        while not self.stopped.is_set():
            try:
                self.queue.put(item, timeout=0.2)
                return True
            except queue.Full:
                pass
        return False

    def close(self):
        self.stopped.set()
        if self.thread:
            self.maker.gs.cancel()
            self.thread.join()
        self.maker.close()
