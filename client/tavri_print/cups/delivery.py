"""The driver's output of a job, as the prefix's owner reads and delivers
it: only the file the job named itself, into a destination folder or the
pipe back to the backend."""
from __future__ import annotations

import grp
import os
import pwd
import shutil
import stat
from typing import BinaryIO, Optional

from ..printing import RenderError
from .cupsd import CHUNK, MAX_OUTPUT, ConfigError, Job, message, output_format
from .device_uri import Target


class OwnOutput:
    """The driver's output file that this job names itself, on drive C: of
    the prefix, reached without following a link: whatever a job result
    says, only this file is read and only this file is removed."""

    def __init__(self, prefix: str, job: Job):
        self.name = "tavri-cups-%s-%d.prn" % (job.id, os.getpid())
        top = os.open(prefix, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        try:
            self.drive_c = os.open(
                "drive_c", os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC, dir_fd=top
            )
        finally:
            os.close(top)

    def __enter__(self) -> OwnOutput:
        return self

    def __exit__(self, *failure: object) -> None:
        try:
            os.unlink(self.name, dir_fd=self.drive_c)
        except FileNotFoundError:
            pass
        finally:
            os.close(self.drive_c)

    def open(self) -> BinaryIO:
        """The file, opened once: a link, a FIFO, a device or a file of over
        MAX_OUTPUT bytes is no output a printer driver wrote."""
        fd = os.open(
            self.name,
            os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC,
            dir_fd=self.drive_c,
        )
        info = os.fstat(fd)
        if not stat.S_ISREG(info.st_mode) or info.st_size > MAX_OUTPUT:
            os.close(fd)
            raise RenderError(
                "the driver's output %s is no regular file of at most %d GiB"
                % (self.name, MAX_OUTPUT >> 30)
            )
        return os.fdopen(fd, "rb")  # O_NONBLOCK spared the open a FIFO; a file reads the same

    def size(self) -> int:
        try:
            return os.stat(self.name, dir_fd=self.drive_c, follow_symlinks=False).st_size
        except FileNotFoundError:
            return 0


def deliver(output: OwnOutput, target: Target, job: Job, output_fd: Optional[int]) -> int:
    """Writes the output into the folder or the pipe; its page count."""
    with output.open() as source:
        if target.to.kind == "folder":
            final = write_into_folder(
                source, target.to.where, job, output_format(source)[1], target.group
            )
            message("INFO", "Delivered to %s" % final)
        else:
            shutil.copyfileobj(source, os.fdopen(output_fd, "wb", closefd=False), CHUNK)
        source.seek(0)
        return sum(1 for line in source if line.startswith(b"%%Page:"))


def group_id(group: str) -> int:
    try:
        return grp.getgrnam(group).gr_gid
    except KeyError:
        raise ConfigError("The queue's group %s does not exist" % group)


def write_into_folder(source: BinaryIO, folder: str, job: Job, suffix: str, group: str = "") -> str:
    if not os.path.isdir(folder):
        raise ConfigError("The destination folder %s does not exist" % folder)
    safe = "".join(c if c.isalnum() or c in "-_." else "_" for c in job.title)[:60]
    final = os.path.join(folder, "%s-%s%s" % (job.id, safe or "job", suffix))
    part = final + ".part"
    remove_own(part)  # left by a job that was killed
    try:
        fd = os.open(part, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o644)
    except PermissionError:
        raise ConfigError(
            "The destination folder %s is not writable for %s"
            % (folder, pwd.getpwuid(os.getuid()).pw_name)
        )
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


def remove_own(path: str) -> None:
    """Removes `path` when it is ours: a link or file planted by another
    user stays."""
    try:
        if os.lstat(path).st_uid != os.getuid():
            return
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path, ignore_errors=True)
        else:
            os.remove(path)
    except OSError:
        pass
