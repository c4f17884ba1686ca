"""CUPS's job options, as a backend receives them, turned into the
start-print settings that stay ours: duplex, color, resolution and input
bin. Copies, page ranges, number-up, orientation, scaling and mirroring
are done by CUPS's filters before the job reaches the backend."""
from __future__ import annotations

import re
import shlex
from dataclasses import dataclass
from typing import Dict, Optional

from ..peer import protocol as p
from ..peer.protocol import JobSettings

SIDES = {
    "one-sided": p.DUPLEX_SIMPLEX,
    "two-sided-long-edge": p.DUPLEX_LONG_EDGE,
    "two-sided-short-edge": p.DUPLEX_SHORT_EDGE,
    "none": p.DUPLEX_SIMPLEX,
    "duplexnotumble": p.DUPLEX_LONG_EDGE,
    "duplextumble": p.DUPLEX_SHORT_EDGE,
}
COLORS = {
    "monochrome": "grey",
    "gray": "grey",
    "grey": "grey",
    "bi-level": "mono",
    "color": "color",
    "rgb": "color",
    "auto": "color",
}
QUALITY = {"3": -1, "4": -3, "5": -4, "draft": -1, "normal": -3, "high": -4}
POINTS_PER = {"pt": 1, "in": 72, "cm": 72 / 2.54, "mm": 72 / 25.4}
CUSTOM = re.compile(r"custom\.(\d{1,4}(?:\.\d+)?)x(\d{1,4}(?:\.\d+)?)(pt|in|cm|mm)?")
MAX_DPI = 9600


@dataclass
class Choices:
    duplex: Optional[int] = None
    color: Optional[str] = None  # "color", "grey" or "mono"; None: the printer's
    quality: Optional[int] = None
    y_resolution: Optional[int] = None
    paper_source: Optional[int] = None
    # Reverse landscape and reverse portrait: CUPS's PDF filter lays them out
    # as landscape and portrait, and a PostScript queue's filters then turn
    # the page over; here the pages are turned when they are made.
    turned: bool = False
    # A custom paper (media=Custom.100x150mm), width << 16 | height in points:
    # the queue's PPD offers none, so CUPS lays the pages out on its default
    # paper, and the printer is asked for the paper meant.
    paper: Optional[int] = None


def parse_options(text: Optional[str]) -> Dict[str, str]:
    """name=value pairs, a bare name for true, noname for false; quoting as
    in a shell. Names are case-insensitive."""
    try:
        words = shlex.split(text or "")
    except ValueError:
        words = (text or "").split()
    options = {}
    for word in words:
        name, equals, value = word.partition("=")
        if not equals:
            name, value = (name[2:], "false") if name.startswith("no") else (name, "true")
        options[name.lower()] = value
    return options


def choices(options: Dict[str, str]) -> Choices:
    """The settings of a job from its options; what is absent or not
    understood stays the printer's own."""
    found = Choices()
    sides = options.get("duplex") or options.get("sides") or ""
    found.duplex = SIDES.get(sides.lower())
    mode = options.get("colormodel") or options.get("print-color-mode") or ""
    found.color = COLORS.get(mode.lower())
    resolution = re.fullmatch(r"(\d{1,5})(?:x(\d{1,5}))?dpi", options.get("resolution", "").lower())
    if resolution and 0 < int(resolution.group(1)) <= MAX_DPI:
        x = int(resolution.group(1))
        y = int(resolution.group(2) or x)
        if 0 < y <= MAX_DPI:
            found.quality, found.y_resolution = x, y
    elif options.get("print-quality", "").lower() in QUALITY:
        found.quality = QUALITY[options["print-quality"].lower()]
    found.turned = options.get("orientation-requested") in ("5", "6")
    custom = CUSTOM.fullmatch((options.get("media") or options.get("pagesize") or "").lower())
    if custom:
        scale = POINTS_PER[custom.group(3) or "pt"]
        width, height = sorted(round(float(side) * scale) for side in custom.group(1, 2))
        if 0 < width and height <= 0xFFFF:
            found.paper = width << 16 | height
    slot = re.fullmatch(r"bin(\d{1,5})", options.get("inputslot", "").lower())
    if slot and int(slot.group(1)) <= 0x7FFF:
        found.paper_source = int(slot.group(1))
    return found


def apply(settings: JobSettings, found: Choices) -> JobSettings:
    """Writes the choices into a start-print record's settings (the color
    travels with the pages' options); one copy, since CUPS has already made
    the copies as pages."""
    settings.copies = 1
    settings.duplex = found.duplex
    settings.quality, settings.y_resolution = found.quality, found.y_resolution
    settings.paper_source = found.paper_source
    return settings
