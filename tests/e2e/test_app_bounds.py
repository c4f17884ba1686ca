"""The printer application's bounds against another local user's jobs:
raster received whole, so that a stalled sender holds nothing and a cancel
ends its job at once; pages counted before one is made, copies included;
one page image at a time; output and run time bounded."""
import contextlib
import fcntl
import glob
import os
import re
import signal
import struct
import subprocess
import threading
import time
import unittest

from test_cups_backend import read, run, wait_until
from test_printer_app import PREFIX, TESTS, pages, peer, start_app

OTHER = os.environ.get("PROXY_OTHER_USER", "tavri-e2e-other")
LIMITS = "max-pages=40", "max-page=64", "max-output=100", "max-seconds=10", "stall-seconds=6"

# Sends its standard input as a job, or cancels one; with a stall, sends that
# many bytes, then nothing, holding on. Says the job's id.
SENDER = r"""
import http.client, re, socket, struct, sys, time
port, printer, what, number, stall = sys.argv[1:]
def attr(tag, name, value):
    return struct.pack(">bh", tag, len(name)) + name.encode() + struct.pack(">h", len(value)) + value
number = attr(0x21, "job-id" if what == "cancel" else "copies", struct.pack(">i", int(number)))
body = struct.pack(">bbhib", 2, 0, 8 if what == "cancel" else 2, 1, 1) + attr(
    0x47, "attributes-charset", b"utf-8") + attr(0x48, "attributes-natural-language", b"en") + attr(
    0x45, "printer-uri", b"ipp://localhost:%s/ipp/print/%s" % (port.encode(), printer.encode()))
body += number if what == "cancel" else attr(0x49, "document-format", what.encode()) + b"\x02" + number
body += b"\x03" + sys.stdin.buffer.read()
s = socket.create_connection(("127.0.0.1", int(port)))
s.sendall(b"POST /ipp/print/%s HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/ipp\r\n"
          b"Content-Length: %d\r\n\r\n" % (printer.encode(), len(body)) + body[:int(stall or len(body))])
while stall:
    time.sleep(1)
answer = http.client.HTTPResponse(s)
answer.begin()
print(int.from_bytes((re.search(rb"job-id\x00\x04(....)", answer.read()) or [b""] * 2)[1], "big"))
"""


def raster(count, width, height, striped=False):
    """PWG raster of `count` grey pages, white or in stripes, each 256 lines a group."""
    header = bytearray(1796)
    struct.pack_into(">II", header, 276, 300, 300)
    struct.pack_into(">8I", header, 372, width, height, 0, 8, 8, width, 0, 18)
    stripes = bytes(x * 37 % 251 for x in range(width))
    line = b"".join(bytes([257 - len(run)]) + run for run in (
        stripes[x:x + 128] for x in range(0, width, 128))) if striped else b"\x80"
    return b"RaS2" + (bytes(header) + (b"\xff" + line) * ((height + 255) // 256)) * count


class Bounds(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.addCleanup = cls.addClassCleanup
        # Another checkout's run may hold the prefix: its application is refused meanwhile.
        host = wait_until(lambda: (lambda host: host.app.poll() is None and host)(
            start_app(cls, PREFIX, 0, *LIMITS)), 600, "the prefix free for the application")
        vars(host).update(pid=int(run("pgrep", "-s", str(host.app.pid), "-f",
                                      "tavri-printer-app server").stdout.split()[-1]))
        for name, value in vars(host).items():
            setattr(cls, name, value)

    def send(self, what, document, number=1, stall=""):
        """As the other user: the job's id once answered, unless it stalls."""
        sender = subprocess.Popen(
            ["runuser", "-u", OTHER, "--", "/usr/bin/python3", "-c", SENDER, str(self.port),
             peer.PRINTER, what, str(number), str(stall)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, start_new_session=True)
        self.addCleanup(lambda: sender.poll() is None and os.killpg(sender.pid, signal.SIGKILL))
        if not stall:
            return int(sender.communicate(document, 300)[0])
        threading.Thread(target=sender.communicate, args=(document,), daemon=True).start()

    def job(self, number):  # its state and message, as its owner sees them
        return " ".join(re.findall(r"job-state(?:-message)? \(\w+\) = (.*)", run(
            "ipptool", "-tv", "%s/%d" % (self.uri, number), TESTS + "/get-job-attributes.test")
            .stdout))

    def last_job(self):  # the newest job not yet ended
        return max(map(int, re.findall(r"job-id \(integer\) = (\d+)", run(
            "ipptool", "-tv", self.uri, TESTS + "/get-jobs.test").stdout)), default=0)

    def ended(self, number, state, message, seconds=120):
        """Waits for the job to end, the peak /dev/shm use of the page folders meanwhile."""
        def done():
            with contextlib.suppress(OSError):  # a page removed meanwhile
                self.shm = max(self.shm, sum(os.stat(page).st_blocks * 512 for page in glob.glob(
                    "/dev/shm/tavri-app-%d-*/*" % self.pid)))
            return state in self.job(number)
        self.shm = 0
        wait_until(done, seconds, "job %d %s" % (number, state))
        self.assertIn(message, self.job(number))
        rss = int(re.search(rb"VmHWM:\s+(\d+)", read("/proc/%d/status" % self.pid)).group(1))
        print("\njob %d: peak /dev/shm %.1f MiB, the application's peak RSS %d MiB"
              % (number, self.shm / 2**20, rss >> 10))

    def test_too_many_pages_are_refused_before_one_is_made(self):
        job = self.send("image/pwg-raster", raster(1000, 7900, 8400))  # 63 MiB each, 2 MiB sent
        self.ended(job, "aborted", "the document has more than 40 pages")
        self.assertEqual(0, self.shm)
        job = self.send("application/pdf", read(pages(".pdf", 10, self.work)), 5)  # copies
        self.ended(job, "aborted", "the job would print 50 pages, more than 40")

    def test_pages_print_one_at_a_time_until_the_output_bound(self):
        job = self.send("image/pwg-raster", raster(30, 7900, 8400, striped=True))
        self.ended(job, "aborted", "the driver's output grew past 100 MiB")
        self.assertTrue(60 << 20 < self.shm <= 64 << 20, self.shm)  # one page image at a time
        self.assertEqual([], glob.glob("/dev/shm/tavri-app-%d-*" % self.pid) + glob.glob(
            "%s/drive_c/tavri-app-%d-*" % (PREFIX, self.pid)) + glob.glob(
            "%s/job-%d-*" % (self.out, job)))

    def test_a_job_kept_waiting_for_the_prefix_ends_at_the_run_time_bound(self):
        with open(PREFIX + "/.tavri-print.lock") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            job = self.send("image/pwg-raster", raster(1, 2480, 3508))
            self.ended(job, "aborted", "the job ran for longer than 10 s", 30)

    def test_a_stalled_sender_holds_nothing_and_its_job_ends_at_a_cancel(self):
        page = raster(1, 2480, 3508)
        self.send("image/pwg-raster", page, stall=len(page) // 2 + 300)
        job = wait_until(self.last_job, 60, "the job incoming")
        self.assertIn("held", self.job(job))
        cancelled = time.monotonic()
        self.send("cancel", b"", job)
        wait_until(lambda: "canceled" in self.job(job), 10, "job %d cancelled" % job)
        print("\ncancelled within %.2f s" % (time.monotonic() - cancelled))
        # Meanwhile and after, the prefix prints: another sender stalls until its bound.
        self.send("image/pwg-raster", page, stall=len(page) // 2 + 300)
        stalled = wait_until(lambda: self.last_job() > job and self.last_job(), 60, "a job")
        printed = self.send("image/pwg-raster", raster(2, 2480, 3508))
        wait_until(lambda: os.listdir(self.out), 60, "job %d printed" % printed)
        self.ended(stalled, "aborted", "the sender sent nothing for 6 s")


if __name__ == "__main__":
    unittest.main()
