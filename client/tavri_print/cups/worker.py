"""The part of a CUPS job that runs as the Wine prefix's owner: the
document arrives on a descriptor, is printed through the program on the
Wine printer, and the driver's output goes into the destination folder or
back to the backend through a pipe. Nothing here runs as root."""
from __future__ import annotations

import errno
import mmap
import os
import re
import shutil
import signal
import socket
import subprocess
from typing import Dict, List, Optional

from ..peer import (
    JobSettings,
    PrefixBusy,
    PrintError,
    Program,
    ProgramDidNotConnect,
    StatusError,
    UserCancelled,
)
from ..peer.wine import default_exe, default_wine
from ..printing import DocumentFile, PageOptions, Progress, RenderError, print_files
from ..printing.documents import HEAD, kind_of
from ..printing.ghostscript import Ghostscript
from ..printing.job import page_folder
from . import options as cups_options
from .cupsd import CANCEL, CHUNK, FAILED, OK, STOP, ConfigError, Job, message
from .delivery import OwnOutput, deliver, remove_own
from .device_uri import Target
from .owner import Owner

MAX_DOCUMENT = 4 << 30
GS_MEMORY = 4 << 30  # address space of one Ghostscript


class LimitExceeded(KeyboardInterrupt):
    """The job went past one of its queue's limits; like a cancel, it gets
    through every handler on its way out."""


class CupsProgress(Progress):
    """Tells cupsd how far the job is, and ends it when the driver's output
    grows past `max_output` bytes."""

    def __init__(self, output: OwnOutput, max_output: int):
        self.output, self.max_output = output, max_output

    def started(self, total: int) -> None:
        super().started(total)
        message("INFO", "Printing %d pages on the Wine printer" % total)

    def printed(self, number: int) -> None:
        self.check("by page %d" % number)
        message("INFO", "Printed page %d of %d" % (number, self.total))

    def finished(self) -> None:  # the driver holds back what it writes, the last pages too
        self.check("by the end")

    def check(self, when: str) -> None:
        if self.output.size() > self.max_output:
            raise LimitExceeded(
                "the driver's output grew past %d MiB %s" % (self.max_output >> 20, when)
            )


def end_after(seconds: int) -> None:
    """Ends the job once it has run for `seconds`: a document that keeps
    Ghostscript busy for ever would hold the prefix for every later job."""

    def over_time(signum, frame):
        signal.signal(signal.SIGALRM, signal.SIG_IGN)
        raise LimitExceeded("it ran for longer than %d s" % seconds)

    signal.signal(signal.SIGALRM, over_time)
    signal.alarm(seconds)


def run(job: Job, owner: Owner, target: Target, document_fd: int, output_fd: Optional[int]) -> int:
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
        documents = split_documents(take_document(document_fd, work_dir, job), job)
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
        place = ": %s" % error.filename if error.filename else ""
        message("ERROR", "Printing %s failed: %s%s" % (job.label, error.strerror or error, place))
        # A file the owner's own account may not open, or a link planted where
        # one was to be made, stays so when the job is tried again.
        return CANCEL if error.errno in (errno.EACCES, errno.EPERM, errno.ELOOP) else FAILED
    finally:
        signal.alarm(0)
        if work_dir:
            shutil.rmtree(work_dir, ignore_errors=True)


def terminate(signum: int, frame: object) -> None:
    signal.signal(signal.SIGTERM, signal.SIG_IGN)  # one cancel, one clean-up
    raise KeyboardInterrupt()


def check_setup(owner: Owner, target: Target) -> None:
    if not os.path.isfile(os.path.join(owner.prefix, "system.reg")):
        raise ConfigError("The Wine prefix %s of %s does not exist" % (owner.prefix, owner.name))
    exe = target.exe or default_exe()
    if not os.path.isfile(exe):
        raise ConfigError("The program %s does not exist" % exe)
    if not shutil.which("gs"):
        raise ConfigError("Ghostscript (gs) is not installed")
    if not shutil.which(default_wine()):
        raise ConfigError("Wine (%s) is not installed" % default_wine())


def sweep_leftovers(prefix: str) -> None:
    """Page folders and driver output of jobs whose backend was killed."""
    for folder, pattern in (
        ("/dev/shm", r"tavri-print-(\d+)-"),
        (os.environ.get("TMPDIR", "/tmp"), r"tavri-print-(\d+)-"),
        (os.path.join(prefix, "drive_c"), r"tavri-cups-[^-]+-(\d+)\.prn$"),
    ):
        try:
            names = os.listdir(folder)
        except OSError:
            continue
        for name in names:
            match = re.match(pattern, name)
            if match and not alive(int(match.group(1))):
                remove_own(os.path.join(folder, name))


def alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def take_document(document_fd: int, work_dir: str, job: Job) -> DocumentFile:
    """The document copied into the page folder, once its first bytes show
    a kind that prints."""
    path = os.path.join(work_dir, "document")
    size, head, kind = 0, b"", None
    with open(path, "xb") as out:
        while True:
            chunk = os.read(document_fd, CHUNK)
            if not chunk and size == 0:  # before its kind, which nothing would show
                raise RenderError(
                    "%s reached the printer empty: CUPS's filters made nothing "
                    "of it (the job's log says why)" % job.label
                )
            if kind is None:
                head += chunk[: HEAD - len(head)]
                if not chunk or len(head) == HEAD:
                    kind = kind_of(head, job.label)
            if not chunk:
                return DocumentFile(path, kind, job.label)
            size += len(chunk)
            if size > MAX_DOCUMENT:
                raise RenderError("the document is larger than %d GiB" % (MAX_DOCUMENT >> 30))
            out.write(chunk)


def display_usable(env: Dict[str, str]) -> bool:
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


def split_documents(document: DocumentFile, job: Job) -> List[DocumentFile]:
    """The documents of a job: cupsd writes the PDF that its filters make of
    each document (banner pages too) one after another into one stream, and
    a PDF reader would see only the last. Each PDF ends in %%EOF, the next
    begins with %PDF-; a document with no other PDF after it stays whole."""
    path = document.path
    if os.path.getsize(path) == 0:
        return [document]
    with open(path, "rb") as whole, mmap.mmap(whole.fileno(), 0, access=mmap.ACCESS_READ) as data:
        starts, end = [0], data.find(b"%%EOF")
        while end != -1:
            after = end + 5
            while data[after : after + 1] in (b"\r", b"\n", b" ", b"\t") and after < len(data):
                after += 1
            if data[after : after + 5] == b"%PDF-":
                starts.append(after)
            end = data.find(b"%%EOF", after)
        if len(starts) == 1:
            return [document]
        parts = []
        for number, (start, stop) in enumerate(zip(starts, starts[1:] + [len(data)]), 1):
            parts.append(
                DocumentFile(
                    "%s-%d" % (path, number),
                    "pdf" if number > 1 else document.kind,
                    "document %d of %s" % (number, job.label),
                )
            )
            with open(parts[-1].path, "xb") as part:
                for at in range(start, stop, CHUNK):
                    part.write(data[at : min(at + CHUNK, stop)])
    os.remove(path)
    return parts


def print_document(
    job: Job,
    owner: Owner,
    target: Target,
    documents: List[DocumentFile],
    work_dir: str,
    output: OwnOutput,
) -> None:
    """Prints on the Wine printer into the output file that `output` names."""
    found = cups_options.choices(cups_options.parse_options(job.options))
    settings = cups_options.apply(
        JobSettings(
            printer=target.printer,
            output=output.name,
            job_id=int(job.id) % 2**32,
            paper=found.paper,
        ),
        found,
    )
    env = owner.env(job.id, os.environ, target.display, target.xauthority)
    program = Program(
        exe=target.exe or None,
        wine=default_wine(),
        env=env,
        prefix=owner.prefix,
        on_wait=lambda text: message("INFO", text),
    )
    gs = Ghostscript(env, limits=["prlimit", "--as=%d" % GS_MEMORY, "--"])
    if target.display and not display_usable(env):
        message(
            "WARNING",
            "The progress window cannot open on the display %s (no X server "
            "there, or %s may not use it): printing without it" % (target.display, owner.name),
        )
    message("INFO", "Starting the Wine printer %s" % target.printer)
    progress = CupsProgress(output, target.limit("max_output_mib") << 20)
    options = PageOptions(
        fit=True,
        color=found.color,
        turned=found.turned,
        max_page=target.limit("max_page_mib") << 20,
    )
    print_files(
        program,
        settings,
        documents,
        options,
        progress=progress,
        work_dir=work_dir,
        gs=gs,
        paper_from_document=not found.paper,
    )


# What the program refuses in these requests comes from the document: its
# pages, or a paper too large to answer for.
DOCUMENT_REQUESTS = ("page ", "the page-size query")


def print_failure(
    error: PrintError, job: Job, owner: Owner, target: Target, work_dir: Optional[str]
) -> int:
    """Tells CUPS what failed, in the user's terms; its exit code."""
    text = str(error)
    if work_dir:
        text = text.replace(os.path.join(work_dir, "document"), job.label)
    if isinstance(error, StatusError) and error.status == 8:
        message(
            "ERROR",
            "The Wine printer %s cannot be opened in %s (status 8): is it "
            "installed there?" % (target.printer, owner.prefix),
        )
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


def ghostscript_works() -> bool:
    try:
        return (
            subprocess.run(
                ["gs", "-q", "-dSAFER", "-dNODISPLAY", "-dBATCH", "-c", "quit"],
                stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
                timeout=30,
            ).returncode
            == 0
        )
    except (OSError, subprocess.TimeoutExpired):
        return False
