"""What can go wrong between us and the program, each naming what failed."""
from __future__ import annotations

from typing import Optional

from .protocol import describe_exit, describe_status


class PrintError(Exception):
    """Base of every failure that the library reports."""


class ProgramDidNotConnect(PrintError):
    pass


class ConnectionLost(PrintError):
    def __init__(self, what: str, exit_code: Optional[int] = None):
        super().__init__("the program closed the connection: %s, %s"
                         % (what, describe_exit(exit_code)))
        self.exit_code = exit_code


class StatusError(PrintError):
    """The program answered `what` with a status other than 0."""

    def __init__(self, what: str, status: int, text: bytes = b""):
        detail = (": %s" % text.decode("utf-8", "replace")) if text else ""
        super().__init__("%s failed with %s%s" % (what, describe_status(status), detail))
        self.what, self.status = what, status


class ProtocolError(PrintError):
    """The program sent something that does not follow the packet format."""


class AnswerTimeout(PrintError):
    """The program did not answer in time."""


class PrefixBusy(PrintError):
    """Another job kept the Wine prefix for longer than we would wait."""


class UserCancelled(PrintError):
    def __init__(self) -> None:
        super().__init__("the user cancelled the job in the progress window")
