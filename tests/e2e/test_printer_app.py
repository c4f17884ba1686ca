"""The printer application as its owner runs it: every Wine printer of the
prefix an IPP Everywhere printer. PAPPL's own conformance test passes; JPEG
and PWG raster jobs come out once each; a cancelled job leaves nothing
behind; a CUPS queue made for it prints a PDF."""
import glob
import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import types
import unittest
import urllib.request

import peer
from test_cups_backend import run, wait_until

APP = os.path.join(os.environ.get("PROXY_NATIVE_BUILD_DIR", peer.BUILD_DIR + "-native"),
                   "tavri-printer-app")
USER = os.environ.get("PROXY_E2E_USER", "tavri-e2e")
PREFIX = os.environ.get("PROXY_E2E_PREFIX", os.path.join(peer.BUILD_DIR, "e2e-home", ".wine"))
CUPS = "127.0.0.1:%s" % os.environ.get("PROXY_CUPS_PORT", "6631")
TESTS = "/usr/share/cups/ipptool"
JOB_OPERATION = """{ OPERATION %s
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR naturalLanguage attributes-natural-language en
 ATTR uri printer-uri $uri
 %s
 ATTR name requesting-user-name $user
 STATUS successful-ok }
"""


def pages(document, count, work):
    """A PDF of `count` pages, and the same as PWG raster at 150 dpi."""
    source = os.path.join(work, "doc-%d" % count)
    with open(source + ".ps", "w") as f:
        f.write("".join("/Helvetica 48 selectfont 72 400 moveto (Page %d) show showpage\n" % n
                        for n in range(1, count + 1)))
    for device, ext in (("pdfwrite", ".pdf"), ("pwgraster", ".pwg")):
        run("gs", "-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-r150", "-sPAPERSIZE=a4",
            "-sDEVICE=" + device, "-sOutputFile=" + source + ext, source + ".ps", check=True)
    return source + document


def start_app(test, prefix, rescan_seconds=2):
    """The app serving `prefix` as its owner, stopped at the test's end:
    its work folder, output folder, log, port and printer URI."""
    work = tempfile.mkdtemp(prefix="app-", dir=peer.BUILD_DIR)
    test.addCleanup(shutil.rmtree, work, True)
    host = types.SimpleNamespace(work=work, out=os.path.join(work, "out"),
                                 log=os.path.join(work, "state", "app.log"))
    owner = pwd.getpwnam(USER)
    for folder in (host.out, os.path.join(work, "state")):
        os.mkdir(folder)
        os.chown(folder, owner.pw_uid, owner.pw_gid)
    os.chmod(work, 0o755)
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        host.port = s.getsockname()[1]
    env = ["HOME=" + os.path.dirname(PREFIX), "WINEPREFIX=" + prefix, "CUPS_SERVER=" + CUPS,
           "PROXY_EXE=" + peer.PROXY_EXE, "DISPLAY=" + os.environ.get("DISPLAY", ":87"),
           "TAVRI_OUTPUT_DIR=" + host.out, "XDG_STATE_HOME=" + os.path.join(work, "state"),
           "TAVRI_RESCAN_SECONDS=%d" % rescan_seconds]
    app = subprocess.Popen(
        ["runuser", "-u", USER, "--", "env", *env, APP, "server", "-o",
         "server-port=%d" % host.port, "-o", "log-file=" + host.log, "-o", "log-level=debug"],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, start_new_session=True)
    test.addCleanup(stop_app, app)
    host.uri = "ipp://localhost:%d/ipp/print/%s" % (host.port, peer.PRINTER)
    wait_until(lambda: run("ipptool", "-T", "5", host.uri,
                           "get-printer-attributes.test").returncode == 0, 120, "serving")
    return host


def stop_app(app):
    os.killpg(app.pid, signal.SIGTERM)
    try:
        app.wait(60)
    except subprocess.TimeoutExpired:
        os.killpg(app.pid, signal.SIGKILL)
        app.wait()


class PrinterApp(unittest.TestCase):
    def setUp(self):
        host = start_app(self, PREFIX)
        self.work, self.out, self.log, self.port, self.uri = (
            host.work, host.out, host.log, host.port, host.uri)

    def job_operation(self, operation, job=None):
        """ipptool's verbose answer to `operation` for job `job`, or for none."""
        path = os.path.join(self.work, operation + ".test")
        with open(path, "w") as f:
            f.write(JOB_OPERATION % (operation, "ATTR integer job-id %d" % job if job else ""))
        return run("ipptool", "-tv", self.uri, path).stdout

    def print_job(self, document):
        out = run("ipptool", "-tv", "-f", document, self.uri, TESTS + "/print-job.test")
        self.assertEqual(0, out.returncode, out.stdout)
        return int(re.search(r"job-id \(integer\) = (\d+)", out.stdout).group(1))

    def delivered(self, job, count):
        found = wait_until(lambda: glob.glob(os.path.join(self.out, "job-%d-*" % job)), 180,
                           "job %d delivered" % job)
        self.assertEqual(1, len(found), found)
        with open(found[0], "rb") as f:
            self.assertEqual(count, f.read().count(b"\n%%Page: "), found[0])

    def test_everywhere_conformance_jobs_cancel_and_a_cups_queue(self):
        jpeg = os.path.join(self.work, "photo.jpg")
        run("gs", "-q", "-dBATCH", "-dNOPAUSE", "-r30", "-sDEVICE=jpeg", "-sOutputFile=" + jpeg,
            pages(".ps", 1, self.work), check=True)
        self.delivered(self.print_job(jpeg), 1)
        self.delivered(self.print_job(pages(".pwg", 3, self.work)), 3)
        self.delivered(self.print_job(pages(".pdf", 4, self.work)), 4)
        with urllib.request.urlopen("http://localhost:%d/" % self.port, timeout=30) as page:
            self.assertIn(peer.PRINTER, page.read().decode(), "the web interface lists it")

        # Cancelled while it prints: cancelled, and nothing left behind.
        before = set(os.listdir("/dev/shm")), set(os.listdir(PREFIX + "/drive_c"))
        printing = subprocess.Popen(["ipptool", "-f", pages(".pwg", 40, self.work), self.uri,
                                     TESTS + "/print-job.test"], stdout=subprocess.DEVNULL)
        job = int(wait_until(lambda: re.search(r"job-id \(integer\) = (\d+)", self.job_operation(
            "Get-Jobs")), 120, "the job queued").group(1))
        wait_until(lambda: "job-state (enum) = processing" in self.job_operation(
            "Get-Job-Attributes", job), 120, "job %d printing" % job)
        self.assertIn("[PASS]", self.job_operation("Cancel-Job", job))
        wait_until(lambda: "job-state (enum) = canceled" in self.job_operation(
            "Get-Job-Attributes", job), 120, "job %d cancelled" % job)
        printing.wait(60)
        self.assertEqual(before, (set(os.listdir("/dev/shm")),
                                  set(os.listdir(PREFIX + "/drive_c"))))

        queue = "TavriApp%d" % os.getpid()
        env = dict(os.environ, CUPS_SERVER=CUPS)
        made = run("lpadmin", "-p", queue, "-E", "-m", "everywhere", "-v", self.uri, env=env)
        self.addCleanup(run, "lpadmin", "-x", queue, env=env)
        self.assertEqual(0, made.returncode, made.stderr)
        before = set(os.listdir(self.out))
        run("lp", "-d", queue, pages(".pdf", 2, self.work), env=env, check=True)
        new = wait_until(lambda: set(os.listdir(self.out)) - before, 300, "queue job delivered")
        self.delivered(int(re.match(r"job-(\d+)-", new.pop()).group(1)), 2)

        out = run("ipptool", "-tf", jpeg, self.uri, TESTS + "/ipp-everywhere.test", timeout=900)
        self.assertEqual(0, out.returncode, out.stdout)
        print(out.stdout.strip().splitlines()[-1])

if __name__ == "__main__":
    unittest.main()
