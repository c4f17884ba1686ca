"""Prints documents through tavri-printer-proxy, a Win32 program that runs
under Wine and prints BMP pages on a Wine printer: this package plays the
print server (listens on 127.0.0.1, starts the program, runs the jobs)."""
from .errors import (AnswerTimeout, ConnectionLost, PrintError, ProgramDidNotConnect,
                     ProtocolError, RenderError, StatusError, UserCancelled)
from .job import Progress, print_files
from .program import Program
from .protocol import JobSettings, describe_status

__all__ = ["AnswerTimeout", "ConnectionLost", "JobSettings", "PrintError", "Program",
           "ProgramDidNotConnect", "Progress", "ProtocolError", "RenderError", "StatusError",
           "UserCancelled", "describe_status", "print_files"]
