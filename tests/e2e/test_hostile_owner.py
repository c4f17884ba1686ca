"""The prefix's owner attacks while jobs print: every file it can reach in
the prefix, drive C:, the destination folder and its page folders is
replaced by a symlink to a root-only file, and dangling links are planted
where root once wrote. Root must neither change that file nor let any of
it reach the owner, nor leave a file of its own in the owner's places."""
import glob
import os
import pwd
import secrets
import shutil
import subprocess
import tempfile
import time

import bmp
import peer
from test_client import Printed
from test_cups_backend import PREFIX, PRINTER, USER, idle, lp, make_queue, owned_folder, wait_until

ATTACK = r"""
import glob, os, sys, time
secret, folder, prefix, loot, stop = sys.argv[1:6]
drive_c = os.path.join(prefix, "drive_c")
def swap(path):
    link = path + ".swap"
    try:
        os.symlink(secret, link)
        os.replace(link, path)
    except OSError:
        pass
def plant(path):
    try:
        os.symlink(secret, path)
    except OSError:
        pass
while not os.path.exists(stop):
    for name in glob.glob(os.path.join(drive_c, "tavri-cups-*")) + glob.glob(
            os.path.join(folder, "*")) + glob.glob("/dev/shm/tavri-print-*/*") + [
            os.path.join(prefix, ".tavri-print.lock")]:
        if not name.endswith(".swap"):
            swap(name)
    for job in range(1, 60):
        plant(os.path.join(folder, "%d-doc.pdf.ps.part" % job))
        plant(os.path.join(drive_c, "tavri-cups-%d-%d.prn" % (job, job)))
    for name in glob.glob(os.path.join(folder, "*")) + glob.glob(os.path.join(drive_c, "*.prn")):
        try:
            with open(name, "rb") as f, open(loot, "ab") as out:
                out.write(f.read())
        except OSError:
            pass
    time.sleep(0.05)
"""


class HostileOwner(Printed):
    def test_root_keeps_out_of_what_the_owner_can_change(self):
        secret_dir = tempfile.mkdtemp(prefix="secret-", dir=peer.BUILD_DIR)
        self.addCleanup(shutil.rmtree, secret_dir, True)
        secret = os.path.join(secret_dir, "secret")
        payload = b"ROOT-ONLY-" + secrets.token_hex(16).encode()
        with open(secret, "wb") as f:
            f.write(payload)
        os.chmod(secret, 0o600)
        before = os.stat(secret)
        folder = owned_folder(self, "delivered")
        loot, stop = os.path.join(folder, "loot"), os.path.join(self.work, "stop")
        queue = "TavriHostile%d" % os.getpid()
        self.assertEqual(make_queue(self, queue, PRINTER, folder).returncode, 0)
        attacker = subprocess.Popen(["runuser", "-u", USER, "--", "/usr/bin/python3", "-c", ATTACK,
                                     secret, folder, PREFIX, loot, stop])
        self.addCleanup(attacker.kill)
        pdf = bmp.make_pdf(os.path.join(self.work, "doc.pdf"), 2)
        for _ in range(3):
            lp(queue, pdf)
        wait_until(lambda: idle(queue), 240, "the jobs ended")
        time.sleep(1)
        open(stop, "w").close()
        attacker.wait(timeout=30)
        for planted in glob.glob(os.path.join(PREFIX, "drive_c", "tavri-cups-*")):
            os.remove(planted)
        after = os.stat(secret)
        self.assertEqual((after.st_mode, after.st_uid, after.st_size, after.st_mtime_ns),
                         (before.st_mode, before.st_uid, before.st_size, before.st_mtime_ns))
        with open(secret, "rb") as f:
            self.assertEqual(f.read(), payload)
        for place in (folder, os.path.join(PREFIX, "drive_c"), PREFIX, "/dev/shm"):
            for path in owned_paths(place):
                self.assertNotEqual(os.lstat(path).st_uid, 0, "root left %s" % path)
                if os.path.isfile(path) and not os.path.islink(path):
                    with open(path, "rb") as f:
                        self.assertNotIn(payload, f.read(), "the secret reached %s" % path)


def owned_paths(place):
    """What is directly in `place`; in /dev/shm, what is in the owner's page folders."""
    if place != "/dev/shm":
        return [os.path.join(place, name) for name in os.listdir(place)]
    owner = pwd.getpwnam(USER).pw_uid
    folders = [d for d in glob.glob("/dev/shm/tavri-print-*") if os.lstat(d).st_uid == owner]
    return folders + [os.path.join(d, n) for d in folders if os.path.isdir(d)
                      for n in os.listdir(d)]


if __name__ == "__main__":
    peer.main()
