"""The start of a print job on the wire: one refused record and one bitmap
job; the record check row by row is tested in the start-print unit tests."""
import contextlib
import os
import unittest

import peer

JOB = 0x0A0B0C0D
# The rig's A4 page at 300 dpi: 2479 x 3508 device pixels.
PAGE_SIZE_OK = bytes.fromhex("00000000" "09af" "0db4")


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


class StartPrint(unittest.TestCase):
    def test_refused_record_is_answered_with_its_code(self):
        with peer.Session() as session:
            packet = session.request(1, 100, peer.start_print_record(job_id=7, pages=0))
            self.assertEqual(packet.raw, peer.frame(0x1001, 100, peer.reply_body(
                23, b"check request header failed.")))
            self.assertIn(":err:printproxy:check_req_header Invalid reserved1 0\n",
                          session.stderr())
            # No job was accepted: the page-size query still knows job 0 only.
            self.assertEqual(session.request(8, 101, peer.u32(0)).body, bytes(8))

    def test_bitmap_job_started_from_another_folder(self):
        folder = os.path.join(peer.BUILD_DIR, "e2e-start-print-cwd")
        with working_directory(folder), peer.Session(env=peer.program_env(peer.TRACE)) as session:
            record = peer.start_print_record(job_id=JOB, output="e2e_start_print.ps", pages=2)
            packet = session.request(1, 21, record)
            self.assertEqual(packet.raw, peer.frame(0x1001, 21, peer.reply_body(0)))
            packet = session.request(8, 22, peer.u32(JOB))
            self.assertEqual(packet.body, PAGE_SIZE_OK)
            err = session.stderr()
            self.assertRegex(err, r"start heartbeat timer [0-9a-fA-F]{8,16}\n")
            self.assertIn("done, error_code = 0\n", err)
            self.assertNotIn(":err:", err)
        self.assertFalse(os.path.exists(os.path.join(folder, "e2e_start_print.ps")),
                         "output went to the working directory")

    def test_refused_record_does_not_replace_the_running_jobs(self):
        # The running job has 2 pages; a refused record claiming 1 must not
        # become the record its pages are counted against.
        with peer.Session() as session:
            record = peer.start_print_record(job_id=JOB, output="e2e_running.ps", pages=2)
            self.assertEqual(session.request(1, 31, record).reply(), (0, b""))
            intruder = peer.start_print_record(job_id=JOB + 1, output="e2e_other.ps", pages=1)
            self.assertEqual(session.request(1, 32, intruder).reply(), (21, b"Print in progress"))
            page = session.request(2, 33, b"/nonexistent/page-1.bmp\x00")
            self.assertEqual(page.reply(), (6, b""))
            # Still one page to go: the job is running, so a new record is refused.
            self.assertEqual(session.request(1, 34, intruder).reply(), (21, b"Print in progress"))
            self.assertEqual(session.request(8, 35, peer.u32(JOB)).body, PAGE_SIZE_OK)


if __name__ == "__main__":
    peer.main()
