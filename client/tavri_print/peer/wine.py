"""Which Wine and which program a job runs, and what a Wine prefix's
registry says."""
from __future__ import annotations

import os
from typing import Dict, Optional


FONT_LINKS = r"Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"


def registry_values(path: str, key: str) -> Optional[Dict[str, str]]:
    """The values of one key in a Wine registry file (user.reg, system.reg)
    as {lower-case name: the text after '='}; None when it cannot be read."""
    header = "[%s]" % key.replace("\\", "\\\\").lower()
    try:
        with open(path, encoding="utf-8", errors="replace") as reg:
            values, inside = {}, False
            for line in reg:
                if line.startswith("["):
                    if inside:  # a key's values stand together; the rest is not read
                        break
                    inside = line.lower().startswith(header)
                elif inside and line.startswith('"'):
                    name, _, value = line.rstrip("\n").partition('"=')
                    values[name[1:].lower()] = value
            return values
    except OSError:
        return None


def font_linked(prefix: str) -> bool:
    """Whether the prefix's registry links WenQuanYi Micro Hei to both
    interface fonts; True when the prefix has no registry to tell."""
    links = registry_values(os.path.join(prefix, "system.reg"), FONT_LINKS)
    return links is None or all(
        "wqy-microhei.ttc" in links.get(face, "") for face in ("system", "tahoma")
    )


def default_printer(prefix: str) -> Optional[str]:
    """The prefix's default printer, as Wine keeps it in user.reg; None
    when it has none."""
    device = (
        registry_values(
            os.path.join(prefix, "user.reg"),
            r"Software\Microsoft\Windows NT\CurrentVersion\Windows",
        )
        or {}
    ).get("device", "")
    return device.strip('"').split(",")[0] or None
