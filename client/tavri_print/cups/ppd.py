"""A PPD for a CUPS queue that prints on a Wine printer, made from what the
printer's driver reports: its papers with their printable areas, its
resolutions, duplex, color and input bins, and its defaults. CUPS's own
filters then turn every job into PDF laid out for that paper (`pdftopdf`
makes the copies, so they are real pages wherever the output goes), and the
backend prints that PDF on the Wine printer."""
from __future__ import annotations

import re
from typing import List, Sequence, Set, Tuple

from .capabilities import Capabilities, Paper

Lines = List[str]

HAND_OFF = "application/vnd.cups-pdf application/pdf 0 -"
DUPLEX_CHOICES = (
    (1, "None", "Off"),
    (2, "DuplexNoTumble", "Long Edge"),
    (3, "DuplexTumble", "Short Edge"),
)


def ppd_text(caps: Capabilities, queue: str) -> str:
    """The whole PPD, ASCII with ISOLatin1 escapes for the driver's names."""
    papers = paper_keywords(caps)
    lines = header(caps, queue) + page_sizes(caps, papers)
    lines += resolutions(caps) + color_models(caps) + duplex(caps) + input_slots(caps)
    return "\n".join(lines) + "\n"


def quoted(text: str) -> str:
    """A translation string: ISOLatin1 as <hex>, anything else as '?'."""
    out = []
    for char in text:
        code = ord(char)
        if 32 <= code < 127 and char not in '"<>:/':
            out.append(char)
        else:
            out.append("<%02X>" % code if code < 256 else "?")
    return "".join(out)[:80]


def keyword(name: str, taken: Set[str]) -> str:
    """An option keyword from a driver's name, unique among `taken`."""
    base = re.sub(r"[^A-Za-z0-9._-]", "", name)[:32] or "Choice"
    if not base[0].isalpha():
        base = "P" + base
    word, n = base, 2
    while word.lower() in taken:
        word, n = "%s_%d" % (base, n), n + 1
    taken.add(word.lower())
    return word


def header(caps: Capabilities, queue: str) -> Lines:
    driver = quoted(caps.driver or "Wine printer driver")
    color = "True" if caps.color else "False"
    return [
        '*PPD-Adobe: "4.3"',
        '*FormatVersion: "4.3"',
        '*FileVersion: "1.0"',
        "*LanguageVersion: English",
        "*LanguageEncoding: ISOLatin1",
        '*PCFileName: "TAVRI.PPD"',
        '*Manufacturer: "Wine"',
        '*Product: "(%s)"' % driver.replace("(", "").replace(")", ""),
        '*ModelName: "%s"' % driver,
        '*ShortNickName: "%s"' % quoted("Wine printer %s" % caps.printer)[:31],
        '*NickName: "%s"' % quoted("Wine printer %s, %s" % (caps.printer, caps.driver)),
        '*PSVersion: "(3010.000) 0"',
        '*LanguageLevel: "3"',
        "*ColorDevice: %s" % color,
        "*DefaultColorSpace: %s" % ("RGB" if caps.color else "Gray"),
        "*FileSystem: False",
        '*Throughput: "1"',
        "*LandscapeOrientation: Plus90",
        "*TTRasterizer: Type42",
        "*cupsVersion: 2.4",
        # Copies and collation are always made by pdftopdf as real pages: a
        # driver may only note them for a spooler that a folder never has.
        "*cupsManualCopies: True",
        '*cupsFilter2: "%s"' % HAND_OFF,
        "*%% The driver reports copies %d, collate %s; queue %s."
        % (caps.copies, "yes" if caps.collate else "no", quoted(queue)),
    ]


def paper_keywords(caps: Capabilities) -> List[Tuple[str, Paper]]:
    taken = set()
    return [(keyword(paper.name, taken), paper) for paper in caps.papers]


def default_choice(choices: Sequence[Tuple[str, object]], wanted: object) -> str:
    """The keyword whose value is `wanted`, else the first."""
    for word, value in choices:
        if value == wanted:
            return word
    return choices[0][0]


def ui(name: str, label: str, default: str, entries: Lines, order: int) -> Lines:
    return (
        [
            "*OpenUI *%s/%s: PickOne" % (name, label),
            "*OrderDependency: %d AnySetup *%s" % (order, name),
            "*Default%s: %s" % (name, default),
        ]
        + entries
        + ["*CloseUI: *%s" % name]
    )


def page_sizes(caps: Capabilities, papers: List[Tuple[str, Paper]]) -> Lines:
    default = default_choice([(w, p.id) for w, p in papers], caps.default("paper"))
    sizes, regions, areas, dims = [], [], [], []
    for word, paper in papers:
        label = quoted(paper.name)
        code = '"<</PageSize[%s %s]/ImagingBBox null>>setpagedevice"' % (
            points(paper.width),
            points(paper.height),
        )
        sizes.append("*PageSize %s/%s: %s" % (word, label, code))
        regions.append("*PageRegion %s/%s: %s" % (word, label, code))
        areas.append('*ImageableArea %s/%s: "%s"' % (word, label, imageable_area(paper)))
        dims.append(
            '*PaperDimension %s/%s: "%s %s"'
            % (word, label, points(paper.width), points(paper.height))
        )
    return (
        ui("PageSize", "Media Size", default, sizes, 10)
        + ui("PageRegion", "Page Region", default, regions, 10)
        + ["*DefaultImageableArea: %s" % default]
        + areas
        + ["*DefaultPaperDimension: %s" % default]
        + dims
    )


def points(value: float) -> str:
    return ("%.2f" % value).rstrip("0").rstrip(".")


def imageable_area(paper: Paper) -> str:
    """llx lly urx ury from the paper's bottom-left corner, within the paper."""
    if not paper.printable:
        return "0 0 %s %s" % (points(paper.width), points(paper.height))
    left, top, right, bottom = paper.printable
    llx, urx = max(0.0, left), min(paper.width, right)
    lly, ury = max(0.0, paper.height - bottom), min(paper.height, paper.height - top)
    return " ".join(points(v) for v in (llx, lly, urx, ury))


def resolution_keyword(x: int, y: int) -> str:
    return "%ddpi" % x if x == y else "%dx%ddpi" % (x, y)


def resolutions(caps: Capabilities) -> Lines:
    choices = sorted(set(r for r in caps.resolutions if min(r) > 0))
    if not choices:
        return []
    words = [(resolution_keyword(x, y), (x, y)) for x, y in choices]
    wanted = caps.defaults.get("resolution")
    default = default_choice(words, tuple(wanted[:2]) if wanted else None)
    entries = [
        '*Resolution %s/%s: "<</HWResolution[%d %d]>>setpagedevice"'
        % (word, word.replace("dpi", " DPI"), x, y)
        for word, (x, y) in words
    ]
    return ui("Resolution", "Resolution", default, entries, 20)


def color_models(caps: Capabilities) -> Lines:
    """Color and grey on a color printer; a monochrome one offers no choice."""
    if not caps.color:
        return []
    default = "Gray" if caps.default("color") == 1 else "RGB"
    entries = [
        '*ColorModel Gray/Grayscale: "<</cupsColorSpace 0>>setpagedevice"',
        '*ColorModel RGB/Color: "<</cupsColorSpace 1>>setpagedevice"',
    ]
    return ui("ColorModel", "Color Mode", default, entries, 10)


def duplex(caps: Capabilities) -> Lines:
    if not caps.duplex:
        return []
    default = default_choice([(word, n) for n, word, _ in DUPLEX_CHOICES], caps.default("duplex"))
    entries = [
        '*Duplex %s/%s: "<</Duplex %s/Tumble %s>>setpagedevice"'
        % (word, label, "false" if n == 1 else "true", "true" if n == 3 else "false")
        for n, word, label in DUPLEX_CHOICES
    ]
    return ui("Duplex", "2-Sided Printing", default, entries, 10)


def input_slots(caps: Capabilities) -> Lines:
    """The driver's bins as Bin<number>: the backend hands the number back."""
    if not caps.bins:
        return []
    words = [("Bin%d" % number, number) for number, _ in caps.bins]
    default = default_choice(words, caps.default("bin"))
    entries = ['*InputSlot Bin%d/%s: ""' % (number, quoted(name)) for number, name in caps.bins]
    return ui("InputSlot", "Media Source", default, entries, 10)
