"""The printer's settings dialogs and the shutdown request on the wire: the
document dialog confirmed and kept as a picture, the answers that need no
one at the desktop, and the shutdown in a Wine prefix of its own (every
outcome of the dialog is driven in the printer unit tests)."""
import os
import shutil
import subprocess
import time
import unittest

import desktop
import peer

PRINTER = desktop.RIG["PROXY_TEST_PRINTER"] or "TavriTestPDF"
# The witness program's window title in English.
ENGLISH = {"LC_ALL": "C.UTF-8", "LANG": "C.UTF-8"}
OK_REPLY = peer.reply_body(0, b"OK")


def name_body(name):
    return name.encode("latin-1") + b"\x00"


def traced_session(prefix=None):
    extra = dict(ENGLISH)
    if prefix:
        extra["WINEPREFIX"] = prefix
    return peer.Session(env=peer.program_env(peer.TRACE, extra=extra))


class DocumentDialog(unittest.TestCase):
    """The driver's dialog shown for the server, photographed for people to
    see, and confirmed as a user would."""

    @classmethod
    def setUpClass(cls):
        problem = desktop.display_problem() or (shutil.which("import") is None and
                                                "ImageMagick's import is not installed")
        if problem:
            raise unittest.SkipTest(problem)

    def test_confirmed_dialog_is_answered_0(self):
        with traced_session() as session:
            session.send_packet(4, 31, name_body(PRINTER))
            window = desktop.wait_for_program_window(session.process)
            self.assertIsNotNone(window, "no dialog appeared")
            time.sleep(0.5)  # let it paint
            picture = desktop.screenshot(window, "document_properties.png")
            self.assertGreater(os.path.getsize(picture), 1000, "empty picture " + picture)
            desktop.press(window, "Return")
            packet = session.expect(0x1004, timeout=15)
            self.assertEqual(packet.raw, peer.frame(0x1004, 31, peer.reply_body(0)))
            self.assertTrue(session.closed_by_program(), "the session went on after the answer")
            self.assertEqual(session.wait_exit(), 0)
            self.assertIn("set_printer_DrvDocumentPropertySheets set printer ok\n",
                          session.stderr())


class WithoutDialog(unittest.TestCase):
    """Answered at once, with no one at the desktop: a dialog would block."""

    OUTPUT = "tavri-dialogs-job.ps"

    def tearDown(self):
        try:
            os.remove(os.path.join(peer.drive_c(), self.OUTPUT))
        except OSError:
            pass

    # Wine 8 has no printer-properties dialog: PrinterProperties fails with
    # ERROR_CALL_NOT_IMPLEMENTED.
    def test_device_dialog_is_not_implemented_in_wine(self):
        with traced_session() as session:
            packet = session.request(5, 45, name_body(PRINTER), timeout=10)
            self.assertEqual(packet.raw, peer.frame(0x1005, 45, peer.reply_body(1)))
            self.assertTrue(session.closed_by_program(), "the session went on after the answer")
            self.assertEqual(session.wait_exit(), 0)
            self.assertIn("err:printproxy:set_printer_DrvDevicePropertySheets PrinterProperties "
                          "error: 120 \n", session.stderr())

    def test_dialog_is_refused_while_printing(self):
        # Accepted is running, whether or not its document could start.
        with traced_session() as session:
            record = peer.start_print_record(job_id=77, output="C:\\" + self.OUTPUT, pages=3)
            session.request(1, 1, record, timeout=30)
            packet = session.request(4, 2, name_body(PRINTER))
            self.assertEqual(packet.raw, peer.frame(0x1004, 2, peer.reply_body(
                13, b"Printing in progress")))
            self.assertTrue(session.closed_by_program(), "the session went on after the answer")
            self.assertEqual(session.wait_exit(), 0)


class Shutdown(unittest.TestCase):
    """Ends the Wine session of a prefix of its own: a windowed witness
    program there is closed by it, while the rig's shared prefix runs on."""

    PREFIX_NAME = "e2e-shutdown-prefix"

    @classmethod
    def setUpClass(cls):
        problem = desktop.display_problem()
        if problem:
            raise unittest.SkipTest(problem)
        cls.prefix = desktop.own_prefix(cls.PREFIX_NAME)

    def tearDown(self):
        desktop.wineserver(self.prefix, "-k")
        desktop.wineserver(self.prefix, "-w")

    def start_witness(self):
        """The unix pid of a Notepad in the test's prefix (Wine starts it as
        a process of its own)."""
        env = dict(desktop.wine_env(self.prefix), **ENGLISH)
        subprocess.run([peer.WINE_RUN, "start", "notepad"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        window = desktop.wait_for_window("--name", "Notepad$", seconds=60)
        self.assertIsNotNone(window, "the witness showed no window")
        pid = desktop.window_pid(window)
        self.assertIsNotNone(pid, "the witness's window has no pid")
        return pid

    def test_answered_before_the_session_ends(self):
        shared_server = os.path.join(peer.BUILD_DIR, "run", "wineserver.pid")
        witness = self.start_witness()
        with traced_session(prefix=self.prefix) as session:
            packet = session.request(7, 7007, b"ignored body")
            self.assertTrue(desktop.running(witness),
                            "the shutdown took effect before the answer came")
            self.assertEqual(packet.raw, peer.frame(0x1007, 7007, OK_REPLY))
            self.assertEqual(len(packet.raw), 30)
            self.assertTrue(session.closed_by_program(), "the session went on after the answer")
            self.assertEqual(session.wait_exit(), 0)
        self.assertTrue(desktop.wait_until_ended(witness, 30), "the witness was not closed")
        self.assertNotEqual(desktop.recorded_process_running(shared_server), False,
                            "the shared prefix's wineserver ended")


if __name__ == "__main__":
    peer.main()
