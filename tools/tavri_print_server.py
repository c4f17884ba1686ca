#!/usr/bin/env python3
"""Prints documents through tavri-printer-proxy: PDF, PostScript, BMP, PNG
and JPEG files become one job on a Wine printer.

    tools/tavri_print_server.py [options] FILE [FILE ...]

It listens on 127.0.0.1, starts the program under Wine with the port, and
plays the print server (client/tavri_print). The unix path of the printer's
output file is printed on standard output; progress and failures go to
standard error. The exit status is 0 only when the job result arrived.

The program and its Wine prefix are found as scripts/env.sh arranges them:
$PROXY_EXE, else $PROXY_BUILD_DIR/tavri-printer-proxy.exe, scripts/wine-run
and $PROXY_TEST_PRINTER. NO_RPC and WINEDEBUG reach the program unchanged.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "client"))
from tavri_print.cli import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main())
