"""The owner of a Wine prefix, whom a CUPS job runs as: everything but
reading the job and handing the result onward happens with the owner's
rights, in the owner's environment."""
from __future__ import annotations

import ctypes
import os
import pwd
import signal
from typing import Dict, Mapping

PR_SET_PDEATHSIG = 1


class OwnerError(ValueError):
    """The device URI's user cannot own a job."""


class Owner:
    def __init__(self, user: str, prefix: str = ""):
        try:
            self.pw = pwd.getpwnam(user)
        except KeyError:
            raise OwnerError("the user %r does not exist" % user)
        if self.pw.pw_uid == 0:
            raise OwnerError("jobs never run as root: name the Wine prefix's owner in user=")
        self.prefix = prefix or os.path.join(self.pw.pw_dir, ".wine")

    @property
    def name(self) -> str:
        return self.pw.pw_name

    def become(self) -> None:
        """Drops every right but the owner's, for good: groups, group, user,
        in that order. Only in a process of our own that runs no thread."""
        if os.geteuid() == 0:
            os.setgroups(os.getgrouplist(self.pw.pw_name, self.pw.pw_gid))
            os.setgid(self.pw.pw_gid)
            os.setuid(self.pw.pw_uid)
        if os.geteuid() != self.pw.pw_uid or os.getuid() != self.pw.pw_uid:
            raise PermissionError(
                "cannot run as %s: install the backend with mode 0700, "
                "so that CUPS runs it as root" % self.pw.pw_name
            )

    def env(
        self, job_id: str, inherited: Mapping[str, str], display: str = "", xauthority: str = ""
    ) -> Dict[str, str]:
        """The environment of the owner's job: theirs, not cupsd's; the
        progress window's X display and its authority file, if any."""
        env = {
            "PATH": "/usr/local/bin:/usr/bin:/bin",
            "HOME": self.pw.pw_dir,
            "USER": self.pw.pw_name,
            "LOGNAME": self.pw.pw_name,
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "LANG": inherited.get("LANG", "C.UTF-8"),
            "TAVRI_CUPS_JOB": str(job_id),
        }
        for name in ("CUPS_SERVER", "IPP_PORT"):  # the cupsd that runs us
            if inherited.get(name):
                env[name] = inherited[name]
        if display:
            env["DISPLAY"] = display
            xauthority = xauthority or os.path.join(self.pw.pw_dir, ".Xauthority")
            if os.path.exists(xauthority):
                env["XAUTHORITY"] = xauthority
        return env


def die_with_parent(parent_pid: int) -> None:
    """SIGTERM when the backend that started us dies, however it dies."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)
    if os.getppid() != parent_pid:
        os.kill(os.getpid(), signal.SIGTERM)
