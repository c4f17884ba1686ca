"""The packets that the print server and the program exchange: their
framing, the start-print record with every setting that it can carry, and
the statuses and exit codes and what they mean."""
from __future__ import annotations

import struct
from dataclasses import dataclass
from typing import NoReturn, Optional, Tuple

MAGIC, VERSION, TRAILER = 0xAABB1122, 2, 0xCCDD3344
HEADER = struct.Struct(">IHHII")  # magic, version, code, req_id, body length
TRAILER_WORD = struct.Struct(">I")
# Larger bodies are refused unread: the program's own packets are a few
# hundred bytes at most.
MAX_BODY = 1 << 20

# Requests to the program; each is answered with 0x1000 + the action.
START_PRINT, PAGE_FILENAME, SET_VALUE, DOCUMENT_PROPERTIES = 1, 2, 3, 4
DEVICE_PROPERTIES, END_JOB, SHUTDOWN, GET_PRINT_PAGE = 5, 6, 7, 8
ANSWER = 0x1000
# The program's own messages, and our notices.
JOB_RESULT, PROGRAM_HEARTBEAT, USER_CANCEL, RECEIVE_FAILED = 0x2001, 0x2002, 0x2003, 0x2004
PRINT_DONE, SERVER_HEARTBEAT, CANCEL_PRINT_DONE = 0x3001, 0x3002, 0x3003

# Selection bits of the record's `fields`.
FIELD_COLLATE, FIELD_COPIES, FIELD_DUPLEX, FIELD_PAPER_SOURCE = 0x01, 0x02, 0x04, 0x08
FIELD_PAPER_SIZE, FIELD_QUALITY, FIELD_Y_RESOLUTION, FIELD_COLOR = 0x10, 0x20, 0x40, 0x80
NAME_FIELD_SIZE = 128
# job id, printer and output names, fields, collate, copies, duplex, scale,
# paper source, paper size, quality, Y resolution, page count, color, data type
RECORD = struct.Struct(">I128s128sIIIIIIIiIIII")
DATA_TYPE_BITMAP = 1
COLOR_MONO, COLOR_COLOR = 1, 2
DUPLEX_SIMPLEX, DUPLEX_LONG_EDGE, DUPLEX_SHORT_EDGE = 1, 2, 3

STATUS_MEANINGS = {
    0: "success",
    1: "invalid request or general failure",
    2: "bad magic or trailer",
    4: "bad version",
    5: "invalid data type",
    6: "receive or file failure",
    8: "printer cannot be opened",
    9: "invalid output file name or no printer name",
    11: "out of memory",
    12: "print quality without Y resolution",
    13: "printing in progress",
    14: "invalid duplex mode",
    15: "page file is not a BMP",
    16: "user cancelled a property dialog",
    19: "receive time-out",
    20: "job accepted but document not started",
    21: "print in progress, or action not implemented",
    23: "invalid page count",
    24: "page message without body",
    25: "page-size query for another job",
}

EXIT_MEANINGS = {0: "after a session", 1: "usage", 2: "invalid port",
                 5: "spooler service not running", 6: "socket library failure"}


def describe_status(status: int) -> str:
    return "status %d (%s)" % (status, STATUS_MEANINGS.get(status, "unknown status"))


def describe_exit(code: Optional[int]) -> str:
    if code is None:
        return "still running"
    if code < 0:
        return "killed by signal %d" % -code
    return "exit status %d (%s)" % (code, EXIT_MEANINGS.get(code, "unexpected"))


def frame(code: int, req_id: int, body: bytes = b"") -> bytes:
    return HEADER.pack(MAGIC, VERSION, code, req_id, len(body)) + body + TRAILER_WORD.pack(TRAILER)


def text_body(status: int, text: bytes = b"") -> bytes:
    return struct.pack(">II", status, len(text)) + text


def u32(value: int) -> bytes:
    return struct.pack(">I", value)


class FrameError(ValueError):
    """Bytes that are not a packet: what is wrong, with the bytes themselves."""


class PacketReader:
    """Whole packets out of a byte stream fed in pieces of any size. A header
    is checked as soon as it is whole, so a bad one, or one promising more
    than `limit` bytes of body, is refused before its body is waited for;
    what is held never exceeds one packet and one piece."""

    def __init__(self, limit: int = MAX_BODY):
        self.limit = limit
        self.data = bytearray()
        self.start = 0  # consumed bytes at the front, dropped on the next feed

    def feed(self, piece: bytes) -> None:
        if self.start:
            del self.data[:self.start]
            self.start = 0
        self.data += piece

    def held(self) -> int:
        return len(self.data) - self.start

    def next(self) -> Optional[Tuple[int, int, bytes]]:
        """(code, req_id, body) of the next whole packet, or None."""
        if self.held() < HEADER.size:
            return None
        magic, version, code, req_id, length = HEADER.unpack_from(self.data, self.start)
        if magic != MAGIC:
            self.refuse("bad magic")
        if version != VERSION:
            self.refuse("bad version %d" % version)
        if length > self.limit:
            self.refuse("body of %d bytes, more than %d" % (length, self.limit))
        end = self.start + HEADER.size + length + TRAILER_WORD.size
        if len(self.data) < end:
            return None
        (trailer,) = TRAILER_WORD.unpack_from(self.data, end - TRAILER_WORD.size)
        if trailer != TRAILER:
            self.refuse("bad trailer %08x" % trailer)
        body = bytes(self.data[self.start + HEADER.size:end - TRAILER_WORD.size])
        self.start = end
        return code, req_id, body

    def refuse(self, what: str) -> NoReturn:
        head = bytes(self.data[self.start:self.start + HEADER.size])
        raise FrameError("%s in the packet with header %s" % (what, head.hex()))


def parse_text_body(body: bytes) -> Optional[Tuple[int, bytes]]:
    """(status, text) of a reply, a job result or a failure notice; None when
    the body is too short to hold them."""
    if len(body) < 8:
        return None
    status, length = struct.unpack(">II", body[:8])
    return status, body[8:8 + length]


def parse_page_size(body: bytes) -> Optional[Tuple[int, int, int]]:
    """(status, width, height) of the page-size answer, whose status alone
    travels in little-endian order; None when the body is too short."""
    if len(body) < 8:
        return None
    (status,) = struct.unpack("<I", body[:4])
    width, height = struct.unpack(">HH", body[4:8])
    return status, width, height


def name_field(text: str, encoding: str, what: str) -> bytes:
    """A NUL-padded 128-byte name; ValueError names what does not fit."""
    try:
        raw = text.encode(encoding)
    except UnicodeEncodeError:
        raise ValueError("%s %r cannot be written in %s" % (what, text, encoding))
    if not raw or len(raw) >= NAME_FIELD_SIZE:
        raise ValueError("%s must be 1 to %d bytes" % (what, NAME_FIELD_SIZE - 1))
    return raw + b"\0" * (NAME_FIELD_SIZE - len(raw))


@dataclass
class JobSettings:
    """Every setting of a start-print record; None leaves the printer's own."""
    printer: str
    output: str  # file name on drive C:, relative to its root
    job_id: int = 1
    scale: int = 0  # 0: one bitmap pixel per device pixel; 1: fit the page
    copies: Optional[int] = None
    collate: Optional[int] = None
    duplex: Optional[int] = None
    paper: Optional[int] = None  # width << 16 | height, in points
    paper_source: Optional[int] = None
    quality: Optional[int] = None  # negative: draft..high; else dots per inch
    y_resolution: Optional[int] = None
    color: Optional[int] = None  # COLOR_MONO or COLOR_COLOR
    encoding: str = "cp1252"  # ANSI code page of the Wine prefix

    def fields(self) -> int:
        options = ((self.collate, FIELD_COLLATE), (self.copies, FIELD_COPIES),
                   (self.duplex, FIELD_DUPLEX), (self.paper_source, FIELD_PAPER_SOURCE),
                   (self.paper, FIELD_PAPER_SIZE), (self.quality, FIELD_QUALITY),
                   (self.y_resolution, FIELD_Y_RESOLUTION), (self.color, FIELD_COLOR))
        return sum(bit for value, bit in options if value is not None)

    def record(self, page_count: int) -> bytes:
        """The body of the start-print request."""
        return RECORD.pack(self.job_id, name_field(self.printer, self.encoding, "printer name"),
                           name_field(self.output, self.encoding, "output file name"),
                           self.fields(), self.collate or 0, self.copies or 0, self.duplex or 0,
                           self.scale, self.paper_source or 0, self.paper or 0, self.quality or 0,
                           self.y_resolution or 0, page_count, self.color or 0, DATA_TYPE_BITMAP)
