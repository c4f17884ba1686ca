#!/usr/bin/env python3
"""Fails when a file under src/ includes a room that is not on a lower floor
than its own, or a room that docs/architecture.md does not list."""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]


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


if __name__ == "__main__":
    found = list(climbs(floors()))
    print("\n".join(found) or "every include goes down a floor")
    sys.exit(1 if found else 0)
