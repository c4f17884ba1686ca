#!/usr/bin/env python3
"""A PDF job against the same pages pre-rasterised, through the library.

A 10-page A4 PDF (text lines, colour bands and a shaded area on every page)
is printed on the rig's printer as one job, its pages rasterised by
Ghostscript while the program prints the one before (--ahead 1), and, in
the same run, taking turns, the same pages rasterised beforehand by the same
Ghostscript command and printed as BMP files. A third variant rasterises
each page only when it is due (--ahead 0), to show what the overlap saves.
Times are whole jobs: program start to exit. Run with the rig's services up:
    python3 bench/rasterise_ahead.py [--pages 10] [--repeats 5]
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD_DIR = os.environ.get("PROXY_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "client"))
from tavri_print.peer import JobSettings, Program, StatusError  # noqa: E402
from tavri_print.printing import DocumentFile, PageOptions, print_files  # noqa: E402
from tavri_print.printing.documents import Document  # noqa: E402
from tavri_print.printing.ghostscript import Ghostscript  # noqa: E402
from tavri_print.printing.render import PageLayout, estimate_dpi, render_pdf_page  # noqa: E402

WORK_DIR = os.path.join(BUILD_DIR, "bench-rasterise-ahead")
PRINTER = os.environ.get("PROXY_TEST_PRINTER", "TavriTestPDF")
PAGE = """<< /PageSize [595 842] >> setpagedevice
/Helvetica findfont 11 scalefont setfont
0.15 0.3 0.7 setrgbcolor 50 760 495 40 rectfill
0 0 0 setrgbcolor 0 1 38 { /i exch def 60 720 i 14 mul sub moveto
  (Line %d of a page that carries ordinary text, numbers 0123456789 and more words.) show
} for
<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [60 0 535 0] /Extend [true true]
   /Function << /FunctionType 2 /Domain [0 1] /C0 [1 0.2 0.1] /C1 [0.1 0.4 1] /N 1 >> >>
gsave 60 60 475 160 rectclip shfill grestore showpage
"""


def make_pdf(path, pages):
    ps = path + ".ps"
    with open(ps, "w") as f:
        f.write("%!PS\n" + "".join(PAGE.replace("%d", str(n)) for n in range(1, pages + 1)))
    subprocess.run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
                    "-sOutputFile=" + path, ps], check=True)
    return path


def program():
    env = dict(os.environ, NO_RPC="1", WINEDEBUG="-all")
    log = os.path.join(BUILD_DIR, "logs", "bench-rasterise-ahead.stderr")
    return Program(env=env, log_path=log)


def settings(name):
    return JobSettings(printer=PRINTER, output="bench-rasterise-ahead-%s.ps" % name)


def printable_size():
    """The page-size answer of a job that is then ended."""
    for attempt in range(5):
        try:
            with program() as session:
                session.start_print(settings("probe"), 1)
                size = session.page_size()
                session.end_job()
            return size
        except StatusError as error:
            if error.status != 1:
                raise
            time.sleep(2)
    raise SystemExit("the document start kept failing")


def prerasterise(pdf, pages, width, height):
    gs = Ghostscript()
    doc = Document(DocumentFile.sniffed(pdf), gs, WORK_DIR)
    layout = PageLayout(width, height, estimate_dpi(width, height, [doc]), color="color", fit=True)
    paths = []
    for number in range(1, pages + 1):
        paths.append(os.path.join(WORK_DIR, "page-%02d.bmp" % number))
        render_pdf_page(gs, doc, number, layout, paths[-1])
    return paths


def timed_job(name, files, options):
    """Seconds of one whole job. A document start refused with status 1 is
    what Wine answers while another program prints in the same prefix (the
    rig is shared): that attempt is not counted and the job is tried again."""
    for attempt in range(5):
        started = time.monotonic()
        try:
            output = print_files(program(), settings(name), files, options)
        except StatusError as error:
            if error.status != 1:
                raise
            print("  (%s: %s; again)" % (name, error))
            time.sleep(2)
            continue
        elapsed = time.monotonic() - started
        os.remove(output)
        return elapsed
    raise SystemExit("%s: the document start kept failing" % name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pages", type=int, default=10)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    os.makedirs(WORK_DIR, exist_ok=True)
    pdf = make_pdf(os.path.join(WORK_DIR, "document.pdf"), args.pages)
    width, height = printable_size()
    bmps = prerasterise(pdf, args.pages, width, height)
    runs = {"pre-rasterised BMP": [], "PDF, 1 page ahead": [], "PDF, no overlap": []}
    for repeat in range(args.repeats):
        runs["pre-rasterised BMP"].append(timed_job("bmp", bmps, PageOptions(fit=False)))
        runs["PDF, 1 page ahead"].append(timed_job("pdf", [pdf], PageOptions(ahead=1)))
        runs["PDF, no overlap"].append(timed_job("serial", [pdf], PageOptions(ahead=0)))
        print("run %d: %s" % (repeat + 1, ", ".join("%.2f s" % v[-1] for v in runs.values())))
    # Each run's variants follow each other within seconds: the ratio of a
    # run's pair is less exposed to the load of a shared machine than the
    # ratio of medians taken over minutes.
    base = runs["pre-rasterised BMP"]
    print("%d pages of %d x %d, medians of %d runs:" % (args.pages, width, height, args.repeats))
    for name, values in runs.items():
        ratios = [value / first for value, first in zip(values, base)]
        print("  %-20s %6.2f s  ratio %.2f (of medians %.2f)" % (
            name, statistics.median(values), statistics.median(ratios),
            statistics.median(values) / statistics.median(base)))


if __name__ == "__main__":
    main()
