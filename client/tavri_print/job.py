"""A whole print job: documents in, the printer's output file out."""
import os
import shutil
import tempfile
import time

from .errors import RenderError
from .render import (Document, Ghostscript, Layout, PageMaker, Prefetch, estimate_dpi,
                     parse_ranges, sniff)


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
    return tempfile.mkdtemp(prefix="tavri-print-", dir=shm if memory else None)


def plan_pages(documents, ranges):
    pages = [(doc, n) for doc in documents for n in range(1, doc.pages + 1)]
    if ranges:
        pages = [pages[n - 1] for n in parse_ranges(ranges, len(pages))]
    return pages


def print_files(program, settings, files, ranges=None, fit=None, colour="color", dpi=None,
                ahead=1, progress=None, work_dir=None, gs=None):
    """Prints `files` (PDF, PostScript, BMP, PNG, JPEG) as one job on a
    started-or-not `program`; returns the unix path of the output file.

    BMP files alone go to the program as they are, placed as-is unless
    `fit`; anything else is rasterised to the printable size (fitted unless
    `fit` is False), the next page while the current one prints."""
    progress = progress or Progress()
    gs = gs or Ghostscript()
    own_dir = work_dir is None
    work_dir = work_dir or page_folder()
    try:
        kinds = [sniff(path) for path in files]
        if not kinds:
            raise RenderError("nothing to print")
        if program.process is None:
            program.launch()  # Wine starts while the documents are measured
        try:
            documents = [Document(path, gs, work_dir) for path in files]
            pages = plan_pages(documents, ranges)
        except BaseException:
            program.kill()
            raise
        passthrough = all(kind == "bmp" for kind in kinds)
        settings.scale = int(bool(fit)) if passthrough else 0
        with program:
            return run_pages(program, settings, documents, pages, passthrough,
                             (fit is not False, colour, dpi, ahead), progress, gs, work_dir)
    finally:
        gs.cancel()
        if own_dir:
            shutil.rmtree(work_dir, ignore_errors=True)


def run_pages(program, settings, documents, pages, passthrough, how, progress, gs, work_dir):
    fit, colour, dpi, ahead = how
    program.start_print(settings, len(pages))
    width, height = program.page_size()
    dpi = dpi or settings.y_resolution or estimate_dpi(width, height, documents)
    maker = PageMaker(gs, work_dir, Layout(width, height, dpi, colour, fit), passthrough)
    progress.started(len(pages))
    prefetch = Prefetch(maker, pages, ahead)
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
