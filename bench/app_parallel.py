#!/usr/bin/env python3
"""Two printers at once against one: the throughput of two printer
applications, each serving the printer of its own prefix (the rig's and the
second prefix of its owner, as two hosts would), against one application
printing the same jobs alone.

The same documents go to one printer, then shared between the two, sent at
once; the ratio is one's seconds over two's for all of them to be
delivered. Run with the rig's services up (scripts/services start):
    python3 bench/app_parallel.py [--jobs 8] [--pages 10] [--repeats 3]
"""
import argparse
import glob
import os
import signal
import statistics
import subprocess
import time

import cups_queue as queue_bench
from app_latency import PRINT_JOB, start_app
from queue_rig import fresh_work, rig
from bmp import make_pdf  # noqa: E402  (on the path queue_rig sets)

SECOND_PREFIX = os.environ.get("PROXY_E2E_SECOND_PREFIX", rig.PREFIX + "-second")


def print_all(pdf, jobs, hosts):
    """Seconds from sending `jobs` copies of the document, spread over the
    hosts, to the last one delivered."""
    start = time.monotonic()
    senders = [
        subprocess.Popen(
            ["ipptool", "-f", pdf, hosts[n % len(hosts)][0], PRINT_JOB], stdout=subprocess.DEVNULL
        )
        for n in range(jobs)
    ]
    outputs = [os.path.join(out, "job-*.ps") for _, out in hosts]
    while sum(len(glob.glob(pattern)) for pattern in outputs) < jobs:
        time.sleep(0.05)
    seconds = time.monotonic() - start
    for sender in senders:
        sender.wait(60)
    for path in (p for pattern in outputs for p in glob.glob(pattern)):
        os.remove(path)
    return seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--jobs", type=int, default=8)
    parser.add_argument("--pages", type=int, default=10)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    fresh_work(queue_bench.WORK)
    pdf = make_pdf(os.path.join(queue_bench.WORK, "doc.pdf"), args.pages)
    os.chmod(pdf, 0o644)
    apps, hosts = [], []
    try:
        for n, prefix in enumerate((rig.PREFIX, SECOND_PREFIX)):
            out = os.path.join(queue_bench.WORK, "out-%d" % n)
            os.mkdir(out)
            app, uri = start_app(out, prefix)
            apps.append(app)
            hosts.append((uri, out))
        for host in hosts:
            print_all(pdf, 1, [host])  # warm
        one, two = [], []
        for _ in range(args.repeats):
            one.append(print_all(pdf, args.jobs, hosts[:1]))
            two.append(print_all(pdf, args.jobs, hosts))
        a, b = statistics.median(one), statistics.median(two)
        print(
            "%d jobs of %d pages, medians of %d runs: one printer %.1f s, two %.1f s, "
            "throughput of two against one %.2fx"
            % (args.jobs, args.pages, args.repeats, a, b, a / b)
        )
    finally:
        for app in apps:
            os.killpg(app.pid, signal.SIGTERM)
            app.wait(60)


if __name__ == "__main__":
    main()
