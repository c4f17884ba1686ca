#!/usr/bin/env python3
"""A PDF printed through a CUPS queue against the program printing the same
pages pre-rasterised, and against a native PostScript queue.

  - queue: `lp` until the output is delivered into the destination folder:
    cupsd, pdftopdf, the backend as root, the job as the prefix's owner
    (Ghostscript, the program under Wine), delivery;
  - baseline: the same pages rasterised beforehand (Ghostscript, 24 bits,
    the printable size), printed by the program through tavri-print
    as the same user in the same prefix: printing alone.

Runs alternate; reported are the medians, their ratio, pages per second and
the queue's first-page delay (from `lp` to "Printed page 1" in the queue's
state). Run with the rig's services up (scripts/services start) and the
build in $PROXY_BUILD_DIR:
    python3 bench/cups_queue.py [--pages 1,10,100] [--repeats 3]
"""
import argparse
import glob
import os
import socket
import statistics
import subprocess
import threading
import time

from queue_rig import BUILD_DIR, fresh_work, make_queue, rig
from bmp import make_pdf  # noqa: E402  (on the path queue_rig sets)

WORK = os.path.join(BUILD_DIR, "bench-cups")
QUEUE, NATIVE = "TavriBench", "TavriBenchNative"
PRINTABLE = (2479, 3508, 300)  # the rig's A4 printable area


def run(*command):
    return subprocess.run(
        command, check=True, capture_output=True, text=True, stdin=subprocess.DEVNULL
    )


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
    run(
        "runuser",
        "-u",
        rig.USER,
        "--",
        "env",
        "-i",
        "HOME=" + home,
        "PATH=/usr/bin:/bin",
        "WINEPREFIX=" + rig.PREFIX,
        "WINEDEBUG=-all",
        "WINEDLLOVERRIDES=mscoree,mshtml=",
        "CUPS_SERVER=" + os.environ["CUPS_SERVER"],
        "DISPLAY=" + os.environ.get("DISPLAY", ""),
        os.path.join(
            os.environ.get("PROXY_NATIVE_BUILD_DIR", BUILD_DIR + "-native"), "tavri-print"
        ),
        "--printer",
        rig.PRINTER,
        "--exe",
        os.environ["PROXY_EXE"],
        "--wine-run",
        rig.WINE,
        "--output",
        "tavri-bench.ps",
        "--overwrite",
        "--scale",
        "as-is",
        *pages,
    )
    return time.monotonic() - start


class SocketPrinter(threading.Thread):
    """The native queue's printer: reads each job to its end, notes when."""

    def __init__(self):
        super().__init__(daemon=True)
        self.server = socket.create_server(("127.0.0.1", 0))
        self.port, self.last_end = self.server.getsockname()[1], 0.0

    def run(self):
        while True:
            conn, _ = self.server.accept()
            with conn:
                while conn.recv(1 << 20):
                    pass
            self.last_end = time.monotonic()


def native_queue():
    """A PostScript queue with our queue's PPD, printing to a SocketPrinter."""
    printer = SocketPrinter()
    printer.start()
    with open(os.path.join(os.environ["CUPS_SERVERROOT"], "ppd", QUEUE + ".ppd")) as f:
        ppd = [line for line in f if not line.startswith("*cupsFilter2")]
    path = os.path.join(WORK, "native.ppd")
    with open(path, "w") as f:
        f.writelines(ppd)
    # snmp=false: the socket backend would wait 4 s for an SNMP answer.
    run(
        "lpadmin",
        "-p",
        NATIVE,
        "-E",
        "-v",
        "socket://127.0.0.1:%d/?snmp=false" % printer.port,
        "-P",
        path,
    )
    return printer


def native_job(pdf, printer):
    """Seconds from `lp` until the socket printer has read the whole job."""
    start = time.monotonic()
    run("lp", "-d", NATIVE, pdf)
    while "printing" in state(NATIVE) or printer.last_end < start:
        time.sleep(0.02)
    return printer.last_end - start


def rasterise(pdf):
    width, height, dpi = PRINTABLE
    for old in glob.glob(os.path.join(WORK, "page-*.bmp")):
        os.remove(old)
    pattern = os.path.join(WORK, "page-%03d.bmp")
    run(
        "gs",
        "-q",
        "-dSAFER",
        "-dBATCH",
        "-dNOPAUSE",
        "-sDEVICE=bmp16m",
        "-r%d" % dpi,
        "-g%dx%d" % (width, height),
        "-dFIXEDMEDIA",
        "-dPDFFitPage",
        "-sOutputFile=" + pattern,
        pdf,
    )
    return sorted(glob.glob(os.path.join(WORK, "page-*.bmp")))


def measure(pages, repeats, folder, printer):
    """Median seconds (queue, its first page, baseline, native) for a PDF of `pages`."""
    pdf = make_pdf(os.path.join(WORK, "doc.pdf"), pages)
    bmps = rasterise(pdf)
    for path in bmps + [pdf]:
        os.chmod(path, 0o644)
    queue_job(pdf, folder)  # warm: the first Wine start of a prefix costs more
    queued, firsts, bare, native = [], [], [], []
    for _ in range(repeats):
        whole, first = queue_job(pdf, folder)
        queued.append(whole)
        firsts.append(first or whole)
        bare.append(baseline_job(bmps))
        native.append(native_job(pdf, printer))
    return [statistics.median(v) for v in (queued, firsts, bare, native)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pages", default="1,10,100", help="page counts, comma-separated")
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    folder = fresh_work(WORK)
    make_queue(QUEUE, folder, "--display", os.environ.get("DISPLAY", ""))
    try:
        printer = native_queue()
        print("medians of %d runs, seconds from lp to delivered" % args.repeats)
        print(
            "%6s %8s %8s %8s %11s %9s %10s"
            % ("pages", "queue", "baseline", "native", "q/baseline", "q/native", "1st page")
        )
        for pages in map(int, args.pages.split(",")):
            q, first, b, n = measure(pages, args.repeats, folder, printer)
            print(
                "%6d %8.2f %8.2f %8.2f %11.2f %9.2f %10.2f" % (pages, q, b, n, q / b, q / n, first),
                flush=True,
            )
    finally:
        for queue in (QUEUE, NATIVE):
            subprocess.run(["lpadmin", "-x", queue])


if __name__ == "__main__":
    main()
