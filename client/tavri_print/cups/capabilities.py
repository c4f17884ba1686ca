"""What a Wine printer's driver offers, as the query program reports it:
one TAB-separated record a line, `end` last, so that cut-off output is
never taken for a printer with fewer papers."""
from __future__ import annotations

from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple


class CapabilitiesError(ValueError):
    """The query program's report cannot be understood."""


@dataclass
class Paper:
    id: int
    name: str
    width: float  # points
    height: float
    # Printable area in points from the paper's top-left corner, when the
    # driver could say: (left, top, right, bottom).
    printable: Optional[Tuple[float, float, float, float]] = None


@dataclass
class Capabilities:
    printer: str = ""
    driver: str = ""
    color: bool = False
    duplex: bool = False
    copies: int = 1
    collate: bool = False
    resolutions: List[Tuple[int, int]] = field(default_factory=list)
    bins: List[Tuple[int, str]] = field(default_factory=list)
    papers: List[Paper] = field(default_factory=list)
    defaults: Dict[str, Tuple[int, ...]] = field(default_factory=dict)

    def default(self, name: str) -> Optional[int]:
        """The first number of a default, or None when the driver gave none."""
        value = self.defaults.get(name)
        return value[0] if value else None


TENTHS_MM_TO_POINTS = 72 / 254


def _paper(fields: List[str]) -> Paper:
    numbers = [int(v) for v in fields[:11]]
    paper_id, width, height = numbers[0], numbers[1], numbers[2]
    phys_w, phys_h, off_x, off_y, horz, vert, dpi_x, dpi_y = numbers[3:11]
    paper = Paper(paper_id, fields[11], width * TENTHS_MM_TO_POINTS, height * TENTHS_MM_TO_POINTS)
    if min(phys_w, phys_h, horz, vert, dpi_x, dpi_y) > 0 and min(off_x, off_y) >= 0:
        sx, sy = 72 / dpi_x, 72 / dpi_y
        paper.printable = (off_x * sx, off_y * sy, (off_x + horz) * sx, (off_y + vert) * sy)
    return paper


def parse(text: str) -> Capabilities:
    """Capabilities from the query program's output; CapabilitiesError
    names the line that is wrong."""
    caps, ended = Capabilities(), False
    for number, line in enumerate(text.splitlines(), 1):
        if ended:
            raise CapabilitiesError("line %d follows the end" % number)
        kind, *fields = line.split("\t")
        try:
            ended = _take(caps, kind, fields)
        except (ValueError, IndexError):
            raise CapabilitiesError("line %d is not understood: %r" % (number, line[:120]))
    if not ended:
        raise CapabilitiesError("the report is cut off (no end line)")
    if not caps.papers:
        raise CapabilitiesError("the driver of %s reports no paper" % caps.printer)
    return caps


def _take(caps: Capabilities, kind: str, fields: List[str]) -> bool:
    if kind == "end":
        return True
    if kind in ("printer", "driver"):
        setattr(caps, kind, fields[0])
    elif kind in ("color", "duplex", "collate"):
        setattr(caps, kind, int(fields[0]) != 0)
    elif kind == "copies":
        caps.copies = max(1, int(fields[0]))
    elif kind == "resolution":
        caps.resolutions.append((int(fields[0]), int(fields[1])))
    elif kind == "bin":
        caps.bins.append((int(fields[0]), fields[1]))
    elif kind == "paper":
        if len(fields) != 12:
            raise ValueError(kind)
        caps.papers.append(_paper(fields))
    elif kind == "default":
        caps.defaults[fields[0]] = tuple(int(v) for v in fields[1:])
    else:
        raise ValueError(kind)
    return False
