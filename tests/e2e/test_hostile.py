"""A short seeded pass of the hostile print server against the real program:
malformed packets, random messages, hostile records and page files, faults
in the middle of jobs and a short soak, with no crash, hang, slow exit,
malformed answer or growth over the soak."""
import os
import subprocess
import sys
import unittest

import peer


class HostileServer(unittest.TestCase):
    def test_short_seeded_pass_finds_nothing(self):
        result = subprocess.run([sys.executable, os.path.join(peer.SOURCE_DIR, "tests", "hostile",
                                                              "server.py"),
                                 "--seed", "8", "--sessions", "150", "--soak", "20"],
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=540)
        report = result.stdout + result.stderr[-3000:]
        self.assertEqual(result.returncode, 0, report)
        self.assertIn("soak of 20 jobs", result.stdout, report)
        self.assertIn("150 sessions, 0 findings", result.stdout, report)


if __name__ == "__main__":
    peer.main()
