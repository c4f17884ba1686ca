"""The packets that the print server and the program exchange, and the
start-print record with every setting that it can carry."""
import struct
from dataclasses import dataclass
from typing import Optional

MAGIC, VERSION, TRAILER = 0xAABB1122, 2, 0xCCDD3344
HEADER = struct.Struct(">IHHII")

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


def describe_status(status):
    return "status %d (%s)" % (status, STATUS_MEANINGS.get(status, "unknown status"))


def describe_exit(code):
    if code is None:
        return "still running"
    if code < 0:
        return "killed by signal %d" % -code
    return "exit status %d (%s)" % (code, EXIT_MEANINGS.get(code, "unexpected"))


def frame(code, req_id, body=b""):
    return HEADER.pack(MAGIC, VERSION, code, req_id, len(body)) + body + struct.pack(">I", TRAILER)


def text_body(status, text=b""):
    return struct.pack(">II", status, len(text)) + text


def u32(value):
    return struct.pack(">I", value)


def parse_text_body(body):
    """(status, text) of a reply, a job result or a failure notice; None when
    the body is too short to hold them."""
    if len(body) < 8:
        return None
    status, length = struct.unpack(">II", body[:8])
    return status, body[8:8 + length]


def parse_page_size(body):
    """(status, width, height) of the page-size answer, whose status alone
    travels in little-endian order; None when the body is too short."""
    if len(body) < 8:
        return None
    (status,) = struct.unpack("<I", body[:4])
    width, height = struct.unpack(">HH", body[4:8])
    return status, width, height


def name_field(text, encoding, what):
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

    def fields(self):
        options = ((self.collate, FIELD_COLLATE), (self.copies, FIELD_COPIES),
                   (self.duplex, FIELD_DUPLEX), (self.paper_source, FIELD_PAPER_SOURCE),
                   (self.paper, FIELD_PAPER_SIZE), (self.quality, FIELD_QUALITY),
                   (self.y_resolution, FIELD_Y_RESOLUTION), (self.color, FIELD_COLOR))
        return sum(bit for value, bit in options if value is not None)

    def record(self, page_count):
        """The 308-byte body of the start-print request."""
        return (struct.pack(">I", self.job_id)
                + name_field(self.printer, self.encoding, "printer name")
                + name_field(self.output, self.encoding, "output file name")
                + struct.pack(">IIIIIIIiIIII", self.fields(), self.collate or 0,
                              self.copies or 0, self.duplex or 0, self.scale,
                              self.paper_source or 0, self.paper or 0, self.quality or 0,
                              self.y_resolution or 0, page_count, self.color or 0,
                              DATA_TYPE_BITMAP))
