#!/usr/bin/env python3
"""Plays a hostile print server against tavri-printer-proxy under Wine:
--sessions seeded attacks (cases.py), each a run of the program;
--session N replays one. (A server that stops reading, the program's own
time-outs and what a process holds after many jobs are met in-process,
where periods can be shortened: tests/service/session_test.cpp.)
Findings (exit status 1): crashes (Wine's exception lines, exit codes), hangs,
exits over 2 s after the server went away, malformed or unexpected packets.
"""
import argparse
import os
import random
import re
import shutil
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
CRASHES = r"unhandled (exception|page fault)|:err:(seh|heap):|backtrace:|terminate called"
CRASH_LINE = re.compile(r".*(%s|assertion .*failed|stack overflow).*" % CRASHES, re.I)
EXIT_LIMIT = 2.0  # seconds from the server going away to the program's exit
ANSWER_TIMEOUT = 120.0  # no answer for this long while the program runs: a hang
EXIT_HANG = 15.0  # no exit for this long after the server went away: a hang
# What each answer and notice may carry: the statuses allowed with each text (None: any).
ALLOWED = {"ok": {b"OK": (0,)}, "notimpl": {b"Action not implemented": (21,)}, "result": None}
ALLOWED["page"], ALLOWED["failure"] = {b"": (0, 1, 6, 11, 15, 20, 24)}, {b"": (2, 4, 6, 11, 19)}
ALLOWED["start"] = {b"": (0, 1, 8, 11, 12), b"check request header failed.": (1, 5, 8, 9, 14, 23)}
ALLOWED["start"][b"Print in progress"] = (21,)
ANSWER_CHECKS = {1: "start", 2: "page", 3: "ok", 6: "ok", 8: "size"}
NOTICE_CHECKS = {p.JOB_RESULT: "result", p.RECEIVE_FAILED: "failure"}
NOTICE_CHECKS.update({p.PROGRAM_HEARTBEAT: "word", p.USER_CANCEL: "word"})
# Shorter bodies are dropped unanswered.
MINIMUM_BODY = {1: p.RECORD.size, 2: 1, 3: 4, 4: 1, 5: 1, 6: 4, 8: 1, 0x3001: 8, 0x3003: 8}
UNANSWERED = cases.SESSION_ENDING + (p.SERVER_HEARTBEAT,)


class Hang(Exception):
    """No answer in time."""


class Closed(Exception):
    """The program closed the connection."""


def body_problem(check, body):
    """None when the body is what `check` allows, else what is wrong."""
    if check in ("word", "size"):
        ok = len(body) == (4 if check == "word" else 8)
        ok = ok and (check == "word" or p.parse_page_size(body)[0] in (0, 1, 25))
        return None if ok else "%s body %s" % (check, body.hex())
    status, text = p.parse_text_body(body) or (None, b"")
    if status is None or len(body) != 8 + len(text):
        return "reply body %s" % body[:40].hex()
    if ALLOWED[check] is not None and status not in ALLOWED[check].get(text, ()):
        return "%s answer: status %d, text %r" % (check, status, text)


class Session(peer.Session):
    """One run of the program, the answers it owes, and what it did wrong."""

    def __init__(self, run, index, kind, rng):
        self.run, self.index, self.kind, self.found = run, index, kind, 0
        self.pending, self.notices = [], []  # pending: (code, req_id, check) in order
        self.gone_at, self.allowance, self.next_id = None, 0.0, rng.randrange(1, 1 << 31)
        super().__init__(run.env, accept_timeout=60)

    def find(self, category, text):
        self.found += 1
        said = "%s: session %s (%s): %s (log %s)"
        self.run.findings.append(said % (category, self.index, self.kind, text, self.stderr_path))
        print("hostile_server: FINDING " + self.run.findings[-1], file=sys.stderr, flush=True)

    def send(self, data):
        try:
            self.conn.sendall(data)
        except OSError:
            self.find("protocol", "the program ended the session while we sent")
            raise Closed("sending failed")

    def request(self, code, body=b""):
        """Sends a message, noting the answer it is owed; its req_id."""
        self.next_id = req_id = (self.next_id + 1) & 0xFFFFFFFF
        self.send(p.frame(code, req_id, body))
        if len(body) >= MINIMUM_BODY.get(code, 0) and code not in UNANSWERED:
            check = ANSWER_CHECKS.get(code, "notimpl")
            self.pending.append(((p.ANSWER + code) & 0xFFFF, req_id, check))
        return req_id

    def answer(self, code, body):
        """The body of the answer to a request, once every answer due is in."""
        self.request(code, body)
        self.read("answers")  # ours is due last
        return self.last_answer

    def handle(self, packet):
        if self.pending and self.pending[0][:2] == (packet.code, packet.req_id):
            check = self.pending.pop(0)[2]
            self.last_answer = packet.body
        elif packet.code in NOTICE_CHECKS and packet.req_id == 0:
            check = NOTICE_CHECKS[packet.code]
            self.notices.append((packet.code, packet.body))
        else:
            return self.find("protocol", "unexpected %r (due: %s)" % (packet, self.pending[:1]))
        problem = body_problem(check, packet.body)
        if problem:
            self.find("malformed", "%#x: %s" % (packet.code, problem))

    def read(self, until=None, timeout=ANSWER_TIMEOUT):
        """Reads until every answer due is in (until="answers"), until a notice
        of code `until` (its body returned) or, with None, until the program
        closes (its notices returned). Hang when that takes over `timeout`;
        Closed when the program closes first, a finding if answers were due."""
        deadline = time.monotonic() + timeout
        while not (until == "answers" and not self.pending):
            codes = [code for code, _ in self.notices]
            if until in codes:
                return self.notices.pop(codes.index(until))[1]
            try:
                packet = self.read_packet(deadline - time.monotonic())
            except TimeoutError:
                raise Hang("no %s within %.0f s" % (until or "end of the session", timeout))
            except p.FrameError as error:
                self.find("malformed", str(error))
                packet = None
            if packet is None:
                self.gone_at = self.gone_at or time.monotonic()
                if self.pending:
                    self.find("protocol", "closed with %d answers due" % len(self.pending))
                self.pending = []
                if until is None:
                    return self.notices
                raise Closed("end of stream")
            self.handle(packet)

    def go_away(self, how="close", allowance=0.0):
        """The server leaves: close, reset (RST) or half-close."""
        if self.gone_at is None:
            self.allowance, self.gone_at = allowance, time.monotonic()
            if how == "reset":
                self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.conn.shutdown(socket.SHUT_WR) if how == "halfclose" else self.conn.close()

    def finish(self):
        """Makes sure that the program ends, and judges how."""
        self.go_away()
        limit = EXIT_HANG + self.allowance
        try:
            code = self.process.wait(timeout=max(limit - (time.monotonic() - self.gone_at), 0))
            late = time.monotonic() - self.gone_at
            if late > EXIT_LIMIT + self.allowance:
                self.find("slow exit", "%.1f s after the server went away" % late)
            if code != 0:  # a signal (negative) as well
                self.find("crash", p.describe_exit(code))
        except subprocess.TimeoutExpired:
            self.find("hang", "still running %.0f s after the server went away" % limit)
            self.process.kill()
        self.close()
        crash = CRASH_LINE.search(self.stderr())
        if crash:
            self.find("crash", crash.group(0).strip())
        if not self.found:
            os.remove(self.stderr_path)


class Run:
    """What all sessions share: folders, environment and findings."""

    def __init__(self, seed):
        self.seed, self.findings, self.pages_dir = seed, [], tempfile.mkdtemp(prefix="tavri-")
        self.out_folder = "tavri-hostile-%d-%d" % (os.getpid(), seed)
        self.out_dir = os.path.join(peer.DRIVE_C, self.out_folder)
        os.makedirs(self.out_dir, exist_ok=True)
        self.env = peer.program_env(WINE_DEBUG)

    def session(self, index):
        """Plays one session; a seed and an index replay it."""
        rng = random.Random("%d:%d" % (self.seed, index))
        weights = [weight for weight, _ in cases.SCENARIOS.values()]
        kind = rng.choices(list(cases.SCENARIOS), weights)[0]
        _, scenario = cases.SCENARIOS[kind]
        try:
            session = Session(self, index, kind, rng)
        except OSError as error:
            return self.findings.append("hang: session %d did not connect: %s" % (index, error))
        try:
            scenario(session, rng)
        except Hang as hang:
            session.find("hang", str(hang))
            session.go_away(allowance=ANSWER_TIMEOUT)  # it may still be busy with what it got
        except Closed:
            pass
        finally:
            session.finish()
            for folder in (self.pages_dir, self.out_dir):  # page files and printed output
                for path in (os.path.join(folder, name) for name in os.listdir(folder)):
                    shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--sessions", type=int, default=2000)
    parser.add_argument("--session", type=int, help="replay this one session only")
    args = parser.parse_args()
    run = Run(args.seed)
    plan = [args.session] if args.session is not None else range(args.sessions)
    try:
        for index in plan:
            run.session(index)
    finally:
        shutil.rmtree(run.pages_dir, ignore_errors=True)
        shutil.rmtree(run.out_dir, ignore_errors=True)
    said = "hostile_server: seed %d, %d sessions, %d findings\n%s"
    print(said % (args.seed, len(plan), len(run.findings), "\n".join(run.findings)))
    return 1 if run.findings else 0


if __name__ == "__main__":
    sys.exit(main())
