"""The device URI of a queue that prints on a Wine printer, and where the
printer driver's output goes next.

    tavri:/WINE-PRINTER?user=NAME&to=DESTINATION&prefix=DIR&display=:0&xauthority=FILE&exe=FILE

Each value is percent-encoded. `user` owns the Wine prefix (default
~user/.wine) and is whom the job runs as; `to` is a folder (/path or
file:///path), a CUPS queue (queue:NAME) or another backend's URI
(socket://..., ipp://..., usb://...)."""
from __future__ import annotations

import os
import re
import subprocess
from dataclasses import dataclass
from typing import Dict, Optional
from urllib.parse import parse_qs, quote, unquote, urlencode, urlsplit

SETTINGS = (
    "user",
    "to",
    "prefix",
    "display",
    "xauthority",
    "exe",
    "max_seconds",
    "max_output_mib",
    "max_page_mib",
    "group",
)
# A job's limits, unless the queue sets its own: its run time, the driver's
# output while it grows, and one page image.
LIMITS = {"max_seconds": 3600, "max_output_mib": 4096, "max_page_mib": 1024}
LIMIT = re.compile(r"[1-9][0-9]{0,8}")  # how a limit is written, in the URI and by the command


@dataclass(frozen=True)
class Destination:
    """Where the driver's output goes; its text is what `to=` says."""

    kind: str  # "folder", "queue" or "backend"
    where: str  # the folder, the queue's name or the backend's URI

    def __str__(self) -> str:
        return "queue:" + self.where if self.kind == "queue" else self.where

    @property
    def scheme(self) -> str:
        return urlsplit(self.where).scheme if self.kind == "backend" else ""


@dataclass
class Target:
    printer: str
    user: str
    to: Optional[Destination]  # None: not chosen yet (a listing writes DESTINATION)
    prefix: str = ""
    display: str = ""
    xauthority: str = ""
    exe: str = ""
    max_seconds: str = ""
    max_output_mib: str = ""
    max_page_mib: str = ""
    group: str = ""  # may read what is delivered into a folder

    def limit(self, name: str) -> int:
        """One of LIMITS: the queue's own, else the default."""
        text = getattr(self, name) or str(LIMITS[name])
        if not LIMIT.fullmatch(text):
            raise ValueError("%s=%s is no positive whole number" % (name, text))
        return int(text)


def parse(uri: str) -> Target:
    """The Target of a tavri: URI; ValueError says what is wrong with it."""
    parts = urlsplit(uri)
    printer = unquote(parts.netloc + parts.path).strip("/")
    if parts.scheme != "tavri" or not printer:
        raise ValueError("device URI %r is not tavri:/WINE-PRINTER?..." % public(uri))
    try:
        query = parse_qs(parts.query, strict_parsing=bool(parts.query))
    except ValueError:
        raise ValueError("device URI %r has a malformed query" % public(uri))
    unknown = sorted(set(query) - set(SETTINGS))
    if unknown:
        raise ValueError("device URI has unknown settings: %s" % ", ".join(unknown))
    values = {key: query[key][-1] for key in query}
    for needed in ("user", "to"):
        if not values.get(needed):
            raise ValueError("device URI names no %s= (needed)" % needed)
    values["to"] = destination(values["to"])
    target = Target(printer, **values)
    for name in LIMITS:
        target.limit(name)
    return target


def make(target: Target) -> str:
    """The URI of a Target; the inverse of parse."""
    values = {
        key: str(getattr(target, key) or "DESTINATION")
        for key in SETTINGS
        if key == "to" or getattr(target, key)
    }
    return "tavri:/%s?%s" % (
        quote(target.printer, safe=""),
        urlencode(values, quote_via=quote, safe=""),
    )


def destination(to: str) -> Destination:
    """Where `to` leads; ValueError when it leads nowhere usable."""
    if to.startswith("/"):
        return Destination("folder", to)
    if to.startswith("file:"):
        path = unquote(urlsplit(to).path)
        if not path.startswith("/"):
            raise ValueError("destination %r is not an absolute folder" % to)
        return Destination("folder", path)
    if to.startswith("queue:"):
        name = to[len("queue:") :]
        if not re.fullmatch(r"[^\s/#@\\\x00-\x1f]{1,127}", name):
            raise ValueError("destination %r names no valid CUPS queue" % to)
        return Destination("queue", name)
    if re.fullmatch(r"[a-z][a-z0-9+.-]*://.+", to, re.IGNORECASE):
        if urlsplit(to).scheme.lower() == "tavri":
            raise ValueError("destination %r would print through Wine again" % public(to))
        return Destination("backend", to)
    raise ValueError(
        "destination %r is neither a folder, queue:NAME nor a backend URI" % public(to)
    )


def backend_path(scheme: str) -> str:
    """Where the CUPS we run under keeps the backend of `scheme`."""
    return os.path.join(os.environ.get("CUPS_SERVERBIN", "/usr/lib/cups"), "backend", scheme)


def cups_env() -> Dict[str, str]:
    """The environment of root's CUPS commands: a HOME that only root can
    change (theirs may read ~/.cups), and only the settings that say which
    cupsd to ask."""
    env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": "/", "LANG": "C.UTF-8"}
    for name in ("CUPS_SERVER", "IPP_PORT", "CUPS_SERVERROOT", "CUPS_ENCRYPTION"):
        if os.environ.get(name):
            env[name] = os.environ[name]
    return env


def lpstat(*args: str) -> str:
    result = subprocess.run(
        ["lpstat", *args],
        capture_output=True,
        text=True,
        env=cups_env(),
        stdin=subprocess.DEVNULL,
        timeout=60,
    )
    return result.stdout if result.returncode == 0 else ""


def queue_device(queue: str) -> str:
    """The device URI of a queue of the CUPS we talk to; "" when it has none."""
    return lpstat("-v", queue).partition(": ")[2].strip()


def public(uri: str) -> str:
    """A URI fit for messages and process lists: without user and password."""
    parts = urlsplit(uri)
    if parts.username is None and parts.password is None:
        return uri
    host = parts.netloc.rsplit("@", 1)[1]
    return parts._replace(netloc=host).geturl()
