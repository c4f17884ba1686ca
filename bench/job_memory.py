#!/usr/bin/env python3
"""Peak memory of a whole CUPS job, all its processes together (the backend
as root, the worker, Ghostscript, Wine and the program), for an ordinary
page and for the worst documents a submitter can send: raw jobs skip CUPS's
filters, so they reach the backend as they are.

Each input prints through one queue with --max-seconds 90; reported are its
end (delivered, or cancelled and why) and the peak of the summed resident
memory, sampled every 20 ms, against the ordinary one-page PDF. Run with
the rig's services up (scripts/services start), as root:
    python3 bench/job_memory.py
"""
import glob
import os
import subprocess
import time

from queue_rig import BUILD_DIR, fresh_work, make_queue, rig
from bmp import make, make_pdf  # noqa: E402  (on the path queue_rig sets)

WORK = os.path.join(BUILD_DIR, "bench-memory")
QUEUE = "TavriBenchMemory"


def job_processes(job):
    """The backend and worker (argv[1] is the job's id) and everything they
    started (TAVRI_CUPS_JOB in the environment)."""
    mark = b"\0TAVRI_CUPS_JOB=%s\0" % job.encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        argv = rig.read("/proc/%s/cmdline" % pid).split(b"\0")
        if (
            argv[0].startswith(b"tavri:") and argv[1:2] == [job.encode()]
        ) or mark in b"\0" + rig.read("/proc/%s/environ" % pid):
            yield pid


def resident_kib(pid):
    for line in rig.read("/proc/%s/status" % pid).decode().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def peak_of(path, raw, folder):
    """(peak MiB, how the job ended) of one job."""
    options = ["-o", "raw"] if raw else []
    out = subprocess.run(
        ["lp", "-d", QUEUE, *options, path], check=True, capture_output=True, text=True
    ).stdout
    job, peak = out.split()[3].rsplit("-", 1)[1], 0
    while rig.run("lpstat", "-W", "not-completed", "-o", QUEUE).stdout:
        peak = max(peak, sum(resident_kib(pid) for pid in job_processes(job)))
        time.sleep(0.02)
    delivered = glob.glob(os.path.join(folder, "%s-*" % job))
    ended = (
        "delivered"
        if delivered
        else rig.run("lpstat", "-p", QUEUE).stdout.split("\n", 1)[-1].strip()[:70]
    )
    for path in delivered:
        os.remove(path)
    return peak / 1024, ended


def inputs():
    pdfs = [
        ("%d-page PDF" % n, make_pdf(os.path.join(WORK, "%d.pdf" % n), n), False)
        for n in (1, 10, 100)
    ]
    bomb = make("pngmono", os.path.join(WORK, "bomb.png"), "showpage", (20000, 20000))
    huge = os.path.join(WORK, "huge-page.ps")
    loop = os.path.join(WORK, "loop.ps")
    for path, text in (
        (huge, "%!PS\n<</PageSize [14400 14400]>> setpagedevice showpage\n"),
        (loop, "%!PS\n{} loop\n"),
    ):
        with open(path, "w") as f:
            f.write(text)
    return pdfs + [
        ("raw PNG of 20000 x 20000 pixels", bomb, True),
        ("raw page of 200 x 200 inches", huge, True),
        ("raw looping PostScript", loop, True),
    ]


def main():
    folder = fresh_work(WORK)
    make_queue(QUEUE, folder, "--max-seconds", "90")
    try:
        results = [(name,) + peak_of(path, raw, folder) for name, path, raw in inputs()]
    finally:
        subprocess.run(["lpadmin", "-x", QUEUE])
    base = results[0][1] or 1
    print("%-34s %9s %6s  %s" % ("input", "peak MiB", "ratio", "end"))
    for name, peak, ended in results:
        print("%-34s %9.0f %6.2f  %s" % (name, peak, peak / base, ended))


if __name__ == "__main__":
    main()
