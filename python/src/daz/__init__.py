"""Read and write daz images, and convert images of the formats libdaz
knows into them (daz.formats() tells which, as this build has them),
through libdaz (linked into the extension daz._daz); reduce images of any
colours to a palette, or map them onto one.

    info = daz.inspect("x.daz")            # header, palette, rows present
    image = daz.decode("x.daz")            # image.indices: (rows, width) bytes
    data = daz.encode(indices, palette, key=0x1f2e, colors=200)
    data = daz.encode(rgb, colors=64, dither=True)      # (h, w, 3) or (h, w, 4)
    data = daz.encode(rgb, palette="palette.png")       # mapped onto its palette
    daz.convert("in.png", "out.daz", colors=200, key=0x1f2e)
    daz.reduce("photo.jpg", "out.daz", colors=64, dither=True)
    [f.name for f in daz.formats() if f.loads]          # what this build reads

A source is a path (str or os.PathLike), a bytes-like object, or a binary
file object. Failures raise DazError subclasses (see daz._errors).
"""

from __future__ import annotations

import numbers
import operator
import os
from dataclasses import dataclass
from typing import BinaryIO, Iterable, List, NamedTuple, Optional, Sequence, Tuple, Union

from . import _daz
from ._errors import (ERR_ARGUMENT, ERR_COLORS, ERR_CREATE, ERR_OPEN, ERR_READ,
                      ERR_TOO_BIG_TO_HOLD, ERR_WRITE, DazError, DazFormatError, DazIOError,
                      from_code)

__all__ = ["DazError", "DazFormatError", "DazIOError", "DazImage", "DazInfo", "Format", "Indices",
           "Limits", "convert", "decode", "default_limits", "encode", "formats", "guess_format",
           "inspect",
           "load_palette", "quantize", "reduce", "write_safely", "__version__",
           "library_version"]

__version__: str = _daz.HEADER_VERSION
library_version: str = _daz.version()
Indices = _daz.Indices


class Format(NamedTuple):
    """A format as this build of the library knows it (daz_format_at).
    format: its daz_format number (what guess_format tells); name: "GIF";
    extensions: lower case, no dot, the usual one first ("jpg", "jpeg");
    converts: convert keeps its palette and indices; loads: reduce,
    load_palette and the colour calls read it; exports: a daz image can be
    written as it."""

    format: int
    name: str
    extensions: Tuple[str, ...]
    mime_type: str
    converts: bool
    loads: bool
    exports: bool


_FORMATS = tuple(Format(number, name, tuple(extensions.split()), mime,
                        bool(flags & _daz.FORMAT_CONVERTS), bool(flags & _daz.FORMAT_LOADS),
                        bool(flags & _daz.FORMAT_EXPORTS))
                 for number, name, extensions, mime, flags in _daz.formats())


def formats() -> List[Format]:
    """Every format this build of the library knows, daz itself included, in
    the order it tries them on a file's first bytes: a format whose library
    was left out of the build is not there. The package lists no format of
    its own: what it takes and tells is this."""
    return list(_FORMATS)


def guess_format(data: bytes) -> Optional[Format]:
    """The format the library tells from data's first bytes (DAZ_GUESS_BYTES
    are enough), or None. A guess: the image may still be damaged."""
    number = _daz.guess_format(bytes(data[:_daz.GUESS_BYTES]))
    return next((known for known in _FORMATS if known.format == number), None)

Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, BinaryIO]
Palette = Union[bytes, bytearray, Iterable[Sequence[int]]]
# A palette to map onto: entries as above, or an image file (a path,
# or its bytes) whose palette daz_load_palette reads.
PaletteSource = Union[Palette, str, "os.PathLike[str]", BinaryIO]
Colour = Tuple[int, int, int]


def _whole(name: str, value: object) -> int:
    """An integer argument (int, numpy integers...), or a TypeError naming it."""
    try:
        return operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        hint = f"; for hexadecimal text, int({value!r}, 16)" if isinstance(value, str) else ""
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}{hint}") from None


_LIBRARY_LIMITS = _daz.default_limits()


@dataclass(frozen=True)
class Limits:
    """How large an image a call may take on, checked by the library before
    it allocates anything: width, rows (|height|), pixels (width x rows) and
    bytes held or written (indices, a converted file). The defaults are the
    library's own (daz_default_limits: 65535, 32768, 2^28, 1 GiB). Raise
    them for one call with limits=daz.Limits(max_pixels=1 << 30), or for
    every call by setting daz.default_limits."""

    max_width: int = _LIBRARY_LIMITS[0]
    max_height: int = _LIBRARY_LIMITS[1]
    max_pixels: int = _LIBRARY_LIMITS[2]
    max_bytes: int = _LIBRARY_LIMITS[3]

    def __post_init__(self) -> None:
        for name, top in (("max_width", 2**32), ("max_height", 2**32), ("max_pixels", 2**64),
                          ("max_bytes", 2**64)):
            value = _whole(name, getattr(self, name))
            if not 0 <= value < top:
                raise ValueError(f"{name} is 0 to {top - 1}, not {value}")

    @classmethod
    def format_bounds(cls) -> "Limits":
        """No limit but the format's own: any image a daz file can hold
        (65535 x 32768 pixels, 2 GiB of indices)."""
        return cls(max_width=65535, max_height=32768, max_pixels=65535 * 32768,
                   max_bytes=2**64 - 1)


default_limits: Limits = Limits()


def _limits(limits: Optional[Limits]) -> tuple:
    chosen = default_limits if limits is None else limits
    if not isinstance(chosen, Limits):
        raise TypeError(f"limits must be a daz.Limits, not {type(chosen).__name__}")
    return (chosen.max_width, chosen.max_height, chosen.max_pixels, chosen.max_bytes)


@dataclass(frozen=True)
class DazInfo:
    """A daz image's header. height is as stored (negative: rows stored top
    row first); rows is the count of whole rows the data holds, |height| or
    fewer when cut short. palette: 3 bytes (red, green, blue) per entry, colors
    entries."""

    width: int
    height: int
    rows: int
    bits: int
    colors: int
    key: int
    row_size: int
    palette: bytes


@dataclass(frozen=True)
class DazImage(DazInfo):
    """A decoded daz image: indices is a (rows, width) buffer of unsigned
    bytes, top row first, the keystream taken off, 4-bit pixels one a byte
    (numpy.asarray(image.indices) views it without a copy)."""

    indices: Indices = None  # type: ignore[assignment]


def _info(record: tuple) -> dict:
    width, height, rows, bits, colors, key, row_size, _offset, _trailing, palette, _fourth = record
    return dict(width=width, height=height, rows=rows, bits=bits, colors=colors, key=key,
                row_size=row_size, palette=palette)


def _is_path(src: object) -> bool:
    return isinstance(src, (str, os.PathLike))


def _as_buffer(src: object) -> Optional[memoryview]:
    if _is_path(src) or hasattr(src, "read"):
        return None
    try:
        return memoryview(src)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"a daz source is a path, a bytes-like object or a binary file, "
                        f"not {type(src).__name__}") from None


def _open(path: Union[str, "os.PathLike[str]"]) -> BinaryIO:
    try:
        return open(path, "rb")
    except IsADirectoryError as error:
        # As the library's file calls (and orvx) have it: a folder opens,
        # and reading it fails.
        raise from_code(ERR_READ, os.fspath(path), error.errno) from error
    except OSError as error:
        raise from_code(ERR_OPEN, os.fspath(path), error.errno) from error


def _read(stream: BinaryIO, size: int, name: Optional[str]) -> bytes:
    """Up to size bytes, fewer only at the end of the stream."""
    parts = []
    while size > 0:
        try:
            part = stream.read(size)
        except OSError as error:
            raise from_code(ERR_READ, name, error.errno) from error
        if not part:
            break
        parts.append(part)
        size -= len(part)
    return b"".join(parts)


def _read_head(stream: BinaryIO, name: Optional[str]) -> Tuple[tuple, bytes]:
    """A daz image's header and palette, read from the stream and checked by
    the library, which reads no byte past them: (record, the bytes read)."""
    try:
        return _daz.read_head(stream)
    except DazError:
        raise
    except OSError as error:
        raise from_code(ERR_READ, name, error.errno) from error


def _read_daz_stream(stream: BinaryIO, name: Optional[str]) -> memoryview:
    """A daz image from a stream: the header and palette, checked by the
    library before anything more is read, then the rows the header claims,
    as far as the stream holds them, and no more (bytes after them are not
    part of the image). The room for them is what the stream holds, when it
    can tell (it seeks), else it grows with what comes: a claim alone
    allocates nothing."""
    record, head = _read_head(stream, name)
    claim = record[6] * abs(record[1])  # row_size x |height|
    try:
        here = stream.tell()
        held = stream.seek(0, os.SEEK_END) - here
        stream.seek(here)
    except (AttributeError, OSError, ValueError):
        data = bytearray(head)
        while len(data) < len(head) + claim:
            part = _read(stream, min(len(head) + claim - len(data), 1 << 24), name)
            if not part:
                break
            data += part
        return memoryview(data)
    # An unfilled block, aligned for huge pages and reused (see _daz.c).
    room = memoryview(_daz.empty(len(head) + max(0, min(claim, held))))
    room[:len(head)] = head
    got = _read_into(stream, room[len(head):], name)
    return room[:len(head) + got]


def _read_into(stream: BinaryIO, room: memoryview, name: Optional[str]) -> int:
    """Fills room from the stream as far as it goes; the count read."""
    readinto = getattr(stream, "readinto", None)
    done = 0
    while done < len(room):
        try:
            if readinto is not None:
                got = readinto(room[done:])
            else:
                part = stream.read(len(room) - done)
                got = len(part) if part else 0
                room[done:done + got] = part or b""
        except OSError as error:
            raise from_code(ERR_READ, name, error.errno) from error
        if not got:
            break
        done += got
    return done


def _daz_file(src: Source, path_call, buffer_call, *args):
    """path_call(path, *args) for a path (the library reads the file in one
    C call), else buffer_call(data, *args) on the bytes of src. Errors name
    the path."""
    name = os.fspath(src) if _is_path(src) else None  # type: ignore[arg-type]
    try:
        if name is not None:
            done = path_call(os.fsencode(name), *args)
            if done is not None:
                return done
            with _open(name) as stream:  # no regular file: a FIFO, a device
                return buffer_call(_read_daz_stream(stream, name), *args)
        data = _as_buffer(src)
        if data is None:
            data = _read_daz_stream(src, getattr(src, "name", None))  # type: ignore[arg-type]
        return buffer_call(data, *args)
    except DazError as error:
        raise _with_path(error, name)


def _with_path(error: DazError, path: Optional[str]) -> DazError:
    if error.path is None:
        error.path = path
    return error


def inspect(src: Source) -> DazInfo:
    """Reads and checks a daz image's header and palette, and counts its whole
    rows (a path: from the file's size, no row read). Raises DazError
    subclasses."""
    return DazInfo(**_info(_daz_file(src, _daz.inspect_file, _daz.inspect)))


def decode(src: Source, *, limits: Optional[Limits] = None) -> DazImage:
    """Decodes a daz image, its whole rows, within limits (None:
    daz.default_limits) checked against the rows there before anything is
    allocated. A path is opened, read and decoded in one library call,
    straight into the image's memory. The GIL is released meanwhile."""
    record, indices = _daz_file(src, _daz.decode_file, _daz.decode, _limits(limits), False)
    return DazImage(**_info(record), indices=indices)


def _palette_bytes(palette: Palette) -> Tuple[bytes, int]:
    """The palette as the library takes it: 4 bytes an entry. Red-green-blue
    bytes, (red, green, blue[, fourth]) entries, or flat integers 0..255,
    three an entry."""
    if not isinstance(palette, (bytes, bytearray, memoryview)):
        palette = list(palette)
        if palette and all(isinstance(value, numbers.Integral) for value in palette):
            try:  # flat red, green, blue values: what Pillow's getpalette() gives
                palette = bytes(int(value) for value in palette)
            except ValueError:
                raise from_code(ERR_ARGUMENT) from None
    if isinstance(palette, (bytes, bytearray, memoryview)):
        rgb = bytes(palette)
        if len(rgb) % 3:
            raise from_code(ERR_ARGUMENT)
        entries = [rgb[i:i + 3] for i in range(0, len(rgb), 3)]
    else:
        entries = [bytes(entry) for entry in palette]
        if any(len(entry) not in (3, 4) for entry in entries):
            raise from_code(ERR_ARGUMENT)
    return b"".join(entry.ljust(4, b"\0") for entry in entries), len(entries)


def _pixels(image: object) -> Optional[memoryview]:
    """A (height, width, 3 or 4) buffer of bytes, C-contiguous, or None for
    anything else (indices)."""
    view = memoryview(image)  # type: ignore[arg-type]
    if view.ndim != 3 or view.itemsize != 1 or view.shape[2] not in (3, 4):  # type: ignore
        return None
    if view.c_contiguous or 0 in view.shape:  # type: ignore[operator]
        return view
    return memoryview(view.tobytes()).cast("B", view.shape)  # type: ignore[arg-type]


def _reduction(colors: int, dither: bool, transparent: Optional[int], background: Colour,
               palette: Optional[PaletteSource], limits: tuple) -> Tuple[tuple, Optional[bytes]]:
    """The options as the extension takes them, and the palette to map onto
    (None: reduce), as rgbdaz reads them: colors 2..256 to reduce to, or 1
    to the palette's entries, its first entries mapped onto; 0 for 256 or
    all of them. DAZ_ERR_COLORS past that."""
    colors = _whole("colors", colors)
    table = _mapping_palette(palette, limits)
    most = 256 if table is None else len(table) // 4
    if colors != 0 and not (2 if table is None else 1) <= colors <= most:
        raise from_code(ERR_COLORS)
    if table is not None and colors:
        table = table[:4 * colors]
    index = -1 if transparent is None else _whole("transparent", transparent)
    try:
        red, green, blue = (_whole("background", value) for value in background)
    except (TypeError, ValueError):
        raise TypeError("background must be (red, green, blue)") from None
    if not (-1 <= index <= 255 and all(0 <= value <= 255 for value in (red, green, blue))):
        raise from_code(ERR_ARGUMENT)
    return (colors or most, _daz.DITHER_DIFFUSION if dither else _daz.DITHER_NONE, index,
            (red, green, blue)), table


def _mapping_palette(palette: Optional[PaletteSource], limits: tuple) -> Optional[bytes]:
    """The palette to map onto, 4 bytes an entry, or None to reduce: entries
    as encode takes them, or a file read by the library (a path, a binary
    file object, or bytes in a format it knows). Red-green-blue bytes that
    happen to start as a file does ("BM", "EW"...) and give no palette as
    one are entries."""
    if palette is None:
        return None
    name = os.fspath(palette) if _is_path(palette) else None  # type: ignore[arg-type]
    raw = isinstance(palette, (bytes, bytearray, memoryview))
    if name is not None or hasattr(palette, "read"):
        data = _read_all(palette, limits[3])  # type: ignore[arg-type]
    elif raw and _daz.guess_format(bytes(palette[:_daz.GUESS_BYTES])) != _daz.FORMAT_UNKNOWN:
        data = memoryview(palette)  # type: ignore[arg-type]
    else:
        return _palette_bytes(palette)[0]  # type: ignore[arg-type]
    try:
        return _daz.load_palette(data, limits)
    except DazError as error:
        if raw and len(data) % 3 == 0 and 3 <= len(data) <= 3 * 256:
            return _palette_bytes(palette)[0]  # type: ignore[arg-type]
        raise _with_path(error, name)


def load_palette(src: Source, *, limits: Optional[Limits] = None) -> bytes:
    """The palette of an image file of any format the library loads (formats()),
    as red-green-blue bytes (what
    encode, quantize and reduce take as palette): a daz file's stored
    entries, a palette image's entries; for an image without one, its
    colours in order of first appearance, at most 256, else DazFormatError
    (DAZ_ERR_NO_PALETTE)."""
    chosen = _limits(limits)
    name = os.fspath(src) if _is_path(src) else None  # type: ignore[arg-type]
    try:
        table = _daz.load_palette(_read_all(src, chosen[3]), chosen)
    except DazError as error:
        raise _with_path(error, name)
    return b"".join(table[i:i + 3] for i in range(0, len(table), 4))


def _quantized(view: memoryview, limits: tuple, options: tuple,
               palette: Optional[bytes]) -> Tuple[bytes, Indices]:
    height, width, channels = view.shape  # type: ignore[misc]
    if not height or not width:  # no pixels
        raise from_code(ERR_ARGUMENT)
    return _daz.quantize(view.cast("B"), width * channels, width, height, channels, limits,
                         options, palette)


def quantize(image: object, colors: int = 0, *, dither: bool = False,
             palette: Optional[PaletteSource] = None, transparent: Optional[int] = None,
             background: Colour = (0, 0, 0),
             limits: Optional[Limits] = None) -> Tuple[bytes, Indices]:
    """An image of colours, a (height, width, 3) or (height, width, 4) buffer
    of bytes (red, green, blue[, alpha]; a numpy array), to (palette,
    indices): red-green-blue bytes and a (height, width) buffer of indices,
    what encode takes. Reduced to at most colors entries (2..256, 0: 256;
    an image of that many colours or fewer keeps them exactly, in order of
    first appearance), or, with palette, mapped onto it, which is kept
    exactly: entries as encode takes them, or an image file (a
    path, or its bytes) whose palette is read (load_palette); colors then
    maps onto its first entries (0: all). dither: error diffusion
    rather than the nearest entry. Alpha: each pixel is composited over
    background (red, green, blue); with transparent, an index, a pixel of
    alpha 0 gets that index, and no other pixel does. Deterministic: the
    same bytes on every machine. The GIL is released meanwhile."""
    view = _pixels(image)
    if view is None:
        raise from_code(ERR_ARGUMENT)
    chosen = _limits(limits)
    options, mapping = _reduction(colors, dither, transparent, background, palette, chosen)
    table, indices = _quantized(view, chosen, options, mapping)
    return b"".join(table[i:i + 3] for i in range(0, len(table), 4)), indices


def encode(indices: object, palette: Optional[PaletteSource] = None, key: int = 0,
           colors: int = 0, *, width: Optional[int] = None, height: Optional[int] = None,
           bits: Optional[int] = None, top_down: bool = False, dither: bool = False,
           transparent: Optional[int] = None, background: Colour = (0, 0, 0),
           limits: Optional[Limits] = None) -> bytes:
    """The daz file of an image of indices: a 2-D (height, width) buffer of
    bytes, or a flat one with width and height given, top row first. The
    rows are stored bottom-up, the canonical file orvx -c and pngdaz write,
    or with top_down top row first (a negative height), which also holds
    the tallest images the format allows, 32768 rows. 4-bit pixels packed.
    palette: red-green-blue bytes, or a sequence of (red, green, blue[,
    fourth]) entries. bits: 4 when the palette has at most 16 entries and no
    index is past 15, else 8, unless given. colors: entries kept (0: all);
    indices past them are kept as they are. key: 0..0xffff.

    An image of colours, a (height, width, 3) or (height, width, 4) buffer
    (red, green, blue[, alpha]), is first reduced to colors entries (2..256,
    0: 256), or mapped onto palette (entries, or an image file
    whose palette is read; colors: its first entries, 0 all), as quantize
    does it (dither, transparent, background, limits); the file has every
    entry of the palette made, as rgbdaz writes it."""
    key, colors = _whole("key", key), _whole("colors", colors)
    pixels = _pixels(indices)
    if pixels is not None:
        chosen = _limits(limits)
        options, mapping = _reduction(colors, dither, transparent, background, palette, chosen)
        table, indices = _quantized(pixels, chosen, options, mapping)
        palette, colors = [table[i:i + 4] for i in range(0, len(table), 4)], 0
    view = memoryview(indices)  # type: ignore[arg-type]
    if view.itemsize != 1 or view.ndim not in (1, 2):
        raise from_code(ERR_ARGUMENT)
    if palette is None:
        raise TypeError("an image of indices needs its palette")
    if view.ndim == 2:
        rows, columns = view.shape  # type: ignore[misc]
        if (width is not None and width != columns) or (height is not None and height != rows):
            raise from_code(ERR_ARGUMENT)
        width, height = columns, rows
    elif width is None or height is None:
        raise from_code(ERR_ARGUMENT)
    if not view.c_contiguous:
        view = memoryview(view.tobytes())
    width, height = _whole("width", width), _whole("height", height)
    if width < 0 or height < 0 or not 0 <= key <= 0xFFFF:
        raise from_code(ERR_ARGUMENT)
    table, entries = _palette_bytes(palette)  # type: ignore[arg-type]
    if bits is None:
        bits = -1  # the library's choice, from the entries and the highest index
    elif bits == -1:
        raise from_code(ERR_ARGUMENT)
    data, _undefined = _daz.encode(view.cast("B"), width, width,
                                   -height if top_down else height, bits, table, entries,
                                   colors, key)
    return data


def _read_all(src: Source, most: int) -> memoryview:
    """A whole image to convert, of at most most bytes."""
    buffer = _as_buffer(src)
    if buffer is not None:
        return buffer
    if _is_path(src):
        with _open(src) as stream:  # type: ignore[arg-type]
            return _read_all(stream, most)
    name = getattr(src, "name", None)
    data = _read(src, most + 1, name)  # type: ignore[arg-type]
    if len(data) > most:
        raise from_code(ERR_TOO_BIG_TO_HOLD, name)
    return memoryview(data)


def write_safely(path: Union[str, "os.PathLike[str]"], data: bytes) -> None:
    """Writes data as the file path, as the commands write their outputs
    (the library's daz_write_file): a temporary file in the folder, synced,
    then renamed over it, removed on any failure or interruption, so that
    path only ever holds its old file or the whole new one. A new file gets
    mode 0666 less the umask; a replaced one keeps its mode (and, as root,
    its owner); a symbolic link stays a link (the file it names is
    replaced); a device or a FIFO is written directly, never replaced. The
    GIL is released meanwhile."""
    name = os.fspath(path)
    try:
        _daz.write_file(os.fsencode(name), data)
    except DazError as error:
        raise _with_path(error, name)


def convert(src: Source, dst: Union[str, "os.PathLike[str]", BinaryIO], colors: int = 0,
            key: int = 0, *, limits: Optional[Limits] = None) -> int:
    """Converts an image of any format the library converts (formats():
    converts; told by content, never by name) into the daz file orvx -c
    and pngdaz write for it, byte for byte; returns the count of pixels
    whose index is past the kept palette. colors: entries kept (0: all);
    key: 0..0xffff; limits: as for decode (None: daz.default_limits), the
    library checks them before it allocates anything. Path to path goes
    through the library's file conversion (the commands' safe output);
    otherwise the image is held in memory (limits.max_bytes at most) and
    dst, a path, is written as write_safely writes it, or, a binary file
    object, written to. The GIL is released while the library works."""
    key, colors = _whole("key", key), _whole("colors", colors)
    if not 0 <= key <= 0xFFFF:
        raise from_code(ERR_ARGUMENT)
    chosen = _limits(limits)
    if _is_path(src) and _is_path(dst):
        source, destination = os.fspath(src), os.fspath(dst)  # type: ignore[arg-type]
        try:
            return _daz.convert_file(os.fsencode(source), os.fsencode(destination), chosen,
                                     colors, key)
        except DazError as error:
            raise _with_path(error, destination if error.code in (ERR_CREATE, ERR_WRITE)
                             else source)
    name = os.fspath(src) if _is_path(src) else None  # type: ignore[arg-type]
    try:
        out, undefined = _daz.convert(_read_all(src, chosen[3]), chosen, colors, key)
    except DazError as error:
        raise _with_path(error, name)
    _deliver(dst, out)
    return undefined


def _deliver(dst: Union[str, "os.PathLike[str]", BinaryIO], out: bytes) -> None:
    """A daz file made in memory to dst: a path, written as write_safely
    writes it, or a binary file object, written to."""
    if _is_path(dst):
        write_safely(dst, out)  # type: ignore[arg-type]
    else:
        try:
            dst.write(out)  # type: ignore[union-attr]
        except OSError as error:
            raise from_code(ERR_WRITE, getattr(dst, "name", None), error.errno) from error


def reduce(src: Source, dst: Union[str, "os.PathLike[str]", BinaryIO], colors: int = 0,
           key: int = 0, *, dither: bool = False, palette: Optional[PaletteSource] = None,
           transparent: Optional[int] = None, background: Colour = (0, 0, 0),
           limits: Optional[Limits] = None) -> None:
    """An image of any format the library reads (formats(): loads; told by
    content) into a daz file of its colours
    reduced to colors entries (2..256, 0: 256), or mapped onto palette (its
    first colors entries, 0: all), as quantize does it (dither,
    transparent, background), as rgbdaz writes it; 4 bits a pixel for
    16 entries or fewer, else 8, rows bottom-up, every entry kept. Path to
    path goes through the library's file call (the commands' safe output);
    otherwise as convert. The source is held whole, within limits."""
    key = _whole("key", key)
    if not 0 <= key <= 0xFFFF:
        raise from_code(ERR_ARGUMENT)
    chosen = _limits(limits)
    options, table = _reduction(colors, dither, transparent, background, palette, chosen)
    if _is_path(src) and _is_path(dst):
        source, destination = os.fspath(src), os.fspath(dst)  # type: ignore[arg-type]
        try:
            _daz.reduce_file(os.fsencode(source), os.fsencode(destination), chosen, options,
                             table, key)
        except DazError as error:
            raise _with_path(error, destination if error.code in (ERR_CREATE, ERR_WRITE)
                             else source)
        return
    name = os.fspath(src) if _is_path(src) else None  # type: ignore[arg-type]
    try:
        out = _daz.reduce(_read_all(src, chosen[3]), chosen, options, table, key)
    except DazError as error:
        raise _with_path(error, name)
    _deliver(dst, out)
