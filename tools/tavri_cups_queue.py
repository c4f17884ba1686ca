#!/usr/bin/env python3
"""Creates a CUPS queue that prints through a Wine printer, with the CUPS
backend "tavri" that the package installs.

    tools/tavri_cups_queue.py QUEUE WINE-PRINTER [--to DEST] [--prefix DIR]
                              [--user NAME] [--display :0]

The queue's device URI is tavri:/WINE-PRINTER?to=DEST&... ; see
client/tavri_print/cups_backend.py for what the backend does with it.
"""
import argparse
import os
import subprocess
import sys
from urllib.parse import quote, urlencode


def device_uri(args):
    settings = {"to": args.to, "prefix": args.prefix and os.path.abspath(args.prefix),
                "user": args.user, "display": args.display, "xauthority": args.xauthority,
                "exe": args.exe and os.path.abspath(args.exe)}
    query = urlencode({k: v for k, v in settings.items() if v}, quote_via=quote, safe="")
    return "tavri:/%s%s" % (quote(args.wine_printer, safe=""), "?" + query if query else "")


def main():
    parser = argparse.ArgumentParser(description="Create a CUPS queue for a Wine printer.")
    parser.add_argument("queue", help="name of the new CUPS queue")
    parser.add_argument("wine_printer", help="printer name in the Wine prefix")
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
    parser.add_argument("--exe", help="the program (default: the installed one)")
    args = parser.parse_args()
    if not (args.user or args.prefix):
        parser.error("--user or --prefix is needed")
    # A queue without a driver offers only monochrome unless told otherwise.
    command = ["lpadmin", "-p", args.queue, "-E", "-v", device_uri(args),
               "-D", "Wine printer %s" % args.wine_printer, "-o", "print-color-mode-default=color"]
    print(" ".join(command))
    return subprocess.run(command).returncode


if __name__ == "__main__":
    sys.exit(main())
