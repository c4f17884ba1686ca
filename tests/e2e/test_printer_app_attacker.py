"""Another local user, tavri-e2e-other, against the printer application
that the prefix's owner runs as README says: it reaches neither the
command socket nor the owner's forms, changes no job but its own, reads
nothing a job writes and cannot take the prefix's lock; a third user,
nobody, prints beside them. Its jobs are bounded: raster is received
whole, so that a stalled sender holds nothing and a cancel ends its job at
once; pages are counted before one is made, copies included; one page
image at a time; output and run time bounded."""
import contextlib
import glob
import os
import pathlib
import pwd
import re
import struct
import subprocess
import tempfile
import threading
import unittest

import peer
from test_cups_backend import USER, python_as, read, run, sh, wait_until
from test_printer_app import APP, JOB_ID, PREFIX, PRINT_JOB, TESTS, pages, printer_attributes
from test_printer_app import start_app

OTHER = os.environ.get("PROXY_OTHER_USER", "tavri-e2e-other")
OWNER = pwd.getpwnam(USER).pw_uid
FORBIDDEN = "client-error-forbidden"

REQUEST = """{
  OPERATION %s
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  %s
  ATTR name requesting-user-name $name
  %s
  DISPLAY status-message
}"""

# Reads, as the attacker, every file a job may write that it can open, until told to stop.
READER = r"""
import glob, os, sys, time
prefix, owner, loot, stop = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
end, places = time.time() + 600, [prefix + "/*", prefix + "/drive_c/*", "/dev/shm/tavri-*/*",
    prefix + "/drive_c/windows/system32/spool/printers/*", prefix + "/drive_c/users/*/AppData/Local/Temp/*"]
while not os.path.exists(stop) and time.time() < end:
    for name in sum((glob.glob(place) for place in places), []):
        try:
            if os.stat(name).st_uid == owner and os.stat(name).st_mtime > end - 600:
                with open(name, "rb"):
                    open(loot, "a").write(name + "\n")
        except OSError:
            pass
    time.sleep(0.02)
"""


def setUpModule():
    if run("id", "-u", OTHER).returncode:
        raise unittest.SkipTest("no second user %s (scripts/services creates it)" % OTHER)


def as_user(user, line, *more, **options):
    """`sh` of `line`, then `more`, as `user`."""
    return sh("runuser -u %s -- %s" % (user, line), *more, **options)


def job_text(uri, number):
    """The job's state and message, as its owner sees them."""
    out = sh("ipptool -tv", "%s/%d" % (uri, number), TESTS + "/get-job-attributes.test").stdout
    return " ".join(re.findall(r"job-state(?:-message)? \(\w+\) = (.*)", out))


class Requests:  # IPP requests to the application at self.uri, as any user
    def request(self, user, operation, job=None, name=None, extra="", document=None):
        """`operation` sent as `user` under `name`: ipptool's account of the answer."""
        path = tempfile.mktemp(".test", dir=self.work)
        job_id = job and "ATTR integer job-id %d" % job or ""
        pathlib.Path(path).write_text(REQUEST % (operation, job_id, extra))
        os.chmod(path, 0o644)
        named = ["-d", "name=" + (name or user)] + (["-f", document] if document else [])
        return as_user(user, "ipptool -tv", *named, self.uri, path).stdout

    def status(self, *request):
        return re.search(r"status-code = (\S+)", self.request(*request)).group(1)

    def held_job(self, user):
        held = "GROUP job-attributes-tag\nATTR keyword job-hold-until indefinite\nFILE $filename"
        out = self.request(user, "Print-Job", None, user, held, pages(".pdf", 1, self.work))
        return int(re.search(JOB_ID, out)[1])

    def job_state(self, job):
        return job_text(self.uri, job).split()[0]


class Attacker(unittest.TestCase, Requests):
    def setUp(self):
        vars(self).update(vars(start_app(self, PREFIX, 0)))  # work, out, log, port and uri

    def test_jobs_are_changed_by_their_senders_alone(self):
        owners, nobodys = self.held_job(USER), self.held_job("nobody")
        for job, name in ((owners, OTHER), (owners, USER), (nobodys, "nobody")):
            for operation in ("Cancel-Job", "Release-Job", "Hold-Job"):
                self.assertEqual(FORBIDDEN, self.status(OTHER, operation, job, name), (job, name))
        printer_operations = "Cancel-Jobs Cancel-My-Jobs Pause-Printer Resume-Printer Hold-New-Jobs"
        for operation in (printer_operations + " Release-Held-New-Jobs Disable-Printer").split():
            self.assertEqual(FORBIDDEN, self.status(OTHER, operation, None, USER), operation)
        mono = "GROUP printer-attributes-tag\nATTR keyword print-color-mode-default monochrome"
        self.assertEqual(FORBIDDEN, self.status(OTHER, "Set-Printer-Attributes", None, USER, mono))
        self.assertEqual(["pending-held"] * 2, [self.job_state(owners), self.job_state(nobodys)])
        # Each sender changes its own job, under any name; the owner any job.
        self.assertEqual("successful-ok", self.status("nobody", "Cancel-Job", nobodys, "x"))
        attackers = self.held_job(OTHER)
        self.assertEqual("successful-ok", self.status(USER, "Cancel-Job", attackers, "x"))
        self.assertEqual("successful-ok", self.status(USER, "Cancel-Job", owners))
        states = [self.job_state(job) for job in (owners, nobodys, attackers)]
        self.assertEqual(["canceled"] * 3, states)

    def post(self, user, cookie, token, origin, action="pause-printer"):
        """The printer page's `action` posted as `user`: whether it was done."""
        page = "http://127.0.0.1:%d/%s/" % (self.port, peer.PRINTER)
        sent = ["-b", "tavri-form=" + cookie, "-H", "Origin: " + origin]
        out = as_user(user, "curl -s", *sent, "-d", "session=%s&action=%s" % (token, action), page)
        return "Invalid form submission." not in out.stdout

    def form(self, user):
        """The printer page as `user` sees it: the cookie it is given, and the form's token."""
        out = as_user(user, "curl -s -D -", "http://127.0.0.1:%d/%s/" % (self.port, peer.PRINTER))
        cookie = re.search(r"Set-Cookie: tavri-form=(\w+)", out.stdout)[1]
        return cookie, re.search(r'name="session" value="(\w+)"', out.stdout)[1]

    def test_forms_are_the_owners_and_sent_from_its_pages(self):
        own, foreign = "http://127.0.0.1:%d" % self.port, "http://127.0.0.1:%d" % (self.port + 1)
        owners, attackers = self.form(USER), self.form(OTHER)
        for user, (cookie, token), origin in (
            (USER, attackers, own),  # the attacker's token, in the owner's browser
            (USER, (owners[0], attackers[1]), own),
            (USER, owners, foreign),  # the owner's own, from another site's page
            (OTHER, owners, own),  # a stolen cookie and token, from another uid
            (OTHER, attackers, own),  # the buttons are the owner's
        ):
            for action in ("pause-printer", "set-as-default", "hold-new-jobs"):
                self.assertFalse(self.post(user, cookie, token, origin, action), (user, origin))
        self.assertEqual("idle", printer_attributes(self.uri)["printer-state"])
        self.assertTrue(self.post(USER, *owners, own))
        self.assertEqual("stopped", printer_attributes(self.uri)["printer-state"])

    def test_the_command_socket_is_the_owners(self):
        status = as_user(USER, "env -i HOME=/", "WINEPREFIX=" + PREFIX, APP, "status").stdout
        self.assertIn("Running", status)
        path = re.search(rb"Listening for connections on '(/.*)'", read(self.log))[1].decode()
        self.assertEqual(0o700, os.stat(os.path.dirname(path)).st_mode & 0o777)
        connect = "import socket, sys; s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); "
        connect += "s.sendall(b'GET / HTTP/1.1\\r\\nHost: localhost\\r\\n\\r\\n'); "
        connect += "print(s.recv(99))"
        self.assertIn("Permission denied", as_user(OTHER, "python3 -c", connect, path).stderr)
        # A folder left open: the connection is still refused, by the peer's uid.
        os.chmod(os.path.dirname(path), 0o711)
        try:
            self.assertNotIn("HTTP", as_user(OTHER, "python3 -c", connect, path).stdout)
        finally:
            os.chmod(os.path.dirname(path), 0o700)
        refused = b"Refused uid %d on the command socket" % pwd.getpwnam(OTHER).pw_uid
        self.assertTrue(refused in read(self.log), "not logged: %s" % refused)

        # A folder another user made first: the server is refused.
        tmp = tempfile.mkdtemp(dir=self.work)
        os.chmod(tmp, 0o1777)
        as_user(OTHER, "mkdir -m 0777", "%s/tavri-printer-app-%d" % (tmp, OWNER))
        refused = start_app(self, PREFIX + "-second", 0, tmp=tmp)
        self.assertEqual(1, refused.app.wait(60))
        self.assertIn("of the command socket is not yours alone", read(refused.stderr).decode())

    def test_what_a_job_writes_is_the_owners_alone(self):
        warning = "warning: other users can list the Wine prefix " + PREFIX
        self.assertIn(warning, read(self.stderr).decode())
        lock = os.path.join(PREFIX, ".tavri-print.lock")
        if os.path.lexists(lock):
            os.remove(lock)
        pathlib.Path(lock).touch(0o644)  # as versions before this one made it
        os.chown(lock, OWNER, -1)
        loot, stop = os.path.join(self.work, "loot"), os.path.join(self.work, "stop")
        command = ["runuser", "-u", OTHER, "--", "python3", "-c", READER]
        reader = subprocess.Popen(command + [PREFIX, str(OWNER), loot, stop])
        self.addCleanup(reader.kill)
        out = run("ipptool", "-tv", "-f", pages(".pdf", 8, self.work), self.uri, PRINT_JOB).stdout
        job = int(re.search(JOB_ID, out)[1])
        wait_until(lambda: self.job_state(job) == "processing", 60, "job %d printing" % job)
        self.assertEqual(FORBIDDEN, self.status(OTHER, "Cancel-Current-Job"))
        wait_until(lambda: glob.glob(os.path.join(self.out, "job-%d-*" % job)), 180, "printed")
        open(stop, "w").close()
        reader.wait(30)
        self.assertFalse(os.path.exists(loot) and read(loot).decode())
        self.assertEqual(0o600, os.stat(lock).st_mode & 0o777)


LIMITS = "max-pages=40", "max-page=64", "max-output=100", "max-seconds=10", "stall-seconds=6"

# Sends its standard input as a job; with a stall, sends that many bytes,
# then nothing, holding on. Says the job's id.
SENDER = r"""
import http.client, re, socket, struct, sys, time
port, printer, what, number, stall = sys.argv[1:]
def attr(tag, name, value):
    return struct.pack(">bh", tag, len(name)) + name.encode() + struct.pack(">h", len(value)) + value
number = attr(0x21, "copies", struct.pack(">i", int(number)))
body = struct.pack(">bbhib", 2, 0, 2, 1, 1) + attr(
    0x47, "attributes-charset", b"utf-8") + attr(0x48, "attributes-natural-language", b"en") + attr(
    0x45, "printer-uri", b"ipp://localhost:%s/ipp/print/%s" % (port.encode(), printer.encode()))
body += attr(0x49, "document-format", what.encode()) + b"\x02" + number
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
    chunks = (stripes[x : x + 128] for x in range(0, width, 128))
    line = b"".join(bytes([257 - len(chunk)]) + chunk for chunk in chunks) if striped else b"\x80"
    return b"RaS2" + (bytes(header) + (b"\xff" + line) * ((height + 255) // 256)) * count


class Bounds(unittest.TestCase, Requests):
    @classmethod
    def setUpClass(cls):
        cls.addCleanup = cls.addClassCleanup
        host = start_app(cls, PREFIX, 0, *LIMITS)
        pids = sh("pgrep -s %d -f" % host.app.pid, "tavri-printer-app server").stdout.split()
        vars(host).update(pid=int(pids[-1]))
        for name, value in vars(host).items():
            setattr(cls, name, value)

    def send(self, what, document, number=1, stall=""):
        """As the other user: the job's id once answered, unless it stalls."""
        args = str(self.port), peer.PRINTER, what, str(number), str(stall)
        pipes = dict(stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        sender = python_as(self, OTHER, SENDER, *args, **pipes)  # killed at the end
        if not stall:
            return int(sender.communicate(document, 300)[0])
        threading.Thread(target=sender.communicate, args=(document,), daemon=True).start()

    def last_job(self):  # the newest job not yet ended
        out = run("ipptool", "-tv", self.uri, TESTS + "/get-jobs.test").stdout
        return max(map(int, re.findall(JOB_ID, out)), default=0)

    def ended(self, number, state, message, seconds=120):
        """Waits for the job to end, the peak /dev/shm use of the page folders meanwhile."""
        images = "/dev/shm/tavri-app-%d-*/*" % self.pid

        def done():
            with contextlib.suppress(OSError):  # a page removed meanwhile
                used = sum(os.stat(page).st_blocks * 512 for page in glob.glob(images))
                self.shm = max(self.shm, used)
            return state in job_text(self.uri, number)

        self.shm = 0
        wait_until(done, seconds, "job %d %s" % (number, state))
        self.assertIn(message, job_text(self.uri, number))
        rss = int(re.search(rb"VmHWM:\s+(\d+)", read("/proc/%d/status" % self.pid)).group(1))
        self.assertLess(rss, 64 << 10, "the application's peak RSS, KiB")

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
        left = glob.glob("/dev/shm/tavri-app-%d-*" % self.pid)
        left += glob.glob("%s/drive_c/tavri-app-%d-*" % (PREFIX, self.pid))
        self.assertEqual([], left + glob.glob("%s/job-%d-*" % (self.out, job)))

    def test_a_stalled_sender_holds_nothing_and_its_job_ends_at_a_cancel(self):
        page = raster(1, 2480, 3508)
        self.send("image/pwg-raster", page, stall=len(page) // 2 + 300)
        job = wait_until(self.last_job, 60, "the job incoming")
        self.assertIn("held", job_text(self.uri, job))
        self.assertEqual("successful-ok", self.status(OTHER, "Cancel-Job", job))
        wait_until(lambda: "canceled" in job_text(self.uri, job), 10, "job %d cancelled" % job)
        # Meanwhile and after, the prefix prints: another sender stalls until its bound.
        self.send("image/pwg-raster", page, stall=len(page) // 2 + 300)
        stalled = wait_until(lambda: self.last_job() > job and self.last_job(), 60, "a job")
        printed = self.send("image/pwg-raster", raster(2, 2480, 3508))
        wait_until(lambda: os.listdir(self.out), 60, "job %d printed" % printed)
        self.ended(stalled, "aborted", "the sender sent nothing for 6 s")


if __name__ == "__main__":
    unittest.main()
