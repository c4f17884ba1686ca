"""Page files for the end-to-end tests, made of coloured rectangles so that
each distinct scan line is built once, and the driver's PostScript rendered
back with ghostscript as PPM images."""
import collections
import os
import re
import shutil
import struct
import subprocess

from peer import p

WHITE = (255, 255, 255)


class Page:
    """A width x height picture: `background`, then `blocks` painted in order,
    each (x, y, width, height, colour) in pixels from the top left corner."""

    def __init__(self, width, height, blocks, background=WHITE):
        self.width, self.height = width, height
        self.blocks, self.background = blocks, background

    def colour_at(self, x, y):
        colour = self.background
        for bx, by, bw, bh, c in self.blocks:
            if bx <= x < bx + bw and by <= y < by + bh:
                colour = c
        return colour

    def row_colours(self, y):
        """Runs of (count, colour) across scan line y (top to bottom)."""
        cuts = {0, self.width}
        for bx, by, bw, bh, _ in self.blocks:
            if by <= y < by + bh:
                cuts.update(v for v in (bx, bx + bw) if 0 <= v <= self.width)
        edges = sorted(cuts)
        return [(right - left, self.colour_at(left, y)) for left, right in zip(edges, edges[1:])]

    def row_key(self, y):
        return tuple((bx, bw, c) for bx, by, bw, bh, c in self.blocks if by <= y < by + bh)


def _row_bytes(runs, bits, palette):
    if bits == 16:  # 5 bits a channel, the default layout
        return b"".join(struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | b >> 3) * count
                        for count, (r, g, b) in runs)
    if bits in (24, 32):
        out = bytearray()
        for count, (r, g, b) in runs:
            out += (bytes((b, g, r, 0)) if bits == 32 else bytes((b, g, r))) * count
        return bytes(out)
    step = 8 // bits
    cells = [palette.index(c) for n, c in runs for _ in range(n)]
    cells += [0] * (-len(cells) % step)
    return bytes(sum(v << (8 - bits * (i + 1)) for i, v in enumerate(cells[at:at + step]))
                 for at in range(0, len(cells), step))


def bmp_bytes(page, bits=24, top_down=False, palette=None, masks=False):
    """The page as a BMP file: 16, 24 or 32 bits per pixel, or 1, 4 or 8 with
    `palette` as its colour table; `masks` writes 32 bits as BI_BITFIELDS."""
    palette = palette or []
    rows, built = [], {}
    for y in range(page.height):
        key = page.row_key(y)
        if key not in built:
            built[key] = _row_bytes(page.row_colours(y), bits, palette)
        rows.append(built[key])
    return p.bmp_file(page.width, page.height, bits, rows, palette, top_down,
                      (0xFF0000, 0xFF00, 0xFF) if masks else None)


def write_bmp(path, page, **options):
    with open(path, "wb") as f:
        f.write(bmp_bytes(page, **options))
    return path


class Image(collections.namedtuple("Image", "width height data")):
    def pixel(self, x, y):
        at = 3 * (y * self.width + x)
        return tuple(self.data[at:at + 3])


def read_ppm(path):
    """A binary PPM as ghostscript writes it: header, then 3 bytes a pixel."""
    with open(path, "rb") as f:
        data = f.read()
    header = re.match(rb"P6\s+(?:#[^\n]*\n\s*)*(\d+)\s+(\d+)\s", data)
    assert header, "not a binary PPM: %r" % data[:16]
    width, height = int(header.group(1)), int(header.group(2))
    return Image(width, height, data[-3 * width * height:])


def ghostscript():
    return shutil.which("gs")


def render_postscript(ps_path, dpi, work_dir):
    """Every page of a PostScript file as an Image at `dpi`, in order."""
    base = os.path.join(work_dir, os.path.basename(ps_path))
    for old in os.listdir(work_dir):
        if old.startswith(os.path.basename(ps_path) + "-") and old.endswith(".ppm"):
            os.remove(os.path.join(work_dir, old))
    subprocess.run([ghostscript(), "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=ppmraw",
                    "-r%d" % dpi, "-sOutputFile=" + base + "-%d.ppm", ps_path], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=120)
    images = []
    while os.path.exists("%s-%d.ppm" % (base, len(images) + 1)):
        images.append(read_ppm("%s-%d.ppm" % (base, len(images) + 1)))
    return images


def close_to(actual, expected, tolerance):
    return all(abs(a - e) <= tolerance for a, e in zip(actual, expected))
