"""Which Wine and which program a job runs, and what a Wine prefix's
registry says."""
from __future__ import annotations

import os
from typing import Dict, Optional

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
INSTALLED_EXE = "/usr/lib/tavri-printer-proxy/tavri-printer-proxy.exe"
FONT_LINKS = r"Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"


def default_exe() -> str:
    """$PROXY_EXE; else the packaged program, unless this module runs from a
    checkout, whose own build is the one to run."""
    if os.environ.get("PROXY_EXE"):
        return os.environ["PROXY_EXE"]
    checkout = os.path.exists(os.path.join(SOURCE_DIR, "CMakeLists.txt"))
    if not checkout and os.path.exists(INSTALLED_EXE):
        return INSTALLED_EXE
    build = os.environ.get("PROXY_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
    return os.path.join(build, "tavri-printer-proxy.exe")


def default_wine() -> str:
    """$WINE, else Debian's 64-bit loader, else whatever `wine` is: the
    user's own Wine, prefix and display, never a test rig's."""
    wine64 = "/usr/lib/wine/wine64"
    return os.environ.get("WINE") or (wine64 if os.path.exists(wine64) else "wine")


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
    return links is None or all("wqy-microhei.ttc" in links.get(face, "")
                                for face in ("system", "tahoma"))


def default_printer(prefix: str) -> Optional[str]:
    """The prefix's default printer, as Wine keeps it in user.reg; None
    when it has none."""
    device = (registry_values(os.path.join(prefix, "user.reg"),
                              r"Software\Microsoft\Windows NT\CurrentVersion\Windows")
              or {}).get("device", "")
    return device.strip('"').split(",")[0] or None
