"""A whole print job: documents in, the printer's output file out."""
import os
import shutil
import tempfile
import time

from .errors import RenderError
from .render import (DEPTHS, MAX_PAGE_BYTES, Document, Ghostscript, Layout, PageMaker,
                     Prefetch, bmp_geometry, check_page, estimate_dpi, parse_ranges, sniff)


class Progress:
    """Silent; subclasses show how far a job has got."""

    def started(self, total):
        self.total, self.begun = total, time.monotonic()

    def printed(self, number):
        pass

    def finished(self):
        pass


def page_folder():
    """A new folder for page files, in memory where the system has a tmpfs:
    pages are written, read once and removed, and on disk their writeback
    would compete with the printer driver's output."""
    shm = "/dev/shm"
    memory = os.path.isdir(shm) and os.access(shm, os.W_OK | os.X_OK)
    # The pid in the name lets a later job sweep the folder of one that was killed.
    return tempfile.mkdtemp(prefix="tavri-print-%d-" % os.getpid(), dir=shm if memory else None)


MAX_PAGES = 10000  # a job of more is refused before any work, not tried
MAX_PAPER_POINTS = 14400  # 200 inches


def plan_pages(documents, ranges):
    total = sum(doc.pages for doc in documents)
    if total > MAX_PAGES:
        raise RenderError("%s has %d pages; at most %d print in one job"
                          % (documents[0].name, total, MAX_PAGES))
    pages = [(doc, n) for doc in documents for n in range(1, doc.pages + 1)]
    if ranges:
        pages = [pages[n - 1] for n in parse_ranges(ranges, len(pages))]
    return pages


def paper_of(doc):
    """width << 16 | height in points of a document's first page, as it
    stands (the program takes a landscape page on the driver's landscape
    paper, else upright), for a start-print record; RenderError when it is
    no sane paper."""
    width, height = (round(side) for side in doc.size)
    if not 0 < min(width, height) <= max(width, height) <= MAX_PAPER_POINTS:
        raise RenderError("the pages of %s are %d x %d points: no paper is that size"
                          % (doc.name, width, height))
    return width << 16 | height


def print_files(program, settings, files, ranges=None, fit=None, colour="color", dpi=None,
                ahead=1, progress=None, work_dir=None, gs=None, names=None,
                paper_from_document=False, max_page=MAX_PAGE_BYTES, turned=False):
    """Prints `files` (PDF, PostScript, BMP, PNG, JPEG) as one job on a
    started-or-not `program`; returns the unix path of the output file.

    BMP files alone go to the program as they are, placed as-is unless
    `fit`; anything else is rasterised to the printable size (fitted unless
    `fit` is False), the next page while the current one prints. Messages
    call the files `names` when given; `paper_from_document` asks the
    printer for the paper of the first PDF or PostScript page. No page
    image of more than `max_page` bytes is made or passed on; `turned` pages
    are made upside down."""
    progress = progress or Progress()
    gs = gs or Ghostscript()
    own_dir = work_dir is None
    work_dir = work_dir or page_folder()
    try:
        names = names or list(files)
        kinds = [sniff(path, name) for path, name in zip(files, names)]
        if not kinds:
            raise RenderError("nothing to print")
        passthrough = all(kind == "bmp" for kind in kinds)
        for path, name in zip(files, names) if passthrough else ():
            check_page(*bmp_geometry(path, name), max_page, name)
        if program.process is None:
            program.launch()  # Wine starts while the documents are measured
        try:
            documents = [Document(path, gs, work_dir, name)
                         for path, name in zip(files, names)]
            pages = plan_pages(documents, ranges)
            if paper_from_document and documents[0].size:
                settings.paper = paper_of(documents[0])
        except BaseException:
            program.kill()
            raise
        settings.scale = int(bool(fit)) if passthrough else 0
        with program:
            how = (fit is not False, colour, dpi, ahead, max_page, turned)
            return run_pages(program, settings, documents, pages, passthrough, how, progress, gs,
                             work_dir)
    finally:
        gs.cancel()
        if own_dir:
            shutil.rmtree(work_dir, ignore_errors=True)


def run_pages(program, settings, documents, pages, passthrough, how, progress, gs, work_dir):
    fit, colour, dpi, ahead, max_page, turned = how
    program.start_print(settings, len(pages))
    width, height = program.page_size()
    if not passthrough:
        check_page(width, height, DEPTHS[colour], max_page, "the printer's page")
    dpi = dpi or settings.y_resolution or estimate_dpi(width, height, documents)
    maker = PageMaker(gs, work_dir, Layout(width, height, dpi, colour, fit, turned),
                      passthrough)
    progress.started(len(pages))
    prefetch = Prefetch(maker, pages, ahead, waiting=program.keep_alive)
    try:
        for number, (path, temporary) in enumerate(prefetch, 1):
            program.print_page(path, number)
            if temporary:
                os.remove(path)
            progress.printed(number)
    finally:
        prefetch.close()
    output = program.job_result()
    progress.finished()
    return output
