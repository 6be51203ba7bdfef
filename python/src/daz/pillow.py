"""A Pillow plugin for daz images: importing this module registers it.

    import daz.pillow
    from PIL import Image
    im = Image.open("x.daz")          # mode "P", info["key"], info["colors"]
    im.save("y.daz", key=0x1f2e, colors=200)      # mode P: its first 200 entries kept
    im.save("y.daz", colors=16, reduce=True)      # mode P: reduced to 16 colours

Opening reads the header and palette only (24 + 4 x colors bytes), checked
by the library; the size is known then, so Pillow's decompression bomb check
runs before any pixel is read. load() decodes the rows in one library call
straight into the memory the image then uses; an 8-bit image with key 0,
whose rows are stored as they are, is read (or memory-mapped) by Pillow's
own raw reader, as a BMP is.

A daz file cut short: load() and verify() raise OSError ("image file is
truncated"), load() not when ImageFile.LOAD_TRUNCATED_IMAGES is set; then
the rows present are where they belong and the missing ones are index 0 (for
rows stored bottom-up, the usual case, the missing rows are the top ones). A
file cut before its rows, inside the header or the palette, is not
identified, as Pillow's own formats aren't: UnidentifiedImageError.

ImageFile.Parser takes a daz file piece by piece: the decoder "daz" gathers
the bytes up to the last row, then decodes them in one call.

Saving a mode "P" image writes its palette and indices: 4 bits per pixel
when the palette has at most 16 entries and every index fits in 4 bits, else
8; the canonical layout (rows bottom-up). Options: key (0..0xffff; when
absent, the key the image was opened with, im.info["key"], else 0) and
colors (palette entries kept, 0 or absent for all). The file equals what
pngdaz writes for the same image saved by Pillow as an indexed PNG.

Modes RGB, RGBA, L, LA and 1 (and P with the options reduce, dither or
palette) are reduced by the library, never by Pillow's quantize, as
daz.encode reduces an image of colours:

    im.save("y.daz", colors=64, dither=True)         # 2..256 (absent: 256)
    im.save("y.daz", palette="palette.png")          # mapped onto its palette
    im.save("y.daz", transparent=0, background=(255, 255, 255))

So colors on a mode P image is the entries kept, its indices unchanged,
unless reduce=True (or dither, or palette) asks for a reduction to colors.
palette: entries (red-green-blue bytes, (r, g, b) entries, the flat list
getpalette() gives), a mode P image or an ImagePalette (their palette), or
an image file the library reads, a path or its bytes; the file then holds
that palette, unchanged (with colors, its first colors entries).
An image with alpha (RGBA, LA, P with transparency) is composited over
background (black when absent), and with transparent, an index, a pixel of
alpha 0 gets that index.
"""

from __future__ import annotations

import os
from typing import BinaryIO

from PIL import Image, ImageFile, ImagePalette

from . import Limits, _daz, _limits, _read_daz_stream, _read_head, encode, formats
from ._errors import (ERR_ARGUMENT, ERR_NO_ROWS, ERR_NOT_DAZ, ERR_TRUNCATED, DazError,
                      DazFormatError)

FORMAT = "DAZ"
# The daz format as the library tells it: its extensions and MIME type.
_DAZ = next(known for known in formats() if known.format == _daz.FORMAT_DAZ)
MIME = _DAZ.mime_type
# The plugin allows any image the format holds: Pillow's decompression bomb
# check (Image.MAX_IMAGE_PIXELS) decides, before any pixel is read.
_BOUNDS = _limits(Limits.format_bounds())


def _accept(prefix: bytes) -> bool:
    return _daz.guess_format(prefix) == _daz.FORMAT_DAZ


def _set_mode(image: Image.Image, mode: str) -> None:
    # Pillow 10.1 made mode a read-only property over _mode.
    if isinstance(getattr(Image.Image, "mode", None), property):
        image._mode = mode
    else:
        image.mode = mode


class DazImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "daz palette image"

    def _open(self) -> None:
        # The format's own bounds only: Pillow's bomb check decides the rest.
        try:
            record, _head = _read_head(self.fp, self.filename or None)
        except DazError as error:
            if error.code in (ERR_NOT_DAZ, ERR_TRUNCATED):  # Pillow: "cannot identify"
                raise SyntaxError(f"not a daz image: {error.message}") from error
            raise
        width, height, _rows, bits, colors, key = record[:6]
        _set_mode(self, "P")
        self._size = (width, abs(height))
        self.palette = ImagePalette.raw("RGB", record[9])
        self.info.update(key=key, colors=colors, bits=bits)
        row_size, pixel_offset = record[6], record[7]
        self._end = pixel_offset + row_size * abs(height)  # where the last row ends
        self.tile = [("daz", (0, 0) + self.size, 0, (self._end,))]
        if key == 0 and bits == 8 and self._holds_rows(self._end):
            # Key 0 adds nothing to any byte: the rows are an 8-bit bitmap's,
            # which Pillow reads (or maps) itself, as it does a BMP.
            orientation = -1 if height > 0 else 1
            self.tile = [("raw", (0, 0) + self.size, pixel_offset, ("P", row_size, orientation))]

    def _holds_rows(self, end: int) -> bool:
        here = self.fp.tell()
        try:
            return self.fp.seek(0, 2) >= end
        except (AttributeError, OSError, ValueError):
            return False
        finally:
            self.fp.seek(here)

    def verify(self) -> None:
        """Whether every row the header claims is there, without decoding."""
        if not self._holds_rows(self._end):
            raise OSError("image file is truncated")
        super().verify()

    def load(self):  # type: ignore[override]
        if self.tile and self.tile[0][0] == "daz":
            self._decode()
        return ImageFile.ImageFile.load(self)

    def _decode(self) -> None:
        name = self.filename or None
        try:
            done = None
            if name and getattr(self, "_exclusive_fp", False):  # opened from this path
                done = _daz.decode_file(os.fsencode(name), _BOUNDS, True)
            if done is None:
                self.fp.seek(0)
                done = _daz.decode(_read_daz_stream(self.fp, name), _BOUNDS, True)
            record, indices = done
            rows = record[2]
        except DazError as error:
            if error.code != ERR_NO_ROWS or not ImageFile.LOAD_TRUNCATED_IMAGES:
                if error.code == ERR_NO_ROWS:
                    raise OSError("image file is truncated (no whole row)") from error
                raise
            indices, rows = None, 0
        height = self.size[1]
        if rows < height and not ImageFile.LOAD_TRUNCATED_IMAGES:
            raise OSError(f"image file is truncated ({height - rows} of {height} rows missing)")
        if indices is None:
            self.im = Image.core.fill("P", self.size, 0)
        else:
            # The image's memory is the decoded indices: no copy.
            self.im = Image.core.map_buffer(indices, self.size, "raw", 0, ("P", 0, 1))
        self.tile = []
        if getattr(self, "_exclusive_fp", False) and \
                getattr(self, "_close_exclusive_fp_after_loading", True):
            self.fp.close()
            self.fp = None


class DazDecoder(ImageFile.PyDecoder):
    """The decoder "daz", for ImageFile.Parser: it gathers the file from its
    first byte up to the end of its last row (the tile's argument), then
    decodes it in one library call."""

    def init(self, args: tuple) -> None:
        (self._end,) = args
        self._data = bytearray()

    def decode(self, buffer: bytes) -> tuple:
        self._data += buffer
        if len(self._data) < self._end:
            return len(buffer), 0
        _record, indices = _daz.decode(self._data[:self._end], _BOUNDS, False)
        self.set_as_raw(bytes(memoryview(indices)), "P")
        return -1, 0


# Modes the library reduces, and the mode Pillow gives it their pixels in.
_COLOUR_MODES = {"RGB": "RGB", "L": "RGB", "1": "RGB", "RGBA": "RGBA", "LA": "RGBA"}


def _palette_option(palette: object) -> object:
    """The palette= option as daz.encode takes it: a mode P image and an
    ImagePalette give their palette's red-green-blue bytes; anything else
    (entries, the flat list getpalette() gives, a file) goes as it is."""
    if isinstance(palette, Image.Image):
        if palette.mode not in ("P", "PA"):
            raise DazFormatError(ERR_ARGUMENT, f"a palette image is of mode P, not "
                                               f"{palette.mode}")
        return _image_palette(palette)
    if isinstance(palette, ImagePalette.ImagePalette):
        mode, data = palette.getdata()
        mode = mode.split(";")[0]
        if mode not in ("RGB", "RGBA") or not data:
            raise DazFormatError(ERR_ARGUMENT, f"a palette of mode {mode} and "
                                               f"{len(data)} bytes is no RGB palette")
        step = len(mode)
        return b"".join(data[i:i + 3] for i in range(0, len(data) - step + 1, step))
    return palette


def _save(image: Image.Image, fp: BinaryIO, filename: str) -> None:
    options = image.encoderinfo
    key = options.get("key", image.info.get("key", 0))
    colors = options.get("colors", 0)
    dither, palette = options.get("dither", False), _palette_option(options.get("palette"))
    width, height = image.size
    if not width or not height:  # no pixels: a daz image has at least one
        raise DazFormatError(ERR_ARGUMENT, f"cannot write an image of no pixels "
                                           f"({width} x {height}) as DAZ")
    if image.mode == "P" and palette is None and not dither and not options.get("reduce"):
        _save_indices(image, fp, key, colors)
        return
    if image.mode == "P":
        mode = "RGBA" if "transparency" in image.info else "RGB"
    elif image.mode in _COLOUR_MODES:
        mode = _COLOUR_MODES[image.mode]
    else:
        raise OSError(f"cannot write mode {image.mode} as DAZ")
    pixels = memoryview(image.convert(mode).tobytes()).cast("B", (height, width, len(mode)))
    fp.write(encode(pixels, palette, key=key, colors=colors, dither=dither,
                    transparent=options.get("transparent"),
                    background=options.get("background", (0, 0, 0))))


def _image_palette(image: Image.Image) -> bytes:
    """A mode P image's palette, red-green-blue bytes, its entries as
    Pillow's PNG writer counts them."""
    image.load()
    if image.palette:
        mode, data = image.palette.getdata()
        entries = max(1, min(len(data) // len(mode), 256))
    else:
        entries = 256
    return image.im.getpalette("RGB", "RGB")[:3 * entries].ljust(3 * entries, b"\0")


def _save_indices(image: Image.Image, fp: BinaryIO, key: int, colors: int) -> None:
    width, height = image.size
    fp.write(encode(image.tobytes(), _image_palette(image), key=key, colors=colors, width=width,
                    height=height))


Image.register_open(FORMAT, DazImageFile, _accept)
Image.register_decoder("daz", DazDecoder)
Image.register_save(FORMAT, _save)
Image.register_extensions(FORMAT, ["." + extension for extension in _DAZ.extensions])
Image.register_mime(FORMAT, MIME)
