"""A whole print job: documents in, the printer's output file out."""
from __future__ import annotations

import os
import shutil
import tempfile
import time
from dataclasses import dataclass
from typing import List, NamedTuple, Optional, Sequence, Tuple, Union

from ..peer.program import Program
from ..peer.protocol import COLOR_COLOR, COLOR_MONO, JobSettings
from .documents import Document, DocumentFile, bmp_geometry
from .errors import RenderError
from .ghostscript import Ghostscript
from .prefetch import Prefetch
from .render import DEPTHS, MAX_PAGE_BYTES, PageLayout, PageMaker, check_page, estimate_dpi

MAX_PAGES = 10000  # a job of more is refused before any work, not tried
MAX_PAPER_POINTS = 14400  # 200 inches
# What the printer is asked for: grey and 1-bit pages print in monochrome.
RECORD_COLORS = {"color": COLOR_COLOR, "grey": COLOR_MONO, "mono": COLOR_MONO}


@dataclass(frozen=True)
class PageOptions:
    """How a job's pages are made. `fit`: None fits documents to the
    printable area and places BMP files as they are, True fits both, False
    places both as they are. `color` ("color", "grey" or "mono") also asks
    the printer for color or monochrome; None makes color pages and leaves
    the printer's setting. `dpi`: the resolution to rasterise at (None: the
    record's Y resolution, else estimated). `turned` pages are made upside
    down; `ahead` pages are made while one prints; no page image of more
    than `max_page` bytes is made or passed on."""
    fit: Optional[bool] = None
    color: Optional[str] = None
    dpi: Optional[float] = None
    turned: bool = False
    ahead: int = 1
    max_page: int = MAX_PAGE_BYTES

    def layout(self, width: int, height: int, dpi: float) -> PageLayout:
        """The layout of the pages on a printable area of width x height."""
        return PageLayout(width=width, height=height, dpi=dpi, color=self.color or "color",
                          fit=self.fit is not False, turned=self.turned)


class JobPages(NamedTuple):
    """The documents of a job and its pages, (document, page number) in
    print order; `passthrough`: BMP files alone, sent as they are."""
    documents: List[Document]
    pages: List[Tuple[Document, int]]
    passthrough: bool


class Progress:
    """Silent; subclasses show how far a job has got."""

    def started(self, total: int) -> None:
        self.total, self.begun = total, time.monotonic()

    def printed(self, number: int) -> None:
        pass

    def finished(self) -> None:
        pass


def page_folder() -> str:
    """A new folder for page files, in memory where the system has a tmpfs:
    pages are written, read once and removed, and on disk their writeback
    would compete with the printer driver's output."""
    shm = "/dev/shm"
    memory = os.path.isdir(shm) and os.access(shm, os.W_OK | os.X_OK)
    # The pid in the name lets a later job sweep the folder of one that was killed.
    return tempfile.mkdtemp(prefix="tavri-print-%d-" % os.getpid(), dir=shm if memory else None)


def parse_ranges(text: str, total: int) -> List[int]:
    """1-based page numbers of "2-5", "1,3,7-", "-3" within 1..total, in order."""
    numbers: List[int] = []
    for part in text.split(","):
        first, dash, last = part.strip().partition("-")
        try:
            low = int(first) if first or not dash else 1  # "" and "1,,3" are refused
            high = (int(last) if last else total) if dash else low
        except ValueError:
            raise RenderError("page range %r: expected N, N-M, N- or -M" % part)
        if low < 1 or high < low:
            raise RenderError("page range %r is empty" % part)
        numbers += range(low, min(high, total) + 1)  # "1-2147483647" walks no further
    if not numbers:
        raise RenderError("no page of the %d in the document is in %r" % (total, text))
    return numbers


def plan_pages(documents: List[Document], ranges: Optional[str]) -> List[Tuple[Document, int]]:
    total = sum(doc.pages for doc in documents)
    if total > MAX_PAGES:
        raise RenderError("%s has %d pages; at most %d print in one job"
                          % (documents[0].name, total, MAX_PAGES))
    pages = [(doc, n) for doc in documents for n in range(1, doc.pages + 1)]
    if ranges:
        pages = [pages[n - 1] for n in parse_ranges(ranges, len(pages))]
    return pages


def paper_of(doc: Document) -> int:
    """width << 16 | height in points of a document's first page, as it
    stands (the program takes a landscape page on the driver's landscape
    paper, else upright), for a start-print record; RenderError when it is
    no sane paper."""
    width, height = (round(side) for side in doc.size)
    if not 0 < min(width, height) <= max(width, height) <= MAX_PAPER_POINTS:
        raise RenderError("the pages of %s are %d x %d points: no paper is that size"
                          % (doc.name, width, height))
    return width << 16 | height


def print_files(program: Program, settings: JobSettings,
                files: Sequence[Union[str, DocumentFile]], options: PageOptions = PageOptions(),
                ranges: Optional[str] = None, progress: Optional[Progress] = None,
                work_dir: Optional[str] = None, gs: Optional[Ghostscript] = None,
                paper_from_document: bool = False) -> str:
    """Prints `files` (PDF, PostScript, BMP, PNG, JPEG: paths, or
    DocumentFiles whose kind is known already) as one job on a
    started-or-not `program`; returns the unix path of the output file.

    BMP files alone go to the program as they are; anything else is
    rasterised to the printable size, the next page while the current one
    prints (see PageOptions). `paper_from_document` asks the printer for the
    paper of the first PDF or PostScript page."""
    progress = progress or Progress()
    gs = gs or Ghostscript()
    own_dir = work_dir is None
    work_dir = work_dir or page_folder()
    try:
        sources = [f if isinstance(f, DocumentFile) else DocumentFile.sniffed(f) for f in files]
        if not sources:
            raise RenderError("nothing to print")
        passthrough = all(source.kind == "bmp" for source in sources)
        for source in sources if passthrough else ():
            check_page(*bmp_geometry(source.path, source.name), options.max_page, source.name)
        if program.process is None:
            program.launch()  # Wine starts while the documents are measured
        try:
            documents = [Document(source, gs, work_dir) for source in sources]
            job = JobPages(documents, plan_pages(documents, ranges), passthrough)
            if paper_from_document and documents[0].size:
                settings.paper = paper_of(documents[0])
        except BaseException:
            program.kill()
            raise
        settings.scale = int(bool(options.fit)) if passthrough else 0
        if options.color:
            settings.color = RECORD_COLORS[options.color]
        with program:
            return run_pages(program, settings, job, options, progress, gs, work_dir)
    finally:
        gs.cancel()
        if own_dir:
            shutil.rmtree(work_dir, ignore_errors=True)


def run_pages(program: Program, settings: JobSettings, job: JobPages, options: PageOptions,
              progress: Progress, gs: Ghostscript, work_dir: str) -> str:
    program.start_print(settings, len(job.pages))
    width, height = program.page_size()
    layout = options.layout(width, height, options.dpi or settings.y_resolution
                            or estimate_dpi(width, height, job.documents))
    if not job.passthrough:
        check_page(width, height, DEPTHS[layout.color], options.max_page, "the printer's page")
    maker = PageMaker(gs, work_dir, layout, job.passthrough)
    progress.started(len(job.pages))
    prefetch = Prefetch(maker, job.pages, options.ahead, waiting=program.keep_alive)
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
