#!/usr/bin/env python3
"""Fails when a file under src/ includes a room that is not on a lower floor
than its own, or a room that docs/architecture.md does not list; or when
the catalogue (src/base/protocol_codes.h) gives a status or exit code a
number of another or no meaning, or another file declares its names again."""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
CATALOGUE = ROOT / "src/base/protocol_codes.h"
ENTRY = re.compile(
    r"^[ \t]*([A-Z][A-Z0-9_]*) = (0x[0-9A-Fa-f]+|\d+),[ \t]*(?://[ \t]*(.*))?$", re.M
)
# Any constant or enumerator given a number.
DECLARATION = re.compile(r"\b([A-Z][A-Z0-9_]*)\s*=\s*(?:0x[0-9A-Fa-f]+|\d+)\w*\s*[,;]")


def floors():
    text = (ROOT / "docs/architecture.md").read_text()
    rows = re.findall(r"^\| `src/(\w+)` \| (\d+) \|", text, re.M)
    return {room: int(floor) for room, floor in rows}


def climbs(floor):
    for path in sorted((ROOT / "src").rglob("*.[ch]*")):
        room = path.parent.name
        for n, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            target = re.match(r'#include "(\w+)/', line)
            other = target and target[1] != room and target[1]
            if other and (room not in floor or floor.get(other, 99) >= floor[room]):
                yield "%s:%d: %s includes %s" % (path.relative_to(ROOT), n, room, other)


def catalogue_faults():
    entries = ENTRY.findall(CATALOGUE.read_text())
    for kind in ("STATUS_", "EXIT_"):
        group = [(value, meaning) for name, value, meaning in entries if name.startswith(kind)]
        if len({value for value, _ in group}) != len(group) or not all(m for _, m in group):
            yield "%s: a %s number twice, or one without a meaning" % (CATALOGUE, kind)
    names = {name for name, _, _ in entries}
    for path in sorted((ROOT / "src").rglob("*.[ch]*")):
        twins = names & set(DECLARATION.findall(path.read_text(errors="replace")))
        if path != CATALOGUE and twins:
            yield "%s declares %s again" % (path.relative_to(ROOT), ", ".join(sorted(twins)))


if __name__ == "__main__":
    found = list(climbs(floors())) + list(catalogue_faults())
    print("\n".join(found) or "every include goes down a floor, the catalogue is whole")
    sys.exit(1 if found else 0)
