#!/usr/bin/env python3
"""Page printing of the proxy against the bare GDI path.

An N-page A4 job of 24-bit pages goes through the program (as the server
would send it: start-print, page-size query, one page message per page, job
result) and, in the same run and under the same Wine prefix, through
bench/page_baseline.exe, which makes only the GDI calls of a bitmap job on
the same files (read, StartPage, StretchDIBits, EndPage). Both print on the
rig's PostScript queue into an output file on drive C:.

  - as-is mode: 2480 x 3508 pages drawn unscaled;
  - fit mode: 2600 x 3508 pages stretched over the printable area (the proxy
    converts through an image of the printable area's size first).

Reported per mode: median wall time of the whole process (start to exit)
and of the job alone, and the peak resident memory (VmHWM) of each Wine
process. Run with the rig's services up and the build in $PROXY_BUILD_DIR:
    python3 bench/pages.py [--pages N] [--repeats R] [--modes asis,fit] [--program EXE]
"""
import argparse
import os
import socket
import statistics
import subprocess
import sys
import time

SOURCE_DIR = os.environ.get(
    "PROXY_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
)
BUILD_DIR = os.environ.get("PROXY_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
from bmp import bmp_file  # noqa: E402
from peer import p, record  # noqa: E402

WINE_RUN = os.path.join(SOURCE_DIR, "scripts", "wine-run")
PAGE_DIR = os.path.join(BUILD_DIR, "bench-pages")
SIZES = {"asis": (2480, 3508), "fit": (2600, 3508)}
SCALE = {"asis": 0, "fit": 1}
PRINTER = os.environ.get("PROXY_TEST_PRINTER", "TavriTestPDF")
DRIVE_C = os.path.join(
    os.environ.get("WINEPREFIX", os.path.join(BUILD_DIR, "wineprefix")), "drive_c"
)


def bench_env():
    env = dict(os.environ)
    env.update(
        NO_RPC="1", WINEDEBUG=os.environ.get("BENCH_WINEDEBUG", "-all"), PROXY_BUILD_DIR=BUILD_DIR
    )
    return env


def exe(name):
    return os.path.join(BUILD_DIR, name + ".exe")


# --- pages ----------------------------------------------------------------


def page_rows(width, height, number):
    """Scan lines, top to bottom, of a document-like page: white paper, a
    coloured heading band, lines of grey "text", and a photo-like gradient
    whose every line differs."""
    white = b"\xff\xff\xff" * width
    heading = bytes((40, 90, 200)) * width
    photo_x, photo_w, photo_y, photo_h = 300, 900, 1900, 900
    rows = []
    for y in range(height):
        if 150 <= y < 350:
            row = heading
        elif 500 <= y < 1800 and (y - 500) % 60 < 22:
            indent = 300 + ((y // 60 + number) % 5) * 40
            length = width - indent - 300 - ((y * 7 + number) % 400)
            row = white[: indent * 3] + b"\x30\x30\x30" * length + white[(indent + length) * 3 :]
        elif photo_y <= y < photo_y + photo_h:
            v = (y - photo_y) * 255 // photo_h
            line = bytes(c for x in range(photo_w) for c in (x * 255 // photo_w, v, (x + y) & 255))
            row = white[: photo_x * 3] + line + white[(photo_x + photo_w) * 3 :]
        else:
            row = white
        rows.append(row)
    return rows


def write_page(path, width, height, number):
    with open(path, "wb") as f:
        f.write(bmp_file(width, height, 24, page_rows(width, height, number)))


def page_files(mode, count):
    os.makedirs(PAGE_DIR, exist_ok=True)
    width, height = SIZES[mode]
    paths = []
    for number in range(count):
        path = os.path.join(PAGE_DIR, "%s-%dx%d-%d.bmp" % (mode, width, height, number))
        if not os.path.exists(path):
            write_page(path, width, height, number)
        paths.append(path)
    return paths


# --- runs -----------------------------------------------------------------


def peak_memory_kib(pid):
    """VmHWM of a running process, or None once it is gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        return None
    return None


def remove(path):
    if os.path.exists(path):
        os.remove(path)


def run_program(mode, paths, program):
    """(wall s, job s, peak KiB, (start, pages, end) s) of one job through the
    proxy: the start is the start-print request to its answer, the pages the
    page-size query and page messages to the last page's answer, the end
    from there to the job result."""
    output = "bench-program.ps"
    remove(os.path.join(DRIVE_C, output))
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    log = open(os.path.join(BUILD_DIR, "logs", "bench-pages-program.stderr"), "wb")
    started = time.monotonic()
    process = subprocess.Popen(
        [WINE_RUN, program, "x", str(port)],
        env=bench_env(),
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
        stderr=log,
    )
    listener.settimeout(60)
    conn, _ = listener.accept()
    session = Peer(conn)
    start = record(5, output, PRINTER, page_count=len(paths), scale=SCALE[mode])
    job_started = time.monotonic()
    status = session.request(1, 1, start)
    assert status == 0, "start-print answered %d" % status
    pages_started = time.monotonic()
    session.request(8, 2, p.u32(5))
    for number, path in enumerate(paths):
        status = session.request(2, 10 + number, path.encode() + b"\0")
        assert status == 0, "page %d answered %d" % (number, status)
    pages_ended = time.monotonic()
    assert session.next_code() == 0x2001, "no job result"
    job_ended = time.monotonic()
    job_time = job_ended - job_started
    phases = (pages_started - job_started, pages_ended - pages_started, job_ended - pages_ended)
    peak = peak_memory_kib(process.pid)
    session.send(p.PRINT_DONE, 0, p.text_body(0, b"done"))
    process.wait(timeout=60)
    wall = time.monotonic() - started
    conn.close()
    listener.close()
    log.close()
    return wall, job_time, peak, phases


def run_baseline(mode, paths):
    """(wall s, job s, peak KiB, (start, pages, end) s) of the same pages
    through the bare GDI calls: CreateDCA and StartDocW, the pages, EndDoc
    and DeleteDC."""
    output = "bench-baseline.ps"
    remove(os.path.join(DRIVE_C, output))
    started = time.monotonic()
    process = subprocess.Popen(
        [WINE_RUN, exe("page_baseline"), PRINTER, "C:\\" + output, mode] + paths,
        env=bench_env(),
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL,
    )
    peak = 0
    while process.poll() is None:
        peak = max(peak, peak_memory_kib(process.pid) or 0)
        time.sleep(0.02)
    wall = time.monotonic() - started
    text = process.stdout.read().decode()
    assert process.returncode == 0, "baseline failed: %r" % text
    assert ", " in text, "baseline printed nothing it should: %r" % text
    job_ms = int(text.split(", ")[1].split()[0])
    phases = tuple(int(ms) / 1000.0 for ms in text.split("phases ")[1].split()[:3])
    return wall, job_ms / 1000.0, peak, phases


class Peer:
    """Just enough of the server for a job: requests answered one at a time."""

    def __init__(self, conn):
        self.conn, self.reader = conn, p.PacketReader()

    def send(self, code, req_id, body):
        self.conn.sendall(p.frame(code, req_id, body))

    def next_packet(self):
        while True:
            packet = self.reader.next()
            if packet is None:
                chunk = self.conn.recv(1 << 16)
                assert chunk, "the program closed the connection"
                self.reader.feed(chunk)
            elif packet[0] != p.PROGRAM_HEARTBEAT:
                return packet[0], packet[2]

    def next_code(self):
        return self.next_packet()[0]

    def request(self, code, req_id, body):
        self.send(code, req_id, body)
        answer, reply = self.next_packet()
        assert answer == p.ANSWER + code, "expected %#x, got %#x" % (p.ANSWER + code, answer)
        return p.parse_text_body(reply)[0] if code != p.GET_PRINT_PAGE else 0


# --- report ---------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pages", type=int, default=5)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--modes", default="asis,fit")
    parser.add_argument(
        "--program",
        default=exe("tavri-printer-proxy"),
        help="the program to measure (another build's, to compare two versions)",
    )
    args = parser.parse_args()
    os.makedirs(os.path.join(BUILD_DIR, "logs"), exist_ok=True)
    print("%d pages per job, %d runs each, medians" % (args.pages, args.repeats))
    print("%-5s %-9s %9s %9s %11s" % ("mode", "", "wall s", "job s", "peak MiB"))
    for mode in args.modes.split(","):
        paths = page_files(mode, args.pages)
        program, baseline = [], []
        for _ in range(args.repeats):
            # Taking turns spreads the machine's other load over both.
            program.append(run_program(mode, paths, args.program))
            baseline.append(run_baseline(mode, paths))
        rows = (("proxy", program), ("baseline", baseline))
        medians = {}
        for name, runs in rows:
            medians[name] = [statistics.median(r[i] for r in runs) for i in range(3)]
            wall, job, peak = medians[name]
            print("%-5s %-9s %9.2f %9.2f %11.1f" % (mode, name, wall, job, peak / 1024))
        p, b = medians["proxy"], medians["baseline"]
        print(
            "%-5s %-9s %9.2f %9.2f %11.2f" % (mode, "ratio", p[0] / b[0], p[1] / b[1], p[2] / b[2])
        )
        # Each run's pair shared the machine's load of its moment: the median
        # of their ratios scatters less than the ratio of the medians.
        paired = [
            statistics.median(x[i] / y[i] for x, y in zip(program, baseline)) for i in range(3)
        ]
        print("%-5s %-9s %9.2f %9.2f %11.2f" % (mode, "pairs", *paired))
        for name, runs in rows:
            start, pages, end = (statistics.median(r[3][i] for r in runs) for i in range(3))
            print(
                "%-5s %-9s job phases: start %.3f s, pages %.3f s, end %.3f s"
                % (mode, name, start, pages, end)
            )


if __name__ == "__main__":
    main()
