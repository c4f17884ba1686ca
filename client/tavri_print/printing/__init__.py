"""A print job: documents (`documents`), each sniffed once, made into
pages of the printable size (`render`, with Ghostscript and Pillow, one
page ahead: `prefetch`) and printed through the program as one job
(`job`), for the CUPS backend's worker; the tavri-print command is native
(printer_app/print_command.cpp)."""
from .documents import DocumentFile
from .errors import RenderError
from .job import PageOptions, Progress, print_files

__all__ = ["DocumentFile", "PageOptions", "Progress", "RenderError", "print_files"]
