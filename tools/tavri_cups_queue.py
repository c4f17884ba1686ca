#!/usr/bin/env python3
"""Creates a CUPS queue that prints through a Wine printer, or installs the
CUPS backend that such queues use.

    tools/tavri_cups_queue.py QUEUE WINE-PRINTER [--to DEST] [--prefix DIR]
                              [--user NAME] [--display :0]
    tools/tavri_cups_queue.py --install-backend [BACKEND-DIR]    (as root)

The queue's device URI is tavri:/WINE-PRINTER?to=DEST&... ; see
client/tavri_print/cups_backend.py for what the backend does with it.
"""
import argparse
import os
import subprocess
import sys
from urllib.parse import quote, urlencode

CLIENT_DIR = os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "client")
LAUNCHER = """#!/usr/bin/python3
# CUPS backend for Wine printers, installed from tavri-printer-proxy's sources.
import sys
sys.path.insert(0, %r)
from tavri_print.cups_backend import main
sys.exit(main(sys.argv))
"""


def serverbin():
    try:
        return subprocess.run(["cups-config", "--serverbin"], capture_output=True, text=True,
                              check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "/usr/lib/cups"


def install_backend(folder):
    """Mode 0700: CUPS then runs it as root, and it runs the program as the
    Wine prefix's owner."""
    folder = folder or os.path.join(serverbin(), "backend")
    path = os.path.join(folder, "tavri")
    with open(path + ".new", "w") as f:
        f.write(LAUNCHER % os.path.abspath(CLIENT_DIR))
    os.chmod(path + ".new", 0o700)
    os.replace(path + ".new", path)
    print(path)


def device_uri(args):
    settings = {"to": args.to, "prefix": args.prefix and os.path.abspath(args.prefix),
                "user": args.user, "display": args.display, "xauthority": args.xauthority,
                "exe": args.exe and os.path.abspath(args.exe)}
    query = urlencode({k: v for k, v in settings.items() if v}, quote_via=quote, safe="")
    return "tavri:/%s%s" % (quote(args.wine_printer, safe=""), "?" + query if query else "")


def main():
    parser = argparse.ArgumentParser(description="Create a CUPS queue for a Wine printer.")
    parser.add_argument("--install-backend", nargs="?", const="", metavar="DIR",
                        help="install the backend into DIR (default: CUPS's backend folder)")
    parser.add_argument("queue", nargs="?", help="name of the new CUPS queue")
    parser.add_argument("wine_printer", nargs="?", help="printer name in the Wine prefix")
    parser.add_argument("--to", help="where the driver's output goes: queue:NAME, a folder, "
                        "or a backend URI such as socket://HOST:9100 (default: the CUPS "
                        "queue named like the Wine printer)")
    parser.add_argument("--prefix", help="the Wine prefix (default: ~USER/.wine)")
    parser.add_argument("--user", default=None if os.geteuid() == 0 else
                        os.environ.get("USER"), help="the prefix's owner (default: you, "
                        "or the prefix's owner when run as root)")
    parser.add_argument("--display", default=os.environ.get("DISPLAY"),
                        help="X display for the progress window (default %(default)s)")
    parser.add_argument("--xauthority", help="the display's X authority file (default: "
                        "~USER/.Xauthority when it exists)")
    parser.add_argument("--exe", help="the program (default: build/tavri-printer-proxy.exe "
                        "of these sources)")
    args = parser.parse_args()
    if args.install_backend is not None:
        return install_backend(args.install_backend)
    if not (args.queue and args.wine_printer):
        parser.error("QUEUE and WINE-PRINTER are needed")
    if not (args.user or args.prefix):
        parser.error("--user or --prefix is needed")
    # A queue without a driver offers only monochrome unless told otherwise.
    command = ["lpadmin", "-p", args.queue, "-E", "-v", device_uri(args),
               "-D", "Wine printer %s" % args.wine_printer, "-o", "print-color-mode-default=color"]
    print(" ".join(command))
    return subprocess.run(command).returncode


if __name__ == "__main__":
    sys.exit(main())
