"""The device URI of a queue that prints on a Wine printer, and where the
printer driver's output goes next.

    tavri:/WINE-PRINTER?user=NAME&to=DESTINATION&prefix=DIR&display=:0&xauthority=FILE&exe=FILE

Each value is percent-encoded. `user` owns the Wine prefix (default
~user/.wine) and is whom the job runs as; `to` is a folder (/path or
file:///path), a CUPS queue (queue:NAME) or another backend's URI
(socket://..., ipp://..., usb://...)."""
import re
import subprocess
from dataclasses import dataclass
from urllib.parse import parse_qs, quote, unquote, urlencode, urlsplit

SETTINGS = ("user", "to", "prefix", "display", "xauthority", "exe")
LOCAL_HOSTS = ("localhost", "127.0.0.1", "[::1]", "localhost.localdomain")


@dataclass
class Target:
    printer: str
    user: str
    to: str
    prefix: str = ""
    display: str = ""
    xauthority: str = ""
    exe: str = ""


@dataclass
class Destination:
    kind: str  # "folder", "queue" or "backend"
    where: str  # the folder, the queue's name or the backend's URI

    @property
    def scheme(self):
        return urlsplit(self.where).scheme if self.kind == "backend" else ""


def parse(uri):
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
    return Target(printer, **values)


def make(target):
    """The URI of a Target; the inverse of parse."""
    values = {key: getattr(target, key) for key in SETTINGS if getattr(target, key)}
    return "tavri:/%s?%s" % (quote(target.printer, safe=""),
                            urlencode(values, quote_via=quote, safe=""))


def destination(to):
    """Where `to` leads; ValueError when it leads nowhere usable."""
    if to.startswith("/"):
        return Destination("folder", to)
    if to.startswith("file:"):
        path = unquote(urlsplit(to).path)
        if not path.startswith("/"):
            raise ValueError("destination %r is not an absolute folder" % to)
        return Destination("folder", path)
    if to.startswith("queue:"):
        name = to[len("queue:"):]
        if not re.fullmatch(r"[^\s/#@\\\x00-\x1f]{1,127}", name):
            raise ValueError("destination %r names no valid CUPS queue" % to)
        return Destination("queue", name)
    if re.fullmatch(r"[a-z][a-z0-9+.-]*://.+", to, re.IGNORECASE):
        if urlsplit(to).scheme.lower() == "tavri":
            raise ValueError("destination %r would print through Wine again" % public(to))
        return Destination("backend", to)
    raise ValueError("destination %r is neither a folder, queue:NAME nor a backend URI"
                     % public(to))


def local_queue(dest):
    """The name of a queue of this CUPS that `dest` prints to, or None."""
    if dest.kind == "queue":
        return dest.where
    parts = urlsplit(dest.where)
    if parts.scheme in ("ipp", "ipps", "http") and (parts.hostname or "") in LOCAL_HOSTS:
        match = re.fullmatch(r"/(?:printers|classes)/([^/?]+)/?", parts.path)
        return unquote(match.group(1)) if match else None
    return None


def queue_device(queue):
    """The device URI of a queue of the CUPS we talk to; "" when it has none."""
    result = subprocess.run(["lpstat", "-v", queue], capture_output=True, text=True,
                            stdin=subprocess.DEVNULL, timeout=60)
    return result.stdout.partition(": ")[2].strip() if result.returncode == 0 else ""


def public(uri):
    """A URI fit for messages and process lists: without user and password."""
    parts = urlsplit(uri)
    if parts.username is None and parts.password is None:
        return uri
    host = parts.netloc.rsplit("@", 1)[1]
    return parts._replace(netloc=host).geturl()
