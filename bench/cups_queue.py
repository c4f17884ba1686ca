#!/usr/bin/env python3
"""A PDF printed through a CUPS queue against the program printing the same
pages pre-rasterised.

  - queue: `lp` until the output is delivered into the destination folder:
    cupsd, pdftopdf, the backend as root, the job as the prefix's owner
    (Ghostscript, the program under Wine), delivery;
  - baseline: the same pages rasterised beforehand (Ghostscript, 24 bits,
    the printable size), printed by the program through the client
    command as the same user in the same prefix: printing alone.

Runs alternate; reported are the medians, their ratio, pages per second and
the queue's first-page delay (from `lp` to "Printed page 1" in the queue's
state). Run with the rig's services up (scripts/services start) and the
build in $PROXY_BUILD_DIR:
    python3 bench/cups_queue.py [--pages 10] [--repeats 5]
"""
import argparse
import glob
import os
import statistics
import subprocess
import time

from queue_rig import BUILD_DIR, SOURCE_DIR, fresh_work, make_queue, rig
from bmp import make_pdf  # noqa: E402  (on the path queue_rig sets)

WORK = os.path.join(BUILD_DIR, "bench-cups")
QUEUE = "TavriBench"
PRINTABLE = (2479, 3508, 300)  # the rig's A4 printable area


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)


def state(queue):
    return subprocess.run(["lpstat", "-p", queue], capture_output=True, text=True).stdout


def queue_job(pdf, folder):
    """(whole, first page) seconds of one job through the queue."""
    start = time.monotonic()
    run("lp", "-d", QUEUE, pdf)
    first = None
    while not glob.glob(os.path.join(folder, "*.ps")):
        if first is None and "Printed page 1 " in state(QUEUE):
            first = time.monotonic() - start
        time.sleep(0.02)
    whole = time.monotonic() - start
    for path in glob.glob(os.path.join(folder, "*")):
        os.remove(path)
    return whole, first


def baseline_job(pages):
    """Seconds of the program printing the pre-rasterised pages."""
    home = os.path.dirname(rig.PREFIX)
    start = time.monotonic()
    run("runuser", "-u", rig.USER, "--", "env", "-i", "HOME=" + home, "PATH=/usr/bin:/bin",
        "WINEPREFIX=" + rig.PREFIX, "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=",
        "CUPS_SERVER=" + os.environ["CUPS_SERVER"], "DISPLAY=" + os.environ.get("DISPLAY", ""),
        "/usr/bin/python3", os.path.join(SOURCE_DIR, "tools", "tavri-print"),
        "--printer", rig.PRINTER, "--exe", os.environ["PROXY_EXE"], "--wine-run",
        rig.WINE, "--output", "tavri-bench.ps", "--scale", "as-is", *pages)
    return time.monotonic() - start


def rasterise(pdf):
    width, height, dpi = PRINTABLE
    pattern = os.path.join(WORK, "page-%02d.bmp")
    run("gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=bmp16m", "-r%d" % dpi,
        "-g%dx%d" % (width, height), "-dFIXEDMEDIA", "-dPDFFitPage", "-sOutputFile=" + pattern,
        pdf)
    return sorted(glob.glob(os.path.join(WORK, "page-*.bmp")))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pages", type=int, default=10)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    folder = fresh_work(WORK)
    pdf = make_pdf(os.path.join(WORK, "doc.pdf"), args.pages)
    pages = rasterise(pdf)
    for path in pages + [pdf]:
        os.chmod(path, 0o644)
    make_queue(QUEUE, folder, "--display", os.environ.get("DISPLAY", ""))
    try:
        queue_job(pdf, folder)  # warm: the first Wine start of a prefix costs more
        queued, firsts, bare = [], [], []
        for _ in range(args.repeats):
            whole, first = queue_job(pdf, folder)
            queued.append(whole)
            firsts.append(first or whole)
            bare.append(baseline_job(pages))
    finally:
        subprocess.run(["lpadmin", "-x", QUEUE])
    q, b = statistics.median(queued), statistics.median(bare)
    print("%d pages, %d runs each (median seconds)" % (args.pages, args.repeats))
    print("  queue (lp to delivered):      %.2f s  %.2f pages/s" % (q, args.pages / q))
    print("  baseline (pre-rasterised):    %.2f s  %.2f pages/s" % (b, args.pages / b))
    print("  ratio queue / baseline:       %.2f" % (q / b))
    print("  queue's first page after lp:  %.2f s" % statistics.median(firsts))


if __name__ == "__main__":
    main()
