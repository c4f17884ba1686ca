"""What the backend's two processes, root's and the owner's, share with
cupsd and with each other: exit codes, message lines, the job as cupsd
names it, and the bounds of what passes between them."""
from __future__ import annotations

import os
import re
import sys
from dataclasses import dataclass
from typing import BinaryIO, Tuple

OK, FAILED, STOP, CANCEL = 0, 1, 4, 5  # CUPS_BACKEND_OK, _FAILED, _STOP, _CANCEL
MAX_OUTPUT = 16 << 30
CHUNK = 1 << 20

# What a backend's stderr line may start with; cupsd takes STATE, ATTR, PPD
# and others as commands, so texts from documents never choose the kind.
MESSAGE_KINDS = ("INFO", "WARNING", "ERROR", "DEBUG", "PAGE")
MAX_MESSAGE = 1000
CONTROL = re.compile(r"[\x00-\x1f\x7f-\x9f\u2028\u2029]+")


class ConfigError(Exception):
    """The queue cannot print any job until its configuration is mended."""


def one_line(text: object) -> str:
    """A text fit for one message line to cupsd: a newline in it would start
    a command of its own."""
    return CONTROL.sub(" ", str(text)).strip()[:MAX_MESSAGE]


def message(kind: str, text: object) -> None:
    print("%s: %s" % (kind, one_line(text)), file=sys.stderr, flush=True)


@dataclass
class Job:
    id: str
    user: str
    title: str
    options: str

    @property
    def label(self) -> str:
        return '"%s"' % (self.title or "job %s" % self.id)


def output_format(source: BinaryIO) -> Tuple[str, str]:
    """(MIME type, file name extension) of the driver's output; where the
    file is read next does not move."""
    head = os.pread(source.fileno(), 8, 0)
    if head.startswith(b"%PDF"):
        return "application/pdf", ".pdf"
    if b"%!" in head:
        return "application/postscript", ".ps"
    return "application/octet-stream", ".prn"
