"""Which programs a CUPS job and the queue command run: the Windows
program, Wine, the worker that prints as the prefix's owner on the engine
every front end shares, and tavri-print, which asks that engine what a
prefix's printers offer."""
from __future__ import annotations

import os

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
INSTALLED = "/usr/lib/tavri-printer-proxy"


def checkout() -> bool:
    """Whether this module runs from a checkout, whose own builds are the ones to run."""
    return os.path.exists(os.path.join(SOURCE_DIR, "CMakeLists.txt"))


def default_exe() -> str:
    """$PROXY_EXE; else the packaged program, unless this module runs from a
    checkout, whose own build is the one to run."""
    if os.environ.get("PROXY_EXE"):
        return os.environ["PROXY_EXE"]
    if not checkout() and os.path.exists(os.path.join(INSTALLED, "tavri-printer-proxy.exe")):
        return os.path.join(INSTALLED, "tavri-printer-proxy.exe")
    build = os.environ.get("PROXY_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
    return os.path.join(build, "tavri-printer-proxy.exe")


def default_wine() -> str:
    """$WINE, else Debian's 64-bit loader, else whatever `wine` is: the
    user's own Wine, prefix and display, never a test rig's."""
    wine64 = "/usr/lib/wine/wine64"
    return os.environ.get("WINE") or (wine64 if os.path.exists(wine64) else "wine")


def native(name: str, installed: str) -> str:
    """A checkout's native build of `name`, where scripts/test makes it
    ($PROXY_NATIVE_BUILD_DIR, else $PROXY_BUILD_DIR-native, else
    build-native), else the packaged one at `installed`."""
    if checkout():
        build = os.environ.get("PROXY_BUILD_DIR", os.path.join(SOURCE_DIR, "build")) + "-native"
        build = os.environ.get("PROXY_NATIVE_BUILD_DIR") or build
        return os.path.join(os.path.abspath(build), name)
    return installed


def worker() -> str:
    """$TAVRI_CUPS_WORKER (the rig's launcher sets it for cupsd), else as native() finds it."""
    worker = os.path.join(INSTALLED, "tavri-cups-worker")
    return os.environ.get("TAVRI_CUPS_WORKER") or native("tavri-cups-worker", worker)


def tavri_print() -> str:
    return native("tavri-print", "/usr/bin/tavri-print")
