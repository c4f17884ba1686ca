"""The packets that the print server and the program exchange, as the
end-to-end tests and the hostile server play the print server: their
framing, the start-print record with every setting that it can carry, and
the statuses and exit codes and what they mean."""
from __future__ import annotations

import pathlib
import re
import struct
from typing import NoReturn, Optional, Tuple

MAGIC, VERSION, TRAILER = 0xAABB1122, 2, 0xCCDD3344
HEADER = struct.Struct(">IHHII")  # magic, version, code, req_id, body length
TRAILER_WORD = struct.Struct(">I")
# Larger bodies are refused unread: the program's own packets are a few
# hundred bytes at most.
MAX_BODY = 1 << 20

# job id, printer and output names, fields, collate, copies, duplex, scale,
# paper source, paper size, quality, Y resolution, page count, color, data type
RECORD = struct.Struct(">I128s128sIIIIIIIiIIII")
DATA_TYPE_BITMAP = 1

# The codes, statuses and exit codes as the program's catalogue has them,
# one `NAME = value, // meaning` a line; a code's name here is the
# program's without the prefix of its kind.
CATALOGUE = pathlib.Path(__file__).resolve().parents[2] / "src" / "base" / "protocol_codes.h"
ENTRY = re.compile(
    r"^[ \t]*([A-Z][A-Z0-9_]*) = (0x[0-9A-Fa-f]+|\d+),[ \t]*(?://[ \t]*(.*))?$", re.M
)
RENAMED = {"REPLY_BASE": "ANSWER", "MSG_HEARTBEAT": "PROGRAM_HEARTBEAT"}
RENAMED["NOTIFY_HEARTBEAT"] = "SERVER_HEARTBEAT"
ENTRIES = {
    name: (int(value, 0), meaning.strip())
    for name, value, meaning in ENTRY.findall(CATALOGUE.read_text(encoding="utf-8"))
}
STATUS_MEANINGS = {v: m for name, (v, m) in ENTRIES.items() if name.startswith("STATUS_")}
EXIT_MEANINGS = {v: m for name, (v, m) in ENTRIES.items() if name.startswith("EXIT_")}
CODES = {
    RENAMED.get(name, re.sub(r"^(ACTION|NOTIFY|MSG)_", "", name)): value
    for name, (value, _) in ENTRIES.items()
    if not name.startswith(("STATUS_", "EXIT_"))
}
globals().update(CODES)  # START_PRINT, ANSWER, JOB_RESULT, PRINT_DONE, ...


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
    than `limit` bytes of body, is refused before its body is waited for."""

    def __init__(self, limit: int = MAX_BODY):
        self.limit = limit
        self.data = bytearray()

    def feed(self, piece: bytes) -> None:
        self.data += piece

    def next(self) -> Optional[Tuple[int, int, bytes]]:
        """(code, req_id, body) of the next whole packet, or None."""
        if len(self.data) < HEADER.size:
            return None
        magic, version, code, req_id, length = HEADER.unpack_from(self.data)
        if magic != MAGIC:
            self.refuse("bad magic")
        if version != VERSION:
            self.refuse("bad version %d" % version)
        if length > self.limit:
            self.refuse("body of %d bytes, more than %d" % (length, self.limit))
        end = HEADER.size + length + TRAILER_WORD.size
        if len(self.data) < end:
            return None
        (trailer,) = TRAILER_WORD.unpack_from(self.data, end - TRAILER_WORD.size)
        if trailer != TRAILER:
            self.refuse("bad trailer %08x" % trailer)
        body = bytes(self.data[HEADER.size : end - TRAILER_WORD.size])
        del self.data[:end]
        return code, req_id, body

    def refuse(self, what: str) -> NoReturn:
        raise FrameError("%s in the packet with header %s" % (what, self.data[: HEADER.size].hex()))


def parse_text_body(body: bytes) -> Optional[Tuple[int, bytes]]:
    """(status, text) of a reply, a job result or a failure notice; None when
    the body is too short to hold them."""
    if len(body) < 8:
        return None
    status, length = struct.unpack(">II", body[:8])
    return status, body[8 : 8 + length]


def parse_page_size(body: bytes) -> Optional[Tuple[int, int, int]]:
    """(status, width, height) of the page-size answer, whose status alone
    travels in little-endian order; None when the body is too short."""
    if len(body) < 8:
        return None
    (status,) = struct.unpack("<I", body[:4])
    width, height = struct.unpack(">HH", body[4:8])
    return status, width, height
