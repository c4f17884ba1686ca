"""The protocol's server side: the packet codec (`protocol`), one run of the
program under Wine and its requests (`program`), whom a loopback connection
belongs to (`loopback`), and which Wine, program and prefix settings apply
(`wine`)."""
from .errors import (AnswerTimeout, ConnectionLost, PrefixBusy, PrintError, ProgramDidNotConnect,
                     ProtocolError, StatusError, UserCancelled)
from .program import Program
from .protocol import JobSettings, describe_status

__all__ = ["AnswerTimeout", "ConnectionLost", "JobSettings", "PrefixBusy", "PrintError",
           "Program", "ProgramDidNotConnect", "ProtocolError", "StatusError", "UserCancelled",
           "describe_status"]
