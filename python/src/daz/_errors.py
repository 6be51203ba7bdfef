"""The exceptions the package raises for the library's result codes.

Every one pickles (a ProcessPoolExecutor or a Dask worker hands it back
whole) and copies. A DazIOError carries the system's errno when there is
one, and is then also the OSError subclass Python gives that errno:
FileNotFoundError for a missing file, PermissionError, IsADirectoryError...
"""

import os
from typing import Dict, Optional, Type

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

    def __reduce__(self):
        return _rebuild, (type(self), self.code, self.message, self.path, None), self.__dict__


class DazFormatError(DazError, ValueError):
    """Bad data or arguments: not a daz/BMP/PNG image, a corrupt one, a value
    out of range, an image past the limits."""


class DazIOError(DazError, OSError):
    """A file can't be opened, read, created or written. .errno and
    .strerror are the system's reason when known (else None), .filename is
    .path."""

    def __init__(self, code: int, message: Optional[str] = None, path: Optional[str] = None,
                 errno: Optional[int] = None):
        DazError.__init__(self, code, message, path)
        self.errno = errno or None
        self.strerror = os.strerror(errno) if errno else None

    @property  # type: ignore[override]
    def filename(self) -> Optional[str]:
        return self.path

    def __str__(self) -> str:  # OSError's own would print "[Errno None]"
        text = DazError.__str__(self)
        return f"{text} ({self.strerror})" if self.strerror else text

    def __reduce__(self):
        return _rebuild, (type(self), self.code, self.message, self.path, self.errno), self.__dict__


def _rebuild(cls: type, code: int, message: str, path: Optional[str],
             errno: Optional[int]) -> DazError:
    if errno is not None:
        return cls(code, message, path, errno)
    return cls(code, message, path)


# DazIOError and the OSError subclass of an errno, one class each: the name
# says both (DazFileNotFoundError: a DazIOError and a FileNotFoundError).
_BY_OS_CLASS: Dict[type, Type[DazIOError]] = {}
for _base in (FileNotFoundError, FileExistsError, IsADirectoryError, NotADirectoryError,
              PermissionError, InterruptedError, BlockingIOError, TimeoutError):
    _name = "Daz" + _base.__name__
    _BY_OS_CLASS[_base] = globals()[_name] = type(_name, (DazIOError, _base), {
        "__module__": __name__,
        "__doc__": f"A DazIOError that is also a {_base.__name__}."})
del _base, _name


def from_code(code: int, path: Optional[str] = None, errno: Optional[int] = None) -> DazError:
    """The exception for a library code (out of memory is MemoryError, raised
    by the extension itself). errno: the system's reason for an input or
    output failure, if known."""
    if code not in _IO_CODES:
        return DazFormatError(code, path=path)
    cls = _BY_OS_CLASS.get(type(OSError(errno, "")), DazIOError) if errno else DazIOError
    return cls(code, path=path, errno=errno)
