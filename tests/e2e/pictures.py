"""Documents made with Ghostscript for the CUPS tests, and what a rendered
page shows."""
import subprocess

import bmp

RED_BLOCK = "1 1 1 setrgbcolor clippath fill 1 0 0 setrgbcolor 40 40 320 220 rectfill showpage"


def ghostscript(device, path, code, size=None):
    """`code` (PostScript) rendered by one of Ghostscript's devices."""
    size_args = ["-g%dx%d" % size, "-r72", "-dFIXEDMEDIA"] if size else []
    subprocess.run([bmp.ghostscript(), "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                    "-sDEVICE=" + device, *size_args, "-sOutputFile=" + path, "-c", code],
                   check=True, stdout=subprocess.DEVNULL, timeout=60)
    return path


def share(image, test):
    """The share of an Image's pixels for which test(r, g, b) holds."""
    data = image.data
    hits = sum(1 for at in range(0, len(data), 3) if test(data[at], data[at + 1], data[at + 2]))
    return hits / (image.width * image.height)


def bounding_box(image, test):
    """(left, top, right, bottom) of the pixels for which test holds."""
    xs, ys = [], []
    for y in range(image.height):
        for x in range(image.width):
            if test(*image.pixel(x, y)):
                xs.append(x)
                ys.append(y)
    assert xs, "nothing found on the page"
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


def is_red(r, g, b):
    return r > 160 and g < 100 and b < 100


def is_dark(r, g, b):
    return r + g + b < 200


def is_inked(r, g, b):
    return r + g + b < 600
