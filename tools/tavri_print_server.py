#!/usr/bin/env python3
"""Prints BMP files through tavri-printer-proxy: a reference print server.

It listens on 127.0.0.1, starts the program under Wine with the port, sends
one start-print request for the given pages, asks for the page size, sends
the pages one by one and waits for the job result. The unix path of the
printer's output file is printed on standard output; progress and failures
go to standard error. The exit status is 0 only when the job result arrived.

    tools/tavri_print_server.py [options] PAGE.bmp [PAGE.bmp ...]

The program, its Wine prefix and the printer are found as scripts/env.sh
arranges them: $PROXY_EXE, else $PROXY_BUILD_DIR/tavri-printer-proxy.exe
(PROXY_BUILD_DIR defaults to build/ of the source tree), scripts/wine-run,
and $PROXY_TEST_PRINTER. NO_RPC and WINEDEBUG reach the program unchanged.
"""
import argparse
import os
import select
import socket
import struct
import subprocess
import sys
import time

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD_DIR = os.environ.get("PROXY_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
DEFAULT_EXE = os.environ.get("PROXY_EXE", os.path.join(BUILD_DIR, "tavri-printer-proxy.exe"))
DEFAULT_WINE_RUN = os.path.join(SOURCE_DIR, "scripts", "wine-run")
DEFAULT_PRINTER = os.environ.get("PROXY_TEST_PRINTER", "TavriTestPDF")

# Packet frame: magic, version, code, request id, body length, body, trailer.
MAGIC, VERSION, TRAILER = 0xAABB1122, 2, 0xCCDD3344
HEADER = struct.Struct(">IHHII")

START_PRINT, PAGE_FILENAME, GET_PRINT_PAGE = 1, 2, 8
JOB_RESULT, PROGRAM_HEARTBEAT, USER_CANCEL, RECEIVE_FAILED = 0x2001, 0x2002, 0x2003, 0x2004
PRINT_DONE, SERVER_HEARTBEAT, CANCEL_PRINT_DONE = 0x3001, 0x3002, 0x3003

# Selection bits of the start-print record's `fields`.
FIELD_COLLATE, FIELD_COPIES, FIELD_DUPLEX, FIELD_PAPER_SOURCE = 0x01, 0x02, 0x04, 0x08
FIELD_PAPER_SIZE, FIELD_QUALITY, FIELD_Y_RESOLUTION, FIELD_COLOR = 0x10, 0x20, 0x40, 0x80
NAME_FIELD_SIZE = 128
DATA_TYPE_BITMAP = 1

STATUS_MEANINGS = {
    0: "success",
    1: "invalid request or general failure",
    2: "bad magic or trailer",
    4: "bad version",
    5: "invalid data type",
    6: "receive or file failure",
    8: "printer cannot be opened",
    9: "invalid output file name or no printer name",
    11: "out of memory",
    12: "print quality without Y resolution",
    13: "printing in progress",
    14: "invalid duplex mode",
    15: "page file is not a BMP",
    16: "user cancelled a property dialog",
    19: "receive time-out",
    20: "job accepted but document not started",
    21: "print in progress, or action not implemented",
    23: "invalid page count",
    24: "page message without body",
    25: "page-size query for another job",
}

EXIT_MEANINGS = {0: "after a session", 1: "usage", 2: "invalid port",
                 5: "spooler service not running", 6: "socket library failure"}

DUPLEX_MODES = {"simplex": 1, "vertical": 2, "long-edge": 2, "horizontal": 3, "short-edge": 3}
QUALITIES = {"draft": -1, "low": -2, "medium": -3, "high": -4}
COLORS = {"mono": 1, "monochrome": 1, "color": 2, "colour": 2}


class JobFailed(Exception):
    """A failure to report; `program_gone` when there is nobody left to tell."""

    def __init__(self, message, program_gone=False):
        super().__init__(message)
        self.program_gone = program_gone


def describe_status(status):
    return "status %d (%s)" % (status, STATUS_MEANINGS.get(status, "unknown status"))


def describe_exit(code):
    if code is None:
        return "still running"
    return "exit status %d (%s)" % (code, EXIT_MEANINGS.get(code, "unexpected"))


# --- packets ------------------------------------------------------------

def frame(code, req_id, body=b""):
    return HEADER.pack(MAGIC, VERSION, code, req_id, len(body)) + body + struct.pack(">I", TRAILER)


def text_body(status, text=b""):
    return struct.pack(">II", status, len(text)) + text


def parse_text_body(body):
    """(status, text) of a reply, a job result or a failure notice."""
    if len(body) < 8:
        raise JobFailed("answer body of %d bytes is too short" % len(body))
    status, length = struct.unpack(">II", body[:8])
    return status, body[8:8 + length]


def name_field(text, encoding, what):
    try:
        raw = text.encode(encoding)
    except UnicodeEncodeError:
        raise SystemExit("%s %r cannot be written in %s" % (what, text, encoding))
    if not raw or len(raw) >= NAME_FIELD_SIZE:
        raise SystemExit("%s must be 1 to %d bytes" % (what, NAME_FIELD_SIZE - 1))
    return raw + b"\0" * (NAME_FIELD_SIZE - len(raw))


def start_print_record(args, page_count):
    """The 308-byte body of the start-print request."""
    return (struct.pack(">I", args.job_id)
            + name_field(args.printer, args.encoding, "--printer")
            + name_field(args.output, args.encoding, "--output")
            + struct.pack(">IIIIIIIiIIII", selected_fields(args), args.collate or 0,
                          args.copies or 0, args.duplex or 0, args.scale, args.paper_source or 0,
                          args.paper or 0, args.quality or 0, args.y_resolution or 0,
                          page_count, args.color or 0, DATA_TYPE_BITMAP))


def selected_fields(args):
    options = ((args.collate, FIELD_COLLATE), (args.copies, FIELD_COPIES),
               (args.duplex, FIELD_DUPLEX), (args.paper_source, FIELD_PAPER_SOURCE),
               (args.paper, FIELD_PAPER_SIZE), (args.quality, FIELD_QUALITY),
               (args.y_resolution, FIELD_Y_RESOLUTION), (args.color, FIELD_COLOR))
    return sum(bit for value, bit in options if value is not None)


# --- the connection -----------------------------------------------------

class Link:
    """The accepted connection, the program's process and our heartbeat clock."""

    def __init__(self, conn, process, heartbeat):
        self.conn, self.process, self.heartbeat = conn, process, heartbeat
        self.buffer = b""
        self.last_sent = time.monotonic()
        self.next_req_id = 1

    def send(self, code, req_id=0, body=b""):
        try:
            self.conn.sendall(frame(code, req_id, body))
        except OSError as error:
            raise self.gone("sending failed (%s)" % error)
        self.last_sent = time.monotonic()

    def request(self, code, body):
        req_id = self.next_req_id
        self.next_req_id += 1
        self.send(code, req_id, body)
        return req_id

    def gone(self, what):
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
        return JobFailed("the program closed the connection: %s, %s"
                         % (what, describe_exit(self.process.poll())), program_gone=True)


def take_packet(link):
    """The next whole packet from the buffer, or None."""
    if len(link.buffer) < HEADER.size:
        return None
    magic, version, code, req_id, length = HEADER.unpack_from(link.buffer)
    if magic != MAGIC or version != VERSION:
        raise JobFailed("the program sent a malformed header %s" % link.buffer[:16].hex())
    end = HEADER.size + length + 4
    if len(link.buffer) < end:
        return None
    (trailer,) = struct.unpack_from(">I", link.buffer, end - 4)
    if trailer != TRAILER:
        raise JobFailed("the program sent a malformed trailer %08x" % trailer)
    body = link.buffer[HEADER.size:end - 4]
    link.buffer = link.buffer[end:]
    return code, req_id, body


def next_packet(link, deadline, waiting_for):
    """Reads until a packet is whole, keeping the program's receive time-out
    at bay with heartbeats; fails at the deadline."""
    while True:
        packet = take_packet(link)
        if packet:
            return packet
        now = time.monotonic()
        if now >= deadline:
            raise JobFailed("timed out waiting for %s" % waiting_for)
        if now - link.last_sent >= link.heartbeat:
            link.send(SERVER_HEARTBEAT)
        wait = min(deadline, link.last_sent + link.heartbeat) - now
        ready, _, _ = select.select([link.conn], [], [], max(wait, 0))
        if ready:
            receive_some(link)


def receive_some(link):
    try:
        chunk = link.conn.recv(65536)
    except OSError as error:
        raise link.gone("receiving failed (%s)" % error)
    if not chunk:
        raise link.gone("end of stream")
    link.buffer += chunk


def wait_for(link, code, req_id, timeout, waiting_for):
    """The body of packet `code` with `req_id`; the program's own notices on
    the way are handled, its heartbeats need no answer."""
    deadline = time.monotonic() + timeout
    while True:
        got_code, got_id, body = next_packet(link, deadline, waiting_for)
        if got_code == code and got_id == req_id:
            return body
        check_notice(got_code, body)
        if got_code != PROGRAM_HEARTBEAT:
            say("ignoring unexpected packet %#06x (request id %d)" % (got_code, got_id))


def check_notice(code, body):
    if code == USER_CANCEL:
        raise JobFailed("the user cancelled the job in the progress window (0x2003)")
    if code == RECEIVE_FAILED:
        status, _ = parse_text_body(body)
        raise JobFailed("the program failed to receive a packet (0x2004): %s"
                        % describe_status(status))


# --- the job ------------------------------------------------------------

def say(text):
    print("tavri_print_server: %s" % text, file=sys.stderr, flush=True)


def check_answer(body, what):
    status, text = parse_text_body(body)
    if status != 0:
        detail = (": %s" % text.decode("utf-8", "replace")) if text else ""
        raise JobFailed("%s refused with %s%s" % (what, describe_status(status), detail))


def start_job(link, args, record):
    req_id = link.request(START_PRINT, record)
    body = wait_for(link, START_PRINT | 0x1000, req_id, args.timeout, "the start-print answer")
    check_answer(body, "start-print request")
    say("job %d started on %s, output C:\\%s" % (args.job_id, args.printer, args.output))


def query_page_size(link, args):
    req_id = link.request(GET_PRINT_PAGE, struct.pack(">I", args.job_id))
    body = wait_for(link, GET_PRINT_PAGE | 0x1000, req_id, args.timeout, "the page-size answer")
    if len(body) < 8:
        raise JobFailed("page-size answer of %d bytes is too short" % len(body))
    (status,) = struct.unpack("<I", body[:4])  # the status of this answer is little-endian
    width, height = struct.unpack(">HH", body[4:8])
    if status != 0:
        raise JobFailed("page-size query refused with %s" % describe_status(status))
    say("printable page: %d x %d device pixels" % (width, height))
    return width, height


def send_pages(link, args, pages):
    for number, path in enumerate(pages, 1):
        req_id = link.request(PAGE_FILENAME, os.fsencode(path) + b"\0")
        body = wait_for(link, PAGE_FILENAME | 0x1000, req_id, args.timeout,
                        "the answer to page %d" % number)
        check_answer(body, "page %d (%s)" % (number, path))
        say("page %d/%d printed: %s" % (number, len(pages), path))


def await_job_result(link, args):
    say("waiting for the job result")
    body = wait_for(link, JOB_RESULT, 0, args.timeout, "the job result")
    status, text = parse_text_body(body)
    if status != 0:
        raise JobFailed("job result %s" % describe_status(status))
    if not text:
        raise JobFailed("the job result names no output file")
    return os.fsdecode(text)


def end_session(link, code, status, text, timeout=30):
    """Tells the program that the job is over and waits for it to leave."""
    try:
        link.send(code, 0, text_body(status, text))
    except JobFailed:
        pass
    try:
        return link.process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        say("the program did not exit within %d s; killing it" % timeout)
        link.process.kill()
        return link.process.wait()


# --- start-up -----------------------------------------------------------

def launch(args, port):
    log = open(args.program_log, "ab") if args.program_log else None
    try:
        return subprocess.Popen([args.wine_run, args.exe, "x", str(port)],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=log)
    finally:
        if log:
            log.close()


def accept_program(listener, process, timeout):
    deadline = time.monotonic() + timeout
    listener.settimeout(0.2)
    while time.monotonic() < deadline:
        try:
            conn, _ = listener.accept()
            conn.settimeout(None)
            return conn
        except socket.timeout:
            if process.poll() is not None:
                raise JobFailed("the program exited before connecting: %s"
                                % describe_exit(process.returncode), program_gone=True)
    process.kill()
    process.wait()
    raise JobFailed("the program did not connect within %d s" % timeout, program_gone=True)


def absolute_pages(paths):
    pages = []
    for path in paths:
        full = os.path.abspath(path)
        if not os.path.isfile(full):
            raise SystemExit("no such page file: %s" % path)
        pages.append(full)
    return pages


def run_job(args, pages, record):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as listener:
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", args.port))
        listener.listen(1)
        port = listener.getsockname()[1]
        say("listening on 127.0.0.1:%d, starting %s" % (port, args.exe))
        process = launch(args, port)
        conn = accept_program(listener, process, args.connect_timeout)
    link = Link(conn, process, args.heartbeat)
    try:
        return print_pages(link, args, pages, record)
    except JobFailed as failure:
        if not failure.program_gone:
            end_session(link, CANCEL_PRINT_DONE, 1, str(failure).encode("utf-8", "replace"))
        raise
    except KeyboardInterrupt:
        end_session(link, CANCEL_PRINT_DONE, 1, b"interrupted")
        raise
    finally:
        conn.close()


def print_pages(link, args, pages, record):
    start_job(link, args, record)
    query_page_size(link, args)
    send_pages(link, args, pages)
    output = await_job_result(link, args)
    code = end_session(link, PRINT_DONE, 0, b"OK")
    if code != 0:
        say("warning: the program ended with %s" % describe_exit(code))
    return output


# --- command line -------------------------------------------------------

def paper_size(text):
    try:
        width, height = (int(part) for part in text.lower().split("x"))
    except ValueError:
        raise argparse.ArgumentTypeError("expected WIDTHxHEIGHT in points, e.g. 595x842")
    if not (0 < width <= 0xFFFF and 0 < height <= 0xFFFF):
        raise argparse.ArgumentTypeError("width and height must be 1 to 65535 points")
    return width << 16 | height


def number(low, high):
    def parse(text):
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


def named_or_number(names, parse_number):
    def parse(text):
        if text.lower() in names:
            return names[text.lower()]
        try:
            return parse_number(text)
        except argparse.ArgumentTypeError:
            raise argparse.ArgumentTypeError("expected one of %s or a number"
                                             % ", ".join(sorted(names)))
    return parse


def add_job_options(parser):
    job = parser.add_argument_group("job")
    job.add_argument("--printer", default=DEFAULT_PRINTER, help="printer (default %(default)s)")
    job.add_argument("--output", help="output file name on drive C: (default tavri-job-ID.ps)")
    job.add_argument("--job-id", type=U32, default=1, help="job number (default 1)")
    job.add_argument("--scale", choices=("as-is", "fit"), default="as-is",
                     help="as-is: one bitmap pixel per device pixel (default); fit: fit the page")
    job.add_argument("--copies", type=U32, metavar="N", help="number of copies")
    job.add_argument("--collate", choices=("on", "off"), help="collate copies (with --copies)")
    job.add_argument("--duplex", type=named_or_number(DUPLEX_MODES, U32),
                     help="simplex, long-edge (vertical), short-edge (horizontal) or 1..3")
    job.add_argument("--paper", type=paper_size, metavar="WxH", help="paper size in points")
    job.add_argument("--paper-source", type=U32, metavar="N", help="the driver's bin number")
    job.add_argument("--quality", type=named_or_number(QUALITIES, I32),
                     help="draft, low, medium, high, or dots per inch (needs --y-resolution)")
    job.add_argument("--y-resolution", type=U32, metavar="DPI")
    job.add_argument("--color", type=named_or_number(COLORS, U32), help="mono or color")


def add_program_options(parser):
    run = parser.add_argument_group("program")
    run.add_argument("--port", type=number(0, 65535), default=0,
                     help="port to listen on (default: a free one)")
    run.add_argument("--exe", default=DEFAULT_EXE, help="the program (default %(default)s)")
    run.add_argument("--wine-run", default=DEFAULT_WINE_RUN, help="default %(default)s")
    run.add_argument("--program-log", metavar="FILE", help="append the program's stderr here")
    run.add_argument("--encoding", default="cp1252",
                     help="ANSI code page of the Wine prefix for the names (default cp1252)")
    run.add_argument("--timeout", type=float, default=120,
                     help="seconds to wait for each answer (default %(default)s)")
    run.add_argument("--connect-timeout", type=float, default=60, help="default %(default)s s")
    run.add_argument("--heartbeat", type=float, default=10,
                     help="seconds between our heartbeats while waiting, at most 20")


def parse_args(argv):
    parser = argparse.ArgumentParser(
        description="Print BMP pages through tavri-printer-proxy under Wine.",
        epilog="The output file's unix path is printed on standard output.")
    parser.add_argument("pages", nargs="+", metavar="PAGE.bmp", help="page files, in order")
    add_job_options(parser)
    add_program_options(parser)
    args = parser.parse_args(argv)
    if not 0 < args.heartbeat <= 20:
        parser.error("--heartbeat must be more than 0 and at most 20 seconds")
    args.scale = 0 if args.scale == "as-is" else 1
    args.collate = {"on": 1, "off": 0, None: None}[args.collate]
    args.output = args.output or "tavri-job-%d.ps" % args.job_id
    return args


def main(argv=None):
    args = parse_args(argv)
    pages = absolute_pages(args.pages)
    record = start_print_record(args, len(pages))
    try:
        output = run_job(args, pages, record)
    except JobFailed as failure:
        say("failed: %s" % failure)
        return 1
    except KeyboardInterrupt:
        say("interrupted")
        return 130
    say("done: %s" % output)
    print(output, flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
