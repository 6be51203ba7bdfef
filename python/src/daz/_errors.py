"""The exceptions the package raises for the library's result codes.

Every one pickles (a ProcessPoolExecutor or a Dask worker hands it back
whole) and copies. A DazIOError carries the system's errno when there is
one, and is then also the OSError subclass Python gives that errno:
FileNotFoundError for a missing file, PermissionError, IsADirectoryError...
"""

import os
from typing import Dict, Optional, Type

from . import _daz

# daz.h's DAZ_ERROR_TABLE as the extension was built with it: {name:
# (number, text)}. The package names the codes it uses and the classes it
# raises by these names, never by number: a name daz.h drops or renames
# fails here, at import.
ERRORS: Dict[str, tuple] = _daz.ERRORS
CODES: Dict[str, int] = {name: number for name, (number, _text) in ERRORS.items()}
_NAMES: Dict[int, str] = {number: name for name, number in CODES.items()}

ERR_ARGUMENT = CODES["DAZ_ERR_ARGUMENT"]
ERR_LIMITS = CODES["DAZ_ERR_LIMITS"]
ERR_MEMORY = CODES["DAZ_ERR_MEMORY"]  # raised as MemoryError
ERR_NOT_DAZ = CODES["DAZ_ERR_NOT_DAZ"]
ERR_TRUNCATED = CODES["DAZ_ERR_TRUNCATED"]
ERR_NO_ROWS = CODES["DAZ_ERR_NO_ROWS"]
ERR_TOO_BIG_TO_HOLD = CODES["DAZ_ERR_TOO_BIG_TO_HOLD"]
ERR_OPEN = CODES["DAZ_ERR_OPEN"]
ERR_READ = CODES["DAZ_ERR_READ"]
ERR_CREATE = CODES["DAZ_ERR_CREATE"]
ERR_WRITE = CODES["DAZ_ERR_WRITE"]
ERR_FORMAT = CODES["DAZ_ERR_FORMAT"]
ERR_BMP_BITS = CODES["DAZ_ERR_BMP_BITS"]
ERR_COLORS = CODES["DAZ_ERR_COLORS"]
ERR_PNG_NOT_PALETTE = CODES["DAZ_ERR_PNG_NOT_PALETTE"]
ERR_NO_PALETTE = CODES["DAZ_ERR_NO_PALETTE"]
ERR_BAD_IMAGE = CODES["DAZ_ERR_BAD_IMAGE"]
ERR_NOT_INDEXED = CODES["DAZ_ERR_NOT_INDEXED"]

# Input and output: DazIOError (and OSError); every other failure is
# DazFormatError (and ValueError).
_IO_CODES = {ERR_OPEN, ERR_READ, ERR_CREATE, ERR_WRITE}


class DazError(Exception):
    """A libdaz failure: .code is the daz_error value, .name its name in
    daz.h (DAZ_ERR_LIMITS...), .message the library's English text
    (daz_strerror), .path the file concerned, if any."""

    def __init__(self, code: int, message: Optional[str] = None, path: Optional[str] = None):
        self.code = code
        self.message = message if message is not None else _daz.strerror(code)
        self.path = path
        super().__init__(self.message)

    @property
    def name(self) -> str:
        return _NAMES.get(self.code, "")

    def __str__(self) -> str:
        return f"{self.message}: {self.path}" if self.path else self.message

    def __reduce__(self):
        return _rebuild, (type(self), self.code, self.message, self.path, None), self.__dict__


class DazFormatError(DazError, ValueError):
    """Bad data or arguments: not an image of a format the library knows, a
    damaged one, a value out of range, an image past the limits."""


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
