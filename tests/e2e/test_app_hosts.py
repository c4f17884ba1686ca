"""Two printer applications standing in for two hosts (two prefixes of the
owner) behind one CUPS class, as an office serves many users: a stream of
jobs sent to the class comes out once each, shared between the two, and the
application that keeps its own prefix's Wine server running keeps it running
between jobs."""
import os
import re
import unittest

from test_cups_backend import USER, read, run, wait_until
import test_printer_app
from test_printer_app import PREFIX, pages, start_app

setUpModule = test_printer_app.setUpModule
SECOND_PREFIX = os.environ.get("PROXY_E2E_SECOND_PREFIX", PREFIX + "-second")
JOBS = 20


def wineservers(prefix):
    """The arguments of the user's Wine servers that serve `prefix`."""
    mark = b"\0WINEPREFIX=%s\0" % prefix.encode()
    pids = run("pgrep", "-u", USER, "wineserver").stdout.split()
    ours = [pid for pid in pids if mark in b"\0" + read("/proc/%s/environ" % pid)]
    return [read("/proc/%s/cmdline" % pid).split(b"\0")[1:-1] for pid in ours]


class TwoHosts(unittest.TestCase):
    def test_a_class_of_two_applications_prints_every_job_exactly_once(self):
        # No rescans, whose queries would keep Wine running on their own.
        hosts = [start_app(self, prefix, 0) for prefix in (PREFIX, SECOND_PREFIX)]
        self.assertEqual([[b"-p300"]], wineservers(SECOND_PREFIX), "the application's own server")
        name = "TavriHosts%d" % os.getpid()
        for n, host in enumerate(hosts):
            queue = "%s-%d" % (name, n)
            made = run("lpadmin", "-p", queue, "-E", "-m", "everywhere", "-v", host.uri)
            self.addCleanup(run, "lpadmin", "-x", queue)
            self.assertEqual(0, made.returncode, made.stderr)
            run("lpadmin", "-p", queue, "-c", name, check=True)
        self.addCleanup(run, "lpadmin", "-x", name)
        run("cupsenable", name, check=True)
        run("cupsaccept", name, check=True)

        document = pages(".pdf", 1, hosts[0].work)
        for n in range(JOBS):
            run("lp", "-d", name, "-t", "stream-%02d" % n, document, check=True)
        # Every job ended in CUPS, each output delivered first: a job lost shows as a title.
        wait_until(lambda: run("lpstat", "-o", name).stdout == "", 300, "the jobs ended")
        outputs = [f for host in hosts for f in os.listdir(host.out)]
        titles = sorted(re.match(r"job-\d+-(.*)\.ps$", f).group(1) for f in outputs)
        logged = [line for host in hosts for line in read(host.log).decode().splitlines()]
        errors = [x for x in logged if x.startswith("E ")]  # why the applications lost a job
        self.assertEqual(["stream-%02d" % n for n in range(JOBS)], titles, "\n".join(errors))
        self.assertTrue(all(os.listdir(host.out) for host in hosts), "both hosts printed")


if __name__ == "__main__":
    unittest.main()
