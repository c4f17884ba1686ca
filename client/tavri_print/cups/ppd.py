"""A PPD for a CUPS queue that prints on a Wine printer, made from its
capabilities as `tavri-print --capabilities` gives them (a dict of its
JSON): the papers with their printable areas, the resolutions, duplex,
color and input bins that the engine offers, and the defaults. CUPS's own
filters then turn every job into PDF laid out for that paper (`pdftopdf`
makes the copies, so they are real pages wherever the output goes), and the
backend prints that PDF on the Wine printer."""
from __future__ import annotations

import re
from typing import Any, Dict, List, Sequence, Set, Tuple

Capabilities = Dict[str, Any]
Paper = Dict[str, Any]
Lines = List[str]

HAND_OFF = "application/vnd.cups-pdf application/pdf 0 -"
# The JSON's sides, the PPD's keyword and label, and the Duplex and Tumble that it sets.
DUPLEX_CHOICES = (
    ("one-sided", "None", "Off", "false", "false"),
    ("two-sided-long-edge", "DuplexNoTumble", "Long Edge", "true", "false"),
    ("two-sided-short-edge", "DuplexTumble", "Short Edge", "true", "true"),
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
    printer, driver = caps["printer"], quoted(caps["driver"] or "Wine printer driver")
    color = "True" if caps["color"] else "False"
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
        '*ShortNickName: "%s"' % quoted("Wine printer %s" % printer)[:31],
        '*NickName: "%s"' % quoted("Wine printer %s, %s" % (printer, caps["driver"])),
        '*PSVersion: "(3010.000) 0"',
        '*LanguageLevel: "3"',
        "*ColorDevice: %s" % color,
        "*DefaultColorSpace: %s" % ("RGB" if caps["color"] else "Gray"),
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
        % (caps["copies"], "yes" if caps["collate"] else "no", quoted(queue)),
    ]


def paper_keywords(caps: Capabilities) -> List[Tuple[str, Paper]]:
    taken = set()
    return [(keyword(paper["name"] or paper["pwg"], taken), paper) for paper in caps["papers"]]


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
    default = default_choice([(w, p["pwg"]) for w, p in papers], caps["defaults"]["paper"])
    sizes, regions, areas, dims = [], [], [], []
    for word, paper in papers:
        label, size = quoted(paper["name"] or paper["pwg"]), (paper["width_pt"], paper["length_pt"])
        code = '"<</PageSize[%d %d]/ImagingBBox null>>setpagedevice"' % size
        sizes.append("*PageSize %s/%s: %s" % (word, label, code))
        regions.append("*PageRegion %s/%s: %s" % (word, label, code))
        area = " ".join(points(v) for v in paper["printable_pt"])
        areas.append('*ImageableArea %s/%s: "%s"' % (word, label, area))
        dims.append('*PaperDimension %s/%s: "%d %d"' % ((word, label) + size))
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


def resolution_keyword(x: int, y: int) -> str:
    return "%ddpi" % x if x == y else "%dx%ddpi" % (x, y)


def resolutions(caps: Capabilities) -> Lines:
    words = [(resolution_keyword(r["x"], r["y"]), r) for r in caps["resolutions"]]
    default = default_choice(words, caps["defaults"]["resolution"])
    entries = [
        '*Resolution %s/%s: "<</HWResolution[%d %d]>>setpagedevice"'
        % (word, word.replace("dpi", " DPI"), r["x"], r["y"])
        for word, r in words
    ]
    return ui("Resolution", "Resolution", default, entries, 20)


def color_models(caps: Capabilities) -> Lines:
    """Color and grey on a color printer; a monochrome one offers no choice."""
    if not caps["color"]:
        return []
    default = "RGB" if caps["defaults"]["color"] else "Gray"
    entries = [
        '*ColorModel Gray/Grayscale: "<</cupsColorSpace 0>>setpagedevice"',
        '*ColorModel RGB/Color: "<</cupsColorSpace 1>>setpagedevice"',
    ]
    return ui("ColorModel", "Color Mode", default, entries, 10)


def duplex(caps: Capabilities) -> Lines:
    if not caps["duplex"]:
        return []
    words = [(choice[1], choice[0]) for choice in DUPLEX_CHOICES]
    default = default_choice(words, caps["defaults"]["sides"])
    setting = '*Duplex %s/%s: "<</Duplex %s/Tumble %s>>setpagedevice"'
    entries = [setting % choice[1:] for choice in DUPLEX_CHOICES]
    return ui("Duplex", "2-Sided Printing", default, entries, 10)


def input_slots(caps: Capabilities) -> Lines:
    """The driver's bins as Bin<number>: the backend hands the number back.
    A driver without bins has the source "auto" of bin 0: nothing to choose."""
    sources = [source for source in caps["sources"] if source["bin"]]
    if not sources:
        return []
    words = [("Bin%d" % source["bin"], source["keyword"]) for source in sources]
    default = default_choice(words, caps["defaults"]["source"])
    entries = ['*InputSlot Bin%d/%s: ""' % (s["bin"], quoted(s["name"])) for s in sources]
    return ui("InputSlot", "Media Source", default, entries, 10)
