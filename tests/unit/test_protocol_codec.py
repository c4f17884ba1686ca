"""The Linux side's codec and page ranges, byte by byte, without Wine; its
catalogue against the program's (src/base/protocol_codes.h)."""
import pathlib
import re
import struct
import sys
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "client"))
from tavri_print import protocol as p  # noqa: E402
from tavri_print.errors import RenderError  # noqa: E402
from tavri_print.render import parse_ranges  # noqa: E402


class Framing(unittest.TestCase):
    def test_frame_layout(self):
        self.assertEqual(p.frame(3, 7, b"\0\0\0\x05"), bytes.fromhex(
            "aabb1122 0002 0003 00000007 00000004 00000005 ccdd3344"))
        self.assertEqual(p.text_body(21, b"OK"), bytes.fromhex("00000015 00000002") + b"OK")

    def test_round_trip_in_pieces_of_any_size(self):
        packets = [(3, 7, b"\0\0\0\x05"), (0x2002, 0, b""), (0x1001, 0xFFFFFFFF, bytes(300))]
        stream = b"".join(p.frame(*packet) for packet in packets)
        for size in (1, 3, 16, 19, 20, len(stream)):
            reader, got = p.PacketReader(), []
            for at in range(0, len(stream), size):
                reader.feed(stream[at:at + size])
                while (packet := reader.next()) is not None:
                    got.append(packet)
            self.assertEqual(got, packets, "pieces of %d" % size)
            self.assertEqual(reader.held(), 0)

    def test_rejections(self):
        for what, data, message in (
                ("magic", p.frame(3, 1, magic=0x2211BBAA), "bad magic"),
                ("version", p.frame(3, 1, version=1), "bad version 1"),
                ("trailer", p.frame(3, 1, b"ab", trailer=0xCCDD3345), "bad trailer ccdd3345"),
                ("short length", p.frame(3, 1, bytes(8), length=4), "bad trailer 00000000"),
                ("oversized", p.frame(3, 1, length=p.MAX_BODY + 1)[:16], "more than 1048576")):
            with self.subTest(what):
                reader = p.PacketReader()
                reader.feed(data)
                with self.assertRaisesRegex(p.FrameError, message):
                    reader.next()

    def test_a_header_is_judged_before_its_body_arrives(self):
        reader = p.PacketReader(limit=100)
        reader.feed(p.frame(3, 1, length=100)[:16])
        self.assertIsNone(reader.next())
        reader.feed(p.frame(3, 1, length=101)[:16] + bytes(100))
        with self.assertRaises(p.FrameError):  # the 100 before it were never whole
            reader.next()

    def test_page_size_answer_has_a_little_endian_status(self):
        for body, parsed in ((bytes.fromhex("19000000 09b0 0db4"), (25, 2480, 3508)),
                             (bytes.fromhex("00000000 0001 0002") + b"x", (0, 1, 2)),
                             (bytes(7), None)):
            self.assertEqual(p.parse_page_size(body), parsed)

    def test_text_bodies(self):
        for body, parsed in ((p.text_body(8, b"abc"), (8, b"abc")), (bytes(7), None),
                             (struct.pack(">II", 1, 9) + b"ab", (1, b"ab"))):
            self.assertEqual(p.parse_text_body(body), parsed)


class Record(unittest.TestCase):
    def test_every_field_at_its_offset(self):
        settings = p.JobSettings(printer="Pr", output="o.ps", job_id=0x01020304, scale=1,
                                 copies=2, collate=1, duplex=3, paper=595 << 16 | 842,
                                 paper_source=7, quality=-4, y_resolution=600, color=2)
        record = settings.record(page_count=9)
        self.assertEqual(len(record), 308)
        expected = [(0, ">I", 0x01020304), (4, "3s", b"Pr\0"), (131, "B", 0),
                    (132, "5s", b"o.ps\0"), (259, "B", 0), (260, ">I", 0xFF), (264, ">I", 1),
                    (268, ">I", 2), (272, ">I", 3), (276, ">I", 1), (280, ">I", 7),
                    (284, ">I", 595 << 16 | 842), (288, ">i", -4), (292, ">I", 600),
                    (296, ">I", 9), (300, ">I", 2), (304, ">I", p.DATA_TYPE_BITMAP)]
        for offset, form, value in expected:
            self.assertEqual(struct.unpack_from(form, record, offset)[0], value, offset)

    def test_unset_settings_leave_their_bits_and_values_zero(self):
        record = p.JobSettings(printer="P", output="o", quality=0).record(1)
        self.assertEqual(struct.unpack_from(">I", record, 260)[0], p.FIELD_QUALITY)
        self.assertEqual(record[264:288], bytes(24))

    def test_names_that_cannot_be_written(self):
        for printer, encoding, message in (("", "cp1252", "printer name must be 1 to 127"),
                                           ("x" * 128, "cp1252", "must be 1 to 127 bytes"),
                                           ("打印机", "cp1252", "cannot be written in cp1252")):
            with self.subTest(printer), self.assertRaisesRegex(ValueError, message):
                p.JobSettings(printer=printer, output="o", encoding=encoding).record(1)
        record = p.JobSettings(printer="打印机", output="o", encoding="gbk").record(1)
        self.assertEqual(record[4:11], "打印机".encode("gbk") + b"\0")


class PageRanges(unittest.TestCase):
    def test_ranges(self):
        for text, total, pages in (("2-5", 9, [2, 3, 4, 5]), ("1,3,7-", 8, [1, 3, 7, 8]),
                                   ("-3", 9, [1, 2, 3]), (" 4 ", 9, [4]), ("8-12", 9, [8, 9]),
                                   ("1-2147483647", 3, [1, 2, 3]),
                                   ("3,1-1000000000", 4, [3, 1, 2, 3, 4])):
            self.assertEqual(parse_ranges(text, total), pages, text)

    def test_refused(self):
        for text, message in (("0", "is empty"), ("5-3", "is empty"), ("x", "expected N"),
                              ("", "expected N"), ("1,,3", "expected N"),
                              ("10-", "is empty"), ("10-2147483647", "no page of the 9")):
            with self.subTest(text), self.assertRaisesRegex(RenderError, message):
                parse_ranges(text, 9)


HEADER = ROOT / "src" / "base" / "protocol_codes.h"
# name = value, // meaning
ENTRY = re.compile(r"^[ \t]*([A-Z][A-Z0-9_]*) = (0x[0-9A-Fa-f]+|\d+),[ \t]*(?://[ \t]*(.*))?$",
                   re.M)
# Any constant or enumerator given a number, elsewhere in the sources.
DECLARATION = re.compile(r"\b([A-Z][A-Z0-9_]*)\s*=\s*(?:0x[0-9A-Fa-f]+|\d+)\w*\s*[,;]")
# Names that differ beyond the C++ prefix (ACTION_, NOTIFY_, MSG_).
PYTHON_NAMES = {"REPLY_BASE": "ANSWER", "MSG_HEARTBEAT": "PROGRAM_HEARTBEAT",
                "NOTIFY_HEARTBEAT": "SERVER_HEARTBEAT"}


class Catalogue(unittest.TestCase):
    def test_both_sides_give_each_number_one_name_and_meaning(self):
        cpp = {name: (int(value, 0), meaning.strip()) for name, value, meaning
               in ENTRY.findall(HEADER.read_text(encoding="utf-8"))}
        codes = {name: value for name, (value, _) in cpp.items()
                 if not name.startswith(("STATUS_", "EXIT_"))}
        self.assertEqual(len(codes), 16, sorted(codes))
        for name, value in codes.items():
            python_name = PYTHON_NAMES.get(name, re.sub(r"^(ACTION|NOTIFY|MSG)_", "", name))
            self.assertEqual(getattr(p, python_name, None), value, "%s in protocol.py" % name)
        for prefix, meanings in (("STATUS_", p.STATUS_MEANINGS), ("EXIT_", p.EXIT_MEANINGS)):
            group = {name: entry for name, entry in cpp.items() if name.startswith(prefix)}
            values = [value for value, _ in group.values()]
            self.assertEqual(len(values), len(set(values)), "%s: a number with two names" % prefix)
            self.assertEqual(sorted(values), sorted(meanings), prefix)
            self.assertEqual([name for name, (_, meaning) in group.items() if not meaning], [],
                             "names without a meaning on their line")
        for path in sorted((ROOT / "src").rglob("*.[ch]*")):
            twins = set(cpp) & set(DECLARATION.findall(path.read_text(encoding="utf-8")))
            self.assertFalse(path != HEADER and twins, "%s declares %s again" % (path, twins))


if __name__ == "__main__":
    unittest.main()
