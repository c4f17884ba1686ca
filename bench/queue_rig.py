"""What the CUPS benchmarks share: the CUPS tests' rig (the prefix's owner,
prefix and printer), a fresh work folder under the build whose "delivered"
folder the owner may write, and a queue that delivers there."""
import os
import pwd
import shutil
import sys

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD_DIR = os.environ.get("PROXY_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
os.environ.setdefault("PROXY_EXE", os.path.join(BUILD_DIR, "tavri-printer-proxy.exe"))
import test_cups_backend as rig  # noqa: E402,F401  (the CUPS tests' user, prefix and queue)


def fresh_work(work):
    """`work`, emptied, and its "delivered" folder, which the owner writes."""
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work, mode=0o755)
    folder = os.path.join(work, "delivered")
    os.mkdir(folder)
    owner = pwd.getpwnam(rig.USER)
    os.chown(folder, owner.pw_uid, owner.pw_gid)
    return folder


def make_queue(queue, folder, *options):
    """The queue `queue` on the rig's printer, replaced if it exists."""
    rig.run(
        sys.executable,
        rig.QUEUE_TOOL,
        queue,
        rig.PRINTER,
        "--user",
        rig.USER,
        "--prefix",
        rig.PREFIX,
        "--to",
        folder,
        "--exe",
        os.environ["PROXY_EXE"],
        "--replace",
        *options,
        check=True,
    )
