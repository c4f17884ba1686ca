"""The peer without Wine: the codec byte by byte, its catalogue against the
program's (src/base/protocol_codes.h); heartbeats to a slow program, the
job result it may send, and one job at a time in a prefix."""
import contextlib
import os
import pathlib
import re
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "client"))
from tavri_print.peer import (PrefixBusy, ProtocolError, UserCancelled, program,  # noqa
                              wine)
from tavri_print.peer import protocol as p  # noqa: E402


class Framing(unittest.TestCase):
    def test_frame_and_text_body_layout(self):
        self.assertEqual(p.frame(3, 7, b"\0\0\0\x05"), bytes.fromhex(
            "aabb1122 0002 0003 00000007 00000004 00000005 ccdd3344"))
        self.assertEqual(p.text_body(21, b"OK"), bytes.fromhex("00000015 00000002") + b"OK")
        for body, parsed in ((p.text_body(8, b"abc"), (8, b"abc")), (bytes(7), None),
                             (struct.pack(">II", 1, 9) + b"ab", (1, b"ab"))):
            self.assertEqual(p.parse_text_body(body), parsed)

    def test_round_trip_in_pieces_of_any_size(self):
        packets = [(3, 7, b"\0\0\0\x05"), (0x2002, 0, b""), (0x1001, 0xFFFFFFFF, bytes(300))]
        stream = b"".join(p.frame(*packet) for packet in packets)
        for size in (1, 3, 16, 19, 20, len(stream)):
            reader, got = p.PacketReader(limit=300), []  # the last body is at the limit
            for at in range(0, len(stream), size):
                reader.feed(stream[at:at + size])
                while (packet := reader.next()) is not None:
                    got.append(packet)
            self.assertEqual(got, packets, "pieces of %d" % size)
            self.assertEqual(reader.held(), 0)

    def test_rejections(self):
        for what, data, message in (
                ("magic", "2211bbaa 0002 0003 00000001 00000000 ccdd3344", "bad magic"),
                ("version", "aabb1122 0001 0003 00000001 00000000 ccdd3344", "bad version 1"),
                ("trailer", "aabb1122 0002 0003 00000001 00000002 6162 ccdd3345",
                 "bad trailer ccdd3345"),
                ("short length", "aabb1122 0002 0003 00000001 00000004 %s ccdd3344" % ("00" * 8),
                 "bad trailer 00000000"),
                # A header promising too much is refused before its body arrives.
                ("oversized", "aabb1122 0002 0003 00000001 00100001", "more than 1048576")):
            with self.subTest(what):
                reader = p.PacketReader()
                reader.feed(bytes.fromhex(data))
                with self.assertRaisesRegex(p.FrameError, message):
                    reader.next()

    def test_page_size_answer_has_a_little_endian_status(self):
        for body, parsed in ((bytes.fromhex("19000000 09b0 0db4"), (25, 2480, 3508)),
                             (bytes.fromhex("00000000 0001 0002") + b"x", (0, 1, 2)),
                             (bytes(7), None)):
            self.assertEqual(p.parse_page_size(body), parsed)


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


class Program(unittest.TestCase):
    """Heartbeats to a slow program, the one output file its job result may
    name, and one job at a time in a Wine prefix. (Whose connection is taken:
    tests/e2e/test_cups_backend.py, where another user races for it.)"""

    def test_a_slow_program_gets_heartbeats_until_its_result(self):
        ours, theirs = socket.socketpair()
        waiting = program.Program(exe="x", wine="y", heartbeat=0.05, answer_timeout=10, prefix="/")
        waiting.conn, waiting.last_sent, waiting.output = ours, time.monotonic(), "out.ps"

        def answer_after_three_heartbeats():
            reader, beats = p.PacketReader(), 0
            while beats < 3:
                reader.feed(theirs.recv(4096))
                while (packet := reader.next()) is not None:
                    beats += packet[0] == p.SERVER_HEARTBEAT
            theirs.sendall(p.frame(p.PROGRAM_HEARTBEAT, 0, b"\0" * 4) + p.frame(
                p.JOB_RESULT, 0, p.text_body(0, b"/dosdevices/c:/out.ps")))
        threading.Thread(target=answer_after_three_heartbeats, daemon=True).start()
        self.assertEqual(waiting.job_result(), "/dosdevices/c:/out.ps")
        theirs.setblocking(False)
        with contextlib.suppress(BlockingIOError):
            while theirs.recv(4096):
                pass  # the heartbeats sent while the result was on its way
        waiting.heartbeat = 10
        waiting.keep_alive()  # heard from us within the period: nothing to send
        self.assertRaises(BlockingIOError, theirs.recv, 1)
        theirs.setblocking(True)
        theirs.sendall(p.frame(p.JOB_RESULT, 0, p.text_body(0, b"/etc/shadow")))
        self.assertRaisesRegex(ProtocolError, "names /etc/shadow", waiting.job_result)
        for output, path in (("a.ps", "/dosdevices/c:/a.ps"), ("D:\\x\\b.ps",
                             "/dosdevices/d:/x/b.ps"), ("\\\\srv\\q", None)):
            waiting.output = output
            self.assertEqual(waiting.output_path(), path, output)
        # A cancel right behind the result: the program knows, nothing more is sent.
        theirs.sendall(p.frame(p.JOB_RESULT, 0, p.text_body(0, b"/dosdevices/c:/out.ps")) +
                       p.frame(p.USER_CANCEL, 0, p.u32(0)))
        self.assertRaises(UserCancelled, waiting.job_result)
        waiting.process = subprocess.Popen(["true"])
        waiting.finish(p.PRINT_DONE, 0, b"OK")
        self.assertEqual(theirs.recv(4096), b"")

    def test_a_session_ends_with_one_notice_and_a_program_that_stays_is_killed(self):
        ours, theirs = socket.socketpair()
        prefix = tempfile.mkdtemp()
        self.addCleanup(os.rmdir, prefix)
        self.addCleanup(os.remove, os.path.join(prefix, ".tavri-print.lock"))
        ending = program.Program(exe="x", wine="y", prefix=prefix, exit_timeout=0.2)
        ending.conn = ours
        ending.process = subprocess.Popen(["sleep", "60"], start_new_session=True)
        with self.assertRaises(ValueError), ending:
            raise ValueError("no such paper")
        self.assertEqual(ending.process.returncode, -signal.SIGKILL)
        ending._lock_prefix()  # a program that has exited frees the prefix as well
        ending.finish(p.PRINT_DONE, 0, b"OK")  # ended already: nothing more is sent
        free = program.Program(prefix=prefix, lock_timeout=0)
        free._lock_prefix()
        free._unlock_prefix()
        reader = p.PacketReader()
        reader.feed(theirs.recv(4096))
        self.assertEqual(reader.next(), (p.CANCEL_PRINT_DONE, 0, p.text_body(1, b"no such paper")))
        self.assertIsNone(reader.next())

    def test_the_window_font_is_linked_once_for_both_interface_fonts_before_a_start(self):
        section = ("[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\FontLink\\\\"
                   "SystemLink] 1\n")
        link = '=str(7):"wqy-microhei.ttc,WenQuanYi Micro Hei"\n'
        with tempfile.TemporaryDirectory() as prefix:
            self.assertTrue(wine.font_linked(prefix), "no registry: nothing to link")
            for text, linked in ((section + '"System"' + link, False),
                                 ("[Other] 1\n" + '"System"' + link + '"Tahoma"' + link, False),
                                 (section + '"System"' + link + '"Tahoma"' + link, True)):
                pathlib.Path(prefix, "system.reg").write_text("WINE REGISTRY Version 2\n" + text)
                self.assertEqual(wine.font_linked(prefix), linked, text)
            # A program's start links the font where the prefix lacks it, then runs it.
            wine_script, exe = os.path.join(prefix, "wine"), os.path.join(prefix, "proxy.exe")
            for path, text in ((wine_script, '#!/bin/sh\necho "$2" >>"$0.said"\n'), (exe, ""), (
                    os.path.join(prefix, "tavri-printer-query.exe"), ""), (os.path.join(
                        prefix, "system.reg"), "WINE REGISTRY Version 2\n")):
                pathlib.Path(path).write_text(text)
            os.chmod(wine_script, 0o755)
            launched = program.Program(exe=exe, wine=wine_script, prefix=prefix).launch()
            launched.process.wait()
            busy = program.Program(prefix=prefix, lock_timeout=0)
            self.assertRaises(PrefixBusy, busy._lock_prefix)  # a launched program holds it
            launched.kill()
            self.assertEqual(pathlib.Path(wine_script + ".said").read_text(), "font-link\nx\n")

    def test_a_second_job_waits_for_the_first_then_gives_up_by_name(self):
        with tempfile.TemporaryDirectory() as prefix:
            first, told = program.Program(exe="x", wine="y", prefix=prefix), []
            first._lock_prefix()
            for on_wait in (None, told.append):
                second = program.Program(exe="x", wine="y", prefix=prefix, lock_timeout=0.5,
                                         on_wait=on_wait)
                with self.assertRaisesRegex(PrefixBusy, "busy for 0.5 s"):
                    second._lock_prefix()
            self.assertEqual(told, ["waiting for another job in the Wine prefix " + prefix])
            first._unlock_prefix()
            self.assertRaises(OSError, program.Program(exe="x", wine="/none", prefix=prefix).start)
            second._lock_prefix()
            second._unlock_prefix()


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
        self.assertEqual(p.describe_exit(0), "exit status 0 (after a session)")
        for path in sorted((ROOT / "src").rglob("*.[ch]*")):
            twins = set(cpp) & set(DECLARATION.findall(path.read_text(encoding="utf-8")))
            self.assertFalse(path != HEADER and twins, "%s declares %s again" % (path, twins))


if __name__ == "__main__":
    unittest.main()
