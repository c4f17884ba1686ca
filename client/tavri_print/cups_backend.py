"""The CUPS backend "tavri": a CUPS queue hands each job to the program and
the Wine printer named in its device URI, then delivers the printer
driver's output onward, so that the job reaches a real device.

Device URI: tavri:/WINE-PRINTER?to=DESTINATION&prefix=DIR&user=NAME&display=:0
(each value percent-encoded). DESTINATION is queue:NAME (a raw CUPS queue),
a folder (/path or file:///path), or another backend's URI (socket://...,
usb://...); without it, the CUPS queue that has the Wine printer's name.
The program runs as the prefix's owner (user=, else whoever owns prefix=,
whose default is ~user/.wine) with that user's display, if one is named.
"""
import os
import pwd
import shlex
import shutil
import signal
import subprocess
import sys
from dataclasses import dataclass
from urllib.parse import parse_qs, unquote, urlsplit

from . import protocol as p
from .errors import PrintError, RenderError, StatusError, UserCancelled
from .job import Progress, page_folder, print_files
from .program import Program
from .render import Ghostscript

OK, FAILED, CANCEL = 0, 1, 5  # CUPS_BACKEND_OK, ..._FAILED, ..._CANCEL
USAGE = "Usage: tavri job-id user title copies options [file]"
MEDIA_POINTS = {"a3": (842, 1191), "a4": (595, 842), "a5": (420, 595), "b5": (499, 709),
                "letter": (612, 792), "legal": (612, 1008), "executive": (522, 756),
                "tabloid": (792, 1224)}
QUALITY = {"3": -1, "4": -3, "5": -4, "draft": -1, "normal": -3, "high": -4}
SIDES = {"one-sided": 1, "two-sided-long-edge": 2, "two-sided-short-edge": 3}


def message(kind, text):
    print("%s: %s" % (kind, text), file=sys.stderr, flush=True)


@dataclass
class Target:
    printer: str
    onward: str
    prefix: str
    user: str
    display: str
    xauthority: str
    exe: str
    wine: str


def parse_uri(uri):
    parts = urlsplit(uri)
    printer = unquote(parts.netloc + parts.path).strip("/")
    if parts.scheme != "tavri" or not printer:
        raise ValueError("device URI %r is not tavri:/WINE-PRINTER?..." % uri)
    query = {key: values[-1] for key, values in parse_qs(parts.query).items()}
    known = ("to", "prefix", "user", "display", "xauthority", "exe", "wine")
    unknown = sorted(set(query) - set(known))
    if unknown:
        raise ValueError("device URI has unknown settings: %s" % ", ".join(unknown))
    return Target(printer, query.get("to") or "queue:" + printer,
                  *(query.get(key, "") for key in known[1:]))


def parse_options(text):
    """CUPS's job options: name=value pairs, bare name for true, noname for false."""
    options = {}
    for word in shlex.split(text or ""):
        name, equals, value = word.partition("=")
        if not equals:
            name, value = (name[2:], "false") if name.startswith("no") else (name, "true")
        options[name.lower()] = value
    return options


def media_points(media):
    """(width, height) in points of a media name: a4, na_letter_8.5x11in,
    iso_a4_210x297mm, Custom.200x300mm; None when unknown."""
    name = media.lower().split(",")[0]
    for key, size in MEDIA_POINTS.items():
        if name == key or name.startswith(("iso_%s_" % key, "na_%s_" % key)):
            return size
    dims = name.rsplit("_", 1)[-1].rsplit(".", 1)[-1]
    for unit, factor in (("mm", 72 / 25.4), ("in", 72.0), ("pt", 1.0), ("", 1.0)):
        if dims.endswith(unit):
            try:
                width, height = (float(v) for v in dims[:len(dims) - len(unit)].split("x"))
            except ValueError:
                continue
            return round(width * factor), round(height * factor)
    return None


def job_settings(target, output, job_id, copies, options):
    """The start-print record and the page choices from CUPS's options."""
    settings = p.JobSettings(printer=target.printer, output=output, job_id=job_id % 2**32)
    if copies > 1:
        settings.copies = copies
        handling = options.get("multiple-document-handling", "")
        collate = options.get("collate", "true" if "collated" in handling else "")
        if collate and "uncollated" not in handling:
            settings.collate = int(collate == "true")
    if options.get("sides") in SIDES:
        settings.duplex = SIDES[options["sides"]]
    size = media_points(options.get("media") or options.get("pagesize") or "")
    if size:
        settings.paper = size[0] << 16 | size[1]
    if options.get("print-quality") in QUALITY:
        settings.quality = QUALITY[options["print-quality"]]
    mode = options.get("print-color-mode") or options.get("colormodel", "").lower()
    colour = {"monochrome": "grey", "gray": "grey", "bi-level": "mono",
              "color": "color", "rgb": "color"}.get(mode)
    if colour:
        settings.color = p.COLOR_COLOR if colour == "color" else p.COLOR_MONO
    scaling = options.get("print-scaling", "auto")
    fit = False if scaling == "none" else True
    if options.get("fit-to-page") == "false" or options.get("nofit-to-page"):
        fit = False
    return settings, colour or "color", fit, options.get("page-ranges")


class Account:
    """The owner of the Wine prefix, whom the program and Ghostscript run as."""

    def __init__(self, target):
        if not (target.user or target.prefix):
            raise ValueError("the device URI names neither user= nor prefix=")
        if target.user:
            self.pw = pwd.getpwnam(target.user)
        self.prefix = target.prefix or os.path.join(self.pw.pw_dir, ".wine")
        if not target.user:
            self.pw = pwd.getpwuid(os.stat(self.prefix).st_uid)
        if os.geteuid() not in (0, self.pw.pw_uid):
            raise PermissionError(
                "the backend runs as %s, but the Wine prefix %s belongs to %s: install it "
                "with mode 0700 so that CUPS runs it as root"
                % (pwd.getpwuid(os.geteuid()).pw_name, self.prefix, self.pw.pw_name))

    def drop(self):
        """A preexec function that becomes the owner, when we are root."""
        if os.geteuid() != 0 or self.pw.pw_uid == 0:
            return None
        pw = self.pw

        def become():
            os.setgroups(os.getgrouplist(pw.pw_name, pw.pw_gid))
            os.setgid(pw.pw_gid)
            os.setuid(pw.pw_uid)
        return become

    def give(self, path):
        if os.geteuid() == 0:
            os.chown(path, self.pw.pw_uid, self.pw.pw_gid)

    def env(self, target, job_id):
        env = {"PATH": "/usr/local/bin:/usr/bin:/bin", "HOME": self.pw.pw_dir,
               "USER": self.pw.pw_name, "LOGNAME": self.pw.pw_name, "WINEPREFIX": self.prefix,
               "WINEDEBUG": "-all", "LANG": os.environ.get("LANG", "C.UTF-8"),
               "TAVRI_CUPS_JOB": str(job_id)}
        for name in ("CUPS_SERVER", "IPP_PORT"):  # the cupsd that runs us
            if os.environ.get(name):
                env[name] = os.environ[name]
        if target.display:
            env["DISPLAY"] = target.display
            xauthority = target.xauthority or os.path.join(self.pw.pw_dir, ".Xauthority")
            if os.path.exists(xauthority):
                env["XAUTHORITY"] = xauthority
        return env


class CupsProgress(Progress):
    def started(self, total):
        super().started(total)
        message("STATE", "-connecting-to-device")
        message("INFO", "Printing %d pages on the Wine printer" % total)

    def printed(self, number):
        message("INFO", "Printed page %d of %d" % (number, self.total))
        message("ATTR", "job-media-progress=100")


# --- delivery ---------------------------------------------------------------

def extension(path):
    with open(path, "rb") as f:
        head = f.read(8)
    return ".pdf" if head.startswith(b"%PDF") else ".ps" if b"%!" in head else ".prn"


def deliver(output, target, job, user, title, account):
    """Hands the driver's output to the onward destination; CUPS's exit code."""
    onward = target.onward
    if onward.startswith("/") or onward.startswith("file:"):
        folder = unquote(urlsplit(onward).path) if onward.startswith("file:") else onward
        safe = "".join(c if c.isalnum() or c in "-_." else "_" for c in title)[:60]
        final = os.path.join(folder, "%s-%s%s" % (job, safe or "job", extension(output)))
        shutil.copyfile(output, final + ".part")
        account.give(final + ".part")
        os.replace(final + ".part", final)
        message("INFO", "Delivered to %s" % final)
        return OK
    if onward.startswith("queue:"):
        command = ["lp", "-d", onward[6:], "-o", "raw", "-t", title or "job", output]
        result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                                text=True)
        if result.returncode != 0:
            message("ERROR", "Queue %s refused the output: %s"
                    % (onward[6:], result.stderr.strip() or "lp failed"))
            return FAILED
        message("INFO", "Handed to queue %s: %s" % (onward[6:], result.stdout.strip()))
        return OK
    return run_backend(onward, output, job, user, title)


def run_backend(uri, output, job, user, title):
    scheme = urlsplit(uri).scheme
    backend = os.path.join(os.environ.get("CUPS_SERVERBIN", "/usr/lib/cups"), "backend",
                           scheme)
    if not scheme or not os.access(backend, os.X_OK):
        message("ERROR", "No CUPS backend for the onward destination %s" % uri)
        return FAILED
    env = dict(os.environ, DEVICE_URI=uri)
    # Its argv[0] is the URI, as when CUPS starts it; its messages reach CUPS.
    return subprocess.run([uri, job, user, title, "1", "", output], executable=backend,
                          env=env, stdin=subprocess.DEVNULL).returncode


# --- the job ------------------------------------------------------------------

def failure_code(error):
    if isinstance(error, (RenderError, UserCancelled)):
        return CANCEL
    return FAILED


def take_document(argv, work_dir, account):
    path = os.path.join(work_dir, "document")
    if len(argv) == 7:
        shutil.copyfile(argv[6], path)
    else:
        with open(path, "wb") as f:
            shutil.copyfileobj(sys.stdin.buffer, f)
    account.give(path)
    return path


def print_job(argv, target, account, work_dir):
    job, user, title, copies, options = argv[1:6]
    document = take_document(argv, work_dir, account)
    message("DEBUG", "job options: %s" % options)
    output_name = "tavri-cups-%s-%d.prn" % (job, os.getpid())
    settings, colour, fit, ranges = job_settings(target, output_name, int(job), int(copies),
                                                 parse_options(options))
    env, drop = account.env(target, job), account.drop()
    program = Program(exe=target.exe or None, wine=target.wine or wine_command(), env=env,
                      preexec_fn=drop, prefix=account.prefix)
    message("STATE", "+connecting-to-device")
    message("INFO", "Starting the Wine printer %s" % target.printer)
    output = os.path.join(account.prefix, "drive_c", output_name)
    try:
        output = print_files(program, settings, [document], ranges=ranges, fit=fit,
                             colour=colour, progress=CupsProgress(), work_dir=work_dir,
                             gs=Ghostscript(env, drop))
        code = deliver(output, target, job, user, title, account)
        if code == OK:
            pages = int(copies) * count_pages(output)
            message("PAGE", "total %d" % pages)
        return code
    finally:
        if os.path.exists(output):
            os.remove(output)


def count_pages(output):
    """Pages of the driver's PostScript, for CUPS's accounting; 0 if not PostScript."""
    with open(output, "rb") as f:
        return sum(1 for line in f if line.startswith(b"%%Page:"))


def wine_command():
    wine64 = "/usr/lib/wine/wine64"
    return os.environ.get("WINE") or (wine64 if os.path.exists(wine64) else "wine")


def terminate(signum, frame):
    signal.signal(signal.SIGTERM, signal.SIG_IGN)  # one cancel, one clean-up
    raise KeyboardInterrupt()


def main(argv):
    if len(argv) == 1:
        print('direct tavri "Unknown" "Wine printer through tavri-printer-proxy"')
        return OK
    if len(argv) not in (6, 7):
        print(USAGE, file=sys.stderr)
        return FAILED
    signal.signal(signal.SIGTERM, terminate)
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    try:
        target = parse_uri(os.environ.get("DEVICE_URI") or argv[0])
        account = Account(target)
    except (ValueError, KeyError, OSError) as error:
        message("ERROR", "Cannot use this queue's device URI: %s" % error)
        return FAILED
    work_dir = page_folder()
    try:
        account.give(work_dir)
        code = print_job(argv, target, account, work_dir)
    except StatusError as error:
        if error.status == 8:
            message("ERROR", "The Wine printer %s cannot be opened in %s (status 8): is it "
                    "installed there?" % (target.printer, account.prefix))
        else:
            message("ERROR", "Wine printer %s: %s" % (target.printer, error))
        code = failure_code(error)
    except PrintError as error:
        message("ERROR", str(error))
        code = failure_code(error)
    except OSError as error:
        message("ERROR", "%s: %s" % (error.filename or "the job", error.strerror or error))
        code = FAILED
    except KeyboardInterrupt:
        message("INFO", "Job cancelled")
        code = OK
    finally:
        shutil.rmtree(work_dir, ignore_errors=True)
    message("STATE", "-connecting-to-device")
    return code
