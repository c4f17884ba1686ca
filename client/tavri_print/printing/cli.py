"""tavri-print: prints documents through the program under Wine."""
from __future__ import annotations

import argparse
import codecs
import os
import signal
import sys
import time
from typing import Callable, Dict, List, Optional

from ..peer import JobSettings, PrintError, Program
from ..peer.wine import default_printer, default_wine
from .job import PageOptions, Progress, print_files

NAME = "tavri-print"
DUPLEX_MODES = {"simplex": 1, "vertical": 2, "long-edge": 2, "horizontal": 3, "short-edge": 3}
QUALITIES = {"draft": -1, "low": -2, "medium": -3, "high": -4}
COLORS = {"color": "color", "colour": "color", "grey": "grey", "gray": "grey", "mono": "mono",
          "monochrome": "mono"}


def say(text: str) -> None:
    print("%s: %s" % (NAME, text), file=sys.stderr, flush=True)


def clock(seconds: float) -> str:
    return "%d:%02d" % divmod(int(seconds), 60)


class LineProgress(Progress):
    """One line per printed page, for logs and pipes."""

    def printed(self, number: int) -> None:
        say("page %d/%d printed (%s)" % (number, self.total, clock(time.monotonic() - self.begun)))


class BarProgress(Progress):
    """A bar redrawn in place on the terminal."""

    def started(self, total: int) -> None:
        super().started(total)
        self.draw(0)

    def printed(self, number: int) -> None:
        self.draw(number)

    def finished(self) -> None:
        sys.stderr.write("\n")

    def draw(self, done: int) -> None:
        elapsed = time.monotonic() - self.begun
        left = "--:--" if done == 0 else clock(elapsed * (self.total - done) / done)
        filled = 30 * done // self.total
        sys.stderr.write("\r[%s%s] %d/%d pages  %s elapsed  %s left "
                         % ("#" * filled, "." * (30 - filled), done, self.total,
                            clock(elapsed), left))
        sys.stderr.flush()


def paper_size(text: str) -> int:
    try:
        width, height = (int(part) for part in text.lower().split("x"))
    except ValueError:
        raise argparse.ArgumentTypeError("expected WIDTHxHEIGHT in points, e.g. 595x842")
    if not (0 < width <= 0xFFFF and 0 < height <= 0xFFFF):
        raise argparse.ArgumentTypeError("width and height must be 1 to 65535 points")
    return width << 16 | height


def number(low: int, high: int) -> Callable[[str], int]:
    def parse(text: str) -> int:
        try:
            value = int(text, 0)
        except ValueError:
            raise argparse.ArgumentTypeError("expected a number")
        if not low <= value <= high:
            raise argparse.ArgumentTypeError("must be %d to %d" % (low, high))
        return value
    return parse


U32 = number(0, 0xFFFFFFFF)
I32 = number(-0x80000000, 0x7FFFFFFF)


def named_or_number(names: Dict[str, int],
                    parse_number: Callable[[str], int]) -> Callable[[str], int]:
    def parse(text: str) -> int:
        if text.lower() in names:
            return names[text.lower()]
        try:
            return parse_number(text)
        except argparse.ArgumentTypeError:
            raise argparse.ArgumentTypeError("expected one of %s or a number"
                                             % ", ".join(sorted(names)))
    return parse


def seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError("expected a number of seconds")
    if not 0 < value <= 86400:
        raise argparse.ArgumentTypeError("must be more than 0 and at most 86400 seconds")
    return value


def encoding(text: str) -> str:
    try:
        return codecs.lookup(text).name
    except LookupError:
        raise argparse.ArgumentTypeError("unknown encoding %r" % text)


def output_name(text: str) -> str:
    """A name below drive C:'s root: a drive, a root or .. would let a job
    overwrite any file of the prefix, such as C:\\windows\\win.ini."""
    parts = text.replace("/", "\\").split("\\")
    if not text or ":" in text or parts[0] == "" or ".." in parts or "" in parts:
        raise argparse.ArgumentTypeError("expected a file name relative to drive C:'s root, "
                                         "without a drive letter or ..")
    return text


def color_choice(text: str) -> str:
    if text.lower() not in COLORS:
        raise argparse.ArgumentTypeError("expected color, grey or mono")
    return COLORS[text.lower()]


def add_document_options(parser: argparse.ArgumentParser) -> None:
    doc = parser.add_argument_group("documents")
    doc.add_argument("--pages", metavar="RANGES",
                     help="pages to print, e.g. 2-5 or 1,3,7- (default: all)")
    doc.add_argument("--scale", choices=("auto", "as-is", "fit"), default="auto",
                     help="as-is: one pixel (BMP, pictures) or point at the printer's "
                          "resolution (PDF, PostScript) per device pixel; fit: fit the "
                          "printable area; auto: as-is for BMP files only, else fit "
                          "(default %(default)s)")
    doc.add_argument("--dpi", type=number(1, 9600),
                     help="device resolution for rasterising (default: --y-resolution, "
                          "else estimated from the printable size)")
    doc.add_argument("--ahead", type=number(0, 8), default=1,
                     help="pages rasterised ahead of the printer (default %(default)s)")


def add_job_options(parser: argparse.ArgumentParser) -> None:
    job = parser.add_argument_group("job")
    job.add_argument("--printer", help="Wine printer (default: the Wine prefix's default "
                     "printer)")
    job.add_argument("--output", type=output_name,
                     help="output file name on drive C:, relative to its root (default "
                          "tavri-print-DATE-TIME.ps, never one that exists)")
    job.add_argument("--overwrite", action="store_true",
                     help="replace an --output file that exists (default: refuse)")
    job.add_argument("--job-id", type=U32, default=1, help="job number (default %(default)s)")
    job.add_argument("--copies", type=U32, metavar="N", help="number of copies (default: "
                     "the printer's)")
    job.add_argument("--collate", choices=("on", "off"),
                     help="collate copies, with --copies (default: the printer's)")
    job.add_argument("--duplex", type=named_or_number(DUPLEX_MODES, U32),
                     help="simplex, long-edge (vertical), short-edge (horizontal) or 1..3 "
                          "(default: the printer's)")
    job.add_argument("--paper", type=paper_size, metavar="WxH",
                     help="paper size in points (default: the printer's)")
    job.add_argument("--paper-source", type=U32, metavar="N",
                     help="the driver's bin number (default: the printer's)")
    job.add_argument("--quality", type=named_or_number(QUALITIES, I32),
                     help="draft, low, medium, high, or dots per inch (needs "
                          "--y-resolution) (default: the printer's)")
    job.add_argument("--y-resolution", type=U32, metavar="DPI",
                     help="Y resolution, with a --quality in dots per inch (default: the "
                          "printer's)")
    job.add_argument("--color", type=color_choice,
                     help="color (24 bits), grey (8 bits) or mono (1 bit); grey and mono "
                          "ask the printer for monochrome (default: color pages, the "
                          "printer's setting)")


def add_program_options(parser: argparse.ArgumentParser) -> None:
    run = parser.add_argument_group("program")
    run.add_argument("--port", type=number(0, 65535), default=0,
                     help="port to listen on (default: a free one)")
    run.add_argument("--exe", help="the program (default: $PROXY_EXE, else the installed one, "
                     "or a checkout's own build)")
    run.add_argument("--wine-run", default=default_wine(),
                     help="Wine or a launcher (default %(default)s)")
    run.add_argument("--program-log", metavar="FILE",
                     help="append the program's stderr here (default: discarded)")
    run.add_argument("--encoding", default="cp1252", type=encoding,
                     help="ANSI code page of the Wine prefix for the names (default "
                          "%(default)s)")
    run.add_argument("--timeout", type=seconds, default=120,
                     help="seconds to wait for each answer (default %(default)s)")
    run.add_argument("--connect-timeout", type=seconds, default=60,
                     help="seconds to wait for the program to connect (default %(default)s)")
    run.add_argument("--heartbeat", type=float, default=10,
                     help="seconds between our heartbeats while waiting, at most 20 "
                          "(default %(default)s)")


def parse_args(argv: Optional[List[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=NAME, description="Print PDF, PostScript, BMP, PNG or JPEG files through "
                               "tavri-printer-proxy on a Wine printer.",
        epilog="The output file's unix path is printed on standard output; progress goes "
               "to standard error (a bar on a terminal, else one line per page).")
    parser.add_argument("files", nargs="+", metavar="FILE", help="documents, in order")
    add_document_options(parser)
    add_job_options(parser)
    add_program_options(parser)
    args = parser.parse_args(argv)
    if not 0 < args.heartbeat <= 20:
        parser.error("--heartbeat must be more than 0 and at most 20 seconds")
    return args


def printer_of(prefix: str) -> str:
    """The Wine prefix's default printer; a prefix without one is refused."""
    printer = default_printer(prefix)
    if not printer:
        raise SystemExit("%s: the Wine prefix %s has no default printer: name one with "
                         "--printer" % (NAME, prefix))
    return printer


def choose_output(program: Program, args: argparse.Namespace) -> str:
    """The output name: the one asked for, unless it exists and may not be
    replaced, else a new one that names the time."""
    if args.output:
        program.output = args.output
        if os.path.exists(program.output_path()) and not args.overwrite:
            raise SystemExit("%s: %s exists: choose another --output, or --overwrite"
                             % (NAME, program.output_path()))
        return args.output
    stamp = time.strftime("tavri-print-%Y%m%d-%H%M%S")
    for number in range(1, 1000):
        program.output = stamp + ("-%d" % number if number > 1 else "") + ".ps"
        if not os.path.exists(program.output_path()):
            return program.output
    raise SystemExit("%s: no free output name %s-N.ps on drive C:" % (NAME, stamp))


def settings_from(args: argparse.Namespace) -> JobSettings:
    return JobSettings(
        printer=args.printer, output=args.output, job_id=args.job_id, copies=args.copies,
        collate={"on": 1, "off": 0, None: None}[args.collate], duplex=args.duplex,
        paper=args.paper, paper_source=args.paper_source, quality=args.quality,
        y_resolution=args.y_resolution, encoding=args.encoding)


def terminate(signum: int, frame: object) -> None:
    for name in ("SIGTERM", "SIGHUP"):  # one interruption, one clean-up
        signal.signal(getattr(signal, name), signal.SIG_IGN)
    raise KeyboardInterrupt()


def main(argv: Optional[List[str]] = None) -> int:
    args = parse_args(argv)
    for path in args.files:
        if not os.path.isfile(path):
            raise SystemExit("%s: no such file: %s" % (NAME, path))
    program = Program(exe=args.exe, wine=args.wine_run, log_path=args.program_log,
                      answer_timeout=args.timeout, connect_timeout=args.connect_timeout,
                      heartbeat=args.heartbeat)
    args.printer = args.printer or printer_of(program.prefix)
    args.output = choose_output(program, args)
    settings = settings_from(args)
    try:
        settings.record(1)
    except ValueError as error:
        raise SystemExit("%s: %s" % (NAME, error))
    signal.signal(signal.SIGTERM, terminate)
    signal.signal(signal.SIGHUP, terminate)
    progress = BarProgress() if sys.stderr.isatty() else LineProgress()
    options = PageOptions(fit={"auto": None, "as-is": False, "fit": True}[args.scale],
                          color=args.color, dpi=args.dpi, ahead=args.ahead)
    try:
        output = print_files(program, settings, args.files, options, ranges=args.pages,
                             progress=progress)
    except PrintError as failure:
        say("printing on the Wine printer %s failed: %s" % (args.printer, failure))
        return 1
    except KeyboardInterrupt:
        say("interrupted; the job was ended")
        return 130
    say("done: %s" % output)
    print(output, flush=True)
    return 0
