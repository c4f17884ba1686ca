"""The CUPS backend "tavri": a queue's jobs print on a Wine printer, and
the printer driver's output goes on to a folder, a CUPS queue or another
backend (see device_uri for the URI).

CUPS runs it as root (mode 0700) for one reason: to run the job as the
Wine prefix's owner. Root reads the job that CUPS hands it, forks a child
that becomes the owner for everything else (worker), and gets the
output back through a pipe into a file of its own; it then hands that on
as CUPS would: a queue through lp, a backend as root only when its mode is
0700 and with credentials only in DEVICE_URI. Root never opens, changes or
removes a path the owner can change.

Root imports only what it runs: this module, owner, device_uri,
credentials, programs and cupsd; the child execs the worker
(tavri-cups-worker, native, on the engine every front end shares) once it
is the owner, so root never loads the printing."""
from __future__ import annotations

import os
import pwd
import signal
import subprocess
import sys
import tempfile
import threading
from typing import BinaryIO, Dict, List, Optional
from urllib.parse import urlsplit

from . import credentials, device_uri, programs
from .cupsd import (
    CANCEL,
    CHUNK,
    FAILED,
    MAX_MESSAGE,
    MAX_OUTPUT,
    MESSAGE_KINDS,
    OK,
    STOP,
    Job,
    message,
    output_format,
)
from .device_uri import Target
from .owner import Owner, die_with_parent

USAGE = "Usage: tavri job-id user title copies options [file]"
CUPS_CHANNELS = (3, 4)  # the back channel and the side channel that cupsd gives backends


class Backend:
    """What runs on root's side; children are killed when we are."""

    def __init__(self) -> None:
        self.children: List[int] = []
        self.cancelled = False

    def terminate(self, signum: int, frame: object) -> None:
        self.cancelled = True
        for pid in self.children:
            try:
                os.killpg(pid, signal.SIGTERM)
            except OSError:
                pass


def main(argv: List[str]) -> int:
    if len(argv) == 1:
        print('direct tavri "Unknown" "Wine printer (tavri-cups-queue --list shows them)"')
        return OK
    if len(argv) not in (6, 7):
        print(USAGE, file=sys.stderr)
        return FAILED
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    try:
        target = device_uri.parse(os.environ.get("DEVICE_URI", ""))
        owner = Owner(target.user, target.prefix)
    except ValueError as error:
        message("ERROR", "Cannot use this queue's device URI: %s" % error)
        return STOP
    job = Job(argv[1], argv[2], argv[3], argv[5])
    backend = Backend()
    signal.signal(signal.SIGTERM, backend.terminate)
    message("STATE", "+connecting-to-device")
    try:
        code = print_and_hand_on(backend, argv, job, owner, target)
    finally:
        message("STATE", "-connecting-to-device")
    if backend.cancelled:  # CUPS asked us to stop: say so by how we end
        signal.signal(signal.SIGTERM, signal.SIG_DFL)
        os.kill(os.getpid(), signal.SIGTERM)
    return code


def print_and_hand_on(
    backend: Backend, argv: List[str], job: Job, owner: Owner, target: Target
) -> int:
    dest = target.to
    with open_document(argv) as document, tempfile.TemporaryFile() as output:
        code = run_as_owner(
            backend,
            job,
            owner,
            target,
            document.fileno(),
            output if dest.kind != "folder" else None,
        )
        if code != OK or dest.kind == "folder" or backend.cancelled:
            return code
        output.seek(0)
        if dest.kind == "queue":
            return to_queue(dest.where, job, output)
        uri = credentials.join(dest.where, credentials.load(os.environ.get("PRINTER", "")))
        return to_backend(backend, uri, job, output)


def open_document(argv: List[str]) -> BinaryIO:
    """The job's file, which CUPS made readable for us, else our stdin."""
    if len(argv) == 7:
        return open(argv[6], "rb")
    return os.fdopen(os.dup(sys.stdin.fileno()), "rb")


def run_as_owner(
    backend: Backend,
    job: Job,
    owner: Owner,
    target: Target,
    document_fd: int,
    output: Optional[BinaryIO],
) -> int:
    """The worker, as the owner, in a session of its own; its exit code.
    What it writes to its stdout lands in `output`; its messages reach
    cupsd only through `forward`."""
    read_end, write_end = os.pipe()
    said, says = os.pipe()
    parent = os.getpid()
    sys.stderr.flush()
    pid = os.fork()
    if pid == 0:  # the child: nothing may return from here
        code = FAILED
        try:
            signal.signal(signal.SIGTERM, signal.SIG_DFL)
            keep_only(document_fd, write_end if output else None, says)
            os.setsid()
            owner.become()
            die_with_parent(parent)
            command = [programs.worker(), job.id, job.title, job.options]
            os.execve(command[0], command, worker_env(job, owner, target))
        except BaseException as error:  # reported, then the child ends
            message("ERROR", "Printing as %s failed: %s" % (owner.name, error))
            if isinstance(error, PermissionError):  # not run as root: a fault of the setup
                code = STOP
        finally:
            sys.stderr.flush()
            os._exit(code)
    backend.children.append(pid)
    os.close(write_end)
    os.close(says)
    forwarder = threading.Thread(target=forward, args=(said,), daemon=True)
    forwarder.start()
    try:
        collected = collect(read_end, output)
    finally:
        os.close(read_end)
    code = exit_code(os.waitpid(pid, 0)[1])
    backend.children.remove(pid)
    forwarder.join(5)  # a descendant that kept the pipe gets no more say
    if not collected:
        message(
            "ERROR",
            "The printer driver's output of %s is larger than %d GiB"
            % (job.label, MAX_OUTPUT >> 30),
        )
        return CANCEL
    return code


def keep_only(document_fd: int, output_fd: Optional[int], messages_fd: int) -> None:
    """In the child: no descriptor of root's but the document (stdin), the
    output pipe (stdout; nowhere when the output goes into a folder) and the
    message pipe (stderr)."""
    null = os.open(os.devnull, os.O_RDWR)
    moved = [
        os.dup(fd) for fd in (document_fd, null if output_fd is None else output_fd, messages_fd)
    ]
    for number, fd in enumerate(moved):
        os.dup2(fd, number)
    os.closerange(3, os.sysconf("SC_OPEN_MAX"))


def worker_env(job: Job, owner: Owner, target: Target) -> Dict[str, str]:
    """The worker's environment: the owner's, and what the queue's device URI
    says of the printer, the program and the output."""
    env = owner.env(job.id, os.environ, target.display, target.xauthority)
    settings = {
        "printer": target.printer,
        "exe": target.exe or programs.default_exe(),
        "wine": programs.default_wine(),
        "max_seconds": target.max_seconds,
        "max_output_mib": target.max_output_mib,
        "max_page_mib": target.max_page_mib,
    }
    if target.to.kind == "folder":
        settings.update(folder=target.to.where, group=target.group)
    else:  # checked for a loop back into this queue, or into Wine again
        destination = device_uri.public(str(target.to))
        settings.update(queue=os.environ.get("PRINTER", ""), destination=destination)
    env.update(("TAVRI_" + name.upper(), value) for name, value in settings.items() if value)
    return env


def forward(said: int) -> None:
    """Each line the worker writes to stderr, as one message of a kind that
    a backend may send; anything else is only logged."""
    with os.fdopen(said, "rb") as lines:
        for line in iter(lambda: lines.readline(MAX_MESSAGE), b""):
            kind, colon, text = line.decode("utf-8", "replace").partition(":")
            if colon and kind in MESSAGE_KINDS:
                message(kind, text)
            else:
                message("DEBUG", line.decode("utf-8", "replace"))


def collect(read_end: int, output: Optional[BinaryIO]) -> bool:
    """Copies the pipe into `output`; False when the output grew too large
    (the rest is drained, so that the worker is never blocked)."""
    size, fits = 0, True
    while True:
        chunk = os.read(read_end, CHUNK)
        if not chunk:
            return fits
        size += len(chunk)
        fits = fits and size <= MAX_OUTPUT
        if fits and output is not None:
            output.write(chunk)


def exit_code(status: int) -> int:
    if os.WIFEXITED(status):
        return os.WEXITSTATUS(status)
    return FAILED


def to_queue(queue: str, job: Job, output: BinaryIO) -> int:
    command = ["lp", "-d", queue, "-o", "raw", "-t", job.title or "job", "-U", job.user]
    result = subprocess.run(
        command, stdin=output, capture_output=True, text=True, env=device_uri.cups_env()
    )
    if result.returncode == 0:
        message("INFO", "Handed to queue %s: %s" % (queue, result.stdout.strip()))
        return OK
    reason = result.stderr.strip() or "lp failed"
    message("ERROR", "Queue %s refused the output: %s" % (queue, reason))
    return STOP if "does not exist" in reason else FAILED


def to_backend(backend: Backend, uri: str, job: Job, output: BinaryIO) -> int:
    """Runs the destination's backend as CUPS would; its exit code."""
    path = device_uri.backend_path(urlsplit(uri).scheme)
    try:
        mode = os.stat(path).st_mode
    except OSError:
        message("ERROR", "No CUPS backend for the destination %s" % device_uri.public(uri))
        return STOP
    as_lp = {}
    if mode & 0o005 == 0o005:  # CUPS runs a backend others may read and run as lp
        lp = pwd.getpwnam("lp")
        as_lp = {"user": lp.pw_uid, "group": lp.pw_gid, "extra_groups": []}
    # The driver's output, not what cupsd made for us: an IPP backend sends
    # the document under this format.
    kind = output_format(output)[0]
    env = dict(os.environ, DEVICE_URI=uri, CONTENT_TYPE=kind, FINAL_CONTENT_TYPE=kind)
    # argv[0] is what ps shows: the URI without user and password.
    command = [device_uri.public(uri), job.id, job.user, job.title, "1", ""]
    process = subprocess.Popen(
        command,
        executable=path,
        env=env,
        stdin=output,
        start_new_session=True,
        preexec_fn=die_with_parent_signal,
        pass_fds=[fd for fd in CUPS_CHANNELS if open_fd(fd)],
        **as_lp,
    )
    backend.children.append(process.pid)
    code = process.wait()
    backend.children.remove(process.pid)
    return code if code >= 0 else FAILED


def open_fd(fd: int) -> bool:
    try:
        os.fstat(fd)
        return True
    except OSError:
        return False


def die_with_parent_signal() -> None:
    die_with_parent(os.getppid())
