"""Queues for a Wine printer on the rig's cupsd, as in production: made by
the queue command from what the driver reports, the backend run by cupsd
as root, the Wine prefix owned by an ordinary user, cupsd's own umask.
Every kind of document is printed and the delivered output rendered; the
prefix's owner, another local user and a submitter attack."""
import fcntl
import glob
import grp
import os
import pathlib
import pwd
import re
import secrets
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import termios
import threading
import time

import bmp
import peer
from peer import run
from test_program import Printed

QUEUE_TOOL = os.path.join(peer.SOURCE_DIR, "tools", "tavri-cups-queue")
USER = os.environ.get("PROXY_E2E_USER", "tavri-e2e")
PREFIX = os.path.join(peer.BUILD_DIR, "e2e-home", ".wine")
CUPS_LOG = pathlib.Path(peer.LOG_DIR, "cups_error_log")
PRINTER = peer.PRINTER
WINE = os.environ.get("WINE", "/usr/lib/wine/wine64")
os.environ.setdefault("CUPS_SERVER", "127.0.0.1:%s" % os.environ.get("PROXY_CUPS_PORT", "6631"))
# The rig's cupsd's own folder, where the queue command keeps passwords for its backend.
os.environ.setdefault("CUPS_SERVERROOT", os.path.join(peer.BUILD_DIR, "cups"))


def sh(line, *more, **options):
    """`run` of the words of `line`, then of `more` as they are."""
    return run(*shlex.split(line), *more, **options)


def lp(queue, path, *options):
    """Prints `path` and what of `options` names no option: more documents."""
    more = [o for o in options if "=" not in o]
    options = sum((["-o", o] for o in options if o not in more), [])
    out = run("lp", "-d", queue, *options, path, *more, check=True)
    return out.stdout.split()[3].rsplit("-", 1)[1]  # "request id is QUEUE-7 (1 file(s))"


def wait_until(check, seconds, what):
    deadline = time.monotonic() + seconds
    while not (value := check()):
        if time.monotonic() > deadline:
            raise AssertionError("not within %d s: %s" % (seconds, what))
        time.sleep(0.2)
    return value


def idle(queue):
    return not run("lpstat", "-W", "not-completed", "-o", queue).stdout


ATTACK = r"""
import glob, os, sys, time
secret, folder, prefix, loot, stop = sys.argv[1:6]
drive_c, end = os.path.join(prefix, "drive_c"), time.time() + 600  # outlives no killed test
def swap(path):  # for a link to the secret; planted where nothing is
    try:
        os.symlink(secret, path + ".swap")
        os.replace(path + ".swap", path)
    except OSError:
        pass
while not os.path.exists(stop) and time.time() < end:
    for name in glob.glob(os.path.join(drive_c, "tavri-app-*")) + glob.glob(
            os.path.join(folder, "*")) + glob.glob("/dev/shm/tavri-*/*") + [
            os.path.join(prefix, ".tavri-print.lock")]:
        if not name.endswith(".swap"):
            swap(name)
    for job in range(1, 60):
        swap(os.path.join(folder, "%d-doc.pdf.ps.part" % job))
    for name in glob.glob(os.path.join(folder, "*")) + glob.glob(os.path.join(drive_c, "*.prn")):
        try:
            with open(name, "rb") as f, open(loot, "ab") as out:
                out.write(f.read())
        except OSError:
            pass
    time.sleep(0.05)
"""


# Another local user connects to every port on which the owner listens, to
# play the program: whoever is sent the first request could answer it
# ("printer cannot be opened" stops a queue) with texts of their choice.
RACE = r"""
import os, socket, sys, time
owner, stop, tried, got = int(sys.argv[1]), sys.argv[2], 0, 0
end = time.time() + 600  # outlives no killed test
while not os.path.exists(stop) and time.time() < end:
    for row in [line.split() for line in open("/proc/net/tcp")][1:]:
        if row[3] == "0A" and row[7] == str(owner) and row[1].startswith("0100007F:"):
            try:
                with socket.create_connection(("127.0.0.1", int(row[1][9:], 16)), 2) as c:
                    tried += 1
                    got += len(c.recv(65536))
            except OSError:
                pass
    time.sleep(0.002)
print(tried, got)
"""
# A stand-in for Wine that reports, of itself and of tavri-print that root
# started, the terminal (0: none) and session, and what it was handed; then
# answers far more than any driver's report.
STAND_IN = """#!/usr/bin/python3
import os, sys
def said(pid):  # its terminal, and whether it leads its session
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return "%s %s" % (fields[4], fields[3] == str(pid))
fds = sorted(os.listdir("/proc/self/fd"))
open(sys.argv[0] + ".said", "w").write("%s %s %s" % (said(os.getpid()), said(os.getppid()), fds))
sys.stdout.write("printer\\tX\\n" * (2 << 20))
"""


def python_as(case, user, script, *args, **options):
    """Python's run of `script` as `user`, in a session of its own, killed with
    everything in that session when the test ends."""
    command = ["runuser", "-u", user, "--", "/usr/bin/python3", "-c", script, *args]
    process = subprocess.Popen(command, start_new_session=True, **options)
    case.addCleanup(lambda: process.poll() is None and os.killpg(process.pid, signal.SIGKILL))
    return process


def make_queue(case, name, printer, to, *extra):
    command = [sys.executable, QUEUE_TOOL, name, printer, "--user", USER, "--prefix", PREFIX]
    display = os.environ.get("DISPLAY", "")
    result = run(*command, "--to", to, "--display", display, "--exe", peer.PROXY_EXE, *extra)
    case.addCleanup(run, "lpadmin", "-x", name)
    return result


def owned_folder(case, name):
    """A destination folder that belongs to the prefix's owner."""
    folder = os.path.join(case.work, name)
    os.mkdir(folder)
    owner = pwd.getpwnam(USER)
    os.chown(folder, owner.pw_uid, owner.pw_gid)
    os.chmod(case.work, 0o755)
    return folder


class Queue(Printed):
    def setUp(self):
        super().setUp()
        self.folder = owned_folder(self, "delivered")
        self.queue = "TavriE2E%d%s" % (os.getpid(), self._testMethodName[5:12])

    def path(self, name):
        return os.path.join(self.work, name)

    def delivered(self, job):
        return glob.glob(os.path.join(self.folder, "job-%s-*" % job))

    def test_every_kind_of_document_prints_through_cups_filters(self):
        group = grp.getgrgid(pwd.getpwnam(USER).pw_gid)
        gone = next(n for n in range(200, 300) if not os.path.exists("/tmp/.X11-unix/X%d" % n))
        extra = "--display :%d --group %s" % (gone, group.gr_name)
        made = make_queue(self, self.queue, PRINTER, self.folder, *extra.split())
        self.assertEqual(made.returncode, 0)
        picture = bmp.make("png16m", self.path("picture.png"), bmp.RED_BLOCK, (400, 300))
        two = bmp.make_pdf(self.path("two.pdf"), 2)
        (text := pathlib.Path(self.work, "notes.txt")).write_text("A line of plain text.\n" * 20)
        jobs = {
            "text": (lp(self.queue, text), 1),
            "testpage": (lp(self.queue, "/usr/share/cups/data/testprint"), 1),
            "png": (lp(self.queue, picture), 1),
            "2-up": (lp(self.queue, two, "number-up=2"), 1),
            "copies": (lp(self.queue, two, "copies=2", "collate=true"), 4),
            "banner and 2 documents": (lp(self.queue, picture, "job-sheets=standard", two), 4),
        }
        wait_until(lambda: idle(self.queue), 240, "every job printed")
        pages = {}
        for kind, (job, count) in jobs.items():
            files = self.delivered(job)
            self.assertEqual(len(files), 1, "%s job %s delivered once" % (kind, job))
            info = os.stat(files[0])
            self.assertEqual((info.st_mode & 0o777, info.st_gid), (0o640, group.gr_gid))
            pages[kind] = bmp.render_postscript(files[0], 10, self.work)
            self.assertEqual(len(pages[kind]), count, "%s: pages delivered" % kind)
        red = lambda r, g, b: r > 160 and g < 100 and b < 100  # noqa: E731
        self.assertGreater(bmp.share(pages["png"][0], red), 0.1, "the picture")
        banner, picture, first, second = pages["banner and 2 documents"]
        self.assertEqual([bmp.share(page, red) > 0.1 for page in (banner, picture)], [False, True])
        self.assertLess(bmp.mean_difference(first, pages["copies"][0]), 2, "in order")
        one, two, three, four = pages["copies"]
        self.assertGreater(bmp.mean_difference(one, two), 5, "page 2 follows page 1")
        collated = bmp.mean_difference(one, three) + bmp.mean_difference(two, four)
        self.assertLess(collated, 2, "collated: page 1, page 2, page 1, page 2")
        line = "The progress window cannot open on the display :%d" % gone
        self.assertEqual(CUPS_LOG.read_text().count("[Job %s] %s" % (jobs["text"][0], line)), 1)
        inked = lambda r, g, b: r + g + b < 600  # noqa: E731
        for kind in ("text", "testpage", "2-up"):
            self.assertGreater(bmp.share(pages[kind][0], inked), 0.001, kind + " inked")

    def test_configuration_faults_stop_the_queue_and_name_the_cause(self):
        refused = make_queue(self, self.queue, "No Such Wine Printer", self.folder)
        self.assertIn("cannot open printer No Such Wine Printer", refused.stderr)
        self.assertEqual(make_queue(self, self.queue, PRINTER, self.folder).returncode, 0)
        sh("lpadmin -p", self.queue, "-c", self.queue + "C", check=True)
        self.addCleanup(run, "lpadmin", "-x", self.queue + "C")
        port = os.environ["CUPS_SERVER"].rsplit(":", 1)[1]
        for to, extra, fault in (
            ("queue:%s2" % self.queue, (), "back to the queue"),
            ("ipp://127.1:%s/classes/%sC" % (port, self.queue), (), "through Wine again"),
            ("queue:NoSuchQueue", (), "CUPS has no such queue"),
            ("foo://bar", (), "no backend for foo"),
            (self.work, (), "that %s can write" % USER),
            (self.folder, ("--prefix", self.work + "/typo"), "has no Wine prefix"),
        ):
            refused = make_queue(self, self.queue + "2", PRINTER, to, *extra)
            self.assertIn(fault, refused.stderr, to)
        self.assertIn("exists already", make_queue(self, self.queue, PRINTER, self.folder).stderr)
        for printer, to, cause in (
            (PRINTER, "queue:" + self.queue, "leads back to the queue"),
            ("No Such Wine Printer", self.folder, "cannot be opened in %s" % PREFIX),
        ):
            query = "user=%s&to=%s&prefix=%s&exe=%s" % (USER, to, PREFIX, peer.PROXY_EXE)
            uri = "tavri:/%s?%s" % (printer.replace(" ", "%20"), query)
            sh("lpadmin -p", self.queue, "-E", "-v", uri, check=True)
            job = lp(self.queue, bmp.make_pdf(self.path("one.pdf"), 1))
            lpstat = lambda: run("lpstat", "-p", self.queue).stdout  # noqa: E731
            status = wait_until(lambda: "disabled" in lpstat() and lpstat(), 60, "queue stopped")
            self.assertIn(cause, status)
            self.assertEqual(self.delivered(job), [])
            run("cancel", "-a", self.queue)

    def test_a_backend_destination_runs_as_cups_would_run_it(self):
        printer = Listener()
        printer.start()
        to = printer.uri.replace("//", "//printuser:s3cret@")
        self.assertEqual(make_queue(self, self.queue, PRINTER, to).returncode, 0)
        lp(self.queue, bmp.make_pdf(self.path("one.pdf"), 1))
        wait_until(lambda: idle(self.queue), 120, "job printed")
        printer.join(10)
        self.assertTrue(printer.data.startswith(b"%!") and b"%%Page: 1" in printer.data)
        self.assertEqual(len(printer.peers), 1, "one socket backend ran")
        uid, command, environ = printer.peers[0]
        self.assertEqual(uid, pwd.getpwnam("lp").pw_uid, "a 0755 backend runs as lp")
        self.assertNotIn("s3cret", command)
        self.assertIn(b"DEVICE_URI=" + to.encode(), environ, "the password reaches it alone")
        self.assertNotIn("s3cret", run("lpstat", "-v", self.queue).stdout)
        # An IPP destination that is a real queue, which reads the format it is told.
        printer, dest = Listener(), self.queue + "Dest"
        printer.start()
        generic = "drv:///sample.drv/generic.ppd"
        sh("lpadmin -p", dest, "-E", "-v", printer.uri, "-m", generic, check=True)
        self.addCleanup(run, "lpadmin", "-x", dest)
        to = "ipp://%s/printers/%s" % (os.environ["CUPS_SERVER"], dest)
        self.assertEqual(make_queue(self, self.queue, PRINTER, to, "--replace").returncode, 0)
        lp(self.queue, bmp.make_pdf(self.path("two.pdf"), 2))
        wait_until(lambda: idle(self.queue) and idle(dest), 120, "job handed on and printed")
        printer.join(10)
        self.assertEqual(printer.data.count(b"\n%%Page: "), 2)

    def test_a_cancelled_job_ends_the_program_and_leaves_nothing(self):
        self.assertEqual(make_queue(self, self.queue, PRINTER, self.folder).returncode, 0)
        job = lp(self.queue, bmp.make_pdf(self.path("twelve.pdf"), 12))
        exe, what = "tavri-printer-proxy.exe", "the program runs for job %s" % job
        pids = wait_until(lambda: [p for p in program_pids(job) if exe in cmdline(p)], 60, what)
        program = pids[0]
        owner = pwd.getpwnam(USER)
        ids = {"Uid": [owner.pw_uid] * 4, "Gid": [owner.pw_gid] * 4}
        ids["Groups"] = sorted(os.getgrouplist(USER, owner.pw_gid))
        for pid in program_pids(job):  # the owner's ids alone, none of root's (gone: none)
            status = read("/proc/%s/status" % pid).decode()
            found = re.findall(r"^(Uid|Gid|Groups):(.*)$", status, re.M)
            got = {k: sorted(map(int, v.split())) for k, v in found}
            self.assertLessEqual(got.items(), ids.items(), pid)
        # The program's parent, the worker, leads a session of the owner's, not root's,
        # and holds nothing of root's backend, its parent, but the document and the
        # pipe of its messages (its output goes into the folder).
        worker = re.search(r"PPid:\t(\d+)", read("/proc/%s/status" % program).decode())[1]
        backend = re.search(r"PPid:\t(\d+)", read("/proc/%s/status" % worker).decode())[1]
        session = re.search(r"NSsid:\t(\d+)", read("/proc/%s/status" % worker).decode())[1]
        self.assertEqual(os.stat("/proc/" + session).st_uid, owner.pw_uid, "root's session")
        find = "find /proc/%s/fd -type l -printf"
        held = [set(sh(find % pid, "%l\n").stdout.splitlines()) for pid in (worker, backend)]
        self.assertEqual(len(held[0] & held[1] - {os.devnull}), 2, held)
        time.sleep(1)
        run("cancel", "%s-%s" % (self.queue, job), check=True)
        # CUPS has the job cancelled at once; the worker cleans up after.
        shm = "find /dev/shm -maxdepth 1 -name tavri-* -user " + USER
        ran = lambda: program_pids(job) or not idle(self.queue) or sh(shm).stdout  # noqa: E731
        gone = "job %s and all it ran gone" % job
        wait_until(lambda: not ran() and not os.path.exists("/proc/" + backend), 15, gone)
        # Ended by cupsd's signal, as cupsd expects of a cancelled job's backend.
        self.assertFalse(re.findall(r"\[Job %s\] Backend.*" % job, CUPS_LOG.read_text()))
        self.assertEqual(os.listdir(self.folder), [])
        self.assertEqual(
            glob.glob(os.path.join(PREFIX, "drive_c", "tavri-app-*-cups-%s.prn" % job)), []
        )

    # Cancel (取消) clicked in the progress window at moments from the first
    # page on: every job ends cancelled and nothing comes out. The display's
    # authority file is the owner's, and no job warns of the display.
    def test_a_click_on_cancel_cancels_the_job_every_time(self):
        display, authority = os.environ["DISPLAY"], owned_folder(self, "x") + "/authority"
        shutil.copy(os.devnull, authority)
        shutil.chown(authority, USER)
        shown = ["--display", display, "--xauthority", authority]
        made = make_queue(self, self.queue, PRINTER, self.folder, *shown)
        self.assertEqual(made.returncode, 0, made.stderr)
        pdf = bmp.make_pdf(self.path("twenty.pdf"), 20)
        for delay in (0, 0.5, 2, 5):
            job = lp(self.queue, pdf)
            window = wait_until(lambda: job_windows(job), 60, "job %s's window" % job)[0]
            time.sleep(delay)
            run("xdotool", "mousemove", "--window", window, "150", "105", "click", "1")
            wait_until(lambda: idle(self.queue), 30, "job %s ended" % job)
            said = [x for x in CUPS_LOG.read_text().splitlines() if "[Job %s]" % job in x]
            self.assertIn("Job canceled at printer.", said[-1], (delay, said[-3:]))
            self.assertNotIn("cannot open on the display", "".join(said))
            self.assertEqual(self.delivered(job), [])
        self.assertNotIn("disabled", run("lpstat", "-p", self.queue).stdout)

    # Every file the prefix's owner can reach in the prefix, drive C:, the
    # destination folder and its page folders is replaced by a symlink to a
    # root-only file, and dangling links are planted where root once wrote.
    # Root must neither change that file nor let any of it reach the owner,
    # nor leave a file of its own in the owner's places.
    def test_root_keeps_out_of_what_the_owner_can_change(self):
        secret = self.path("secret")
        payload = b"ROOT-ONLY-" + secrets.token_hex(16).encode()
        pathlib.Path(secret).write_bytes(payload)
        os.chmod(secret, 0o600)
        before = os.stat(secret)
        loot, stop = os.path.join(self.folder, "loot"), self.path("stop")
        self.assertEqual(make_queue(self, self.queue, PRINTER, self.folder).returncode, 0)
        attacker = python_as(self, USER, ATTACK, secret, self.folder, PREFIX, loot, stop)
        pdf = bmp.make_pdf(self.path("doc.pdf"), 2)
        for _ in range(3):
            lp(self.queue, pdf)
        wait_until(lambda: idle(self.queue), 240, "the jobs ended")
        time.sleep(1)
        open(stop, "w").close()
        attacker.wait(timeout=30)
        for planted in glob.glob(os.path.join(PREFIX, "drive_c", "tavri-app-*")):
            os.remove(planted)
        self.assertEqual(os.stat(secret), before, "the secret read or changed")
        self.assertEqual(read(secret), payload)
        for place in (self.folder, os.path.join(PREFIX, "drive_c"), PREFIX, "/dev/shm"):
            for path in owned_paths(place):
                self.assertNotEqual(os.lstat(path).st_uid, 0, "root left %s" % path)
                if os.path.isfile(path) and not os.path.islink(path):
                    self.assertNotIn(payload, read(path), "the secret reached %s" % path)

    def test_another_user_cannot_play_the_program(self):
        self.assertEqual(make_queue(self, self.queue, PRINTER, self.folder).returncode, 0)
        stop = self.path("stop")
        owner = str(pwd.getpwnam(USER).pw_uid)
        racer = python_as(self, "nobody", RACE, owner, stop, stdout=subprocess.PIPE, text=True)
        jobs = [lp(self.queue, bmp.make_pdf(self.path("one.pdf"), 1)) for _ in range(2)]
        wait_until(lambda: idle(self.queue), 120, "the jobs ended")
        open(stop, "w").close()
        tried, got = map(int, racer.communicate(timeout=30)[0].split())
        self.assertGreater(tried, 0, "the race was run")
        self.assertEqual(got, 0, "bytes the other user was sent")
        self.assertEqual([len(self.delivered(job)) for job in jobs], [1, 1])

    def test_bad_raw_documents_and_jobs_past_a_limit_are_cancelled(self):
        limits = "--max-seconds 8 --max-output 1".split()  # a page of the rig's driver takes 12 MB
        made = make_queue(self, self.queue, PRINTER, self.folder, *limits)
        self.assertEqual(made.returncode, 0, made.stderr)
        bomb = bmp.make("pngmono", self.path("bomb.png"), "showpage", (20000, 20000))
        documents = {"garbage": b"\0garbage" * 99, "broken.bmp": b"BM" + b"\xff" * 99}
        documents["loop.ps"] = b"%!PS\n{} loop\n"
        documents["huge.ps"] = b"%!PS\n<</PageSize [14400 14400]>> setpagedevice showpage\n"
        for name, data in documents.items():
            pathlib.Path(self.work, name).write_bytes(data)
        two = bmp.make_pdf(self.path("two.pdf"), 2)
        for path in [bomb, two] + [self.path(name) for name in documents]:
            sh("lp -d", self.queue, "-o", "raw", path, check=True)
        wait_until(lambda: idle(self.queue), 60, "the jobs ended, the looping one after 8 s")
        self.assertNotIn("disabled", run("lpstat", "-p", self.queue).stdout)
        self.assertEqual(os.listdir(self.folder), [])

    # The same documents and options through a native PostScript queue with
    # the queue's own PPD: the same pages, in the same order, orientation
    # and place, on a spread of papers: every landscape one, the largest and
    # every sixteenth by area from the smallest (in grey at 150 dpi: 4A is 140 Mpx).
    def test_prints_what_a_native_postscript_queue_prints(self):
        self.assertEqual(make_queue(self, self.queue, PRINTER, self.folder).returncode, 0)
        ppd, native = self.path("native.ppd"), self.queue + "N"
        queue_ppd = pathlib.Path(os.environ["CUPS_SERVERROOT"], "ppd", self.queue + ".ppd")
        lines = queue_ppd.read_text().splitlines(True)
        pathlib.Path(ppd).write_text("".join(x for x in lines if not x.startswith("*cupsFilter2")))
        sizes = {}
        for line in (line for line in lines if line.startswith("*PaperDimension")):
            sizes[line.split()[1].split("/")[0]] = [float(n) for n in line.split('"')[1].split()]
        by_area = sorted(sizes, key=lambda paper: sizes[paper][0] * sizes[paper][1])
        papers = {paper for paper, (w, h) in sizes.items() if w > h}
        papers |= set(by_area[::16]) | {by_area[-1]}
        six = bmp.make_pdf(self.path("six.pdf"), 6)
        lower = bmp.RED_BLOCK.replace("320", "520")
        letter = bmp.make("pdfwrite", self.path("letter.pdf"), lower, (612, 792))
        # Colour pages at 300 dpi cost seconds each: the cases that need no
        # more are printed at 150 dpi.
        cases = [
            (six, "copies=2", "collate=true", "page-ranges=1-2"),
            (six, "copies=2", "collate=false", "page-ranges=2-3,5", "Resolution=150dpi"),
            (six, "number-up=6", "mirror=true"),
            (letter, "fit-to-page=true", "media=A5"),
            (six, "ColorModel=Gray", "number-up=2", "Resolution=150dpi"),
            (six, "Resolution=600dpi", "number-up=2", "page-ranges=1-2"),
        ]
        for n in (4, 5, 6):
            cases.append(
                (six, "page-ranges=1-2", "orientation-requested=%d" % n, "Resolution=150dpi")
            )
        for paper in sorted(papers):
            cases.append((letter, "Resolution=150dpi", "ColorModel=Gray", "media=" + paper))
        printer = Listener(len(cases))
        printer.start()
        sh("lpadmin -p", native, "-E", "-v", printer.uri, "-P", ppd, check=True)
        self.addCleanup(run, "lpadmin", "-x", native)
        jobs = [lp(self.queue, *case) for case in cases]
        for case in cases:
            lp(native, *case)
        wait_until(lambda: idle(self.queue) and idle(native), 900, "every job printed")
        printer.join(10)
        for case, job, theirs in zip(cases, jobs, printer.outputs):
            pathlib.Path(self.work, "native.ps").write_bytes(theirs)
            expected = bmp.render_postscript(self.work + "/native.ps", 20, self.work)
            got = bmp.render_postscript(self.delivered(job)[0], 20, self.work)
            self.assertEqual(len(got), len(expected), case)
            for n, (page, native_page) in enumerate(zip(got, expected), 1):
                self.assertLess(ink_mismatch(page, native_page), 0.04, (case, n))
                colour = bmp.share(page, lambda r, g, b: max(r, g, b) - min(r, g, b) > 40)
                self.assertEqual(colour == 0, "ColorModel=Gray" in case, (case, n))

    def test_root_shares_no_terminal_and_reads_a_bounded_answer(self):
        stand_in = self.path("wine")
        with open(os.open(stand_in, os.O_WRONLY | os.O_CREAT, 0o755), "w") as f:
            f.write(STAND_IN)
        os.chmod(self.work, 0o777)
        ours, theirs = os.openpty()
        command = [sys.executable, QUEUE_TOOL, "--list", "--user", USER, "--prefix", PREFIX]
        io = dict(stdin=theirs, stdout=theirs, stderr=subprocess.PIPE, text=True, timeout=120)
        control = lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0)  # noqa: E731
        env = dict(os.environ, WINE=stand_in)
        result = subprocess.run(command, env=env, start_new_session=True, preexec_fn=control, **io)
        os.close(theirs)
        os.close(ours)
        said = "tavri-print --list: asking Wine in %s: the answer is larger than 16 MiB"
        self.assertIn(said % PREFIX, result.stderr)
        self.assertEqual(read(stand_in + ".said"), b"0 True 0 True ['0', '1', '2', '3']")


def ink_mismatch(a, b):
    """The share of pixels inked on one page and not the other; sizes that
    differ by more than a pixel (a rounded paper size) count as all."""
    width, height = min(a.width, b.width), min(a.height, b.height)
    if max(a.width, b.width) - width > 1 or max(a.height, b.height) - height > 1:
        return 1
    inked = []
    for page in (a, b):
        at = (3 * (y * page.width + x) for y in range(height) for x in range(width))
        inked.append([min(page.data[i : i + 3]) < 230 for i in at])
    return sum(p != q for p, q in zip(*inked)) / (width * height)


def owned_paths(place):
    """What is directly in `place`; in /dev/shm, what is in the owner's page folders."""
    if place != "/dev/shm":
        return [os.path.join(place, name) for name in os.listdir(place)]
    owner = pwd.getpwnam(USER).pw_uid
    folders = [d for d in glob.glob("/dev/shm/tavri-*") if os.lstat(d).st_uid == owner]
    inside = [os.path.join(d, n) for d in folders if os.path.isdir(d) for n in os.listdir(d)]
    return folders + inside


class Listener(threading.Thread):
    """A socket printer that takes `jobs` connections, noting what each sent
    and who made the first: uid and command line."""

    def __init__(self, jobs=1):
        super().__init__(daemon=True)
        self.server = socket.create_server(("127.0.0.1", 0))
        self.jobs, self.outputs, self.peers = jobs, [], []
        # No SNMP query, whose answer CUPS's socket backend would await for 4 s.
        self.uri = "socket://127.0.0.1:%d/?snmp=false" % self.server.getsockname()[1]

    def run(self):
        for _ in range(self.jobs):
            conn, _ = self.server.accept()
            self.peers = self.peers or [
                (os.stat("/proc/" + pid).st_uid, cmdline(pid), read("/proc/%s/environ" % pid))
                for pid in os.listdir("/proc")
                if pid.isdigit() and cmdline(pid).startswith(self.uri + " ")
            ]
            with conn:
                self.outputs.append(b"".join(iter(lambda: conn.recv(1 << 16), b"")))

    @property
    def data(self):
        return b"".join(self.outputs)


def read(path):
    try:
        return pathlib.Path(path).read_bytes()
    except OSError:
        return b""


def cmdline(pid):
    return read("/proc/%s/cmdline" % pid).replace(b"\0", b" ").decode("utf-8", "replace")


def job_windows(job):
    """The shown X windows of the program of CUPS job `job`."""
    pids = program_pids(job)
    windows = sh("xdotool search --onlyvisible --class tavri-printer-proxy").stdout.split()
    return [w for w in windows if run("xdotool", "getwindowpid", w).stdout.strip() in pids]


def program_pids(job):
    """Processes that the backend started for CUPS job `job`."""
    mark = b"\0TAVRI_CUPS_JOB=%s\0" % job.encode()
    environs = glob.glob("/proc/[0-9]*/environ")
    return [path.split("/")[2] for path in environs if mark in b"\0" + read(path)]


if __name__ == "__main__":
    peer.main()
