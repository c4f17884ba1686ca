"""A print job: documents (`documents`), each sniffed once, made into
pages of the printable size (`render`, with Ghostscript and Pillow, one
page ahead: `prefetch`) and printed through the program as one job
(`job`); `cli` is the tavri-print command."""
from .documents import DocumentFile
from .errors import RenderError
from .job import PageOptions, Progress, print_files

__all__ = ["DocumentFile", "PageOptions", "Progress", "RenderError", "print_files"]
