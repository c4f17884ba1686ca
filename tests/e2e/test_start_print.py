"""The start of a print job: the record check, the job's acceptance, its
heartbeat and its printer document, against the running program."""
import contextlib
import os
import shutil
import subprocess
import time
import unittest

import peer

CHECK_FAILED = b"check request header failed."
JOB = 0x0A0B0C0D
# The rig's A4 page at 300 dpi: 2479 x 3508 device pixels.
PAGE_SIZE_OK = bytes.fromhex("00000000" "09af" "0db4")
UNOPENABLE = "No Such Printer e2e"


def rig_printer():
    return os.environ.get("PROXY_TEST_PRINTER", "TavriTestPDF")


@contextlib.contextmanager
def working_directory(path):
    """Programs started inside inherit `path` as their working directory."""
    os.makedirs(path, exist_ok=True)
    saved = os.getcwd()
    os.chdir(path)
    try:
        yield path
    finally:
        os.chdir(saved)


def visible_windows(process):
    """Ids of the program's visible top-level windows, or None when the rig's
    display cannot be asked."""
    if shutil.which("xdotool") is None:
        return None
    env = dict(os.environ, DISPLAY=os.environ.get("PROXY_DISPLAY") or ":87")
    result = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(process.pid)],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode not in (0, 1) or "Can't open display" in result.stderr:
        return None
    return result.stdout.split()


def windows_after(process, seconds, until_found):
    """The program's visible windows once some are up (until_found) or once
    `seconds` have passed; None when the display cannot be asked."""
    deadline = time.monotonic() + seconds
    while True:
        windows = visible_windows(process)
        if windows is None or (windows and until_found) or time.monotonic() >= deadline:
            return windows
        time.sleep(0.05)


def positions_in_order(text, lines):
    """Where each line occurs after the one before it; -1 from the first
    line that does not."""
    found, start = [], 0
    for line in lines:
        at = text.find(line, start) if start >= 0 else -1
        found.append(at)
        start = at + len(line) if at >= 0 else -1
    return found


class Checks(unittest.TestCase):
    """Refused records are answered with the first failed check's code."""

    def test_refusals_in_check_order(self):
        printer = rig_printer()
        rows = [
            ("printer probe before data type", dict(printer=UNOPENABLE, data_type=3), 8,
             "Can't open printer %s\n" % UNOPENABLE),
            ("data type", dict(data_type=3), 5, "Invalid data type, 3.\n"),
            ("data type before output name", dict(data_type=0, output=""), 5,
             "Invalid data type, 0.\n"),
            ("output name", dict(output=""), 9, "Invalid output file name\n"),
            ("duplex 0 with its bit", dict(fields=peer.FIELD_DUPLEX, duplex=0), 14,
             "Invalid duplex mode 0\n"),
            ("duplex before page count", dict(fields=peer.FIELD_DUPLEX, duplex=4, pages=0), 14,
             "Invalid duplex mode 4\n"),
            ("page count", dict(pages=0), 23, "Invalid reserved1 0\n"),
            ("printer name without terminator", dict(printer=b"P" * 128, data_type=3), 9,
             "Invalid printer name\n"),
            ("output name without terminator",
             dict(printer=UNOPENABLE, output=(printer.encode() + b"o" * 128)[:128]), 9,
             "Invalid output file name\n"),
        ]
        with peer.Session() as session:
            for req_id, (row, fields, code, line) in enumerate(rows, 100):
                with self.subTest(row=row):
                    packet = session.request(1, req_id, peer.start_print_record(job_id=7, **fields))
                    self.assertEqual(packet.raw,
                                     peer.frame(0x1001, req_id, peer.reply_body(code, CHECK_FAILED)))
                    self.assertIn(":err:printproxy:check_req_header " + line, session.stderr())
            # No job was accepted: the page-size query still knows job 0 only.
            packet = session.request(8, 200, peer.u32(0))
            self.assertEqual(packet.body, bytes(8))
            err = session.stderr()
            self.assertEqual(err.count(":err:printproxy:HandleStartPrint check request header "
                                       "failed.\n"), len(rows), err)

    def test_refusals_open_no_window(self):
        rows = [("printer cannot be opened", dict(printer=UNOPENABLE), 8, CHECK_FAILED),
                ("quality without Y resolution",
                 dict(fields=peer.FIELD_PRINT_QUALITY, print_quality=600), 12, b"")]
        for row, fields, code, text in rows:
            with self.subTest(row=row), peer.Session() as session:
                packet = session.request(1, 1, peer.start_print_record(**fields))
                self.assertEqual(packet.reply(), (code, text))
                # A started window shows within some 30 ms on the rig.
                windows = windows_after(session.process, 1.0, until_found=False)
                if windows is None:
                    self.skipTest("xdotool cannot ask the rig's display")
                self.assertEqual(windows, [])


class Jobs(unittest.TestCase):
    def test_bitmap_job_started_from_another_folder(self):
        folder = os.path.join(peer.BUILD_DIR, "e2e-start-print-cwd")
        with working_directory(folder), peer.Session(env=peer.program_env(peer.TRACE)) as session:
            record = peer.start_print_record(job_id=JOB, output="e2e_start_print.ps", pages=2)
            packet = session.request(1, 21, record)
            self.assertEqual(packet.raw, peer.frame(0x1001, 21, peer.reply_body(0)))
            packet = session.request(8, 22, peer.u32(JOB))
            self.assertEqual(packet.body, PAGE_SIZE_OK)
            windows = windows_after(session.process, 5.0, until_found=True)
            if windows is not None:
                self.assertEqual(len(windows), 1, "the progress window is shown")
            err = session.stderr()
            stamped = r":trace:printproxy:HandleStartPrint \[[^\]\n]*\] "
            self.assertRegex(err, stamped + r"\n")
            self.assertRegex(err, stamped + r"start heartbeat timer [0-9a-fA-F]{8,16}\n")
            found = positions_in_order(err, ["start heartbeat timer ", "done, error_code = 0\n"])
            self.assertNotIn(-1, found, err)
            self.assertNotIn(":err:", err)

    def test_record_during_a_job_leaves_the_running_job(self):
        with peer.Session() as session:
            packet = session.request(1, 1, peer.start_print_record(job_id=1, pages=3))
            self.assertEqual(packet.reply(), (0, b""))
            # Valid on its own: other names, another job id.
            other = peer.start_print_record(job_id=2, printer=rig_printer().lower(),
                                            output="other.ps", pages=5)
            packet = session.request(1, 2, other)
            self.assertEqual(packet.raw,
                             peer.frame(0x1001, 2, peer.reply_body(21, b"Print in progress")))
            packet = session.request(8, 3, peer.u32(1))
            self.assertEqual(packet.body, PAGE_SIZE_OK)
            packet = session.request(8, 4, peer.u32(2))
            self.assertEqual(packet.body[:4], b"\x19\x00\x00\x00")

    def test_text_job_is_answered_one_after_its_heartbeat_started(self):
        job = 0x00070008
        with peer.Session(env=peer.program_env(peer.TRACE)) as session:
            packet = session.request(1, 30, peer.start_print_record(job_id=job, data_type=2))
            self.assertEqual(packet.raw, peer.frame(0x1001, 30, peer.reply_body(1)))
            err = session.stderr()
            found = positions_in_order(err, ["start heartbeat timer ",
                                    ":fixme:printproxy:start_doc_for_text not support print text\n",
                                    "done, error_code = 1\n"])
            self.assertNotIn(-1, found, err)
            # Ending the job wakes its heartbeat at once.
            session.send_packet(6, 31, peer.u32(job))
            heartbeat = session.expect(0x2002, skip_heartbeats=False)
            self.assertEqual(heartbeat.raw, peer.frame(0x2002, 0, peer.u32(job)))
            packet = session.expect(0x1006)
            self.assertEqual(packet.raw, peer.frame(0x1006, 31, peer.reply_body(0, b"OK")))


if __name__ == "__main__":
    peer.main()
