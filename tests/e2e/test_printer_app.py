"""The printer application as its owner runs it: every Wine printer of the
prefix an IPP Everywhere printer. PAPPL's own conformance test passes; JPEG
and PWG raster jobs come out once each; a cancelled job leaves nothing
behind; a CUPS queue made for it prints a PDF."""
import contextlib
import glob
import json
import os
import pathlib
import pwd
import re
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import types
import unittest
import urllib.request

import peer
import bmp
from test_cups_backend import USER, Listener, idle, ink_mismatch, owned_folder, read
from test_cups_backend import run, sh, wait_until

NATIVE_BUILD_DIR = os.environ.get("PROXY_NATIVE_BUILD_DIR", peer.BUILD_DIR + "-native")
APP = os.path.join(NATIVE_BUILD_DIR, "tavri-printer-app")

PREFIX = os.environ.get("PROXY_E2E_PREFIX", os.path.join(peer.BUILD_DIR, "e2e-home", ".wine"))
TESTS = "/usr/share/cups/ipptool"
PRINT_JOB = TESTS + "/print-job.test"
JOB_ID = r"job-id \(integer\) = (\d+)"
CHROMIUM = shutil.which("chromium")


def setUpModule():
    # scripts/test builds it before these run; a copy of the Windows build
    # alone (a mutation run) has no application to test.
    if not os.access(APP, os.X_OK):
        raise unittest.SkipTest("tavri-printer-app is not built: " + APP)


def pages(document, count, work):
    """A document of `count` A4 pages: a PDF, PWG raster at 150 dpi or a JPEG at 30."""
    kinds = {".pdf": ("pdfwrite", 150), ".pwg": ("pwgraster", 150), ".jpg": ("jpeg", 30)}
    device, dpi = kinds[document]
    path = os.path.join(work, "doc-%d%s" % (count, document))
    gs = "gs -q -dBATCH -dNOPAUSE -dSAFER -r%d -sPAPERSIZE=a4 -sDEVICE=%s" % (dpi, device)
    page = "/Helvetica 48 selectfont 72 400 moveto (Page %d) show showpage"
    sh(gs, "-sOutputFile=" + path, "-c", *(page % n for n in range(1, count + 1)), check=True)
    return path


def everywhere_suite(work, uri):
    """ipp-everywhere.test in `work`, with every document it prints there:
    PWG raster in each type and resolution the printer claims, JPEG, PDF
    and PostScript."""
    for name in ("ipp-everywhere.test", "ipp-2.0.test", "ipp-1.1.test"):
        shutil.copy(os.path.join(TESTS, name), work)
    sizes = {"a4": "-sPAPERSIZE=a4", "letter": "-sPAPERSIZE=letter"}
    sizes["4x6"] = "-dDEVICEWIDTHPOINTS=288 -dDEVICEHEIGHTPOINTS=432 -dFIXEDMEDIA"

    def draw(device, path, size, *args, pages=1):
        gs = "gs -q -dBATCH -dNOPAUSE -dSAFER %s -sDEVICE=%s" % (sizes[size], device)
        square = "0 0 1 setrgbcolor 36 36 144 144 rectfill showpage " * pages
        sh(gs, *args, "-sOutputFile=" + os.path.join(work, path), "-c", square, check=True)

    for colour, device in (("color", "jpeg"), ("gray", "jpeggray")):
        draw(device, colour + ".jpg", "4x6", "-r30")
    for size in ("a4", "letter"):
        draw("pdfwrite", "document-%s.pdf" % size, size, pages=2)
        draw("ps2write", "document-%s.ps" % size, size, pages=2)
    # ipptool stops at any file it names that is missing, skipped or not:
    # the types and resolutions the printer does not claim get empty ones.
    named = pathlib.Path(TESTS, "ipp-everywhere.test").read_text()
    claimed = printer_attributes(uri)
    raster_types = claimed["pwg-raster-document-type-supported"].split(",")
    resolutions = claimed["pwg-raster-document-resolution-supported"]
    spaces = {"black-1": (3, 1), "sgray-8": (18, 8), "srgb-8": (19, 8)}
    for path in set(re.findall(r"^\s*FILE (pwg-raster-samples-\S+)", named, re.M)):
        folder, kind, name = path.split("/")
        dpi = folder.rsplit("-", 1)[1]
        os.makedirs(os.path.join(work, folder, kind), exist_ok=True)
        pathlib.Path(work, path).touch()
        if kind.replace("-", "_") not in raster_types or dpi not in resolutions:
            continue
        size = next(size for size in sizes if size in name)
        options = "-r%s -dcupsColorSpace=%d -dcupsBitsPerColor=%d" % (dpi[:-3], *spaces[kind])
        draw("pwgraster", path, size, *options.split(), pages=2 if "document" in name else 1)
    return os.path.join(work, "ipp-everywhere.test")


def start_app(test, prefix, rescan_seconds=2, *options, tmp="/tmp", to_folder=True):
    """The app serving `prefix` as its owner, with `options` ("NAME=VALUE")
    and TMPDIR `tmp`, its output into a folder unless not `to_folder`,
    stopped at the test's end: its work folder, output folder, log, port
    and printer URI."""
    host = types.SimpleNamespace(work=tempfile.mkdtemp(prefix="app-", dir=peer.BUILD_DIR))
    test.addCleanup(shutil.rmtree, host.work, True)
    host.out, state = owned_folder(host, "out"), owned_folder(host, "state")
    host.log = os.path.join(state, "app.log")
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        host.port = s.getsockname()[1]
    env = ["HOME=" + os.path.dirname(PREFIX), "WINEPREFIX=" + prefix]
    env += ["CUPS_SERVER=" + os.environ["CUPS_SERVER"], "PROXY_EXE=" + peer.PROXY_EXE]
    env += ["DISPLAY=" + os.environ.get("DISPLAY", ":87"), "TAVRI_OUTPUT_DIR=" + host.out]
    env += ["XDG_STATE_HOME=" + state, "TAVRI_RESCAN_SECONDS=%d" % rescan_seconds, "TMPDIR=" + tmp]
    env = [e for e in env if to_folder or not e.startswith("TAVRI_OUTPUT_DIR=")]
    settings = ["server-port=%d" % host.port, "log-file=" + host.log, "log-level=debug", *options]
    command = ["runuser", "-u", USER, "--", "env", *env, APP, "server"]
    command += [word for setting in settings for word in ("-o", setting)]
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    host.stderr = os.path.join(host.work, "stderr")
    with open(host.stderr, "wb") as stderr:
        host.app = subprocess.Popen(command, stderr=stderr, start_new_session=True, **quiet)
    test.addCleanup(stop_app, host.app)
    named = [o.split("=", 1)[1] for o in options if o.startswith("listen-hostname=")]
    host.uri = "ipp://%s:%d/ipp/print/%s" % ((named or ["localhost"])[0], host.port, peer.PRINTER)
    ask = "ipptool -T 5 %s get-printer-attributes.test" % host.uri
    answered = lambda: sh(ask).returncode == 0  # noqa: E731
    wait_until(lambda: host.app.poll() is not None or answered(), 120, "serving or refused")
    return host


def choose_destination(host, choice):
    """The owner's choice on the printer's Destination page: what it answers."""
    page = "http://127.0.0.1:%d/%s/destination" % (host.port, peer.PRINTER)
    got = run("runuser", "-u", USER, "--", "curl", "-s", "-D", "-", page).stdout
    assert "The CUPS queue %s, which the Wine printer stands for" % peer.PRINTER in got, got
    cookie = re.search(r"tavri-form=(\w+)", got)[1]
    session = re.search(r'"session" value="(\w+)"', got)[1]
    curl = "runuser -u %s -- curl -s -b tavri-form=%s -H" % (USER, cookie)
    fields = ["session=" + session] + choice.split("&")
    form = [word for field in fields for word in ("--data-urlencode", field)]
    return sh(curl, "Origin: http://127.0.0.1:%d" % host.port, *form, page).stdout


def printer_attributes(uri):
    out = run("ipptool", "-tv", uri, "get-printer-attributes.test").stdout
    return dict(re.findall(r"^\s*(\S+) \([^)]*\) = (.*)$", out, re.M))


def reasons(uri):
    return printer_attributes(uri)["printer-state-reasons"]


def stop_app(app):
    with contextlib.suppress(ProcessLookupError):  # a refused one has ended
        os.killpg(app.pid, signal.SIGTERM)
    try:
        app.wait(60)
    except subprocess.TimeoutExpired:
        os.killpg(app.pid, signal.SIGKILL)
        app.wait()


class Browser:
    """Headless Chromium as the printers' owner, driven over its DevTools pipe."""

    def __init__(self, test):
        self.test, self.next_id, self.session, self.pending = test, 0, None, b""
        owner, profile = pwd.getpwnam(USER), owned_folder(test, "browser")
        to_browser, self.commands = os.pipe()
        self.replies, from_browser = os.pipe()

        def pipes():  # the browser reads commands from fd 3 and answers on fd 4
            for fd, number in ((to_browser, 3), (from_browser, 4)):
                os.dup2(fd, number)
                os.set_inheritable(number, True)

        command = [CHROMIUM, "--headless", "--remote-debugging-pipe", "--user-data-dir=" + profile]
        as_owner = dict(user=owner.pw_uid, group=owner.pw_gid, extra_groups=[], preexec_fn=pipes)
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        env = {"HOME": profile, "PATH": "/usr/bin:/bin"}
        browser = subprocess.Popen(command, close_fds=False, env=env, **as_owner, **quiet)
        test.addCleanup(stop_app, browser)
        os.close(to_browser)
        os.close(from_browser)
        targets = self.call("Target.getTargets")["targetInfos"]
        page = next(t for t in targets if t["type"] == "page")
        attached = self.call("Target.attachToTarget", targetId=page["targetId"], flatten=True)
        self.session = attached["sessionId"]

    def call(self, method, **params):
        self.next_id += 1
        message = dict(id=self.next_id, method=method, params=params)
        if self.session:
            message["sessionId"] = self.session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.pending:
                self.test.assertTrue(select.select([self.replies], [], [], 60)[0], method)
                chunk = os.read(self.replies, 1 << 16)
                self.test.assertTrue(chunk, "the browser ended at " + method)
                self.pending += chunk
            reply, self.pending = self.pending.split(b"\0", 1)
            if (reply := json.loads(reply)).get("id") == self.next_id:
                return reply.get("result", {})

    def js(self, expression):
        answer = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return answer.get("result", {}).get("value")

    def load(self, url):
        self.call("Page.navigate", url=url)
        loaded = "document.readyState == 'complete' && location.href"
        wait_until(lambda: self.js(loaded) == url, 30, url)
        return self.js("document.body.innerText")

    def submit(self, form, **fields):
        """Fills in the page's `form` (a selector), presses its submit button
        and waits for the page that brings."""
        fill = "window.stale = true; { const form = document.querySelector(%s); for (const [n, v]"
        fill += " of Object.entries(%s)) form.elements[n].value = v; form.querySelector("
        fill += "'[type=submit]').click() }"
        self.js(fill % (json.dumps(form), json.dumps(fields)))
        ready = "!window.stale && document.readyState == 'complete'"
        wait_until(lambda: self.js(ready), 30, "%s submitted" % form)


class PrinterApp(unittest.TestCase):
    def setUp(self):
        vars(self).update(vars(start_app(self, PREFIX)))  # work, out, log, port and uri

    def jobs(self, test="get-jobs.test"):
        """ipptool's verbose answer to one of its tests: by default, the jobs not yet done."""
        return run("ipptool", "-tv", self.uri, test).stdout

    def print_job(self, document, test=PRINT_JOB):
        out = run("ipptool", "-tv", "-f", document, self.uri, test)
        self.assertEqual(0, out.returncode, out.stdout)
        return int(re.search(JOB_ID, out.stdout)[1])

    def delivered(self, job, count):
        pattern = os.path.join(self.out, "job-%d-*" % job)
        found = wait_until(lambda: glob.glob(pattern), 180, "job %d delivered" % job)
        self.assertEqual(1, len(found), found)
        self.assertEqual(count, pathlib.Path(found[0]).read_bytes().count(b"\n%%Page: "), found[0])
        return found[0]

    def long_job(self):
        """A job of 40 pages, once it prints, and the ipptool that sent it."""
        command = ["ipptool", "-f", pages(".pwg", 40, self.work), self.uri, PRINT_JOB]
        printing = subprocess.Popen(command, stdout=subprocess.DEVNULL)
        job = int(wait_until(lambda: re.search(JOB_ID, self.jobs()), 120, "the job queued")[1])
        processing = "job-state (enum) = processing"
        wait_until(lambda: processing in self.jobs(), 120, "job %d printing" % job)
        return printing, job

    def cancelled(self, printing, job):
        done = "job-state (enum) = canceled"
        wait_until(
            lambda: done in self.jobs("get-completed-jobs.test"), 120, "job %d cancelled" % job
        )
        printing.wait(60)

    def test_everywhere_conformance_jobs_cancel_and_a_cups_queue(self):
        jpeg = pages(".jpg", 1, self.work)
        self.delivered(self.print_job(jpeg), 1)
        self.delivered(self.print_job(pages(".pwg", 3, self.work)), 3)
        with open(PRINT_JOB) as f, open(self.work + "/copies.test", "w") as to:
            to.write(f.read().replace("copies 1", "copies 2"))
        self.delivered(self.print_job(pages(".pwg", 3, self.work), to.name), 6)
        self.delivered(self.print_job(pages(".pdf", 4, self.work)), 4)
        # orientation-requested=4: the page turned, its line of text running up the paper.
        with open(PRINT_JOB) as f, open(self.work + "/turned.test", "w") as to:
            to.write(f.read().replace("copies 1", "copies 1\nATTR enum orientation-requested 4"))
        turned = self.delivered(self.print_job(pages(".pdf", 1, self.work), to.name), 1)
        gs = "gs -q -dSAFER -dBATCH -dNOPAUSE -r20 -sDEVICE=pgm -sOutputFile=-"
        grey = sh(gs, turned).stdout.splitlines()
        p2 = " ".join(line for line in grey if line[:1] != "#").split()  # P2 width height 255
        dark, w = [i for i, v in enumerate(p2[4:]) if int(v) < 128], int(p2[1])
        height, across = dark[-1] // w - dark[0] // w, [i % w for i in dark]
        self.assertGreater(height, max(across) - min(across), "the line of text runs up the page")

        # Cancelled while it prints: cancelled, and nothing left behind.
        left = lambda: {*os.listdir("/dev/shm"), *os.listdir(PREFIX + "/drive_c")}  # noqa: E731
        before = left()
        printing, job = self.long_job()
        self.assertEqual(2, self.jobs("cancel-current-job.test").count("[PASS]"))
        self.cancelled(printing, job)
        self.assertEqual(set(), left() - before)  # other checkouts' rigs may share /dev/shm

        suite = everywhere_suite(self.work, self.uri)
        out = run("ipptool", "-Itf", jpeg, self.uri, suite, timeout=1800, cwd=self.work)
        self.assertNotIn("cannot be read", out.stdout + out.stderr)
        self.assertIn("Summary: 433 tests, 154 passed, 0 failed, 279 skipped", out.stdout)
        self.assertNotIn("[FAIL]", out.stdout)

    def test_a_cups_queue_prints_what_a_native_queue_prints(self):
        """Through `lpadmin -m everywhere` with CUPS's defaults, as through a
        native queue with the Wine printer's own PPD: A4 at its own size,
        every document of a job, pictures whole, uncollated copies, and at
        the driver's resolution."""
        queue, native = "TavriApp%d" % os.getpid(), "TavriNative%d" % os.getpid()
        made = run("lpadmin", "-p", queue, "-E", "-m", "everywhere", "-v", self.uri)
        self.addCleanup(run, "lpadmin", "-x", queue)
        self.assertEqual(0, made.returncode, made.stderr)
        listener = Listener(5)
        listener.start()
        own = pathlib.Path(os.environ["CUPS_SERVERROOT"], "ppd", peer.PRINTER + ".ppd")
        ppd = shutil.copy(own, self.work)
        run("lpadmin", "-p", native, "-E", "-v", listener.uri, "-P", ppd, check=True)
        self.addCleanup(run, "lpadmin", "-x", native)
        outline = "28 28 539 786 rectstroke showpage"
        frame = bmp.make("pdfwrite", self.work + "/frame.pdf", outline, (595, 842))
        one, three = (bmp.make_pdf("%s/%d.pdf" % (self.work, n), n) for n in (1, 3))
        drawn = "0 0 1 setrgbcolor 0 0 1200 800 rectfill 1 0 0 setrgbcolor 0 0 200 800 rectfill"
        photo = bmp.make("jpeg", self.work + "/photo.jpg", drawn + " showpage", (1200, 800))
        cases = [[frame], [one, three], [photo], [photo, "-o", "print-scaling=fit"]]
        cases.append([three, "-n", "2", "-o", "collate=false"])
        for n, case in enumerate(cases):
            for destination in (queue, native):
                run("lp", "-d", destination, "-t", "case-%d" % n, *case, check=True)
        printed = lambda: len(os.listdir(self.out)) == len(cases) and idle(native)  # noqa: E731
        wait_until(printed, 600, "every job printed")
        listener.join(10)
        for n, theirs in enumerate(listener.outputs):
            pathlib.Path(self.work, "native.ps").write_bytes(theirs)
            expected = bmp.render_postscript(self.work + "/native.ps", 20, self.work)
            (ours,) = glob.glob("%s/job-*-case-%d.ps" % (self.out, n))
            got = bmp.render_postscript(ours, 20, self.work)
            self.assertEqual(len(expected), len(got), cases[n])
            for page, (a, b) in enumerate(zip(got, expected), 1):
                self.assertLess(ink_mismatch(a, b), 0.04, (cases[n], page))
        self.assertIn("x 3508 pixels at 300 x 300 dpi", read(self.log).decode())
        with urllib.request.urlopen("http://localhost:%d/" % self.port, timeout=30) as page:
            self.assertNotIn(queue, page.read().decode(), "a queue to itself is not served")

    def test_every_kind_of_destination_and_a_destination_that_is_down(self):
        """A socket printer that is off at first: the printer says so, the job
        waits and comes out once when it is on. Then the default, the CUPS
        queue that Wine imported the printer from (cups-pdf: the owner's PDF),
        refusing jobs for a while; the rig's CUPS over ipp://; the output
        folder, a choice that outlives a restart. A destination that leads
        back, or a password on the command line, is refused."""
        with socket.socket() as s:  # nobody listens there yet
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        stop_app(self.app)
        refused = start_app(self, PREFIX, 0, "destination.Office=ipp://me:secret@h/ipp/print")
        self.assertEqual(1, refused.app.wait(60))
        self.assertIn("names a user or password", read(refused.stderr).decode())
        destination = "destination.%s=socket://localhost:%d" % (peer.PRINTER, port)
        host = start_app(self, PREFIX, 0, destination, to_folder=False)
        run("ipptool", "-f", pages(".pdf", 2, self.work), host.uri, PRINT_JOB)
        wait_until(lambda: "offline-report" in reasons(host.uri), 120, "the printer offline")
        with socket.create_server(("127.0.0.1", port)) as server:
            server.settimeout(60)
            conn, _ = server.accept()
            with conn:
                got = b"".join(iter(lambda: conn.recv(1 << 16), b""))
            wait_until(lambda: "none" == reasons(host.uri), 30, "the printer online again")
            server.settimeout(1)
            self.assertRaises(socket.timeout, server.accept)
        self.assertTrue(got.startswith((b"%!", b"\x1b%-12345X")), got[:64])
        self.assertEqual(2, got.count(b"%%Page:"))

        folder = os.path.join(pwd.getpwnam(USER).pw_dir, "PDF")  # cups-pdf's, in the home
        # Written since `start`: a new rig's cupsd numbers its jobs anew, and
        # cups-pdf names a PDF by its job's number, replacing an old one.
        made_since = lambda start: [  # noqa: E731
            path for path in glob.glob(folder + "/*") if os.stat(path).st_mtime >= start
        ]
        before = time.time()
        self.assertIn("Changes saved.", choose_destination(host, "to="))
        run("cupsreject", peer.PRINTER, check=True)
        self.addCleanup(run, "cupsaccept", peer.PRINTER)
        run("ipptool", "-f", pages(".pdf", 3, self.work), host.uri, PRINT_JOB)
        wait_until(lambda: "offline-report" in reasons(host.uri), 120, "the printer offline")
        run("cupsaccept", peer.PRINTER, check=True)
        (made,) = wait_until(lambda: made_since(before), 180, "cups-pdf's PDF")
        wait_until(lambda: b"%%EOF" in read(made)[-64:], 30, "the PDF written whole")
        self.assertEqual(3, len(re.findall(rb"/Type\s*/Page\b", read(made))))
        self.assertEqual(pwd.getpwnam(USER).pw_uid, os.stat(made).st_uid)
        self.assertIn(b"Handed on to queue:" + peer.PRINTER.encode(), read(host.log))
        self.assertEqual("none", reasons(host.uri))

        own = "ipp://[::ffff:127.0.0.1]:%d/ipp/print/%s" % (host.port, peer.PRINTER)
        said = choose_destination(host, "to=uri&uri=" + own)
        self.assertIn("Not saved: %s leads back to a printer application." % own, said)
        cups_port = os.environ["CUPS_SERVER"].split(":")[1]
        cups = "ipp://127.0.0.1:%s/printers/%s" % (cups_port, peer.PRINTER)
        self.assertIn("Changes saved.", choose_destination(host, "to=uri&uri=" + cups))
        before = time.time()
        run("ipptool", "-f", pages(".pdf", 1, self.work), host.uri, PRINT_JOB)
        wait_until(lambda: made_since(before), 180, "cups-pdf's PDF")
        self.assertIn(b"Handed on to " + cups.encode(), read(host.log))
        self.assertEqual([], os.listdir(host.out))

        self.assertIn("Changes saved.", choose_destination(host, "to=folder"))
        (state,) = glob.glob(host.work + "/state/tavri-printer-app/*.state")
        stop_app(host.app)
        again = start_app(self, PREFIX, 0, "state-file=" + state, to_folder=False)
        document = pages(".pdf", 1, self.work)
        printed = run("ipptool", "-tv", "-f", document, again.uri, PRINT_JOB).stdout
        job = int(re.search(JOB_ID, printed)[1])
        pattern = "%s/tavri-printed/job-%d-*" % (os.path.dirname(PREFIX), job)
        wait_until(lambda: glob.glob(pattern), 120, "job %d in the output folder" % job)

    def test_web_interface_in_a_browser(self):
        """The owner sees the printer's state, cancels a job and sets the
        defaults in a browser; no other user may; they are kept."""
        if not CHROMIUM:
            self.skipTest("chromium is not installed")
        browser, site = Browser(self), "http://localhost:%d/" % self.port
        printer = site + peer.PRINTER + "/"
        self.assertRegex(browser.load(site), peer.PRINTER + r" Delete\s+Idle")
        self.assertRegex(browser.load(printer), r"Status\s+Idle")
        printing, job = self.long_job()
        self.assertRegex(browser.load(printer + "jobs"), r"\n%d\t.*\tStarted at" % job)
        elsewhere = "[...document.links].filter(a => a.protocol != location.protocol)"
        self.assertEqual([], browser.js(elsewhere + ".map(a => a.href)"), "PAPPL's https")
        browser.submit('form:has([name="job-id"][value="%d"])' % job)
        self.cancelled(printing, job)

        # Every paper is offered, the driver's own too (PAPPL leaves out "custom_" ones).
        browser.load(printer + "media")
        offered = browser.js("[...document.forms[0]['ready0-size'].options].map(o => o.value)")
        supported = printer_attributes(self.uri)["media-supported"].split(",")
        self.assertEqual(sorted(supported), sorted(offered))
        paper = next(m for m in offered if m.startswith(("oe_", "om_")))
        browser.submit("form", **{"ready0-size": paper})
        browser.load(printer + "printing")
        browser.submit("form", **{"print-color-mode": "monochrome", "printer-resolution": "600dpi"})
        wanted = {"media-default": paper, "print-color-mode-default": "monochrome"}
        wanted["printer-resolution-default"] = "600dpi"
        self.assertLessEqual(wanted.items(), printer_attributes(self.uri).items())
        refused = "import urllib.request as u; u.urlopen(%r)" % (printer + "printing")
        self.assertIn("403", sh("runuser -u nobody -- /usr/bin/python3 -c", refused).stderr)

        (state,) = glob.glob(self.work + "/state/tavri-printer-app/*.state")
        wait_until(lambda: "monochrome" in pathlib.Path(state).read_text(), 30, "defaults saved")
        stop_app(self.app)
        again = start_app(self, PREFIX, 2, "state-file=" + state)
        self.assertLessEqual(wanted.items(), printer_attributes(again.uri).items(), "restarted")

        # Deleted by its owner, a printer stays deleted: the rescans leave it out.
        site = "http://localhost:%d/" % again.port
        browser.load(site + peer.PRINTER + "/delete")
        browser.submit("form")
        wait_until(lambda: b"withdrawn" in read(again.log), 30, "a rescan")
        self.assertNotIn(peer.PRINTER, browser.load(site))

    def test_one_application_a_prefix_and_a_port_each_refusal_said(self):
        """What is served is said at start; another application for the same
        prefix or port, a prefix that does not exist and an output folder
        the owner cannot write are refused, and the first one serves on."""
        said = "serving the Wine prefix %s; printers: %s; output in %s"
        self.assertIn(said % (PREFIX, peer.PRINTER, self.out), read(self.stderr).decode())
        second, spool = PREFIX + "-second", tempfile.mkdtemp(dir=self.work)
        os.chmod(spool, 0o777)  # a spool folder another user could put jobs into
        shared = "the spool folder %s is not a folder of this user's alone" % spool
        for prefix, option, said in (
            (PREFIX, "rescan-interval=0", "another tavri-printer-app serves the Wine prefix"),
            (second, "server-port=%d" % self.port, "port %d is in use" % self.port),
            (self.work + "/none", "rescan-interval=0", "the Wine prefix %s/none" % self.work),
            (second, "output-directory=/", "the output folder / cannot be written"),
            (second, "spool-directory=" + spool, shared),
        ):
            refused = start_app(self, prefix, 0, option)
            self.assertEqual(1, refused.app.wait(60), said)
            self.assertIn("tavri-printer-app: " + said, read(refused.stderr).decode())
        self.assertTrue(printer_attributes(self.uri), "the first one serves on")

        # Killed while a job prints, and restarted with its font unlinked and a
        # log past PAPPL's 1 MiB: the job is aborted, never completed, what it
        # left is swept, the font is linked and the log never blocks a request.
        printing, job = self.long_job()
        owner = pwd.getpwnam(USER).pw_uid
        left = {p for p in glob.glob("/dev/shm/tavri-app-*") if os.stat(p).st_uid == owner}
        os.killpg(self.app.pid, signal.SIGKILL)
        self.assertTrue(left, "the job's page folder")
        link = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"
        env = ["WINEPREFIX=" + PREFIX, "HOME=" + os.path.dirname(PREFIX)]
        reg = ["runuser", "-u", USER, "--", "env", *env, os.environ.get("WINE", "wine"), "reg"]
        run(*reg, "delete", link, "/v", "Tahoma", "/f", check=True)
        log = pathlib.Path(self.work, "big.log")
        log.write_text("I old line\n" * 200000)
        shutil.chown(log, USER)
        (state,) = glob.glob(self.work + "/state/tavri-printer-app/*.state")
        again = start_app(self, PREFIX, 2, "log-file=%s" % log, "state-file=" + state)
        vars(self).update(vars(again))
        aborted = r"(?s)job-id \(integer\) = %d\n.*job-state \(enum\) = aborted\n" % job
        self.assertRegex(self.jobs("get-completed-jobs.test"), aborted + ".*aborted-by-system")
        self.assertEqual(set(), {p for p in left if os.path.exists(p)})
        self.delivered(self.print_job(pages(".jpg", 1, self.work)), 1)
        self.assertIn("wqy-microhei", run(*reg, "query", link, "/v", "Tahoma").stdout)

    def test_dns_sd_on_the_loopback_interface(self):
        """Each printer advertised where it can be reached, with its resource."""
        if not shutil.which("avahi-browse") or run("avahi-browse", "-pt", "_ipp._tcp").returncode:
            self.skipTest("no avahi-daemon to ask (scripts/services starts one where installed)")
        resource = '"rp=ipp/print/%s"' % peer.PRINTER

        def advertised():
            lines = sh("avahi-browse -rpt _ipp._tcp").stdout.splitlines()
            rows = [line.split(";") for line in lines if line.startswith("=;")]
            rows = [row for row in rows if row[8] == str(self.port) and resource in ";".join(row)]
            return rows or "Local name collision" in pathlib.Path(self.log).read_text()

        found = wait_until(advertised, 30, "advertised")
        if found is True:  # another checkout's rig, as this user, serves the same printer
            self.skipTest("another application on this machine advertises %s" % peer.PRINTER)
        self.assertEqual({"lo"}, {fields[1] for fields in found}, found)
        self.assertEqual("%s\\032\\040%s\\041" % (peer.PRINTER, USER), found[0][3])

    def test_beyond_this_machine_settings_only_over_tls_with_a_password(self):
        address = next((a for a in run("hostname", "-I").stdout.split() if "." in a), None)
        if not address:
            self.skipTest("no address beyond the loopback interface")
        stop_app(self.app)
        host = start_app(self, PREFIX, 0, "listen-hostname=" + address)
        page = "//%s:%d/%s/config" % (address, host.port, peer.PRINTER)
        curl = "curl -sk -o /dev/null -w %{http_code}"
        codes = [sh(curl, scheme + page).stdout for scheme in ("http:", "https:")]
        self.assertEqual(["301", "401"], codes)
        # Printing asks for no password.
        printed = run("ipptool", "-tv", "-f", pages(".pdf", 1, self.work), host.uri, PRINT_JOB)
        self.assertIn("status-code = successful-ok", printed.stdout)


if __name__ == "__main__":
    unittest.main()
