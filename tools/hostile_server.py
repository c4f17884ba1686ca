#!/usr/bin/env python3
"""Plays a hostile print server against tavri-printer-proxy under Wine.

Every session starts the real program on a port of ours and attacks it:
malformed, truncated and oversized packets, random actions and bodies,
start-print records with random fields and names without a terminator,
page messages naming missing, empty, random or corrupted BMP files, and
faults in the middle of a real job (close, reset, half-close, a server that
stops reading). One more session prints --soak-jobs jobs in a row and
watches the program's memory, open file descriptors and threads.

    tools/hostile_server.py [--seed 1] [--sessions 2000] [--soak-jobs 300]
                            [--slow 2] [--xvfb] [--session N [--kind K]] [--trace]

--slow sessions wait out the program's own 30 s time-outs (a server that
stops reading and stays, a server that falls silent); the others end fast
because the server closes the connection itself. --xvfb gives the program a
private X display, so that a long run leaves the shared one alone.

Findings: crashes (Wine's exception lines on standard error, abnormal exit
codes), hangs (no answer, no exit), exits more than 2 s after the server went
away, malformed or unexpected packets from the program, processes of the run
left running, and memory or descriptors that grow over the soak. The exit
status is 1 when there was any finding. Everything is derived from --seed:
a session is replayed alone with --session N and the same seed.
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

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hostile_cases as cases  # noqa: E402

BUILD_DIR = os.environ.get("PROXY_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
EXE = os.environ.get("PROXY_EXE", os.path.join(BUILD_DIR, "tavri-printer-proxy.exe"))
WINE_RUN = os.path.join(SOURCE_DIR, "scripts", "wine-run")
HEADER = struct.Struct(">IHHII")
# The program's own lines at error level, and Wine's exception and heap errors.
WINE_DEBUG = "-all,err+seh,err+heap,err+printproxy"
CRASH_LINE = re.compile(r"unhandled (exception|page fault)|:err:(seh|heap):|backtrace:"
                        r"|terminate called|assertion .*failed|stack overflow", re.I)
# Wine's own processes of the prefix, which a first program may start and
# which rightly outlive it.
PREFIX_PROCESSES = ("wineserver", "services.exe", "explorer.exe", "winedevice.exe",
                    "plugplay.exe", "rpcss.exe", "svchost.exe", "conhost.exe")

EXIT_LIMIT = 2.0       # seconds from the server going away to the program's exit
ANSWER_TIMEOUT = 120.0  # no answer for this long while the program runs: a hang
SLOW_ANSWER = 20.0      # an answer this late is counted (a page of a huge printable area)
EXIT_HANG = 15.0       # no exit for this long after the server went away: a hang
UNSOLICITED = {0x2001: "reply", 0x2002: "word", 0x2003: "word", 0x2004: "failure"}


class Hang(Exception):
    pass


class Closed(Exception):
    """The program closed the connection."""


class Disturbed(Exception):
    """Something outside the run killed the program."""


def proc_stats(pid):
    """(resident kB, open descriptors, threads) of a running process, or None."""
    try:
        with open("/proc/%d/status" % pid) as f:
            fields = dict(line.split(":", 1) for line in f if ":" in line)
        fds = len(os.listdir("/proc/%d/fd" % pid))
        return int(fields["VmRSS"].split()[0]), fds, int(fields["Threads"])
    except (OSError, KeyError, ValueError):
        return None


def wineserver_running():
    for name in os.listdir("/proc"):
        try:
            with open("/proc/%s/comm" % name) as f:
                if f.read().startswith("wineserver"):
                    return True
        except OSError:
            continue
    return False


def wait_for_wineserver(seconds=120):
    """A rig whose persistent wineserver is being restarted is waited for,
    so that this run does not start the shared server with its own display."""
    deadline = time.monotonic() + seconds
    while not wineserver_running() and time.monotonic() < deadline:
        time.sleep(1)


def marked_processes(marker):
    """Pids of live processes whose environment carries this run's marker."""
    found = []
    needle = ("TAVRI_HOSTILE_RUN=%s" % marker).encode()
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % name, "rb") as f:
                if needle not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/stat" % name) as f:
                if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                    continue
            with open("/proc/%s/cmdline" % name, "rb") as f:
                found.append((int(name), f.read().replace(b"\0", b" ").decode("utf-8", "replace")))
        except OSError:
            continue
    return found


class Campaign:
    """What all sessions share: configuration, files, findings and figures."""

    def __init__(self, args):
        self.args = args
        self.marker = "%d-%d" % (os.getpid(), args.seed)
        self.findings = []
        self.exit_delays = []
        self.counts = {}
        self.disturbed = 0
        self.jobs = 0
        self.slow_answers = []
        self.busy = 0
        self.packets = 0
        self.requests = 0
        self.pages_dir = tempfile.mkdtemp(prefix="tavri-hostile-pages-")
        prefix = os.environ.get("WINEPREFIX", os.path.join(BUILD_DIR, "wineprefix"))
        self.out_folder = "tavri-hostile-%s" % self.marker
        self.out_dir = os.path.join(prefix, "drive_c", self.out_folder)
        os.makedirs(self.out_dir, exist_ok=True)
        self.log_dir = args.log_dir or os.path.join(BUILD_DIR, "logs", "hostile-%s" % self.marker)
        os.makedirs(self.log_dir, exist_ok=True)
        self.env = dict(os.environ, WINEDEBUG=args.wine_debug or WINE_DEBUG, NO_RPC="1",
                        TAVRI_HOSTILE_RUN=self.marker)
        if args.display:
            self.env["DISPLAY"] = args.display

    def find(self, session, category, text):
        where = "session %s (%s)" % (session.index, session.kind) if session else "run"
        self.findings.append((category, where, text, session))
        if session:
            session.found = True
        say("FINDING %s: %s: %s" % (category, where, text))

    def forget(self, session):
        """Drops what a session found: something outside the run disturbed it."""
        self.findings = [f for f in self.findings if f[3] is not session]
        self.disturbed += 1
        say("session %s was disturbed from outside (exit %s); running it again"
            % (session.index, session.process.returncode))

    def remove_files(self):
        """Page files and printer output of finished sessions."""
        for folder in (self.pages_dir, self.out_dir):
            for name in os.listdir(folder):
                if not name.startswith("soak-"):
                    path = os.path.join(folder, name)
                    if os.path.isdir(path):
                        shutil.rmtree(path, ignore_errors=True)
                    else:
                        os.remove(path)

    def cleanup(self):
        shutil.rmtree(self.pages_dir, ignore_errors=True)
        shutil.rmtree(self.out_dir, ignore_errors=True)


def say(text):
    print("hostile_server: %s" % text, file=sys.stderr, flush=True)


class Session:
    """One run of the program, connected to us, and what we expect of it."""

    def __init__(self, campaign, index, kind, rng, small_buffer=False):
        self.campaign, self.index, self.kind, self.rng = campaign, index, kind, rng
        self.found = self.disturbed = False
        self.pending = []      # (code, req_id, check, what) answers due, in order
        self.buffer = b""
        self.gone_at = None    # when we went away
        self.allowance = 0.0   # time the program may still need for what it had received
        self.ended_by_program = False
        self.next_id = rng.randrange(1, 1 << 31)
        self.notices = []
        self.pages_dir = campaign.pages_dir
        self.out_folder = campaign.out_folder
        self.stderr_path = os.path.join(campaign.log_dir, "session-%s.stderr" % index)
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if small_buffer:
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        port = listener.getsockname()[1]
        with open(self.stderr_path, "wb") as err:
            self.process = subprocess.Popen([WINE_RUN, EXE, "x", str(port)], env=campaign.env,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=err)
        listener.settimeout(0.2)
        deadline = time.monotonic() + 60
        self.conn = None
        try:
            while self.conn is None:
                try:
                    self.conn, _ = listener.accept()
                except socket.timeout:
                    if (self.process.poll() or 0) < 0:
                        raise Disturbed("killed by signal %d" % -self.process.returncode)
                    if self.process.poll() is not None or time.monotonic() > deadline:
                        self.kill()
                        if not wineserver_running():
                            raise Disturbed("the prefix's wineserver went away")
                        raise Hang("the program did not connect (exit %r)"
                                   % self.process.returncode)
        finally:
            listener.close()
        self.conn.settimeout(None)
        self.program_pid()

    # --- sending ---------------------------------------------------------

    def req_id(self):
        self.next_id = (self.next_id + 1) & 0xFFFFFFFF
        return self.next_id

    def send(self, data):
        try:
            self.conn.sendall(data)
        except OSError:
            raise Closed("sending failed")

    def request(self, code, body=b"", req_id=None):
        """Sends a message and notes the answer that the catalogue promises."""
        req_id = self.req_id() if req_id is None else req_id
        self.campaign.requests += 1
        self.trace("-> %#x req %d, %d bytes: %s" % (code, req_id, len(body), body[:24].hex()))
        self.send(cases.frame(code, req_id, body))
        answer = cases.expected_answer(code, body)
        if answer:
            self.pending.append((answer[0], req_id, answer[1], "answer to %#x" % code))
        return req_id

    # --- receiving -------------------------------------------------------

    def read_some(self, deadline):
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            ready, _, _ = select.select([self.conn], [], [], min(left, 0.5))
            if ready:
                break
        try:
            chunk = self.conn.recv(65536)
        except OSError:
            chunk = b""
        if not chunk:
            raise Closed("end of stream")
        self.buffer += chunk
        return True

    def take_packet(self):
        """The next whole packet; a malformed one is a finding and ends reading."""
        if len(self.buffer) < HEADER.size:
            return None
        magic, version, code, req_id, length = HEADER.unpack_from(self.buffer)
        if magic != cases.MAGIC or version != cases.VERSION or length > 1 << 20:
            self.malformed("header %s" % self.buffer[:16].hex())
        end = HEADER.size + length + 4
        if len(self.buffer) < end:
            return None
        (trailer,) = struct.unpack_from(">I", self.buffer, end - 4)
        if trailer != cases.TRAILER:
            self.malformed("trailer %08x after code %#x" % (trailer, code))
        body = self.buffer[HEADER.size:end - 4]
        self.buffer = self.buffer[end:]
        self.campaign.packets += 1
        return code, req_id, body

    def malformed(self, what):
        self.campaign.find(self, "malformed", what)
        self.buffer = b""
        raise Closed("malformed packet")

    def trace(self, text):
        if self.campaign.args.trace:
            say("session %s: %s" % (self.index, text))

    def handle(self, packet):
        code, req_id, body = packet
        self.trace("<- %#x req %d, %d bytes: %s" % (code, req_id, len(body), body[:24].hex()))
        if self.pending and self.pending[0][:2] == (code, req_id):
            _, _, check, what = self.pending.pop(0)
            problem = cases.check_body(check, body)
        elif code in UNSOLICITED and req_id == 0:
            check = UNSOLICITED[code]
            what = "notice %#x" % code
            problem = cases.check_body(check, body)
            self.on_notice(code, body)
        else:
            due = ("%#x/%d" % self.pending[0][:2]) if self.pending else "nothing"
            self.campaign.find(self, "protocol", "unexpected packet %#x req %d %s (due: %s)"
                               % (code, req_id, body[:40].hex(), due))
            return
        if problem:
            self.campaign.find(self, "malformed", "%s: %s (body %s)" % (what, problem,
                                                                         body[:60].hex()))

    def on_notice(self, code, body):
        if code != 0x2002:
            self.notices.append((code, body))

    def program_pid(self):
        """The Windows process: the pid we started once scripts/wine-run has
        replaced itself with Wine, else that script's child."""
        if not getattr(self, "windows_pid", None):
            pid = self.process.pid
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as f:
                    if b"wine-run" in f.read():
                        with open("/proc/%d/task/%d/children" % (pid, pid)) as children:
                            pid = int(children.read().split()[0])
            except (OSError, IndexError, ValueError):
                pid = None
            self.windows_pid = pid
        return self.windows_pid

    def stats(self):
        pid = self.program_pid()
        return proc_stats(pid) if pid else None

    def kill(self):
        pid = self.program_pid() if self.process.poll() is None else None
        for victim in ([pid] if pid else []) + [self.process.pid]:
            try:
                os.kill(victim, signal.SIGKILL)
            except OSError:
                pass
        self.process.wait()

    def settle(self, timeout=ANSWER_TIMEOUT):
        """Reads until every answer due has arrived."""
        waiting_since = time.monotonic()
        deadline = waiting_since + timeout
        while self.pending:
            packet = self.take_packet()
            if packet:
                waited = time.monotonic() - waiting_since
                if waited > SLOW_ANSWER:
                    self.campaign.slow_answers.append(waited)
                waiting_since = time.monotonic()
                deadline = waiting_since + timeout
                self.handle(packet)
                continue
            try:
                if not self.read_some(deadline):
                    raise Hang("no %s within %.0f s" % (self.pending[0][3], timeout))
            except Closed:
                self.ended_by_program = True
                self.campaign.find(self, "protocol", "connection closed with %d answers due (%s)"
                                   % (len(self.pending), self.pending[0][3]))
                self.pending = []
                raise

    def wait_notice(self, code, timeout=ANSWER_TIMEOUT):
        """Reads until an unsolicited packet `code` arrives; returns its body."""
        deadline = time.monotonic() + timeout
        while True:
            for index, (got, body) in enumerate(self.notices):
                if got == code:
                    del self.notices[index]
                    return body
            packet = self.take_packet()
            if packet:
                self.handle(packet)
            elif not self.read_some(deadline):
                raise Hang("no notice %#x within %.0f s" % (code, timeout))

    def read_to_end(self, timeout=ANSWER_TIMEOUT):
        """Reads until the program closes; the notices it sent on the way."""
        deadline = time.monotonic() + timeout
        try:
            while True:
                packet = self.take_packet()
                if packet:
                    self.handle(packet)
                elif not self.read_some(deadline):
                    raise Hang("the program did not end the session within %.0f s" % timeout)
        except Closed:
            self.ended_by_program = True
            self.gone_at = self.gone_at or time.monotonic()
            if self.pending:
                self.campaign.find(self, "protocol", "session ended with %d answers due (%s)"
                                   % (len(self.pending), self.pending[0][3]))
            return self.notices

    # --- going away --------------------------------------------------------

    def go_away(self, how="close", allowance=0.0):
        """The server leaves: close, reset (RST) or half-close."""
        if self.gone_at is not None:
            return
        self.allowance = allowance
        try:
            if how == "reset":
                self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            if how == "halfclose":
                self.conn.shutdown(socket.SHUT_WR)
                self.gone_at = time.monotonic()
                return
            self.conn.close()
        except OSError:
            pass
        self.gone_at = time.monotonic()

    def finish(self):
        """Makes sure the program ends, and judges how."""
        campaign = self.campaign
        self.go_away("close")
        try:
            self.conn.close()
        except OSError:
            pass
        killed = False
        while self.process.poll() is None:
            if time.monotonic() - self.gone_at > EXIT_HANG + self.allowance:
                campaign.find(self, "hang", "still running %.0f s after the server went away"
                              % (EXIT_HANG + self.allowance))
                self.kill()
                killed = True
                break
            time.sleep(0.005)
        delay = time.monotonic() - self.gone_at
        if not killed:
            campaign.exit_delays.append(delay)
            if delay > EXIT_LIMIT + self.allowance:
                campaign.find(self, "slow exit", "exited %.2f s after the server went away "
                              "(limit %.1f s)" % (delay, EXIT_LIMIT + self.allowance))
            if self.process.returncode < 0:
                self.disturbed = True
            elif self.process.returncode != 0:
                campaign.find(self, "crash", "exit status %d" % self.process.returncode)
        with open(self.stderr_path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        for line in CRASH_LINE.finditer(text):
            start = text.rfind("\n", 0, line.start()) + 1
            campaign.find(self, "crash", text[start:text.find("\n", line.end())].strip())
            break
        self.check_leftovers()
        if not self.found and not campaign.args.keep_logs:
            os.remove(self.stderr_path)
        campaign.remove_files()

    def check_leftovers(self):
        deadline = time.monotonic() + 3
        while True:
            left = [(pid, cmd) for pid, cmd in marked_processes(self.campaign.marker)
                    if not any(name in cmd for name in PREFIX_PROCESSES)]
            if not left or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        for pid, cmd in left:
            self.campaign.find(self, "left running", "pid %d: %s" % (pid, cmd))
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass


# --- the campaign --------------------------------------------------------

def run_session(campaign, index, kind=None):
    """Runs one session; True when something outside the run disturbed it."""
    rng = random.Random("%d:%d" % (campaign.args.seed, index))
    kind = kind or cases.pick_kind(rng)
    wait_for_wineserver()
    campaign.counts[kind] = campaign.counts.get(kind, 0) + 1
    scenario = cases.SCENARIOS[kind]
    session = None
    try:
        session = Session(campaign, index, kind, rng,
                          small_buffer=kind in ("fault", "stall-hold"))
        scenario(session, rng)
    except Hang as hang:
        campaign.find(session, "hang", str(hang))
        if session:
            # The program may still be busy with what it received.
            session.go_away("close", allowance=ANSWER_TIMEOUT)
    except Closed as closed:
        if session and not session.ended_by_program and not session.found:
            campaign.find(session, "protocol", "the program ended the session: %s" % closed)
    except Disturbed:
        campaign.disturbed += 1
        return True
    finally:
        if session:
            session.finish()
    if session.disturbed:
        campaign.forget(session)
    return session.disturbed


def soak(campaign, jobs):
    """One session, many jobs; the program's footprint sampled after each."""
    rng = random.Random("%d:soak" % campaign.args.seed)
    session = Session(campaign, "soak", "soak", rng)
    samples = []
    started = time.monotonic()
    try:
        for job in range(1, jobs + 1):
            cases.soak_job(session, rng, job)
            stats = session.stats()
            if stats:
                samples.append(stats)
            if job == warm_up_jobs(jobs):
                session.files_then = open_files(session.program_pid())
        session.files_now = open_files(session.program_pid())
        session.request(0x3001, struct.pack(">II", 0, 4) + b"done")
        session.read_to_end()
    except Hang as hang:
        campaign.find(session, "hang", str(hang))
    except Closed as closed:
        if not session.found:
            campaign.find(session, "protocol", "the program ended the soak: %s" % closed)
    except cases.SoakFailure as failure:
        campaign.find(session, "soak", str(failure))
    finally:
        session.finish()
    elapsed = time.monotonic() - started
    judge_soak(campaign, session, samples, elapsed)


def warm_up_jobs(jobs):
    return max(10, jobs // 10)


def open_files(pid):
    """What the process's descriptors point at."""
    targets = []
    try:
        for fd in os.listdir("/proc/%d/fd" % pid):
            try:
                targets.append(os.readlink("/proc/%d/fd/%s" % (pid, fd)))
            except OSError:
                continue
    except (OSError, TypeError):
        pass
    return targets


def new_files(session):
    """The folders of descriptors opened after the warm-up and still open."""
    then = set(getattr(session, "files_then", []))
    folders = {}
    for target in getattr(session, "files_now", []):
        if target not in then:
            folder = os.path.dirname(target) or target.split(":")[0]
            folders[folder] = folders.get(folder, 0) + 1
    return ", ".join("%d in %s" % (count, folder) for folder, count in sorted(folders.items()))


def judge_soak(campaign, session, samples, elapsed):
    if len(samples) < 10:
        campaign.find(session, "soak", "only %d samples" % len(samples))
        return
    window = max(5, len(samples) // 10)
    warm = warm_up_jobs(len(samples))
    early, late = samples[warm:warm + window], samples[-window:]

    def median(values):
        return sorted(values)[len(values) // 2]

    rss0, rss1 = median([s[0] for s in early]), median([s[0] for s in late])
    fd0, fd1 = max(s[1] for s in early), median([s[1] for s in late])
    th0, th1 = max(s[2] for s in early), median([s[2] for s in late])
    say("soak: %d jobs in %.0f s; RSS %d -> %d kB (min %d, max %d), fds %d -> %d, threads %d -> %d"
        % (len(samples), elapsed, rss0, rss1, min(s[0] for s in samples),
           max(s[0] for s in samples), fd0, fd1, th0, th1))
    campaign.soak_figures = (len(samples), rss0, rss1, fd0, fd1, th0, th1)
    if rss1 - rss0 > campaign.args.rss_growth_kb:
        campaign.find(session, "memory", "RSS grew %d kB over the soak (%d -> %d kB)"
                      % (rss1 - rss0, rss0, rss1))
    if fd1 > fd0 + 2:
        campaign.find(session, "handles", "open descriptors grew %d -> %d (new: %s)"
                      % (fd0, fd1, new_files(session)))
    if th1 > th0:
        campaign.find(session, "handles", "threads grew %d -> %d" % (th0, th1))


def warn_prefix_processes(campaign):
    """Wine's prefix processes that this run happened to start (the prefix's
    wineserver had stopped) keep its environment and display: say so."""
    for pid, cmd in marked_processes(campaign.marker):
        say("note: pid %d (%s) was started under this run's environment" % (pid, cmd))


def warm_up_desktop(campaign):
    """Wine starts the prefix's desktop process for the first program that
    opens a window, with that program's display: one job on the shared
    display first, so that the desktop is not tied to our private one."""
    env = campaign.env
    campaign.env = dict(os.environ, WINEDEBUG=env["WINEDEBUG"], NO_RPC="1")
    rng = random.Random(0)
    session = Session(campaign, "warm-up", "warm-up", rng)
    try:
        cases.start_job(session, rng, 1)
        session.request(0x3001, struct.pack(">II", 0, 0))
        session.read_to_end()
    finally:
        session.finish()
        campaign.env = env
        campaign.jobs = campaign.packets = campaign.requests = 0


def start_xvfb():
    for number in range(120, 200):
        if not os.path.exists("/tmp/.X11-unix/X%d" % number) and \
                not os.path.exists("/tmp/.X%d-lock" % number):
            log = open(os.path.join(tempfile.gettempdir(), "hostile-xvfb-%d.log" % number), "wb")
            process = subprocess.Popen(["Xvfb", ":%d" % number, "-nolisten", "tcp", "-screen",
                                        "0", "1280x1024x24"], stdout=log, stderr=log)
            for _ in range(100):
                if os.path.exists("/tmp/.X11-unix/X%d" % number):
                    return process, ":%d" % number
                time.sleep(0.05)
            process.kill()
            process.wait()
    raise SystemExit("no free display for a private Xvfb")


def summary(campaign, sessions, elapsed):
    delays = sorted(campaign.exit_delays) or [0.0]
    by_category = {}
    for category, _, _, _ in campaign.findings:
        by_category[category] = by_category.get(category, 0) + 1
    print("hostile_server: seed %d, %d sessions (%s), %.0f s"
          % (campaign.args.seed, sessions,
             ", ".join("%s %d" % item for item in sorted(campaign.counts.items())), elapsed))
    print("hostile_server: %d requests sent, %d packets received and validated, %d real jobs "
          "started (%d starts refused by a busy printer and tried again), %d sessions "
          "disturbed from outside and run again"
          % (campaign.requests, campaign.packets, campaign.jobs, campaign.busy,
             campaign.disturbed))
    print("hostile_server: exit after the server went away: median %.2f s, max %.2f s; "
          "%d answers later than %.0f s (longest %.0f s)"
          % (delays[len(delays) // 2], delays[-1], len(campaign.slow_answers), SLOW_ANSWER,
             max(campaign.slow_answers or [0])))
    stall = getattr(campaign, "stall_figures", None)
    if stall:
        print("hostile_server: a server that stopped reading: %d bytes of requests taken, "
              "session ended %.1f s after, RSS rose %d kB" % stall)
    figures = getattr(campaign, "soak_figures", None)
    if figures:
        print("hostile_server: soak %d jobs: RSS %d -> %d kB, descriptors %d -> %d, "
              "threads %d -> %d" % figures)
    for category in ("crash", "hang", "slow exit", "malformed", "protocol", "left running",
                     "memory", "handles", "soak"):
        print("hostile_server: %-12s %d" % (category, by_category.get(category, 0)))
    for category, where, text, _ in campaign.findings:
        print("  %s: %s: %s" % (category, where, text))
    if campaign.findings:
        print("hostile_server: replay one session with --seed %d --session N; program logs in %s"
              % (campaign.args.seed, campaign.log_dir))


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--sessions", type=int, default=2000)
    parser.add_argument("--soak-jobs", type=int, default=300, help="0: no soak")
    parser.add_argument("--slow", type=int, default=2,
                        help="sessions that wait out the program's 30 s time-outs")
    parser.add_argument("--session", type=int, help="replay this one session only")
    parser.add_argument("--kind", choices=sorted(cases.SCENARIOS), help="with --session")
    parser.add_argument("--xvfb", action="store_true", help="run on a private Xvfb display")
    parser.add_argument("--display", help="X display for the program")
    parser.add_argument("--rss-growth-kb", type=int, default=4096)
    parser.add_argument("--log-dir")
    parser.add_argument("--keep-logs", action="store_true")
    parser.add_argument("--trace", action="store_true", help="log every packet")
    parser.add_argument("--wine-debug", help="WINEDEBUG for the program (crash lines need "
                        "err+seh and err+heap)")
    return parser.parse_args(argv)


def interrupted(signum, frame):
    raise KeyboardInterrupt


def main(argv=None):
    args = parse_args(argv)
    # A run that is stopped still ends its program, its display and its files.
    signal.signal(signal.SIGTERM, interrupted)
    xvfb = None
    if args.xvfb:
        xvfb, args.display = start_xvfb()
    campaign = Campaign(args)
    if xvfb:
        warm_up_desktop(campaign)
    started = time.monotonic()
    sessions = 0
    try:
        if args.session is not None:
            run_session(campaign, args.session, args.kind) and \
                run_session(campaign, args.session, args.kind)
            sessions = 1
        else:
            for index in range(args.sessions):
                if run_session(campaign, index):
                    run_session(campaign, index)
                sessions += 1
                if sessions % 100 == 0:
                    say("%d sessions, %d findings" % (sessions, len(campaign.findings)))
            for index in range(args.slow):
                run_session(campaign, args.sessions + index,
                            cases.SLOW_KINDS[index % len(cases.SLOW_KINDS)])
                sessions += 1
            if args.soak_jobs:
                soak(campaign, args.soak_jobs)
    except KeyboardInterrupt:
        say("interrupted")
    finally:
        warn_prefix_processes(campaign)
        campaign.cleanup()
        if xvfb:
            xvfb.terminate()
            xvfb.wait()
    summary(campaign, sessions, time.monotonic() - started)
    return 1 if campaign.findings else 0


if __name__ == "__main__":
    sys.exit(main())
