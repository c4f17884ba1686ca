#!/usr/bin/env python3
"""Plays a hostile print server against tavri-printer-proxy under Wine.

Each session starts the real program on a port of ours and attacks it (see
cases.py); one more session prints --soak-jobs jobs in a row and watches the
program's memory, descriptors and threads. --slow sessions wait out the
program's own 30 s time-outs.

    tests/hostile/server.py [--seed 1] [--sessions 2000] [--soak-jobs 300]
                            [--slow 2] [--session N [--kind K]]

Findings: crashes (Wine's exception lines, abnormal exit codes), hangs, exits
more than 2 s after the server went away, malformed or unexpected packets,
processes of the run left running, growth over the soak; the exit status is
1 when there was any. A session replays alone with --session N and the seed.
"""
import argparse
import os
import random
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import cases  # noqa: E402
import peer  # noqa: E402
from peer import p  # noqa: E402

# The program's own lines at error level, and Wine's exception and heap errors.
WINE_DEBUG = "-all,err+seh,err+heap,err+printproxy"
CRASH_LINE = re.compile(r"unhandled (exception|page fault)|:err:(seh|heap):|backtrace:"
                        r"|terminate called|assertion .*failed|stack overflow", re.I)
# Wine's own processes of the prefix, which rightly outlive a first program.
PREFIX_PROCESSES = ("wineserver", "services.exe", "explorer.exe", "winedevice.exe",
                    "plugplay.exe", "rpcss.exe", "svchost.exe", "conhost.exe")
EXIT_LIMIT = 2.0        # seconds from the server going away to the program's exit
ANSWER_TIMEOUT = 120.0  # no answer for this long while the program runs: a hang
EXIT_HANG = 15.0        # no exit for this long after the server went away: a hang
RSS_GROWTH_KB = 4096    # the most that the soak's resident memory may grow
NOTICE_CHECKS = {p.JOB_RESULT: "reply", p.PROGRAM_HEARTBEAT: "word", p.USER_CANCEL: "word",
                 p.RECEIVE_FAILED: "failure"}


class Hang(Exception):
    pass


class Closed(Exception):
    """The program closed the connection."""


def say(text):
    print("hostile_server: %s" % text, file=sys.stderr, flush=True)


def proc_stats(pid):
    """(resident kB, open descriptors, threads) of a running process, or None."""
    try:
        with open("/proc/%d/status" % pid) as f:
            fields = dict(line.split(":", 1) for line in f if ":" in line)
        return (int(fields["VmRSS"].split()[0]), len(os.listdir("/proc/%d/fd" % pid)),
                int(fields["Threads"]))
    except (OSError, KeyError, ValueError, TypeError):
        return None


def processes(needle):
    """(pid, command line) of live processes whose environment holds `needle`."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if needle not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                found.append((int(pid), f.read().replace(b"\0", b" ").decode("utf-8", "replace")))
        except OSError:
            continue
    return [(pid, cmd) for pid, cmd in found if proc_stats(pid)]  # zombies have no VmRSS


class Campaign:
    """What all sessions share: configuration, folders, findings and figures."""

    def __init__(self, args):
        self.args, self.marker = args, "%d-%d" % (os.getpid(), args.seed)
        self.findings, self.counts, self.jobs, self.busy = [], {}, 0, 0
        self.pages_dir = tempfile.mkdtemp(prefix="tavri-hostile-pages-")
        self.out_folder = "tavri-hostile-%s" % self.marker
        self.out_dir = os.path.join(peer.drive_c(), self.out_folder)
        os.makedirs(self.out_dir, exist_ok=True)
        self.log_dir = args.log_dir or os.path.join(peer.BUILD_DIR, "logs",
                                                    "hostile-%s" % self.marker)
        os.makedirs(self.log_dir, exist_ok=True)
        self.env = dict(os.environ, WINEDEBUG=WINE_DEBUG, NO_RPC="1",
                        TAVRI_HOSTILE_RUN=self.marker)

    def find(self, session, category, text):
        where = "session %s (%s)" % (session.index, session.kind) if session else "run"
        self.findings.append((category, where, text, session))
        say("FINDING %s: %s: %s" % (category, where, text))

    def remove_files(self):
        """Page files and printer output of finished sessions."""
        for folder in (self.pages_dir, self.out_dir):
            for name in os.listdir(folder):
                path = os.path.join(folder, name)
                if not name.startswith("soak-"):
                    shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)


class Session:
    """One run of the program, connected to us, and the answers it owes."""

    def __init__(self, campaign, index, kind, rng, small_buffer=False):
        self.campaign, self.index, self.kind, self.rng = campaign, index, kind, rng
        self.pending = []  # (code, req_id, check, what) of the answers due, in order
        self.answers, self.notices = {}, []
        self.reader = p.PacketReader()
        self.gone_at, self.allowance, self.ended_by_program = None, 0.0, False
        self.next_id, self.job_id = rng.randrange(1, 1 << 31), None
        self.out_folder = campaign.out_folder
        self.stderr_path = os.path.join(campaign.log_dir, "session-%s.stderr" % index)
        listener = socket.create_server(("127.0.0.1", 0))
        if small_buffer:  # a server that stops reading fills its buffer soon
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        with open(self.stderr_path, "wb") as err:
            self.process = subprocess.Popen(
                [peer.WINE_RUN, peer.PROXY_EXE, "x", str(listener.getsockname()[1])],
                env=campaign.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=err)
        self.killed = False
        try:
            self.conn = self.accept(listener, time.monotonic() + 60)
        finally:
            listener.close()

    def accept(self, listener, deadline):
        listener.settimeout(0.2)
        while self.process.poll() is None and time.monotonic() < deadline:
            try:
                return listener.accept()[0]
            except socket.timeout:
                pass
        self.kill()
        raise Hang("the program did not connect (exit %r)" % self.process.returncode)

    def find(self, category, text):
        self.campaign.find(self, category, text)

    # --- sending and receiving ---------------------------------------------

    def send(self, data):
        try:
            self.conn.sendall(data)
        except OSError:
            raise Closed("sending failed")

    def request(self, code, body=b""):
        """Sends a message, noting the answer it is owed; its req_id."""
        self.next_id = req_id = (self.next_id + 1) & 0xFFFFFFFF
        self.send(p.frame(code, req_id, body))
        answer = cases.expected_answer(code, body)
        if answer:
            self.pending.append((answer[0], req_id, answer[1], "answer to %#x" % code))
        return req_id

    def next_packet(self, deadline):
        """The next packet, after checking it; a malformed one ends reading."""
        while True:
            try:
                packet = self.reader.next()
            except p.FrameError as error:
                self.find("malformed", str(error))
                raise Closed("malformed packet")
            if packet:
                self.handle(*packet)
                return packet
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            if select.select([self.conn], [], [], min(left, 0.5))[0]:
                try:
                    chunk = self.conn.recv(65536)
                except OSError:
                    chunk = b""
                if not chunk:
                    raise Closed("end of stream")
                self.reader.feed(chunk)

    def handle(self, code, req_id, body):
        if self.pending and self.pending[0][:2] == (code, req_id):
            _, _, check, what = self.pending.pop(0)
            self.answers[req_id] = body
        elif code in NOTICE_CHECKS and req_id == 0:
            check, what = NOTICE_CHECKS[code], "notice %#x" % code
            self.notices.append((code, body))
        else:
            due = ("%#x/%d" % self.pending[0][:2]) if self.pending else "nothing"
            return self.find("protocol", "unexpected packet %#x req %d %s (due: %s)"
                             % (code, req_id, body[:40].hex(), due))
        problem = cases.check_body(check, body)
        if problem:
            self.find("malformed", "%s: %s (body %s)" % (what, problem, body[:60].hex()))

    def read_until(self, done, what, timeout=ANSWER_TIMEOUT, per_packet=False):
        """Reads until done(), within `timeout` (of each packet, `per_packet`);
        a program that closes first raises Closed, with any answers due found."""
        deadline = time.monotonic() + timeout
        try:
            while not done():
                if self.next_packet(deadline) is None:
                    raise Hang("no %s within %.0f s" % (what(), timeout))
                deadline = time.monotonic() + timeout if per_packet else deadline
        except Closed:
            self.ended_by_program, self.gone_at = True, self.gone_at or time.monotonic()
            if self.pending:
                self.find("protocol", "the program closed with %d answers due (%s)"
                          % (len(self.pending), self.pending[0][3]))
                self.pending = []
            raise

    def settle(self):
        """Reads until every answer due has arrived."""
        self.read_until(lambda: not self.pending, lambda: self.pending[0][3], per_packet=True)

    def answer(self, req_id):
        """The body of the answer to req_id, once every answer due is in."""
        self.settle()
        return self.answers.pop(req_id, None)

    def wait_notice(self, code):
        codes = lambda: [got for got, _ in self.notices]  # noqa: E731
        self.read_until(lambda: code in codes(), lambda: "notice %#x" % code)
        return self.notices.pop(codes().index(code))[1]

    def read_to_end(self, timeout=ANSWER_TIMEOUT):
        """Reads until the program closes; the notices it sent on the way."""
        try:
            self.read_until(lambda: False, lambda: "end of the session", timeout)
        except Closed:
            return self.notices

    # --- the end -----------------------------------------------------------------

    def go_away(self, how="close", allowance=0.0):
        """The server leaves: close, reset (RST) or half-close."""
        if self.gone_at is not None:
            return
        self.allowance, self.gone_at = allowance, time.monotonic()
        try:
            if how == "reset":
                self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.conn.shutdown(socket.SHUT_WR) if how == "halfclose" else self.conn.close()
        except OSError:
            pass

    def stats(self):
        return proc_stats(self.process.pid)  # scripts/wine-run replaced itself with Wine

    def kill(self):
        self.killed = True
        self.process.kill()
        self.process.wait()

    def finish(self):
        """Makes sure that the program ends, and judges how."""
        self.go_away("close")
        self.conn.close()
        limit = EXIT_HANG + self.allowance
        try:
            self.process.wait(timeout=max(limit - (time.monotonic() - self.gone_at), 0))
        except subprocess.TimeoutExpired:
            self.find("hang", "still running %.0f s after the server went away" % limit)
            self.kill()
        else:
            delay = time.monotonic() - self.gone_at
            if delay > EXIT_LIMIT + self.allowance:
                self.find("slow exit", "exited %.2f s after the server went away" % delay)
            if self.process.returncode > 0:
                self.find("crash", "exit status %d" % self.process.returncode)
        with open(self.stderr_path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        crash = CRASH_LINE.search(text)
        if crash:
            start = text.rfind("\n", 0, crash.start()) + 1
            self.find("crash", text[start:text.find("\n", crash.end())].strip())
        self.check_leftovers()
        if not self.found():
            os.remove(self.stderr_path)
        self.campaign.remove_files()

    def found(self):
        return any(finding[3] is self for finding in self.campaign.findings)

    def check_leftovers(self):
        needle = ("TAVRI_HOSTILE_RUN=%s" % self.campaign.marker).encode()
        deadline = time.monotonic() + 3
        while True:
            left = [(pid, cmd) for pid, cmd in processes(needle)
                    if not any(name in cmd for name in PREFIX_PROCESSES)]
            if not left or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        for pid, cmd in left:
            self.find("left running", "pid %d: %s" % (pid, cmd))
            os.kill(pid, signal.SIGKILL)


# --- the campaign ------------------------------------------------------------------

def run_session(campaign, index, kind=None):
    rng = random.Random("%d:%d" % (campaign.args.seed, index))
    kind = kind or rng.choices(list(cases.WEIGHTS), list(cases.WEIGHTS.values()))[0]
    campaign.counts[kind] = campaign.counts.get(kind, 0) + 1
    session = None
    try:
        session = Session(campaign, index, kind, rng, small_buffer=kind in ("fault",
                                                                           "stall-hold"))
        cases.SCENARIOS[kind](session, rng)
    except Hang as hang:
        campaign.find(session, "hang", str(hang))
        if session:  # the program may still be busy with what it received
            session.go_away("close", allowance=ANSWER_TIMEOUT)
    except Closed as closed:
        if not session.ended_by_program and not session.found():
            session.find("protocol", "the program ended the session: %s" % closed)
    finally:
        if session:
            session.finish()


def soak(campaign, jobs):
    """One session, many jobs; the program's footprint sampled after each."""
    rng = random.Random("%d:soak" % campaign.args.seed)
    session = Session(campaign, "soak", "soak", rng)
    samples, warm, files_then, new_files = [], max(10, jobs // 10), [], set()
    try:
        for job in range(1, jobs + 1):
            cases.soak_job(session, rng, job, campaign.pages_dir)
            samples.append(session.stats())
            if job == warm:
                files_then = open_files(session.process.pid)
        new_files = set(open_files(session.process.pid)) - set(files_then)
        session.request(p.PRINT_DONE, p.text_body(0, b"done"))
        session.read_to_end()
    except (Hang, Closed, cases.SoakFailure) as failure:
        if not session.found():
            session.find("soak", "%s: %s" % (type(failure).__name__, failure))
    finally:
        session.finish()
    samples = [sample for sample in samples if sample]
    if len(samples) < 2 * warm:
        return session.find("soak", "only %d samples" % len(samples))
    window = max(5, len(samples) // 10)
    early, late = samples[warm:warm + window], samples[-window:]
    (rss1, fd1, th1) = [sorted(column)[len(column) // 2] for column in zip(*late)]
    rss0 = sorted(sample[0] for sample in early)[len(early) // 2]
    fd0, th0 = (max(sample[i] for sample in early) for i in (1, 2))  # threads come and go
    campaign.soak_figures = (len(samples), rss0, rss1, fd0, fd1, th0, th1)
    if rss1 - rss0 > RSS_GROWTH_KB:
        session.find("memory", "RSS grew %d kB over the soak (%d -> %d kB)"
                     % (rss1 - rss0, rss0, rss1))
    if fd1 > fd0 + 2:
        session.find("handles", "open descriptors grew %d -> %d (new: %s)"
                     % (fd0, fd1, ", ".join(sorted(new_files)[:10])))
    if th1 > th0:
        session.find("handles", "threads grew %d -> %d" % (th0, th1))


def open_files(pid):
    """What the process's descriptors point at."""
    targets = []
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            targets.append(os.readlink("/proc/%d/fd/%s" % (pid, fd)))
        except OSError:
            continue
    return targets


def summary(campaign, sessions, elapsed):
    print("hostile_server: seed %d, %d sessions (%s), %.0f s; %d real jobs, %d starts refused "
          "by a busy printer and tried again" % (
              campaign.args.seed, sessions, ", ".join("%s %d" % item for item in sorted(
                  campaign.counts.items())), elapsed, campaign.jobs, campaign.busy))
    if hasattr(campaign, "soak_figures"):
        print("hostile_server: soak %d jobs: RSS %d -> %d kB, descriptors %d -> %d, "
              "threads %d -> %d" % campaign.soak_figures)
    print("hostile_server: %d findings" % len(campaign.findings))
    for category, where, text, _ in campaign.findings:
        print("  %s: %s: %s (logs in %s)" % (category, where, text, campaign.log_dir))


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--sessions", type=int, default=2000)
    parser.add_argument("--soak-jobs", type=int, default=300, help="0: no soak")
    parser.add_argument("--slow", type=int, default=2,
                        help="sessions that wait out the program's 30 s time-outs")
    parser.add_argument("--session", type=int, help="replay this one session only")
    parser.add_argument("--kind", choices=sorted(cases.SCENARIOS), help="with --session")
    parser.add_argument("--log-dir", help="program logs of sessions with findings")
    return parser.parse_args(argv)


def interrupted(signum, frame):
    raise KeyboardInterrupt


def main(argv=None):
    args = parse_args(argv)
    signal.signal(signal.SIGTERM, interrupted)  # a stopped run still cleans up
    campaign = Campaign(args)
    started, sessions = time.monotonic(), 0
    try:
        plan = ([(args.session, args.kind)] if args.session is not None else
                [(index, None) for index in range(args.sessions)]
                + [(args.sessions + index, cases.SLOW_KINDS[index % 2])
                   for index in range(args.slow)])
        for index, kind in plan:
            run_session(campaign, index, kind)
            sessions += 1
            if sessions % 100 == 0:
                say("%d sessions, %d findings" % (sessions, len(campaign.findings)))
        if args.session is None and args.soak_jobs:
            soak(campaign, args.soak_jobs)
    except KeyboardInterrupt:
        say("interrupted")
    finally:
        shutil.rmtree(campaign.pages_dir, ignore_errors=True)
        shutil.rmtree(campaign.out_dir, ignore_errors=True)
    summary(campaign, sessions, time.monotonic() - started)
    return 1 if campaign.findings else 0


if __name__ == "__main__":
    sys.exit(main())
