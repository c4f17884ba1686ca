"""Pictures for the end-to-end tests: page files made of coloured
rectangles, documents made with Ghostscript, and printed output rendered
back as images and measured."""
import collections
import os
import shutil
import struct
import subprocess
import tempfile

import PIL.Image

WHITE = (255, 255, 255)
GS = shutil.which("gs")


def bmp_file(width, height, bits, rows, palette=(), top_down=False, masks=None):
    """A BMP file of `rows` (packed pixels, top first), stored bottom-up unless
    `top_down`; `palette` as (red, green, blue), `masks` as red, green, blue bits."""
    stride = (width * bits + 31) // 32 * 4
    colours = b"".join(bytes((blue, green, red, 0)) for red, green, blue in palette)
    table = struct.pack("<III", *masks) if masks else colours
    offset = 54 + len(table)  # after the file's and the picture's headers
    pixels = b"".join(row.ljust(stride, b"\0") for row in (rows if top_down else rows[::-1]))
    # Compression 3 (bit fields) or 0 (RGB); 11811 pixels a metre: 300 dpi.
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    fields = (40, width, -height if top_down else height, 1, bits, 3 if masks else 0, len(pixels))
    info = struct.pack("<IiiHHIIiiII", *fields, 11811, 11811, len(palette), 0)
    return file_header + info + table + pixels


def row_bytes(colours, bits, palette):
    """One scan line's packed pixels: 16 bits as 5 a channel, 24 and 32 as
    blue, green, red, or 1, 4 and 8 bits as indexes into `palette`."""
    if bits == 16:
        words = [(r >> 3) << 10 | (g >> 3) << 5 | b >> 3 for r, g, b in colours]
        return struct.pack("<%dH" % len(words), *words)
    if bits >= 24:
        return b"".join(bytes((b, g, r, 0)[: bits // 8]) for r, g, b in colours)
    cells = [palette.index(c) for c in colours]
    step = 8 // bits
    cells += [0] * (-len(cells) % step)
    groups = (enumerate(cells[at : at + step]) for at in range(0, len(cells), step))
    return bytes(sum(v << (8 - bits * (i + 1)) for i, v in group) for group in groups)


class Page:
    """A width x height picture: `background`, then `blocks` painted in order,
    each (x, y, width, height, colour) in pixels from the top left corner."""

    def __init__(self, width, height, blocks, background=WHITE):
        self.width, self.height, self.blocks, self.background = width, height, blocks, background

    def colour_at(self, x, y):
        colour = self.background
        for bx, by, bw, bh, c in self.blocks:
            if bx <= x < bx + bw and by <= y < by + bh:
                colour = c
        return colour

    def write(self, path, bits=24, top_down=False, palette=(), masks=False):
        """The page as a BMP file at `path`: 16, 24 or 32 bits per pixel, or
        1, 4 or 8 with `palette` as its colour table; `masks` writes 32 bits
        as BI_BITFIELDS. Scan lines that cross the same blocks are built once."""
        rows, built = [], {}
        for y in range(self.height):
            key = tuple(block for block in self.blocks if block[1] <= y < block[1] + block[3])
            if key not in built:
                colours = [self.colour_at(x, y) for x in range(self.width)]
                built[key] = row_bytes(colours, bits, palette)
            rows.append(built[key])
        masks = (0xFF0000, 0xFF00, 0xFF) if masks else None
        with open(path, "wb") as f:
            f.write(bmp_file(self.width, self.height, bits, rows, palette, top_down, masks))
        return path


class Image(collections.namedtuple("Image", "width height data")):
    def pixel(self, x, y):
        at = 3 * (y * self.width + x)
        return tuple(self.data[at : at + 3])


def make(device, path, code, size=None):
    """`code` (PostScript, read from a pipe: any length) rendered by one of
    Ghostscript's devices."""
    size_args = ["-g%dx%d" % size, "-r72", "-dFIXEDMEDIA"] if size else []
    command = [GS, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=" + device, *size_args]
    options = dict(input=code.encode(), check=True, stdout=subprocess.DEVNULL, timeout=60)
    subprocess.run(command + ["-sOutputFile=" + path, "-"], **options)
    return path


# Page n of make_pdf: a band of colour n over a block of colour n + 1, on white.
COLOURS = [(0.9, 0.1, 0.1), (0.1, 0.6, 0.2), (0.1, 0.2, 0.9), (0.9, 0.8, 0.1)]
RED_BLOCK = "1 1 1 setrgbcolor clippath fill 1 0 0 setrgbcolor 40 40 320 220 rectfill showpage"


def make_pdf(path, pages):
    """An A4 PDF whose pages differ by colour."""
    page = "%g %g %g setrgbcolor 60 560 475 200 rectfill %g %g %g setrgbcolor %d 100 250 380 "
    page += "rectfill showpage"
    drawn = (page % (*COLOURS[n % 4], *COLOURS[(n + 1) % 4], 60 + 40 * n) for n in range(pages))
    return make("pdfwrite", path, "<< /PageSize [595 842] >> setpagedevice " + " ".join(drawn))


def render_postscript(ps_path, dpi, work_dir):
    """Every page of a PostScript file as an Image at `dpi`, in order."""
    with tempfile.TemporaryDirectory(dir=work_dir) as out:
        command = [GS, "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=ppmraw", "-r%d" % dpi]
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=120)
        subprocess.run(
            command + ["-sOutputFile=" + out + "/%04d.ppm", ps_path], check=True, **quiet
        )
        pages = [PIL.Image.open(os.path.join(out, name)) for name in sorted(os.listdir(out))]
        return [Image(*page.size, page.convert("RGB").tobytes()) for page in pages]


def close_to(actual, expected, tolerance):
    return all(abs(a - e) <= tolerance for a, e in zip(actual, expected))


def mean_difference(a, b):
    assert (a.width, a.height) == (b.width, b.height), "sizes %s, %s" % (a[:2], b[:2])
    return sum(abs(x - y) for x, y in zip(a.data, b.data)) / len(a.data)


def share(image, test):
    """The share of an Image's pixels for which test(r, g, b) holds."""
    count = sum(1 for at in range(0, len(image.data), 3) if test(*image.data[at : at + 3]))
    return count / (image.width * image.height)
