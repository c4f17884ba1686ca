#!/usr/bin/env python3
"""Writes a sample print job: pages as 24-bit BMP files, A4 at 300 dpi by default.

Each page has a frame, a title, colour bars, a grey ramp and a few
paragraphs in a blocky 5x7 type, so that a preview shows at a glance
whether the page arrived whole, upright and in colour.

    tools/sample_pages.py OUTPUT_DIR [--pages 2] [--size 2479x3508]

The file names (page-1.bmp, ...) are printed, one per line.
"""
import argparse
import os

from PIL import Image

WHITE, BLACK, GREY = (255, 255, 255), (0, 0, 0), (128, 128, 128)
NAVY, DARK = (20, 40, 120), (40, 40, 40)
BARS = [
    (255, 255, 255),
    (255, 255, 0),
    (0, 255, 255),
    (0, 255, 0),
    (255, 0, 255),
    (255, 0, 0),
    (0, 0, 255),
    (0, 0, 0),
]

# 5x7 glyphs, rows top to bottom.
GLYPHS = {
    "A": "01110 10001 10001 11111 10001 10001 10001",
    "B": "11110 10001 10001 11110 10001 10001 11110",
    "C": "01110 10001 10000 10000 10000 10001 01110",
    "D": "11110 10001 10001 10001 10001 10001 11110",
    "E": "11111 10000 10000 11110 10000 10000 11111",
    "F": "11111 10000 10000 11110 10000 10000 10000",
    "G": "01110 10001 10000 10111 10001 10001 01111",
    "H": "10001 10001 10001 11111 10001 10001 10001",
    "I": "01110 00100 00100 00100 00100 00100 01110",
    "J": "00111 00010 00010 00010 00010 10010 01100",
    "K": "10001 10010 10100 11000 10100 10010 10001",
    "L": "10000 10000 10000 10000 10000 10000 11111",
    "M": "10001 11011 10101 10101 10001 10001 10001",
    "N": "10001 10001 11001 10101 10011 10001 10001",
    "O": "01110 10001 10001 10001 10001 10001 01110",
    "P": "11110 10001 10001 11110 10000 10000 10000",
    "Q": "01110 10001 10001 10001 10101 10010 01101",
    "R": "11110 10001 10001 11110 10100 10010 10001",
    "S": "01111 10000 10000 01110 00001 00001 11110",
    "T": "11111 00100 00100 00100 00100 00100 00100",
    "U": "10001 10001 10001 10001 10001 10001 01110",
    "V": "10001 10001 10001 10001 10001 01010 00100",
    "W": "10001 10001 10001 10101 10101 10101 01010",
    "X": "10001 10001 01010 00100 01010 10001 10001",
    "Y": "10001 10001 01010 00100 00100 00100 00100",
    "Z": "11111 00001 00010 00100 01000 10000 11111",
    "0": "01110 10001 10011 10101 11001 10001 01110",
    "1": "00100 01100 00100 00100 00100 00100 01110",
    "2": "01110 10001 00001 00010 00100 01000 11111",
    "3": "11111 00010 00100 00010 00001 10001 01110",
    "4": "00010 00110 01010 10010 11111 00010 00010",
    "5": "11111 10000 11110 00001 00001 10001 01110",
    "6": "00110 01000 10000 11110 10001 10001 01110",
    "7": "11111 00001 00010 00100 01000 01000 01000",
    "8": "01110 10001 10001 01110 10001 10001 01110",
    "9": "01110 10001 10001 01111 00001 00010 01100",
    ".": "00000 00000 00000 00000 00000 01100 01100",
    ",": "00000 00000 00000 00000 01100 00100 01000",
    ":": "00000 01100 01100 00000 01100 01100 00000",
    "-": "00000 00000 00000 11111 00000 00000 00000",
    "/": "00000 00001 00010 00100 01000 10000 00000",
    "(": "00010 00100 01000 01000 01000 00100 00010",
    ")": "01000 00100 00010 00010 00010 00100 01000",
    " ": "00000 00000 00000 00000 00000 00000 00000",
}

TEXT = [
    "THIS PAGE WAS WRITTEN AS A 24-BIT BMP FILE BY THE SAMPLE JOB",
    "GENERATOR, SENT TO TAVRI-PRINTER-PROXY BY ITS PATH, DRAWN ON",
    "THE PRINTER OF THE WINE ENVIRONMENT AND WRITTEN BY THE PRINTER",
    "DRIVER INTO A POSTSCRIPT FILE ON DRIVE C:.",
    "",
    "THE FRAME SITS 100 PIXELS INSIDE THE BITMAP ON EVERY SIDE. THE",
    "COLOUR BARS RUN WHITE, YELLOW, CYAN, GREEN, MAGENTA, RED, BLUE",
    "AND BLACK FROM LEFT TO RIGHT. THE GREY RAMP RUNS FROM BLACK ON",
    "THE LEFT TO WHITE ON THE RIGHT. BELOW, LINES 1, 2, 4 AND 8 PIXELS",
    "WIDE: PRINTED AS-IS, EACH BITMAP PIXEL IS ONE PRINTER DOT.",
]


class Canvas:
    """A top-down picture kept as scan lines of blue, green and red bytes."""

    def __init__(self, width, height, background=WHITE):
        self.width, self.height = width, height
        self.pixels = bytearray(bytes(reversed(background)) * width * height)

    def fill(self, x, y, w, h, color):
        x0, y0 = max(x, 0), max(y, 0)
        x1, y1 = min(x + w, self.width), min(y + h, self.height)
        run = bytes(reversed(color)) * (x1 - x0)  # empty, as are the rows, when off the page
        for row in range(y0, y1):
            start = (row * self.width + x0) * 3
            self.pixels[start : start + len(run)] = run

    def save(self, path):
        """A 24-bit BMP file of 300 dpi."""
        Image.frombytes("RGB", (self.width, self.height), bytes(self.pixels), "raw", "BGR").save(
            path, "BMP", dpi=(300, 300)
        )


def draw_text(canvas, x, y, text, scale, color):
    """Left to right from (x, y), 6 x `scale` pixels per character."""
    for index, char in enumerate(text.upper()):
        rows = GLYPHS.get(char, GLYPHS[" "]).split()
        for row, bits in enumerate(rows):
            for column, bit in enumerate(bits):
                if bit == "1":
                    canvas.fill(
                        x + (index * 6 + column) * scale, y + row * scale, scale, scale, color
                    )


def draw_bars(canvas, x, y, w, h):
    for index, color in enumerate(BARS):
        left = x + index * w // len(BARS)
        canvas.fill(left, y, x + (index + 1) * w // len(BARS) - left, h, color)
    draw_frame_box(canvas, x, y, w, h, 4, BLACK)


def draw_ramp(canvas, x, y, w, h, steps=16):
    for index in range(steps):
        level = index * 255 // (steps - 1)
        left = x + index * w // steps
        canvas.fill(left, y, x + (index + 1) * w // steps - left, h, (level, level, level))
    draw_frame_box(canvas, x, y, w, h, 4, BLACK)


def draw_line_pairs(canvas, x, y, size, gap, widths=(1, 2, 4, 8)):
    """One square of alternating black and white vertical lines per width."""
    for index, width in enumerate(widths):
        left = x + index * (size + gap)
        for offset in range(0, size, 2 * width):
            canvas.fill(left + offset, y, min(width, size - offset), size, BLACK)
        draw_frame_box(canvas, left, y, size, size, 2, BLACK)


def draw_frame_box(canvas, x, y, w, h, thickness, color):
    canvas.fill(x, y, w, thickness, color)
    canvas.fill(x, y + h - thickness, w, thickness, color)
    canvas.fill(x, y, thickness, h, color)
    canvas.fill(x + w - thickness, y, thickness, h, color)


def sample_page(width, height, number, count):
    """One page, laid out in proportion to its width."""
    canvas = Canvas(width, height)
    unit = width / 2479  # the layout was drawn for A4 at 300 dpi
    margin = round(100 * unit)
    draw_frame_box(
        canvas,
        margin,
        margin,
        width - 2 * margin,
        height - 2 * margin,
        max(round(12 * unit), 1),
        BLACK,
    )
    left, inner = round(220 * unit), width - 2 * round(220 * unit)
    title_scale = max(round(17 * unit), 1)
    draw_text(canvas, left, round(260 * unit), "TAVRI PRINTER PROXY", title_scale, NAVY)
    draw_text(
        canvas,
        left,
        round(440 * unit),
        "SAMPLE PAGE %d OF %d" % (number, count),
        max(round(9 * unit), 1),
        DARK,
    )
    draw_bars(canvas, left, round(640 * unit), inner, round(360 * unit))
    draw_ramp(canvas, left, round(1080 * unit), inner, round(160 * unit))
    scale, line = max(round(5 * unit), 1), round(60 * unit)
    for index, text in enumerate(TEXT):
        draw_text(canvas, left, round(1400 * unit) + index * line, text, scale, BLACK)
    draw_line_pairs(canvas, left, round(2200 * unit), round(400 * unit), round(100 * unit))
    draw_text(canvas, left, height - round(320 * unit), "- %d -" % number, scale, GREY)
    return canvas


def page_size(text):
    width, height = (int(part) for part in text.lower().split("x"))
    if width < 16 or height < 16:
        raise argparse.ArgumentTypeError("pages need at least 16 x 16 pixels")
    return width, height


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output_dir")
    parser.add_argument("--pages", type=int, default=2, help="number of pages (default 2)")
    parser.add_argument(
        "--size",
        type=page_size,
        default=(2479, 3508),
        metavar="WxH",
        help="pixels (default 2479x3508, A4's printable area at 300 dpi)",
    )
    args = parser.parse_args()
    os.makedirs(args.output_dir, exist_ok=True)
    for number in range(1, args.pages + 1):
        path = os.path.join(args.output_dir, "page-%d.bmp" % number)
        sample_page(*args.size, number, args.pages).save(path)
        print(path)


if __name__ == "__main__":
    main()
