"""A destination's user and password, kept where only root reads them: a
device URI is shown to every user by lpstat -v and by IPP, so the queue's
URI names the destination without them, and the backend (root) puts them
back only into the URI that the destination's backend receives."""
from __future__ import annotations

import os
import stat
from typing import Tuple
from urllib.parse import urlsplit

from .device_uri import public


def folder() -> str:
    """Beside cupsd's own configuration, which cupsd names to its backends."""
    return os.path.join(os.environ.get("CUPS_SERVERROOT", "/etc/cups"), "tavri-credentials")


def split(uri: str) -> Tuple[str, str]:
    """(the URI without user and password, "user:password" or "")."""
    return public(uri), urlsplit(uri).netloc.rpartition("@")[0]


def join(uri: str, userinfo: str) -> str:
    if not userinfo:
        return uri
    parts = urlsplit(uri)
    return parts._replace(netloc="%s@%s" % (userinfo, parts.netloc)).geturl()


def store(queue: str, userinfo: str) -> None:
    """Keeps the queue's credentials (root only); none removes them."""
    path = os.path.join(folder(), queue)
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass
    if userinfo:
        os.makedirs(folder(), mode=0o700, exist_ok=True)
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o600)
        with os.fdopen(fd, "w") as out:
            out.write(userinfo)


def load(queue: str) -> str:
    """The queue's credentials, read only from a folder that root alone can
    change; "" when it has none."""
    try:
        info = os.lstat(folder())
        if info.st_uid != 0 or not stat.S_ISDIR(info.st_mode) or info.st_mode & 0o077:
            return ""
        fd = os.open(os.path.join(folder(), queue), os.O_RDONLY | os.O_NOFOLLOW)
    except OSError:
        return ""
    with os.fdopen(fd) as source:
        return source.read(4096).strip()
