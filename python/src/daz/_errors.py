"""The exceptions the package raises for the library's result codes."""

from typing import Optional

from . import _daz

# The library's codes for input and output, as daz.h numbers them.
_IO_CODES = {-16, -17, -18, -19}  # DAZ_ERR_OPEN, _READ, _CREATE, _WRITE


class DazError(Exception):
    """A libdaz failure: .code is the daz_error value, .message the library's
    English text (daz_strerror), .path the file concerned, if any."""

    def __init__(self, code: int, message: Optional[str] = None, path: Optional[str] = None):
        self.code = code
        self.message = message if message is not None else _daz.strerror(code)
        self.path = path
        super().__init__(self.message)

    def __str__(self) -> str:
        return f"{self.message}: {self.path}" if self.path else self.message


class DazFormatError(DazError, ValueError):
    """Bad data or arguments: not a daz/BMP/PNG image, a corrupt one, a value
    out of range, an image past the limits."""


class DazIOError(DazError, OSError):
    """A file can't be opened, read, created or written."""

    def __str__(self) -> str:  # OSError's own would print "[Errno None]"
        return DazError.__str__(self)


def from_code(code: int, path: Optional[str] = None) -> DazError:
    """The exception for a library code (out of memory is MemoryError, raised
    by the extension itself)."""
    cls = DazIOError if code in _IO_CODES else DazFormatError
    return cls(code, path=path)
