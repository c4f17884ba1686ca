"""Ghostscript as the job runs it: niced, within limits, and every run
killed by a cancel."""
from __future__ import annotations

import shutil
import subprocess
import threading
from typing import Dict, List, Optional, Sequence

from .errors import RenderError


class Ghostscript:
    """Runs gs, niced and within `limits` (a command prefix such as
    prlimit's); a cancel kills every run in progress."""

    def __init__(self, env: Optional[Dict[str, str]] = None, limits: Sequence[str] = ()):
        # Rasterising only has to keep ahead of the printer; on a busy
        # machine the printing, not the next page, should get the processor.
        self.env, self.prefix = env, ["nice", "-n", "10"] + list(limits)
        self.running: List[subprocess.Popen] = []
        self.cancelled = False
        self.lock = threading.Lock()

    def start(self, args: List[str], **streams) -> subprocess.Popen:
        command = self.prefix + [shutil.which("gs") or "gs", "-q", "-dSAFER", "-dNOPAUSE"]
        command += args
        with self.lock:
            if self.cancelled:
                raise RenderError("cancelled")
            try:
                process = subprocess.Popen(command, env=self.env, **streams)
            except OSError as error:
                raise RenderError("cannot run Ghostscript (%s)" % error.strerror)
            self.running.append(process)
            return process

    def run(self, args: List[str], what: str) -> str:
        process = self.start(["-dBATCH"] + args, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, err = process.communicate()
        if process.returncode != 0:
            raise RenderError("Ghostscript failed on %s: %s" % (what, last_line(err)))
        return out.decode("utf-8", "replace")

    def cancel(self) -> None:
        with self.lock:
            self.cancelled = True
            for process in self.running:
                if process.poll() is None:
                    process.kill()
                    process.wait()


def last_line(data: bytes) -> str:
    lines = data.decode("utf-8", "replace").strip().splitlines()
    return lines[-1] if lines else "no message"


def ps_string(text: str) -> str:
    return text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")
