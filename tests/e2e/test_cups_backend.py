"""The CUPS backend on the rig's private cupsd: queues made with the
project's command, documents printed with lp and delivered to a folder,
a cancelled job, and a Wine printer that does not exist."""
import glob
import os
import subprocess
import sys
import time

import peer
from test_client import Printed, make_pdf

QUEUE_TOOL = os.path.join(peer.SOURCE_DIR, "tools", "tavri_cups_queue.py")
PREFIX = os.environ.get("WINEPREFIX", os.path.join(peer.BUILD_DIR, "wineprefix"))
# lp and lpadmin talk to the rig's cupsd, as scripts/env.sh names it, also
# when ctest is run from a shell that did not source it.
os.environ.setdefault("CUPS_SERVER", subprocess.run(
    ["bash", "-c", '. "$1"; echo "$CUPS_SERVER"', "_",
     os.path.join(peer.SOURCE_DIR, "scripts", "env.sh")],
    capture_output=True, text=True, check=True).stdout.strip())


def lp(queue, path):
    out = subprocess.run(["lp", "-d", queue, path], capture_output=True, text=True,
                         check=True).stdout
    return out.split()[3].rsplit("-", 1)[1]  # "request id is QUEUE-7 (1 file(s))"


def not_completed(queue):
    return subprocess.run(["lpstat", "-W", "not-completed", "-o", queue],
                          capture_output=True, text=True).stdout


def program_pids(job):
    """Processes that the backend started for CUPS job `job`."""
    pids = []
    for environ in glob.glob("/proc/[0-9]*/environ"):
        try:
            with open(environ, "rb") as f:
                if b"\0TAVRI_CUPS_JOB=%s\0" % job.encode() in b"\0" + f.read():
                    pids.append(environ.split("/")[2])
        except OSError:
            pass
    return pids


def wait_until(check, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError("not within %d s: %s" % (seconds, what))


class Backend(Printed):
    def setUp(self):
        super().setUp()
        self.folder = os.path.join(self.work, "delivered")
        os.mkdir(self.folder)

    def make_queue(self, wine_printer):
        queue = "TavriE2E%d%s" % (os.getpid(), self._testMethodName[7:14])
        subprocess.run([sys.executable, QUEUE_TOOL, queue, wine_printer, "--to", self.folder,
                        "--prefix", PREFIX, "--exe", peer.PROXY_EXE], check=True,
                       stdout=subprocess.DEVNULL)
        self.addCleanup(subprocess.run, ["lpadmin", "-x", queue])
        return queue

    def delivered(self):
        return [os.path.join(self.folder, name) for name in os.listdir(self.folder)]

    def test_lp_of_a_pdf_reaches_the_folder_as_the_pdf_looks(self):
        queue = self.make_queue(os.environ.get("PROXY_TEST_PRINTER", "TavriTestPDF"))
        pdf = make_pdf(os.path.join(self.work, "two.pdf"), 2)
        job = lp(queue, pdf)
        wait_until(lambda: not not_completed(queue), 120, "job %s completed" % job)
        files = self.delivered()
        self.assertEqual([os.path.basename(f) for f in files], ["%s-two.pdf.ps" % job])
        self.assert_prints_like(files[0], pdf, [1, 2])
        self.assertEqual(glob.glob(os.path.join(peer.drive_c(), "tavri-cups-%s-*" % job)), [])
        logs = os.environ.get("PROXY_LOG_DIR", os.path.join(peer.BUILD_DIR, "logs"))
        with open(os.path.join(logs, "cups_page_log")) as log:
            lines = [line for line in log if line.startswith("%s root %s " % (queue, job))]
        self.assertIn(" total 2 ", lines[-1] if lines else "no line in the page log")

    def test_a_cancelled_job_ends_the_program_and_delivers_nothing(self):
        queue = self.make_queue(os.environ.get("PROXY_TEST_PRINTER", "TavriTestPDF"))
        job = lp(queue, make_pdf(os.path.join(self.work, "twelve.pdf"), 12))
        wait_until(lambda: program_pids(job), 60, "the program runs for job %s" % job)
        time.sleep(1)
        subprocess.run(["cancel", "%s-%s" % (queue, job)], check=True)
        wait_until(lambda: not program_pids(job) and not not_completed(queue), 15,
                   "job %s and its program gone after the cancel" % job)
        self.assertEqual(self.delivered(), [])
        self.assertEqual(glob.glob(os.path.join(peer.drive_c(), "tavri-cups-%s-*" % job)), [])

    def test_a_wine_printer_that_does_not_exist_fails_clearly(self):
        queue = self.make_queue("No Such Wine Printer")
        job = lp(queue, make_pdf(os.path.join(self.work, "one.pdf"), 1))

        def reason():
            out = subprocess.run(["lpstat", "-p", queue], capture_output=True, text=True).stdout
            return "cannot be opened" in out and out
        status = wait_until(reason, 60, "lpstat names the failure")
        self.assertIn("The Wine printer No Such Wine Printer cannot be opened in %s" % PREFIX,
                      status)
        wait_until(lambda: not program_pids(job), 15, "no program left for job %s" % job)
        self.assertEqual(self.delivered(), [])


if __name__ == "__main__":
    peer.main()
