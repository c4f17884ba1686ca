"""What can go wrong with a document."""
from ..peer.errors import PrintError


class RenderError(PrintError):
    """A document could not be read or rasterised."""
