"""A short seeded pass of the hostile print server against the real program:
malformed packets, random messages, hostile records and page files, faults
in the middle of jobs and a short soak, with no crash, hang, slow exit,
malformed answer, process left behind or growth over the soak."""
import os
import subprocess
import sys
import unittest

import peer

TOOL = os.path.join(peer.SOURCE_DIR, "tests", "hostile", "server.py")


class HostileServer(unittest.TestCase):
    def test_short_seeded_pass_finds_nothing(self):
        logs = os.path.join(peer.BUILD_DIR, "logs", "hostile-test")
        result = subprocess.run([sys.executable, TOOL, "--seed", "8", "--sessions", "150",
                                 "--soak-jobs", "20", "--slow", "0", "--log-dir", logs],
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=540)
        report = result.stdout + result.stderr[-3000:]
        self.assertEqual(result.returncode, 0, report)
        self.assertIn("150 sessions", result.stdout, report)
        self.assertIn("soak 20 jobs", result.stdout, report)


if __name__ == "__main__":
    peer.main()
