"""Another local user, tavri-e2e-other, against the printer application
that the prefix's owner runs as README says: it reaches neither the
command socket nor the owner's forms, changes no job but its own, reads
nothing a job writes and cannot take the prefix's lock. A third user,
nobody, prints beside them."""
import glob
import os
import pathlib
import pwd
import re
import subprocess
import tempfile
import time
import unittest

import peer
from test_cups_backend import USER, read, run, wait_until
from test_printer_app import APP, PREFIX, TESTS, pages, printer_attributes, start_app

OTHER = os.environ.get("PROXY_OTHER_USER", "tavri-e2e-other")
OWNER = pwd.getpwnam(USER).pw_uid

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
                with open(name, "rb") as f:
                    f.read(1)
                    open(loot, "a").write(name + "\n")
        except OSError:
            pass
    time.sleep(0.02)
"""


def setUpModule():
    if run("id", "-u", OTHER).returncode:
        raise unittest.SkipTest("no second user %s (scripts/services creates it)" % OTHER)


def as_user(user, *command, **options):
    return run("runuser", "-u", user, "--", *command, **options)


class Attacker(unittest.TestCase):
    def setUp(self):
        vars(self).update(vars(start_app(self, PREFIX, 0)))  # work, out, log, port and uri

    def request(self, user, operation, job=None, name=None, printer_attrs="", answer="status"):
        """`operation` sent as `user` under `name`: its status code, or another `answer`."""
        path = tempfile.mktemp(".test", dir=self.work)
        pathlib.Path(path).write_text(REQUEST % (operation, job and "ATTR integer job-id %d" % job
                                                 or "", printer_attrs))
        os.chmod(path, 0o644)
        out = as_user(user, "ipptool", "-tv", "-d", "name=" + (name or user), self.uri, path)
        return re.search(answer + (r"-code" if answer == "status" else r" \(\w+\)") + r" = (\S+)",
                         out.stdout).group(1)

    def held_job(self, user):
        path = os.path.join(self.work, "held.test")
        pathlib.Path(path).write_text(REQUEST % ("Print-Job", "", "GROUP job-attributes-tag\n"
                                                 "ATTR keyword job-hold-until indefinite\n"
                                                 "FILE $filename"))
        os.chmod(path, 0o644)
        out = as_user(user, "ipptool", "-tv", "-d", "name=" + user, "-f",
                      pages(".pdf", 1, self.work), self.uri, path).stdout
        return int(re.search(r"job-id \(integer\) = (\d+)", out).group(1))

    def job_state(self, job):
        return self.request(USER, "Get-Job-Attributes", job, answer="job-state")

    def test_jobs_are_changed_by_their_senders_alone(self):
        owners, nobodys = self.held_job(USER), self.held_job("nobody")
        for job, name in ((owners, OTHER), (owners, USER), (nobodys, "nobody")):
            for operation in ("Cancel-Job", "Release-Job", "Hold-Job"):
                self.assertEqual("client-error-forbidden",
                                 self.request(OTHER, operation, job, name), (job, name))
        for operation in ("Cancel-Jobs", "Cancel-My-Jobs", "Pause-Printer", "Resume-Printer",
                          "Hold-New-Jobs", "Release-Held-New-Jobs", "Disable-Printer"):
            self.assertEqual("client-error-forbidden", self.request(OTHER, operation, None, USER),
                             operation)
        colour = "GROUP printer-attributes-tag\nATTR keyword print-color-mode-default monochrome"
        self.assertEqual("client-error-forbidden",
                         self.request(OTHER, "Set-Printer-Attributes", None, USER, colour))
        self.assertEqual(["pending-held"] * 2, [self.job_state(owners), self.job_state(nobodys)])
        self.assertNotEqual("monochrome", printer_attributes(self.uri)["print-color-mode-default"])
        # Each sender changes its own job, under any name; the owner any job.
        self.assertEqual("successful-ok", self.request("nobody", "Cancel-Job", nobodys, "x"))
        attackers = self.held_job(OTHER)
        self.assertEqual("successful-ok", self.request(USER, "Cancel-Job", attackers, "x"))
        self.assertEqual("successful-ok", self.request(USER, "Cancel-Job", owners))
        self.assertEqual(["canceled"] * 3, [self.job_state(j) for j in (owners, nobodys,
                                                                        attackers)])

    def post(self, user, cookie, token, origin, action="pause-printer"):
        """The printer page's `action` posted as `user`: whether it was done."""
        out = as_user(user, "curl", "-s", "-b", "tavri-form=" + cookie, "-H", "Origin: " + origin,
                      "-d", "session=%s&action=%s" % (token, action),
                      "http://127.0.0.1:%d/%s/" % (self.port, peer.PRINTER)).stdout
        return "Invalid form submission." not in out

    def form(self, user):
        """The printer page as `user` sees it: the cookie it is given, and the form's token."""
        out = as_user(user, "curl", "-s", "-D", "-",
                      "http://127.0.0.1:%d/%s/" % (self.port, peer.PRINTER)).stdout
        return (re.search(r"Set-Cookie: tavri-form=(\w+)", out).group(1),
                re.search(r'name="session" value="(\w+)"', out).group(1))

    def test_forms_are_the_owners_and_sent_from_its_pages(self):
        own, foreign = "http://127.0.0.1:%d" % self.port, "http://127.0.0.1:%d" % (self.port + 1)
        owners, attackers = self.form(USER), self.form(OTHER)
        self.assertNotEqual(owners, attackers)
        for user, (cookie, token), origin in (
                (USER, attackers, own),  # the attacker's token, in the owner's browser
                (USER, (owners[0], attackers[1]), own),
                (USER, owners, foreign),  # the owner's own, from another site's page
                (USER, owners, "null"),
                (OTHER, owners, own),  # a stolen cookie and token, from another uid
                (OTHER, attackers, own)):  # the buttons are the owner's
            for action in ("pause-printer", "set-as-default", "hold-new-jobs"):
                self.assertFalse(self.post(user, cookie, token, origin, action), (user, origin))
        self.assertEqual("idle", printer_attributes(self.uri)["printer-state"])
        self.assertTrue(self.post(USER, *owners, own))
        self.assertEqual("stopped", printer_attributes(self.uri)["printer-state"])

    def command_line(self, user, *words, tmp="/tmp"):
        return as_user(user, "env", "-i", "HOME=" + os.path.dirname(PREFIX), "TMPDIR=" + tmp,
                       "WINEPREFIX=" + PREFIX, APP, *words)

    def test_the_command_socket_is_the_owners(self):
        self.assertIn("Running", self.command_line(USER, "status").stdout)
        (path,) = glob.glob("/tmp/tavri-printer-app-%d/*.sock" % OWNER)
        self.assertEqual(0o700, os.stat(os.path.dirname(path)).st_mode & 0o777)
        connect = "import socket, sys; s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); "\
                  "s.sendall(b'GET / HTTP/1.1\\r\\nHost: localhost\\r\\n\\r\\n'); print(s.recv(99))"
        self.assertIn("Permission denied", as_user(OTHER, "python3", "-c", connect, path).stderr)
        # A folder left open: the connection is still refused, by the peer's uid.
        os.chmod(os.path.dirname(path), 0o711)
        try:
            self.assertNotIn("HTTP", as_user(OTHER, "python3", "-c", connect, path).stdout)
        finally:
            os.chmod(os.path.dirname(path), 0o700)
        refused = b"Refused uid %d on the command socket" % pwd.getpwnam(OTHER).pw_uid
        self.assertTrue(refused in read(self.log), "not logged: %s" % refused)
        self.assertEqual(self.app.poll(), None)

        # A folder another user made first: the server is refused, and the
        # owner's command line sends nothing to whoever listens there.
        tmp = tempfile.mkdtemp(dir=self.work)
        os.chmod(tmp, 0o1777)
        taken = os.path.join(tmp, "tavri-printer-app-%d" % OWNER)
        as_user(OTHER, "mkdir", "-m", "0777", taken)
        listener = subprocess.Popen(["runuser", "-u", OTHER, "--", "python3", "-c",
                                     "import socket, sys; s = socket.socket(socket.AF_UNIX); "
                                     "s.bind(sys.argv[1]); s.listen(); s.settimeout(20); "
                                     "print(s.accept())",
                                     os.path.join(taken, os.path.basename(path))],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(listener.kill)
        time.sleep(0.5)
        said = self.command_line(USER, "status", tmp=tmp)
        self.assertIn("Server is not running", said.stdout + said.stderr)
        refused = start_app(self, PREFIX + "-second", 0, tmp=tmp)
        self.assertEqual(1, refused.app.wait(60))
        self.assertIn("the folder %s of the command socket is not yours alone" % taken,
                      read(refused.stderr).decode())
        listener.kill()
        self.assertEqual("", listener.communicate()[0])

    def test_what_a_job_writes_is_the_owners_alone(self):
        self.assertIn("warning: other users can list the Wine prefix " + PREFIX,
                      read(self.stderr).decode())
        lock = os.path.join(PREFIX, ".tavri-print.lock")
        if os.path.lexists(lock):
            os.remove(lock)
        pathlib.Path(lock).touch(0o644)  # as versions before this one made it
        os.chown(lock, OWNER, -1)
        loot, stop = os.path.join(self.work, "loot"), os.path.join(self.work, "stop")
        reader = subprocess.Popen(["runuser", "-u", OTHER, "--", "python3", "-c", READER, PREFIX,
                                   str(OWNER), loot, stop])
        self.addCleanup(reader.kill)
        out = run("ipptool", "-tv", "-f", pages(".pdf", 8, self.work), self.uri,
                  TESTS + "/print-job.test").stdout
        job = int(re.search(r"job-id \(integer\) = (\d+)", out).group(1))
        wait_until(lambda: self.job_state(job) == "processing", 60, "job %d printing" % job)
        self.assertEqual("client-error-forbidden", self.request(OTHER, "Cancel-Current-Job"))
        wait_until(lambda: glob.glob(os.path.join(self.out, "job-%d-*" % job)), 180, "printed")
        open(stop, "w").close()
        reader.wait(30)
        self.assertFalse(os.path.exists(loot) and read(loot).decode())
        self.assertEqual(0o600, os.stat(lock).st_mode & 0o777)
        self.assertIn("Permission denied", as_user(OTHER, "python3", "-c", "open(%r)" % lock).stderr)

        # A spool folder another user made first is refused.
        spool = tempfile.mkdtemp(dir="/tmp")
        self.addCleanup(os.rmdir, spool)
        os.chown(spool, pwd.getpwnam(OTHER).pw_uid, -1)
        os.chmod(spool, 0o777)
        refused = start_app(self, PREFIX + "-second", 0, "spool-directory=" + spool)
        self.assertEqual(1, refused.app.wait(60))
        self.assertIn("the spool folder %s is not a folder of this user's alone" % spool,
                      read(refused.stderr).decode())


if __name__ == "__main__":
    unittest.main()
