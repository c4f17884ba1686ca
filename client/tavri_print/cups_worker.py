"""The part of a CUPS job that runs as the Wine prefix's owner: the
document arrives on a descriptor, is printed through the program on the
Wine printer, and the driver's output goes into the destination folder or
back to the backend through a pipe. Nothing here runs as root."""
import grp
import mmap
import os
import pwd
import re
import shutil
import signal
import socket
import stat
import subprocess
import sys
from dataclasses import dataclass

from . import cups_options
from .device_uri import destination
from .errors import (PrefixBusy, PrintError, ProgramDidNotConnect, RenderError, StatusError,
                     UserCancelled)
from .job import Progress, page_folder, print_files
from .program import Program, default_exe, default_wine
from .protocol import JobSettings
from .render import HEAD, Ghostscript, kind_of

OK, FAILED, STOP, CANCEL = 0, 1, 4, 5  # CUPS_BACKEND_OK, _FAILED, _STOP, _CANCEL
MAX_DOCUMENT = 4 << 30
MAX_OUTPUT = 16 << 30
GS_MEMORY = 4 << 30  # address space of one Ghostscript
CHUNK = 1 << 20


# What a backend's stderr line may start with; cupsd takes STATE, ATTR, PPD
# and others as commands, so texts from documents never choose the kind.
MESSAGE_KINDS = ("INFO", "WARNING", "ERROR", "DEBUG", "PAGE")
MAX_MESSAGE = 1000
CONTROL = re.compile(r"[\x00-\x1f\x7f-\x9f\u2028\u2029]+")


def one_line(text):
    """A text fit for one message line to cupsd: a newline in it would start
    a command of its own."""
    return CONTROL.sub(" ", str(text)).strip()[:MAX_MESSAGE]


def message(kind, text):
    print("%s: %s" % (kind, one_line(text)), file=sys.stderr, flush=True)


class ConfigError(Exception):
    """The queue cannot print any job until its configuration is mended."""


@dataclass
class Job:
    id: str
    user: str
    title: str
    options: str

    @property
    def label(self):
        return '"%s"' % (self.title or "job %s" % self.id)


class LimitExceeded(KeyboardInterrupt):
    """The job went past one of its queue's limits; like a cancel, it gets
    through every handler on its way out."""


class CupsProgress(Progress):
    """Tells cupsd how far the job is, and ends it when the driver's output
    grows past `max_output` bytes."""

    def __init__(self, output, max_output):
        self.output, self.max_output = output, max_output

    def started(self, total):
        super().started(total)
        message("INFO", "Printing %d pages on the Wine printer" % total)

    def printed(self, number):
        self.check("by page %d" % number)
        message("INFO", "Printed page %d of %d" % (number, self.total))

    def finished(self):  # the driver holds back what it writes, the last pages too
        self.check("by the end")

    def check(self, when):
        if self.output.size() > self.max_output:
            raise LimitExceeded("the driver's output grew past %d MiB %s"
                                % (self.max_output >> 20, when))


def end_after(seconds):
    """Ends the job once it has run for `seconds`: a document that keeps
    Ghostscript busy for ever would hold the prefix for every later job."""
    def over_time(signum, frame):
        signal.signal(signal.SIGALRM, signal.SIG_IGN)
        raise LimitExceeded("it ran for longer than %d s" % seconds)
    signal.signal(signal.SIGALRM, over_time)
    signal.alarm(seconds)


def run(job, owner, target, document_fd, output_fd):
    """Prints the job; CUPS's exit code. `output_fd` takes the driver's
    output unless the destination is a folder (None)."""
    signal.signal(signal.SIGTERM, terminate)
    os.umask(0o077)
    work_dir = None
    try:
        check_setup(owner, target)
        end_after(target.limit("max_seconds"))
        sweep_leftovers(owner.prefix)
        work_dir = page_folder()
        documents = split_documents(take_document(document_fd, work_dir, job))
        with OwnOutput(owner.prefix, job) as output:
            print_document(job, owner, target, documents, work_dir, output)
            pages = deliver(output, target, job, output_fd)
        message("PAGE", "total %d" % pages)
        return OK
    except ConfigError as error:
        message("ERROR", str(error))
        return STOP
    except LimitExceeded as error:
        message("ERROR", "%s was cancelled: %s" % (job.label, error))
        return CANCEL
    except KeyboardInterrupt:
        message("INFO", "Job cancelled")
        return CANCEL
    except PrintError as error:
        return print_failure(error, job, owner, target, work_dir)
    except OSError as error:
        message("ERROR", "Printing %s failed: %s" % (job.label, error.strerror or error))
        return FAILED
    finally:
        signal.alarm(0)
        if work_dir:
            shutil.rmtree(work_dir, ignore_errors=True)


def terminate(signum, frame):
    signal.signal(signal.SIGTERM, signal.SIG_IGN)  # one cancel, one clean-up
    raise KeyboardInterrupt()


def check_setup(owner, target):
    if not os.path.isfile(os.path.join(owner.prefix, "system.reg")):
        raise ConfigError("The Wine prefix %s of %s does not exist" % (owner.prefix, owner.name))
    exe = target.exe or default_exe()
    if not os.path.isfile(exe):
        raise ConfigError("The program %s does not exist" % exe)
    if not shutil.which("gs"):
        raise ConfigError("Ghostscript (gs) is not installed")
    if not shutil.which(default_wine()):
        raise ConfigError("Wine (%s) is not installed" % default_wine())


def sweep_leftovers(prefix):
    """Page folders and driver output of jobs whose backend was killed."""
    for folder, pattern in (("/dev/shm", r"tavri-print-(\d+)-"), (os.environ.get(
            "TMPDIR", "/tmp"), r"tavri-print-(\d+)-"),
            (os.path.join(prefix, "drive_c"), r"tavri-cups-[^-]+-(\d+)\.prn$")):
        try:
            names = os.listdir(folder)
        except OSError:
            continue
        for name in names:
            match = re.match(pattern, name)
            if match and not alive(int(match.group(1))):
                remove_own(os.path.join(folder, name))


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def remove_own(path):
    try:
        if os.lstat(path).st_uid != os.getuid():
            return
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path, ignore_errors=True)
        else:
            os.remove(path)
    except OSError:
        pass


def take_document(document_fd, work_dir, job):
    """The document copied into the page folder, once its first bytes show
    a kind that prints."""
    path = os.path.join(work_dir, "document")
    size, head = 0, b""
    with open(path, "xb") as out:
        while True:
            chunk = os.read(document_fd, CHUNK)
            if len(head) < HEAD:
                head += chunk[:HEAD - len(head)]
                if not chunk or len(head) == HEAD:
                    kind_of(head, job.label)
            if not chunk and size == 0:
                raise RenderError("%s reached the printer empty: CUPS's filters made nothing "
                                  "of it (the job's log says why)" % job.label)
            if not chunk:
                return path
            size += len(chunk)
            if size > MAX_DOCUMENT:
                raise RenderError("the document is larger than %d GiB" % (MAX_DOCUMENT >> 30))
            out.write(chunk)


def display_usable(env):
    """Whether the owner can reach the local X server of env's DISPLAY
    with env's authority file (a remote display is taken on trust)."""
    match = re.fullmatch(r"(?:unix)?:(\d+)(?:\.\d+)?", env["DISPLAY"])
    if not match:
        return True
    xauthority = env.get("XAUTHORITY")
    if xauthority and not os.access(xauthority, os.R_OK):
        return False
    with socket.socket(socket.AF_UNIX) as probe:
        try:
            probe.connect("/tmp/.X11-unix/X" + match.group(1))
            return True
        except OSError:
            return False


def split_documents(path):
    """The documents of a job: cupsd writes the PDF that its filters make of
    each document (banner pages too) one after another into one stream, and
    a PDF reader would see only the last. Each PDF ends in %%EOF, the next
    begins with %PDF-; a document with no other PDF after it stays whole."""
    if os.path.getsize(path) == 0:
        return [path]
    with open(path, "rb") as whole, mmap.mmap(whole.fileno(), 0, access=mmap.ACCESS_READ) as data:
        starts, end = [0], data.find(b"%%EOF")
        while end != -1:
            after = end + 5
            while data[after:after + 1] in (b"\r", b"\n", b" ", b"\t") and after < len(data):
                after += 1
            if data[after:after + 5] == b"%PDF-":
                starts.append(after)
            end = data.find(b"%%EOF", after)
        if len(starts) == 1:
            return [path]
        parts = []
        for number, (start, stop) in enumerate(zip(starts, starts[1:] + [len(data)]), 1):
            parts.append("%s-%d" % (path, number))
            with open(parts[-1], "xb") as part:
                for at in range(start, stop, CHUNK):
                    part.write(data[at:min(at + CHUNK, stop)])
    os.remove(path)
    return parts


def print_document(job, owner, target, documents, work_dir, output):
    """Prints on the Wine printer into the output file that `output` names."""
    found = cups_options.choices(cups_options.parse_options(job.options))
    settings = cups_options.apply(JobSettings(printer=target.printer, output=output.name,
                                              job_id=int(job.id) % 2**32, paper=found.paper),
                                  found)
    env = owner.env(target, job.id, os.environ)
    program = Program(exe=target.exe or None, wine=default_wine(), env=env,
                      prefix=owner.prefix, on_wait=lambda text: message("INFO", text))
    gs = Ghostscript(env, limits=["prlimit", "--as=%d" % GS_MEMORY, "--"])
    if target.display and not display_usable(env):
        message("WARNING", "The progress window cannot open on the display %s (no X server "
                "there, or %s may not use it): printing without it" % (target.display, owner.name))
    message("INFO", "Starting the Wine printer %s" % target.printer)
    progress = CupsProgress(output, target.limit("max_output_mib") << 20)
    names = [job.label] if len(documents) == 1 else [
        "document %d of %s" % (number, job.label) for number in range(1, len(documents) + 1)]
    print_files(program, settings, documents, fit=True, colour=found.colour or "color",
                progress=progress, work_dir=work_dir, gs=gs, names=names,
                paper_from_document=not found.paper, max_page=target.limit("max_page_mib") << 20,
                turned=found.turned)


class OwnOutput:
    """The driver's output file that this job names itself, on drive C: of
    the prefix, reached without following a link: whatever a job result
    says, only this file is read and only this file is removed."""

    def __init__(self, prefix, job):
        self.name = "tavri-cups-%s-%d.prn" % (job.id, os.getpid())
        top = os.open(prefix, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        try:
            self.drive_c = os.open("drive_c", os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW
                                   | os.O_CLOEXEC, dir_fd=top)
        finally:
            os.close(top)

    def __enter__(self):
        return self

    def __exit__(self, *failure):
        try:
            os.unlink(self.name, dir_fd=self.drive_c)
        except FileNotFoundError:
            pass
        finally:
            os.close(self.drive_c)

    def open(self):
        """The file, opened once: a link, a FIFO, a device or a file of over
        MAX_OUTPUT bytes is no output a printer driver wrote."""
        fd = os.open(self.name, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC,
                     dir_fd=self.drive_c)
        info = os.fstat(fd)
        if not stat.S_ISREG(info.st_mode) or info.st_size > MAX_OUTPUT:
            os.close(fd)
            raise RenderError("the driver's output %s is no regular file of at most %d GiB"
                              % (self.name, MAX_OUTPUT >> 30))
        os.set_blocking(fd, True)
        return os.fdopen(fd, "rb")

    def size(self):
        try:
            return os.stat(self.name, dir_fd=self.drive_c, follow_symlinks=False).st_size
        except FileNotFoundError:
            return 0


def deliver(output, target, job, output_fd):
    """Writes the output into the folder or the pipe; its page count."""
    dest = destination(target.to)
    with output.open() as source:
        if dest.kind == "folder":
            final = write_into_folder(source, dest.where, job, output_format(source)[1],
                                      target.group)
            message("INFO", "Delivered to %s" % final)
        else:
            shutil.copyfileobj(source, os.fdopen(output_fd, "wb", closefd=False), CHUNK)
        source.seek(0)
        return sum(1 for line in source if line.startswith(b"%%Page:"))


def output_format(source):
    """(MIME type, file name extension) of the driver's output; where the
    file is read next does not move."""
    head = os.pread(source.fileno(), 8, 0)
    if head.startswith(b"%PDF"):
        return "application/pdf", ".pdf"
    if b"%!" in head:
        return "application/postscript", ".ps"
    return "application/octet-stream", ".prn"


def group_id(group):
    try:
        return grp.getgrnam(group).gr_gid
    except KeyError:
        raise ConfigError("The queue's group %s does not exist" % group)


def write_into_folder(source, folder, job, suffix, group=""):
    if not os.path.isdir(folder):
        raise ConfigError("The destination folder %s does not exist" % folder)
    safe = "".join(c if c.isalnum() or c in "-_." else "_" for c in job.title)[:60]
    final = os.path.join(folder, "%s-%s%s" % (job.id, safe or "job", suffix))
    part = final + ".part"
    remove_own(part)  # left by a job that was killed
    try:
        fd = os.open(part, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o644)
    except PermissionError:
        raise ConfigError("The destination folder %s is not writable for %s"
                          % (folder, pwd.getpwuid(os.getuid()).pw_name))
    try:
        if group:  # the queue's readers: the group, never others
            os.fchown(fd, -1, group_id(group))
            os.fchmod(fd, 0o640)
        with os.fdopen(fd, "wb") as out:
            shutil.copyfileobj(source, out, CHUNK)
        os.replace(part, final)
    except BaseException:
        os.remove(part)
        raise
    return final


# What the program refuses in these requests comes from the document: its
# pages, or a paper too large to answer for.
DOCUMENT_REQUESTS = ("page ", "the page-size query")


def print_failure(error, job, owner, target, work_dir):
    """Tells CUPS what failed, in the user's terms; its exit code."""
    text = str(error)
    if work_dir:
        text = text.replace(os.path.join(work_dir, "document"), job.label)
    if isinstance(error, StatusError) and error.status == 8:
        message("ERROR", "The Wine printer %s cannot be opened in %s (status 8): is it "
                "installed there?" % (target.printer, owner.prefix))
        return STOP
    if isinstance(error, StatusError) and error.what.startswith(DOCUMENT_REQUESTS):
        message("ERROR", "Cannot print %s: %s" % (job.label, text))
        return CANCEL
    if isinstance(error, ProgramDidNotConnect):
        message("ERROR", "The program did not start in %s: %s" % (owner.prefix, text))
        return FAILED
    if isinstance(error, UserCancelled):
        message("ERROR", "%s was cancelled in the progress window" % job.label)
        return CANCEL
    if isinstance(error, RenderError):
        if not ghostscript_works():
            message("ERROR", "Ghostscript does not work: %s" % text)
            return STOP
        message("ERROR", "Cannot print %s: %s" % (job.label, text))
        return CANCEL
    if isinstance(error, PrefixBusy):
        message("ERROR", text)
        return FAILED
    message("ERROR", "Wine printer %s: %s" % (target.printer, text))
    return FAILED


def ghostscript_works():
    try:
        return subprocess.run(["gs", "-q", "-dSAFER", "-dNODISPLAY", "-dBATCH", "-c", "quit"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=30).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False
