"""The wire protocol byte by byte (malformed packets: the hostile server),
and the messages after which the program ends the session."""
import struct
import time
import unittest

import peer
from peer import p

OK, NOT_IMPLEMENTED = (0, b"OK"), (21, b"Action not implemented")
PRINTER = peer.PRINTER.encode() + b"\0"


class Replies(unittest.TestCase):
    def test_answers_byte_exact(self):
        with peer.Session() as session:
            # One byte at a time, still one packet. (Short bodies and unknown
            # codes: the hostile pass.)
            for byte in p.frame(3, 77, p.u32(12345)):
                session.send(bytes((byte,)))
                time.sleep(0.002)
            self.assertEqual(session.expect(0x1003).raw, p.frame(0x1003, 77, p.text_body(*OK)))
            self.assertEqual(session.request(0xF005, 1, b"x", answer=5).reply(), NOT_IMPLEMENTED)
            for req_id in (10, 11):
                self.assertEqual(session.request(6, req_id, p.u32(99)).reply(), OK, "end job twice")
            # Page size: status little-endian; 25 for another job, 1 for a short body.
            self.assertEqual(session.request(8, 20, p.u32(0)).body, bytes(8))
            self.assertEqual(session.request(8, 21, p.u32(7)).body, b"\x19" + bytes(7))
            self.assertEqual(session.request(8, 22, b"\x00\x07").body, b"\x01" + bytes(7))
            # A page outside a job finds no document.
            self.assertEqual(session.request(2, 23, b"/tmp/x.bmp\0").reply(), (1, b""))


class SessionEnds(unittest.TestCase):
    def test_after_notices_and_dialogs(self):
        # (what, [(code, body, answer: (status, text), None for a notice)], log lines)
        text_job = peer.record(77, "dialogs-job.ps", data_type=2)
        for what, steps, lines in (
                ("done", [(3, p.u32(0), OK), (0x3001, p.text_body(5), None)],
                 ("print done: 5, msg: (null)", "Client exited")),
                ("done with text", [(0x3001, struct.pack(">iI", -3, 4) + b"ab\x00d", None)],
                 ('print done: -3, msg: "ab"', "Client exited")),
                ("cancel", [(0x3003, struct.pack(">II", 7, 100) + b"short", None)],
                 ("cancel print done: 7, msg: (null)", "Client exited")),
                # Wine 8 has no printer-properties dialog: PrinterProperties
                # fails with ERROR_CALL_NOT_IMPLEMENTED.
                ("device dialog", [(5, PRINTER, (1, b""))],
                 ("err:printproxy:set_printer_DrvDevicePropertySheets PrinterProperties "
                  "error: 120 \n",)),
                # A text job is accepted, and runs, though no document can
                # start for it: nothing is left open when the session ends.
                ("dialog in a job", [(1, text_job, (1, b"")),
                                     (4, PRINTER, (13, b"Printing in progress"))], ())):
            with self.subTest(what), peer.Session(env=peer.program_env(peer.TRACE)) as session:
                for req_id, (code, body, answer) in enumerate(steps, 1):
                    if answer is None:
                        session.send_packet(code, 0, body)
                    else:
                        self.assertEqual(session.request(code, req_id, body, timeout=30).reply(),
                                         answer)
                self.assertTrue(session.closed_by_program(), "more after the end")
                self.assertEqual(session.process.wait(timeout=10), 0)
                for line in lines:
                    self.assertIn(line, session.stderr())


if __name__ == "__main__":
    peer.main()
