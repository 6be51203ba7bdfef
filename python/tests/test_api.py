"""The package's calls: round trips, conversions equal to the commands'
(a PGM, which only the library reads, as pngdaz converts the same greys),
and hostile data giving DazError, never a crash."""

import copy
import io
import os
import pickle
import random
import re
import stat
import struct
import subprocess
import sys
from pathlib import Path

import numpy
import pytest

import daz
from conftest import (PICTURES, REPO, few_colours, grey_twins, known_format, photo, picture,
                      reference)


def header(width=4, height=2, bits=8, colors=2, key=0):
    return b"EW" + struct.pack("<HHhHhH", 1, width, height, bits, colors, key) + bytes(10)


def image(width, height, top, seed=1):
    rng = random.Random(seed)
    return numpy.array([[rng.randrange(top + 1) for _ in range(width)] for _ in range(height)],
                       dtype=numpy.uint8)


# width, height, bits given (None: encode's choice), bits written, palette
# entries, kept colours, key, largest index, top-down
ROUND_TRIPS = [
    (1, 1, 8, 8, 1, 0, 0, 0, False),
    (7, 3, 4, 4, 16, 0, 0x1F2E, 15, False),       # odd width: a half-used byte, padded rows
    (33, 5, 8, 8, 256, 200, 0xFFFF, 255, False),  # indices past the kept colours stay
    (5, 4, 4, 4, 3, 0, 0x0100, 15, False),        # 4-bit, indices past a short palette
    (300, 2, 8, 8, 20, 20, 0x8001, 200, True),
    (3, 32768, 4, 4, 2, 0, 0x0707, 15, True),     # the tallest image: top-down only
    (5, 4, None, 4, 16, 0, 0, 15, False),         # chosen: entries and indices fit in 4 bits
    (5, 4, None, 8, 16, 0, 0, 16, False),         # an index of 16 under 16 entries
    (5, 4, None, 8, 3, 0, 0, 200, False),         # undefined pixels past 15
    (5, 4, None, 8, 17, 0, 0, 0, False),          # 17 entries
]


@pytest.mark.parametrize("width,height,bits,written,entries,kept,key,top,top_down", ROUND_TRIPS)
def test_encode_then_decode_gives_the_image_back(width, height, bits, written, entries, kept, key,
                                                 top, top_down):
    indices = image(width, height, top)
    indices[0, 0] = top  # the largest index is there
    palette = [(i, 255 - i, i // 2) for i in range(entries)]
    data = daz.encode(indices, palette, key=key, colors=kept, bits=bits, top_down=top_down)
    back = daz.decode(data)
    colors = kept or entries
    assert (back.width, back.height, back.rows, back.bits, back.colors, back.key) == \
        (width, -height if top_down else height, height, written, colors, key)
    assert back.palette == b"".join(bytes(entry) for entry in palette[:colors])
    assert numpy.array_equal(numpy.asarray(back.indices), indices)
    assert daz.inspect(io.BytesIO(data)).rows == height
    # a decoded image pickles and copies whole, its indices its own
    for again in (pickle.loads(pickle.dumps(back)), copy.deepcopy(back)):
        assert (again.width, again.height, again.key, again.palette) == \
            (back.width, back.height, back.key, back.palette)
        assert numpy.array_equal(numpy.asarray(again.indices), indices)
        numpy.asarray(again.indices)[0, 0] ^= 1
        assert numpy.array_equal(numpy.asarray(back.indices), indices)


def test_indices_are_a_zero_copy_two_dimensional_buffer():
    image_ = daz.decode(daz.encode(image(9, 4, 255), bytes(768)))
    view = memoryview(image_.indices)
    assert (view.ndim, view.shape, view.strides, view.format) == (2, (4, 9), (9, 1), "B")
    array = numpy.asarray(image_.indices)
    array[0, 0] = 77  # a view of the same memory, not a copy
    assert numpy.asarray(image_.indices)[0, 0] == 77


def test_encode_takes_strided_views_and_flat_buffers():
    whole = image(10, 6, 255)
    part = whole[1:5, 2:9]
    assert daz.encode(part, bytes(768)) == daz.encode(numpy.ascontiguousarray(part), bytes(768))
    assert daz.encode(part.tobytes(), bytes(768), width=7, height=4) == \
        daz.encode(part, bytes(768))


def saved_png(pixels, path):
    from PIL import Image
    Image.fromarray(numpy.ascontiguousarray(pixels)).save(path)
    return path


def first_appearance(pixels):
    """The colours of an (h, w, 3) array in order of first appearance."""
    flat = [tuple(colour) for colour in pixels.reshape(-1, pixels.shape[2])[:, :3]]
    return list(dict.fromkeys(flat))


# an image of colours, colours asked (0: 256), dither, key; how rgbdaz reduces
# its PNG is what encode must give
COLOUR_IMAGES = [
    (few_colours(9, 7, 5), 0, False, 0),                   # kept exactly: 4 bits
    (few_colours(31, 9, 16, channels=4), 16, False, 0x1F2E),
    (few_colours(40, 30, 200), 200, True, 0),              # no error to diffuse
    (photo(64, 48), 0, False, 0x0001),                     # thousands to 256
    (photo(64, 48), 40, False, 0xBEEF),
    (photo(64, 48), 40, True, 0xBEEF),
    (photo(80, 50)[3:40:2, 70:4:-3], 12, False, 0),        # a strided view
    (photo(33, 5, channels=4), 2, True, 0xFFFF),           # alpha over black
]


@pytest.mark.parametrize("pixels,colors,dither,key", COLOUR_IMAGES,
                         ids=range(len(COLOUR_IMAGES)))
def test_an_image_of_colours_is_encoded_as_rgbdaz_reduces_it(tmp_path, pixels, colors, dither,
                                                              key):
    expected = reference("rgbdaz", saved_png(pixels, tmp_path / "x.png"), tmp_path / "ref.daz",
                         colors, key, ("-d",) if dither else ())
    data = daz.encode(pixels, colors=colors, dither=dither, key=key)
    assert data == expected
    back = daz.decode(data)
    assert back.colors <= (colors or 256) and back.bits == (4 if back.colors <= 16 else 8)
    palette = numpy.frombuffer(back.palette, numpy.uint8).reshape(-1, 3)
    shown = palette[numpy.asarray(back.indices)]
    distinct = first_appearance(pixels)
    if len(distinct) <= (colors or 256) and pixels.shape[2] == 3:  # lossless, in order
        assert numpy.array_equal(shown, pixels)
        assert [tuple(entry) for entry in palette] == distinct
    elif pixels.shape[2] == 3 and not dither:  # near: no channel swapped, no row moved
        assert numpy.abs(shown.astype(int) - pixels).mean() < 40
    table, indices = daz.quantize(pixels, colors or 256, dither=dither)
    assert daz.encode(indices, table, key=key) == data


# the palette to map onto, as given: entries, or a file (path or bytes); as
# bytes, its entries start as a bitmap does ("BM")
PALETTE = [(66, 77, 0), (255, 255, 255), (255, 0, 0), (0, 128, 0), (0, 0, 255), (200, 180, 20)]


def palette_source(kind, tmp_path):
    from PIL import Image
    image = Image.new("P", (3, 2))
    image.putpalette(bytes(value for entry in PALETTE for value in entry))
    image.putdata(list(range(6)))
    image.save(tmp_path / "palette.png")
    if kind == "daz":
        daz.convert(tmp_path / "palette.png", tmp_path / "palette.daz")
    return {"entries": PALETTE, "bytes": bytes(v for e in PALETTE for v in e),
            "png": tmp_path / "palette.png", "png bytes": (tmp_path / "palette.png").read_bytes(),
            "daz": tmp_path / "palette.daz", "str": str(tmp_path / "palette.png"),
            "flat": [v for e in PALETTE for v in e],  # what Pillow's getpalette() gives
            "flat numpy": numpy.array([v for e in PALETTE for v in e], numpy.int64)}[kind]


@pytest.mark.parametrize("kind", ["entries", "bytes", "png", "png bytes", "daz", "str", "flat",
                                  "flat numpy"])
@pytest.mark.parametrize("dither", [False, True])
def test_mapping_keeps_the_palette_and_its_order(tmp_path, kind, dither):
    pixels = photo(23, 17)
    pixels[0, :6] = PALETTE  # its own colours, where nothing went before
    data = daz.encode(pixels, palette=palette_source(kind, tmp_path), dither=dither, key=7)
    back = daz.decode(data)
    assert back.palette == bytes(v for e in PALETTE for v in e) and back.bits == 4
    if not dither:
        assert list(numpy.asarray(back.indices)[0, :6]) == list(range(6))
    assert data == reference("rgbdaz", saved_png(pixels, tmp_path / "x.png"), tmp_path / "r.daz",
                             0, 7, ("-d",) * dither + ("-p", tmp_path / "palette.png"))
    assert daz.load_palette(tmp_path / "palette.png") == back.palette


# alpha of the pixels (per row), transparent index, background
ALPHA = [
    ([0, 255, 128], None, (0, 0, 0)),
    ([0, 255, 128], None, (255, 255, 255)),
    ([0, 0, 255], 0, (10, 20, 30)),
    ([255, 0, 1], 3, (0, 0, 0)),
]


@pytest.mark.parametrize("alphas,transparent,background", ALPHA)
def test_alpha_is_composited_over_the_background_or_made_transparent(tmp_path, alphas,
                                                                     transparent, background):
    pixels = numpy.zeros((3, 4, 4), numpy.uint8)
    pixels[..., :3] = [[200, 100, 50]]
    pixels[..., 3] = numpy.array(alphas)[:, None]
    data = daz.encode(pixels, transparent=transparent, background=background)
    options = ("-s", "%02x%02x%02x" % background) + (("-t", transparent) if transparent is not
                                                      None else ())
    assert data == reference("rgbdaz", saved_png(pixels, tmp_path / "x.png"), tmp_path / "r.daz",
                             0, 0, options)
    back = daz.decode(data)
    palette = numpy.frombuffer(back.palette, numpy.uint8).reshape(-1, 3)
    shown = palette[numpy.asarray(back.indices)]
    for row, alpha in enumerate(alphas):
        if alpha == 0 and transparent is not None:
            assert set(numpy.asarray(back.indices)[row]) == {transparent}
            assert tuple(palette[transparent]) == background
        else:  # over the background, rounded
            over = [(c * alpha + b * (255 - alpha) + 127) // 255
                    for c, b in zip((200, 100, 50), background)]
            assert numpy.abs(shown[row].astype(int) - over).max() <= 1
    if transparent is not None:
        assert transparent not in numpy.asarray(back.indices)[[r for r, a in enumerate(alphas)
                                                               if a != 0]]


# source (made in tmp_path), colours, key, options; reduce must write rgbdaz's file
REDUCTIONS = [
    ("photo.png", 0, 0, {}),
    ("photo.png", 64, 0x1F2E, {"dither": True}),
    ("alpha.png", 16, 0, {"transparent": 0, "background": (255, 255, 255)}),
    ("rgb24.bmp", 8, 0xABCD, {}),
    ("indexed.png", 4, 0, {"dither": True}),             # a palette image reduced all the same
    ("photo.png", 0, 0x0100, {"palette": "palette.png"}),
    ("alpha.png", 4, 0, {"palette": "palette.png"}),     # its first 4 entries
]


@pytest.mark.parametrize("name,colors,key,options", REDUCTIONS)
def test_reduce_writes_what_rgbdaz_writes(tmp_path, name, colors, key, options):
    from PIL import Image
    saved_png(photo(50, 30), tmp_path / "photo.png")
    saved_png(photo(20, 9, channels=4), tmp_path / "alpha.png")
    Image.fromarray(photo(13, 7)).save(tmp_path / "rgb24.bmp")
    Image.open(REPO / "samples/sample8.bmp").save(tmp_path / "indexed.png")
    palette_source("png", tmp_path)
    flags = ("-d",) * options.get("dither", False)
    if "palette" in options:
        options = dict(options, palette=tmp_path / options["palette"])
        flags += ("-p", options["palette"])
    if "transparent" in options:
        flags += ("-t", options["transparent"], "-s", "ffffff")
    source = tmp_path / name
    expected = reference("rgbdaz", source, tmp_path / "ref.daz", colors, key, flags)
    assert expected is not None
    daz.reduce(source, tmp_path / "a.daz", colors, key, **options)
    daz.reduce(source.read_bytes(), tmp_path / "b.daz", colors, key, **options)
    out = io.BytesIO()
    with open(source, "rb") as stream:
        daz.reduce(stream, out, colors, key, **options)
    assert (tmp_path / "a.daz").read_bytes() == expected
    assert (tmp_path / "b.daz").read_bytes() == expected
    assert out.getvalue() == expected


def not_an_image(tmp_path):
    (tmp_path / "notes.txt").write_text("not an image")
    return tmp_path / "notes.txt"


def many_colours_png(tmp_path):
    return saved_png(photo(20, 20), tmp_path / "many.png")


# a call on an image of colours, given tmp_path, and the error it raises (a
# DazError's code, or a Python error class)
BAD_REDUCTIONS = [
    (lambda t: daz.encode(photo(4, 4), colors=1), -14),
    (lambda t: daz.encode(photo(4, 4), colors=257), -14),
    (lambda t: daz.encode(photo(4, 4), transparent=256), -1),
    (lambda t: daz.encode(photo(4, 4), transparent=4, colors=4), -1),
    (lambda t: daz.encode(numpy.zeros((2, 2, 2), numpy.uint8)), -1),  # 2 channels: no image
    (lambda t: daz.encode(numpy.zeros((0, 5, 3), numpy.uint8)), -1),  # no pixels
    (lambda t: daz.encode(photo(4, 4), background=(1, 2)), TypeError),
    (lambda t: daz.encode(photo(4, 4), palette=not_an_image(t)), -22),
    (lambda t: daz.encode(photo(4, 4), palette=many_colours_png(t)), -24),
    (lambda t: daz.encode(photo(4, 4), palette=t / "missing.png"), FileNotFoundError),
    (lambda t: daz.encode(photo(4, 4), palette=[]), -1),
    (lambda t: daz.encode(photo(4, 4), palette=[0, 0, 0, 255, 255]), -1),  # flat: not 3 an entry
    (lambda t: daz.encode(photo(4, 4), palette=[0, 0, 256]), -1),
    (lambda t: daz.encode(photo(300, 300), limits=daz.Limits(max_pixels=1000)), -3),
    (lambda t: daz.encode(image(4, 4, 3)), TypeError),                # indices need a palette
    (lambda t: daz.reduce(not_an_image(t), t / "out.daz"), -22),
    (lambda t: daz.reduce(b"\x89PNG\r\n\x1a\n" + bytes(40), io.BytesIO()), -12),
    (lambda t: daz.load_palette(many_colours_png(t)), -24),
    # a folder opens and can't be read, whichever call takes it
    (lambda t: daz.load_palette(t), -17),
    (lambda t: daz.encode(photo(4, 4), palette=t), -17),
    (lambda t: daz.reduce(t, t / "out.daz"), -17),
    (lambda t: daz.reduce(t, io.BytesIO()), -17),
]


@pytest.mark.parametrize("call,error", BAD_REDUCTIONS, ids=range(len(BAD_REDUCTIONS)))
def test_a_bad_reduction_raises_a_daz_error(tmp_path, call, error):
    with pytest.raises(daz.DazError if isinstance(error, int) else error) as caught:
        call(tmp_path)
    if isinstance(error, int):
        assert caught.value.code == error
    assert not (tmp_path / "out.daz").exists()


# (daz bytes, code): every source kind gives the same error
HOSTILE = [
    (b"", -8),
    (bytes(random.Random(3).randrange(256) for _ in range(500)), -5),
    (header()[:20], -8),                                      # inside the header
    (header(colors=2) + bytes(4), -8),                        # inside the palette
    (header(bits=5) + bytes(16), -6),
    (header(bits=4, colors=17) + bytes(80), -7),
    (header(colors=0) + bytes(16), -7),
    (header(colors=-1) + bytes(16), -7),
    (header(width=0) + bytes(8) + bytes(16), -9),
    (header(height=0) + bytes(8) + bytes(16), -9),
    (header(width=8) + bytes(8) + bytes(7), -9),              # less than one row
    # 2^31 pixels claimed and no whole row: nothing allocated for the claim
    (header(width=65535, height=32767, colors=1) + bytes(4) + bytes(65535), -9),
]


@pytest.mark.parametrize("data,code", HOSTILE, ids=range(len(HOSTILE)))
@pytest.mark.parametrize("kind", ["bytes", "path", "stream"])
def test_hostile_daz_data_gives_a_daz_error(tmp_path, data, code, kind):
    source = {"bytes": data, "stream": io.BytesIO(data), "path": tmp_path / "x.daz"}[kind]
    (tmp_path / "x.daz").write_bytes(data)
    with pytest.raises(daz.DazFormatError) as caught:
        daz.decode(source)
    assert caught.value.code == code
    assert isinstance(caught.value, ValueError) and caught.value.message in str(caught.value)
    again = pickle.loads(pickle.dumps(caught.value))
    assert (type(again), again.code, str(again)) == (type(caught.value), code, str(caught.value))


CLAIM = header(width=65535, height=32767, colors=1) + bytes(4) + bytes(3 * 65536)
SMALL = header(width=6, height=-9, colors=1) + bytes(4) + bytes(9 * 8)  # 54 pixels
# (data, limits, rows decoded or error code): the limits meet the rows there
LIMITED = [
    (CLAIM, None, 3),                                        # 3 rows of 2^31 claimed
    (CLAIM, daz.Limits(max_pixels=2 * 65535), -3),
    (CLAIM, daz.Limits(max_height=2), -3),
    (SMALL, daz.Limits(max_width=6, max_height=9, max_pixels=54, max_bytes=54), 9),
    (SMALL, daz.Limits(max_width=5), -3),
    (SMALL, daz.Limits(max_height=8), -3),
    (SMALL, daz.Limits(max_pixels=53), -3),
    (SMALL, daz.Limits(max_bytes=53), -3),
    (SMALL[:-8], daz.Limits(max_height=8), 8),               # a row short: within them
]


@pytest.mark.parametrize("data,limits,expected", LIMITED, ids=range(len(LIMITED)))
@pytest.mark.parametrize("kind", ["bytes", "path", "stream"])
def test_limits_are_checked_against_the_rows_there_whatever_the_source(
        tmp_path, monkeypatch, data, limits, expected, kind):
    source = {"bytes": data, "stream": io.BytesIO(data), "path": tmp_path / "x.daz"}[kind]
    (tmp_path / "x.daz").write_bytes(data)
    for given in ("call", "default"):
        if isinstance(source, io.BytesIO):
            source.seek(0)
        if given == "default":
            monkeypatch.setattr(daz, "default_limits", limits or daz.Limits())
        call = (lambda: daz.decode(source, limits=limits)) if given == "call" else \
            (lambda: daz.decode(source))
        if expected < 0:
            with pytest.raises(daz.DazFormatError) as caught:
                call()
            assert caught.value.code == expected
        else:
            assert call().rows == expected
    if isinstance(source, io.BytesIO):
        source.seek(0)
    # inspect allocates nothing: no limits, the whole rows there
    assert daz.inspect(source).rows == (expected if expected > 0 else {CLAIM: 3, SMALL: 9}[data])


def test_a_daz_cut_short_gives_its_whole_rows():
    indices = image(6, 9, 255)
    data = daz.encode(indices, bytes(768))
    cut = daz.decode(data[:len(data) - 8 * 3 - 5])  # three rows and a bit gone
    assert cut.rows == 5 and cut.height == 9
    assert numpy.array_equal(numpy.asarray(cut.indices), indices[4:])  # stored bottom-up


@pytest.mark.parametrize("src,args", [
    ("samples/sample8.bmp", (0, 0)),
    ("samples/sample8.bmp", (200, 0x1F2E)),
    ("samples/sample4.bmp", (7, 0xABCD)),
    ("png", (200, 0x1F2E)),
    ("png", (0, 0)),
    ("pgm", (0, 0)),
    ("pgm", (20, 0x1F2E)),
])
def test_convert_writes_what_the_commands_write(tmp_path, src, args):
    if src == "pgm":  # 31 greys, 8.5 rounded up to 9 among them
        source = tmp_path / "s.pgm"
        grey_twins(source, tmp_path / "twin.png", 37, 11, 30)
        expected = reference("pngdaz", tmp_path / "twin.png", tmp_path / "ref.daz", *args)
    elif src == "png":
        from PIL import Image
        source = tmp_path / "s.png"
        Image.open(REPO / "samples/sample8.bmp").save(source)
        expected = reference("pngdaz", source, tmp_path / "ref.daz", *args)
    else:
        source = REPO / src
        expected = reference("orvx", source, tmp_path / "ref.daz", *args)
    assert expected is not None
    daz.convert(source, tmp_path / "a.daz", *args)
    daz.convert(source.read_bytes(), tmp_path / "b.daz", *args)
    out = io.BytesIO()
    with open(source, "rb") as stream:
        daz.convert(stream, out, *args)
    assert (tmp_path / "a.daz").read_bytes() == expected
    assert (tmp_path / "b.daz").read_bytes() == expected
    assert out.getvalue() == expected


@pytest.mark.parametrize("name,format_name,mode,options", PICTURES)
def test_a_picture_converts_or_reduces_as_this_build_reads_its_format(tmp_path, name,
                                                                       format_name, mode,
                                                                       options):
    """A format the library reads (daz.formats()) converts, its indices
    kept where it converts the format, else reduced; one it doesn't read
    is DAZ_ERR_FORMAT from every call."""
    source = tmp_path / name
    shown = picture(source, mode, options)  # Pillow's decode: the reference
    known = known_format(format_name)
    assert daz.guess_format(source.read_bytes()) == known
    if known is None or not (known.loads or known.converts):
        for call in (daz.convert, daz.reduce, lambda s, d: daz.load_palette(s)):
            with pytest.raises(daz.DazFormatError) as caught:
                call(source, tmp_path / "x.daz")
            assert caught.value.code == daz._errors.ERR_FORMAT
        assert not (tmp_path / "x.daz").exists()
        return
    if known.converts and mode == "P":
        daz.convert(source, tmp_path / "kept.daz")
        kept = daz.decode(tmp_path / "kept.daz")
        assert numpy.array_equal(numpy.asarray(kept.indices), numpy.asarray(shown))
        assert kept.palette == bytes(shown.getpalette()[:3 * kept.colors])
        assert daz.load_palette(source)[:3 * 7] == kept.palette[:3 * 7]
    else:
        with pytest.raises(daz.DazFormatError) as caught:
            daz.convert(source, tmp_path / "kept.daz")
        assert caught.value.code == daz._errors.ERR_NOT_INDEXED
    colours = numpy.asarray(shown.convert("RGB")).astype(int)
    for src in (source, source.read_bytes()):
        daz.reduce(src, tmp_path / "reduced.daz")
        reduced = daz.decode(tmp_path / "reduced.daz")  # few colours: kept exactly
        table = numpy.frombuffer(reduced.palette, numpy.uint8).reshape(-1, 3)
        made = table[numpy.asarray(reduced.indices)].astype(int)
        assert numpy.abs(made - colours).max() <= (2 if name.endswith(".jpg") else 0)


@pytest.mark.parametrize("destination", ["link", "fifo", "setid"])
@pytest.mark.parametrize("from_bytes", [False, True])
def test_links_fifos_and_set_id_files_are_written_as_the_commands_write_them(tmp_path, destination, from_bytes):
    expected = reference("orvx", REPO / "samples/sample8.bmp", tmp_path / "ref.daz", 0, 0)
    source = SAMPLE8 if from_bytes else REPO / "samples/sample8.bmp"
    target = tmp_path / "out.daz"
    if destination == "link":
        (tmp_path / "real.daz").write_bytes(b"old")
        target.symlink_to("real.daz")
        daz.convert(source, target)
        assert target.is_symlink() and (tmp_path / "real.daz").read_bytes() == expected
    elif destination == "setid":  # set-id bits never pass to a file of another owner
        if os.geteuid() != 0:
            pytest.skip("needs root to give a file to another owner")
        target.write_bytes(b"old")
        os.chown(target, 12345, 12345)
        os.chmod(target, 0o6755)
        daz.convert(source, target)
        after = os.stat(target)
        assert target.read_bytes() == expected
        assert after.st_uid == 12345 or stat.S_IMODE(after.st_mode) == 0o755
    else:
        os.mkfifo(target)
        # The reader is there first, so the writer never waits (the output
        # fits in the pipe); a FIFO replaced by a file reads empty.
        reader = os.open(target, os.O_RDONLY | os.O_NONBLOCK)
        try:
            daz.convert(source, target)
            os.set_blocking(reader, True)
            got = b"".join(iter(lambda: os.read(reader, 1 << 16), b""))
        finally:
            os.close(reader)
        assert stat.S_ISFIFO(os.lstat(target).st_mode) and got == expected


# 78 bytes of RLE8 bitmap claiming 65535 x 32767 pixels
RLE_CLAIM = (b"BM" + struct.pack("<IHHI", 78, 0, 0, 74) +
             struct.pack("<IiiHHIIiiII", 40, 65535, 32767, 1, 8, 1, 4, 0, 0, 5, 0) +
             bytes(20) + b"\x00\x01\x00\x01")
assert len(RLE_CLAIM) == 78


# (source bytes or None for a missing file, destination, what it is before,
# error class, code); an input or output error is also the OSError of its errno
SAMPLE8 = (REPO / "samples/sample8.bmp").read_bytes()
BAD_CONVERSIONS = [
    (None, "out.daz", "file", FileNotFoundError, -16),
    (b"not an image at all", "out.daz", "file", daz.DazFormatError, -22),  # no format known
    (b"BM" + bytes(60), "out.daz", "file", daz.DazFormatError, -11),  # a bitmap's errors
    (daz.encode(bytes(4), bytes(3), width=2, height=2), "out.daz", "file", daz.DazFormatError,
     -22),  # a daz image is no input
    (b"\x89PNG\r\n\x1a\n" + bytes(40), "out.daz", "file", daz.DazFormatError, -12),
    ((REPO / "samples/sample4.bmp").read_bytes(), "out.daz", "file", daz.DazFormatError, -14),
    (SAMPLE8, "no/such/folder/out.daz", None, FileNotFoundError, -18),
    (SAMPLE8, "folder", "folder", IsADirectoryError, -18),  # written, then can't take its name
    (RLE_CLAIM, "out.daz", "file", daz.DazFormatError, -3),  # 2 GiB claimed: nothing held
    (b"P5 4 2 256\n" + bytes(16), "out.daz", "file", daz.DazFormatError, -23),  # 16-bit PGM
    (b"P5 4 2 255\n" + bytes(7), "out.daz", "file", daz.DazIOError, -17),  # a sample short
]


@pytest.mark.parametrize("data,destination,before,error,code,from_bytes", [
    case + (from_bytes,) for case in BAD_CONVERSIONS for from_bytes in (False, True)
    if case[0] is not None or not from_bytes
], ids=lambda value: str(value)[:16])
def test_a_failed_conversion_leaves_the_destination_as_it_was(tmp_path, data, destination,
                                                              before, error, code, from_bytes):
    source = tmp_path / "source"
    if data is not None:
        source.write_bytes(data)
    target = tmp_path / destination
    if before == "file":
        target.write_bytes(b"old")
    elif before == "folder":
        target.mkdir()
    with pytest.raises(error) as caught:
        daz.convert(data if from_bytes else source, target, colors=17 if code == -14 else 0)
    assert caught.value.code == code and isinstance(caught.value, daz.DazError)
    assert (caught.value.path is None) == (from_bytes and code != -18)  # the file concerned
    # it pickles, errno and all, as a ProcessPoolExecutor or Dask hands it back
    again = pickle.loads(pickle.dumps(caught.value))
    assert (type(again), str(again), getattr(again, "errno", None)) == \
        (type(caught.value), str(caught.value), getattr(caught.value, "errno", None))
    left = {"source"} if data is not None else set()
    if before:
        left.add(target.name)
        assert target.read_bytes() == b"old" if before == "file" else not os.listdir(target)
    assert set(os.listdir(tmp_path)) == left  # no temporary file either


def decode_file(path):
    return daz.decode(path)


def test_images_and_errors_come_back_from_worker_processes(tmp_path):
    from concurrent.futures import ProcessPoolExecutor
    (tmp_path / "good.daz").write_bytes(daz.encode(image(5, 3, 255), bytes(768), key=0x1F2E))
    (tmp_path / "bad.daz").write_bytes(header(bits=5) + bytes(16))
    with ProcessPoolExecutor(max_workers=1) as pool:
        missing = pool.submit(decode_file, tmp_path / "missing.daz")
        bad = pool.submit(decode_file, tmp_path / "bad.daz")
        good = pool.submit(decode_file, tmp_path / "good.daz")  # the pool still works
        with pytest.raises(FileNotFoundError) as caught:
            missing.result()
        assert caught.value.code == -16 and caught.value.filename == str(tmp_path / "missing.daz")
        with pytest.raises(daz.DazFormatError) as caught:
            bad.result()
        assert caught.value.code == -6 and caught.value.path == str(tmp_path / "bad.daz")
        assert numpy.array_equal(numpy.asarray(good.result().indices), image(5, 3, 255))


# a call, and what it is given that is not an integer
WRONG_TYPES = [
    (lambda: daz.encode(bytes(4), bytes(6), key="1f2e", width=2, height=2), "key"),
    (lambda: daz.encode(bytes(4), bytes(6), colors=2.0, width=2, height=2), "colors"),
    (lambda: daz.encode(bytes(4), bytes(6), width="2", height=2), "width"),
    (lambda: daz.convert(SAMPLE8, io.BytesIO(), key="1f2e"), "key"),
    (lambda: daz.convert(SAMPLE8, io.BytesIO(), colors=None), "colors"),
]


@pytest.mark.parametrize("call,name", WRONG_TYPES)
def test_an_argument_of_the_wrong_type_is_a_type_error_that_names_it(call, name):
    with pytest.raises(TypeError, match=f"^{name} must be an integer, not "):
        call()


def test_the_installed_package_carries_its_license():
    from importlib import metadata
    if not os.environ.get("DAZ_TEST_INSTALLED"):
        pytest.skip("the metadata is the wheel's: set DAZ_TEST_INSTALLED")
    assert metadata.metadata("daz")["License"] == "MIT"
    licence = [file for file in metadata.distribution("daz").files or []
               if file.name == "LICENSE"]
    assert licence and licence[0].read_text() == (REPO / "LICENSE").read_text()
    assert licence[0].read_text().startswith("MIT License")


def test_the_error_names_and_texts_are_the_headers():
    header_text = (REPO / "include/daz/daz.h").read_text(encoding="ascii")
    table = {name: (int(number), text) for name, number, text in
             re.findall(r'X\((DAZ_\w+), (-?\d+), "([^"]*)"\)', header_text)}
    assert len(table) > 20 and daz._errors.ERRORS == table
    io_names = {"DAZ_ERR_OPEN", "DAZ_ERR_READ", "DAZ_ERR_CREATE", "DAZ_ERR_WRITE"}
    for name, (number, text) in table.items():
        if name in ("DAZ_OK", "DAZ_ERR_MEMORY"):
            continue
        error = daz._errors.from_code(number)
        assert (error.name, error.message) == (name, text)
        assert isinstance(error, daz.DazIOError if name in io_names else daz.DazFormatError)


# A program with handlers of its own for SIGALRM (a fast interval timer),
# SIGUSR1 and SIGTERM (a stream from a child, the next signal sent once the
# last has reached the program) converts a 4096 x 4096 bitmap again and
# again. Run apart: a library that took the signals over would end it.
PROGRAM_WITH_SIGNALS = r"""
import os, signal, subprocess, sys
from pathlib import Path
import daz

folder, rounds = Path(sys.argv[1]), int(sys.argv[2])
side = 4096
source, out = folder / "big.bmp", folder / "out" / "out.daz"
out.parent.mkdir()
source.write_bytes(b"BM" + (54 + 1024 + side * side).to_bytes(4, "little") + bytes(4)
                   + (54 + 1024).to_bytes(4, "little") + (40).to_bytes(4, "little")
                   + side.to_bytes(4, "little") * 2 + b"\x01\x00\x08\x00" + bytes(24)
                   + b"".join(bytes((i, i, i, 0)) for i in range(256))
                   + bytes(range(256)) * (side * side // 256))


def convert():
    daz.convert(source, out, 0, 0x1F2E)  # the call under test


convert()
expected = out.read_bytes()
handled = {signal.SIGALRM: 0, signal.SIGUSR1: 0, signal.SIGTERM: 0}


def count(number, frame):
    handled[number] += 1


for number in handled:
    signal.signal(number, count)
# Each signal, as it arrives, writes a byte here: the sender's cue.
cue, cued = os.pipe()
os.set_blocking(cued, False)
signal.set_wakeup_fd(cued, warn_on_full_buffer=False)
sender = subprocess.Popen([sys.executable, "-c", '''
import os, signal, sys
signals = (signal.SIGUSR1, signal.SIGTERM)
try:
    for sent in range(1 << 62):
        os.kill(int(sys.argv[1]), signals[sent % 2])
        if not os.read(0, 1):
            break
except OSError:
    pass
''', str(os.getpid())], stdin=cue)
os.close(cue)
signal.setitimer(signal.ITIMER_REAL, 0.0005, 0.0005)
while not (handled[signal.SIGUSR1] and handled[signal.SIGTERM]):
    signal.pause()  # the stream has begun
for _ in range(rounds):
    convert()
    assert out.read_bytes() == expected
signal.setitimer(signal.ITIMER_REAL, 0, 0)
sender.kill()
sender.wait()
assert all(handled.values()), handled
assert os.listdir(out.parent) == ["out.daz"], os.listdir(out.parent)
print(handled[signal.SIGALRM], handled[signal.SIGUSR1], handled[signal.SIGTERM])
"""


def test_a_program_keeps_its_signal_handlers_and_timer_while_it_converts(tmp_path):
    found = os.pathsep.join([str(Path(daz.__file__).parents[1]), os.environ.get("PYTHONPATH", "")])
    run = subprocess.run([sys.executable, "-c", PROGRAM_WITH_SIGNALS, str(tmp_path), "30"],
                         capture_output=True, text=True, check=False,
                         env={**os.environ, "PYTHONPATH": found})
    assert run.returncode == 0, run.stderr or f"ended by signal {-run.returncode}"
