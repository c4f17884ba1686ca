"""The settings dialogs' answers that need no one at the desktop (every
outcome is driven in the printer unit tests); the session ends after each."""
import os
import unittest

import peer

PRINTER = os.environ.get("PROXY_TEST_PRINTER", "TavriTestPDF").encode() + b"\0"


class Dialogs(unittest.TestCase):
    def assert_answered_then_ended(self, session, packet, req_id, status, text=b""):
        self.assertEqual(packet.raw, peer.frame(packet.code, req_id, peer.reply_body(status, text)))
        self.assertTrue(session.closed_by_program(), "the session went on after the answer")
        self.assertEqual(session.wait_exit(), 0)

    # Wine 8 has no printer-properties dialog: PrinterProperties fails with
    # ERROR_CALL_NOT_IMPLEMENTED.
    def test_device_dialog_is_not_implemented_in_wine(self):
        with peer.Session(env=peer.program_env(peer.TRACE)) as session:
            self.assert_answered_then_ended(session, session.request(5, 45, PRINTER), 45, 1)
            self.assertIn("err:printproxy:set_printer_DrvDevicePropertySheets PrinterProperties "
                          "error: 120 \n", session.stderr())

    def test_dialog_is_refused_while_a_job_runs(self):
        # A text job is accepted, and runs, though no document can start for
        # it: nothing is left open when the session ends.
        with peer.Session() as session:
            record = peer.record(77, "dialogs-job.ps", data_type=2)
            self.assertEqual(session.request(1, 1, record, timeout=30).reply(), (1, b""))
            self.assert_answered_then_ended(session, session.request(4, 2, PRINTER), 2, 13,
                                            b"Printing in progress")


if __name__ == "__main__":
    peer.main()
