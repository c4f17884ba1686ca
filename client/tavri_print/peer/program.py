"""One run of the program under Wine, connected to us: we listen on
127.0.0.1, start it with the port, and exchange packets with it."""
from __future__ import annotations

import errno
import fcntl
import os
import select
import signal
import socket
import subprocess
import time
from typing import Callable, Dict, Optional, Tuple

from . import protocol as p
from .errors import (AnswerTimeout, ConnectionLost, PrefixBusy, ProgramDidNotConnect,
                     ProtocolError, StatusError, UserCancelled)
from .loopback import peer_uid
from ..cups.programs import default_exe, default_wine
from .wine import font_linked

CANCEL_GRACE = 0.1  # seconds: the program sends a cancel right behind its answer


class Program:
    """Use as a context manager: on leaving, the program is told that the
    session is over (cancelled, when an exception leaves) and is waited
    for; a program that does not exit in time is killed."""

    def __init__(self, exe: Optional[str] = None, wine: Optional[str] = None,
                 env: Optional[Dict[str, str]] = None, log_path: Optional[str] = None,
                 answer_timeout: float = 120, connect_timeout: float = 60,
                 heartbeat: float = 10, exit_timeout: float = 30, prefix: Optional[str] = None,
                 lock_timeout: float = 3600, on_wait: Optional[Callable[[str], None]] = None):
        self.exe, self.wine = exe or default_exe(), wine or default_wine()
        self.prefix = prefix or (env or os.environ).get("WINEPREFIX") or os.path.expanduser(
            "~/.wine")
        self.lock, self.lock_timeout, self.on_wait = None, lock_timeout, on_wait
        self.env, self.log_path = env, log_path
        self.answer_timeout, self.connect_timeout = answer_timeout, connect_timeout
        self.heartbeat, self.exit_timeout = heartbeat, exit_timeout
        self.process = self.conn = self.listener = None
        self.reader = p.PacketReader()
        self.next_req_id = 1
        self.job_id = self.output = None
        self.ended = False
        self.refused = 0  # connections of other users

    # --- start and end -------------------------------------------------

    def start(self, port: int = 0) -> Program:
        self.launch(port)
        return self.connect()

    def launch(self, port: int = 0) -> Program:
        """Starts the program, which connects while the caller does other
        work; `connect` then waits for it."""
        self._lock_prefix()
        try:
            self._link_cjk_font()
            self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            self.listener.bind(("127.0.0.1", port))
            self.listener.listen(16)  # others' connections must not crowd the program's out
            self.port = self.listener.getsockname()[1]
            self.process = self._launch()
        except BaseException:
            self.kill()
            raise
        return self

    def connect(self) -> Program:
        try:
            self.conn = self._accept(self.listener)
        except BaseException:
            self.kill()
            raise
        finally:
            self.listener.close()
        self.last_sent = time.monotonic()
        return self

    def _link_cjk_font(self) -> None:
        """The progress window's Chinese labels need a font that has them
        linked to the interface fonts of the prefix, in the locale the
        program runs in (Wine drops Tahoma's links when the code page
        changes): the query program links them, once."""
        query = os.path.join(os.path.dirname(self.exe), "tavri-printer-query.exe")
        if font_linked(self.prefix) or not os.path.exists(query):
            return
        try:
            subprocess.run([self.wine, query, "font-link"], env=self.env, timeout=120,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, start_new_session=True)
        except (OSError, subprocess.TimeoutExpired):
            pass  # the labels may show as boxes; the job prints all the same

    def _launch(self) -> subprocess.Popen:
        log = open(self.log_path, "ab") if self.log_path else subprocess.DEVNULL
        try:
            return subprocess.Popen([self.wine, self.exe, "x", str(self.port)], env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=log, start_new_session=True)
        finally:
            if self.log_path:
                log.close()

    def _accept(self, listener: socket.socket) -> socket.socket:
        """The program's connection: one from a socket of our own user. Any
        other local user could connect first; theirs are closed at once."""
        deadline = time.monotonic() + self.connect_timeout
        listener.settimeout(0.2)
        while time.monotonic() < deadline:
            try:
                conn, _ = listener.accept()
                uid = peer_uid(conn)
                if uid == os.geteuid():
                    conn.settimeout(None)
                    return conn
                conn.close()
                self.refused += 1
                if self.on_wait:
                    self.on_wait("refused a connection of uid %s to the program's port" % uid)
            except socket.timeout:
                if self.process.poll() is not None:
                    raise ProgramDidNotConnect("the program exited before connecting: %s"
                                               % p.describe_exit(self.process.returncode))
        raise ProgramDidNotConnect("the program did not connect within %g s"
                                   % self.connect_timeout)

    def __enter__(self) -> Program:
        if self.process is None:
            return self.start()
        return self.connect() if self.conn is None else self

    def __exit__(self, kind: Optional[type], error: Optional[BaseException],
                 trace: object) -> bool:
        if kind is None:
            self.finish(p.PRINT_DONE, 0, b"OK")
        else:
            self.abandon(str(error) or kind.__name__)
        return False

    def finish(self, notice: int, status: int, text: bytes) -> None:
        """Sends the print-done or cancel notice and waits for the exit."""
        if not self.ended:
            self.ended = True
            try:
                self.send(notice, 0, p.text_body(status, text))
            except (ConnectionLost, UserCancelled):  # it has gone already
                pass
        self.wait_exit()

    def abandon(self, reason: str) -> None:
        """Ends a job that failed or was interrupted: the document is ended
        at once, then the session."""
        if self.job_id is not None and not self.ended and self.process.poll() is None:
            try:
                self.call(p.END_JOB, p.u32(self.job_id), "ending the job", timeout=10)
            except Exception:  # whatever the reason, the session still ends below
                pass
        self.finish(p.CANCEL_PRINT_DONE, 1, reason.encode("utf-8", "replace")[:200])

    def wait_exit(self) -> Optional[int]:
        if self.conn:
            self.conn.close()
        try:
            return self.process.wait(timeout=self.exit_timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            return self.process.returncode
        finally:
            self._unlock_prefix()

    def _lock_prefix(self) -> None:
        """One job at a time per Wine prefix: Wine's spooler numbers its
        spool files per process, and two jobs that start together collide."""
        path = os.path.join(self.prefix, ".tavri-print.lock")
        flags = os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW | os.O_CLOEXEC
        try:  # the owner's alone: anyone who can open it can stall every job
            try:
                self.lock = os.open(path, flags, 0o600)
            except OSError as error:  # a link in the prefix only its owner can have made
                if error.errno != errno.ELOOP:
                    raise
                os.unlink(path)
                self.lock = os.open(path, flags, 0o600)
            info = os.fstat(self.lock)
            if info.st_uid != os.getuid():
                raise PermissionError("not the owner's")
            if info.st_mode & 0o077:
                os.fchmod(self.lock, 0o600)
        except FileNotFoundError:  # no prefix yet
            return
        except OSError as error:
            self._unlock_prefix()
            raise PrefixBusy("the lock %s of the Wine prefix is not yours alone (%s)"
                             % (path, error)) from error
        deadline, told = time.monotonic() + self.lock_timeout, False
        while True:
            try:
                fcntl.flock(self.lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return
            except BlockingIOError:
                pass
            if time.monotonic() >= deadline:
                self._unlock_prefix()
                raise PrefixBusy("another job kept the Wine prefix %s busy for %g s"
                                 % (self.prefix, self.lock_timeout))
            if not told and self.on_wait:
                self.on_wait("waiting for another job in the Wine prefix %s" % self.prefix)
            told = True
            time.sleep(0.2)

    def _unlock_prefix(self) -> None:
        if self.lock is not None:
            os.close(self.lock)
            self.lock = None

    def kill(self) -> None:
        """The whole process group: Wine's loader and whatever it started."""
        if self.listener:
            self.listener.close()
        if self.process and self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if self.process:
            self.process.wait()
        self._unlock_prefix()

    # --- packets --------------------------------------------------------

    def send(self, code: int, req_id: int = 0, body: bytes = b"") -> None:
        try:
            self.conn.sendall(p.frame(code, req_id, body))
        except OSError as error:
            raise self._lost("sending failed (%s)" % error)
        self.last_sent = time.monotonic()

    def keep_alive(self) -> None:
        """A heartbeat when we have been quiet for a period, so that the
        program does not time out while we prepare the next page."""
        if self.conn and not self.ended and time.monotonic() - self.last_sent >= self.heartbeat:
            self.send(p.SERVER_HEARTBEAT)

    def _lost(self, what: str) -> Exception:
        """The error for a connection that ended: the user's cancel when the
        program said so before it closed (its notice may still wait unread
        behind the answer we had), else the loss."""
        self.ended = True
        if self._user_cancelled(0):
            return UserCancelled()
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
        return ConnectionLost(what, self.process.poll())

    def _user_cancelled(self, wait: float) -> bool:
        """Whether a user-cancel notice arrives within `wait` seconds; what
        arrives meanwhile is read, and nothing is sent."""
        deadline = time.monotonic() + wait
        while True:
            try:
                while (packet := self._take_packet()) is not None:
                    if packet[0] == p.USER_CANCEL:
                        return True
            except ProtocolError:
                return False
            left = deadline - time.monotonic()
            try:
                if not select.select([self.conn], [], [], max(left, 0))[0]:
                    return False
                chunk = self.conn.recv(1 << 16)
            except OSError:
                return False
            if not chunk:
                return False
            self.reader.feed(chunk)

    def _take_packet(self) -> Optional[Tuple[int, int, bytes]]:
        try:
            return self.reader.next()
        except p.FrameError as error:
            raise ProtocolError("malformed packet: %s" % error)

    def _next_packet(self, deadline: float, what: str) -> Tuple[int, int, bytes]:
        """Reads until a packet is whole; our heartbeats keep the program's
        receive time-out at bay meanwhile."""
        while True:
            packet = self._take_packet()
            if packet:
                return packet
            now = time.monotonic()
            if now >= deadline:
                raise AnswerTimeout("no %s in time" % what)
            if now - self.last_sent >= self.heartbeat:
                self.send(p.SERVER_HEARTBEAT)
            wait = min(deadline, self.last_sent + self.heartbeat) - now
            ready, _, _ = select.select([self.conn], [], [], max(wait, 0))
            if ready:
                self._receive_some()

    def _receive_some(self) -> None:
        try:
            chunk = self.conn.recv(1 << 16)
        except OSError as error:
            raise self._lost("receiving failed (%s)" % error)
        if not chunk:
            raise self._lost("end of stream")
        self.reader.feed(chunk)

    def wait_for(self, code: int, req_id: int, what: str,
                 timeout: Optional[float] = None) -> bytes:
        """The body of packet `code` with `req_id`; the program's notices on
        the way are acted on, its heartbeats need nothing."""
        deadline = time.monotonic() + (timeout or self.answer_timeout)
        while True:
            got_code, got_id, body = self._next_packet(deadline, what)
            if got_code == code and got_id == req_id:
                return body
            if got_code == p.USER_CANCEL:
                self.job_id = None
                raise UserCancelled()
            if got_code == p.RECEIVE_FAILED:
                status = (p.parse_text_body(body) or (1, b""))[0]
                self.ended = True
                raise StatusError("receiving a packet in the program", status)

    def call(self, action: int, body: bytes, what: str,
             timeout: Optional[float] = None) -> bytes:
        """Sends a request; the body of its answer."""
        req_id = self.next_req_id
        self.next_req_id += 1
        self.send(action, req_id, body)
        return self.wait_for(p.ANSWER + action, req_id, "answer to " + what, timeout)

    def call_checked(self, action: int, body: bytes, what: str,
                     timeout: Optional[float] = None) -> None:
        answer = p.parse_text_body(self.call(action, body, what, timeout))
        if answer is None:
            raise ProtocolError("the answer to %s is too short" % what)
        if answer[0] != 0:
            raise StatusError(what, *answer)

    # --- the requests -----------------------------------------------------

    def start_print(self, settings: p.JobSettings, page_count: int) -> None:
        self.call_checked(p.START_PRINT, settings.record(page_count), "the start-print request")
        self.job_id, self.output = settings.job_id, settings.output

    def page_size(self) -> Tuple[int, int]:
        answer = p.parse_page_size(self.call(p.GET_PRINT_PAGE, p.u32(self.job_id),
                                             "the page-size query"))
        if answer is None:
            raise ProtocolError("the page-size answer is too short")
        status, width, height = answer
        if status != 0:
            raise StatusError("the page-size query", status)
        return width, height

    def print_page(self, path: str, number: int) -> None:
        self.call_checked(p.PAGE_FILENAME, os.fsencode(path) + b"\0", "page %d" % number)

    def job_result(self) -> str:
        """The unix path of the printer's output file."""
        body = self.wait_for(p.JOB_RESULT, 0, "job result")
        status, text = p.parse_text_body(body) or (1, b"")
        self.job_id = None
        if status != 0:
            raise StatusError("the job", status)
        # A cancel clicked while the last page printed follows the result.
        if self._user_cancelled(CANCEL_GRACE):
            self.ended = True
            raise UserCancelled()
        if not text:
            raise ProtocolError("the job result names no output file")
        reported, ours = os.fsdecode(text), self.output_path()
        if ours is not None and os.path.realpath(reported) != os.path.realpath(ours):
            raise ProtocolError("the job result names %s, not the output file %s"
                                % (reported, ours))
        return reported

    def output_path(self) -> Optional[str]:
        """The unix path of the job's output name, as Wine maps a drive: the
        only file a job result may name. None for a network path."""
        name = (self.output or "").replace("/", "\\")
        if name.startswith("\\\\"):
            return None
        drive = "c:"
        if name[1:2] == ":":
            drive, name = name[:2].lower(), name[2:]
        parts = [part for part in name.split("\\") if part]
        return os.path.join(self.prefix, "dosdevices", drive, *parts)

    def end_job(self) -> None:
        self.call_checked(p.END_JOB, p.u32(self.job_id or 0), "ending the job")
        self.job_id = None

    def properties_dialog(self, printer: str, device: bool = False,
                          encoding: str = "cp1252") -> None:
        """Shows the driver's document (or device) dialog; the session ends
        with it. Returns nothing; a cancelled dialog is status 16."""
        action = p.DEVICE_PROPERTIES if device else p.DOCUMENT_PROPERTIES
        what = "the %s properties dialog" % ("device" if device else "document")
        try:
            # The dialog waits for a person: no time-out that a person would hit.
            self.call_checked(action, printer.encode(encoding) + b"\0", what, 24 * 3600)
        finally:
            self.ended = True
