"""The documents of a job: each one's kind, read once from its first bytes
and passed on, and for PDF and PostScript its page count and paper."""
from __future__ import annotations

import os
import struct
from typing import NamedTuple, Optional, Tuple

from .errors import RenderError
from .ghostscript import Ghostscript, ps_string

HEAD = 1024  # bytes that tell a document's kind
PICTURES = ("bmp", "png", "jpeg")


def kind_of(head: bytes, name: str) -> str:
    """The kind of a document from its first HEAD bytes."""
    if head.startswith(b"%!") or head.startswith(b"\x04%!"):
        return "ps"
    if b"%PDF-" in head:
        return "pdf"
    for magic, kind in ((b"BM", "bmp"), (b"\x89PNG\r\n", "png"), (b"\xff\xd8\xff", "jpeg")):
        if head.startswith(magic):
            return kind
    raise RenderError("%s is neither PDF, PostScript, BMP, PNG nor JPEG" % name)


class DocumentFile(NamedTuple):
    """A file to print and its kind ("pdf", "ps", "bmp", "png" or "jpeg");
    messages call it `name`."""
    path: str
    kind: str
    name: str

    @classmethod
    def sniffed(cls, path: str, name: Optional[str] = None) -> DocumentFile:
        """The file with the kind that its first bytes show."""
        name = name or path
        try:
            with open(path, "rb") as f:
                head = f.read(HEAD)
        except OSError as error:
            raise RenderError("cannot read %s: %s" % (name, error.strerror))
        return cls(path, kind_of(head, name), name)


class Document:
    """One input file, measured: its page count and, for PDF and PostScript,
    the size of its first page in points."""

    def __init__(self, source: DocumentFile, gs: Ghostscript, work_dir: str):
        self.path, self.name, self.kind = os.path.abspath(source.path), source.name, source.kind
        self.pages: int = 1
        self.size: Optional[Tuple[float, float]] = None
        if self.kind == "ps":
            self.pdf = os.path.join(work_dir, "doc-%d.pdf" % id(self))
            gs.run(["-sDEVICE=pdfwrite", "-sOutputFile=" + self.pdf, self.path], self.name)
        elif self.kind == "pdf":
            self.pdf = self.path
        if self.kind in ("ps", "pdf"):
            self._measure(gs)

    def _measure(self, gs: Ghostscript) -> None:
        out = gs.run(["-dNODISPLAY", "--permit-file-read=" + self.pdf, "-c",
                      "(%s) (r) file runpdfbegin pdfpagecount = "
                      "1 pdfgetpage /MediaBox pget pop == quit" % ps_string(self.pdf)],
                     self.name).split()
        try:
            self.pages = int(out[0])
            box = [float(v.strip("[]")) for v in out[1:5]]
            self.size = (abs(box[2] - box[0]), abs(box[3] - box[1]))
        except (ValueError, IndexError):
            raise RenderError("cannot count the pages of %s" % self.name)
        if self.pages < 1:
            raise RenderError("%s has no pages" % self.name)


def bmp_geometry(path: str, name: str) -> Tuple[int, int, int]:
    """(width, height, bits per pixel) from a BMP file's header."""
    try:
        with open(path, "rb") as f:
            header = f.read(30)
        width, height = struct.unpack("<ii", header[18:26])
        (bits,) = struct.unpack("<H", header[28:30])
    except (OSError, struct.error):
        raise RenderError("%s is no BMP file that can be printed" % name)
    return width, abs(height), bits
