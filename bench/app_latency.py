#!/usr/bin/env python3
"""The printer application against the program printing the same pages
pre-rasterised and against a native PostScript queue: seconds from
submission to the delivered output.

  - app: `tavri-printer-app` run as the rig's prefix owner in its prefix,
    a PDF sent with ipptool's Print-Job, until the output file is in the
    app's output folder (Ghostscript one page ahead, the program under Wine);
  - baseline: the same pages rasterised beforehand (bench/cups_queue.py's
    Ghostscript command), printed through tavri-print;
  - native: a PostScript queue with the PPD the queue command makes for the
    same printer, printing to a socket, until the socket has read the job.

With --cups, the app is reached as a user reaches it, through a CUPS queue
made with `lpadmin -m everywhere` (`lp`, CUPS's defaults), against the
root-made queue (the tavri backend) on the same PDF, each until its output
is delivered.

Runs alternate; medians are reported. Run with the rig's services up
(scripts/services start), the Windows build in $PROXY_BUILD_DIR and the
native build (the app) beside it:
    python3 bench/app_latency.py [--pages 1,10] [--repeats 3]
"""
import argparse
import glob
import os
import pwd
import signal
import socket
import statistics
import subprocess
import time

import cups_queue as queue_bench
from queue_rig import BUILD_DIR, fresh_work, make_queue, rig
from bmp import make_pdf  # noqa: E402  (on the path queue_rig sets)

APP = os.path.join(
    os.environ.get("PROXY_NATIVE_BUILD_DIR", BUILD_DIR + "-native"), "tavri-printer-app"
)
PRINT_JOB = "/usr/share/cups/ipptool/print-job.test"


def start_app(out, prefix=rig.PREFIX):
    """The app serving `prefix`, the rig's unless named; (process, printer URI)."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    owner = pwd.getpwnam(rig.USER)
    os.chown(out, owner.pw_uid, owner.pw_gid)
    env = [
        "HOME=" + os.path.dirname(rig.PREFIX),
        "WINEPREFIX=" + prefix,
        "CUPS_SERVER=" + os.environ["CUPS_SERVER"],
        "PROXY_EXE=" + os.environ["PROXY_EXE"],
        "DISPLAY=" + os.environ.get("DISPLAY", ""),
        "TAVRI_OUTPUT_DIR=" + out,
        "XDG_STATE_HOME=" + out,
    ]
    app = subprocess.Popen(
        [
            "runuser",
            "-u",
            rig.USER,
            "--",
            "env",
            *env,
            APP,
            "server",
            "-o",
            "server-port=%d" % port,
        ],
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
        start_new_session=True,
    )
    uri = "ipp://localhost:%d/ipp/print/%s" % (port, rig.PRINTER)
    deadline = time.monotonic() + 120
    while (
        subprocess.run(
            ["ipptool", "-T", "5", uri, "get-printer-attributes.test"], capture_output=True
        ).returncode
        != 0
    ):
        if time.monotonic() > deadline or app.poll() is not None:
            raise SystemExit("the app did not serve %s" % uri)
        time.sleep(0.5)
    return app, uri


def app_job(pdf, uri, out):
    start = time.monotonic()
    sender = subprocess.Popen(["ipptool", "-f", pdf, uri, PRINT_JOB], stdout=subprocess.DEVNULL)
    while not glob.glob(os.path.join(out, "job-*.ps")):
        time.sleep(0.02)
    whole = time.monotonic() - start
    sender.wait(60)
    for path in glob.glob(os.path.join(out, "job-*")):
        os.remove(path)
    return whole


def app_queue_job(pdf, queue, out):
    start = time.monotonic()
    subprocess.run(["lp", "-d", queue, pdf], check=True, stdout=subprocess.DEVNULL)
    while not glob.glob(os.path.join(out, "job-*.ps")):
        time.sleep(0.02)
    whole = time.monotonic() - start
    for path in glob.glob(os.path.join(out, "job-*")):
        os.remove(path)
    return whole


def measure_queues(pages, repeats, queue, out, folder):
    """Medians: the app through its everywhere queue, the root-made queue."""
    pdf = make_pdf(os.path.join(queue_bench.WORK, "doc.pdf"), pages)
    os.chmod(pdf, 0o644)
    app_queue_job(pdf, queue, out)  # warm
    timed = [], []
    for _ in range(repeats):
        timed[0].append(app_queue_job(pdf, queue, out))
        timed[1].append(queue_bench.queue_job(pdf, folder)[0])
    return [statistics.median(runs) for runs in timed]


def measure(pages, repeats, uri, out, printer):
    pdf = make_pdf(os.path.join(queue_bench.WORK, "doc.pdf"), pages)
    bmps = queue_bench.rasterise(pdf)
    for path in bmps + [pdf]:
        os.chmod(path, 0o644)
    app_job(pdf, uri, out)  # warm
    timed = [], [], []
    for _ in range(repeats):
        for runs, job in zip(
            timed,
            (
                lambda: app_job(pdf, uri, out),
                lambda: queue_bench.baseline_job(bmps),
                lambda: queue_bench.native_job(pdf, printer),
            ),
        ):
            runs.append(job())
    return [statistics.median(runs) for runs in timed]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pages", default="1,10")
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument(
        "--cups",
        action="store_true",
        help="through an everywhere queue, against the root-made queue",
    )
    args = parser.parse_args()
    folder = fresh_work(queue_bench.WORK)
    out = os.path.join(queue_bench.WORK, "app-out")
    os.mkdir(out)
    make_queue(queue_bench.QUEUE, folder)  # its PPD is the native queue's
    app, uri = start_app(out)
    try:
        if args.cups:
            return compare_queues(args, uri, out, folder)
        printer = queue_bench.native_queue()
        print("medians of %d runs, seconds from submission to delivered" % args.repeats)
        print(
            "%6s %8s %8s %8s %11s %9s"
            % ("pages", "app", "baseline", "native", "a/baseline", "a/native")
        )
        for pages in map(int, args.pages.split(",")):
            a, b, n = measure(pages, args.repeats, uri, out, printer)
            print("%6d %8.2f %8.2f %8.2f %11.2f %9.2f" % (pages, a, b, n, a / b, a / n), flush=True)
    finally:
        os.killpg(app.pid, signal.SIGTERM)
        app.wait(60)
        for queue in (queue_bench.QUEUE, queue_bench.NATIVE, APP_QUEUE):
            subprocess.run(["lpadmin", "-x", queue], stderr=subprocess.DEVNULL)


APP_QUEUE = "TavriBenchApp"


def compare_queues(args, uri, out, folder):
    subprocess.run(["lpadmin", "-p", APP_QUEUE, "-E", "-m", "everywhere", "-v", uri], check=True)
    print("medians of %d runs, seconds from lp to delivered" % args.repeats)
    print("%6s %10s %10s %7s" % ("pages", "app queue", "root queue", "ratio"))
    for pages in map(int, args.pages.split(",")):
        a, r = measure_queues(pages, args.repeats, APP_QUEUE, out, folder)
        print("%6d %10.2f %10.2f %7.2f" % (pages, a, r, a / r), flush=True)


if __name__ == "__main__":
    main()
