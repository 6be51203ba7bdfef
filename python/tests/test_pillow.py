"""The Pillow plugin: files equal to pngdaz's, the BMP Suite read alike,
lazy opening, the bomb check, truncation, saving."""

import io
import random
import struct
import subprocess
import warnings

import numpy
import pytest
from PIL import Image, ImageFile, ImagePalette

import daz
import daz.pillow  # noqa: F401
from conftest import bmpsuite, command, reference


def palette_image(width, height, entries, seed=5):
    rng = random.Random(seed)
    image = Image.frombytes("P", (width, height),
                            bytes(rng.randrange(entries) for _ in range(width * height)))
    image.putpalette(bytes(rng.randrange(256) for _ in range(3 * entries)))
    return image


# width, height, palette entries (Pillow's PNG depth follows), key, colours kept
PNG_CASES = [
    (1, 1, 2, 0, 0),           # 1-bit PNG: a 4-bit daz
    (7, 5, 4, 0x1F2E, 0),      # 2-bit PNG
    (33, 9, 16, 0xFFFF, 10),   # 4-bit, fewer colours kept: undefined pixels
    (64, 3, 17, 0x0001, 0),    # 17 entries: 8 bits
    (13, 6, 256, 0, 0),        # key 0: the rows as stored, read by Pillow itself
    (101, 50, 256, 0x1F2E, 200),
]


@pytest.mark.parametrize("width,height,entries,key,colors", PNG_CASES)
def test_a_saved_daz_equals_what_pngdaz_writes_for_the_png(tmp_path, width, height, entries,
                                                           key, colors):
    image = palette_image(width, height, entries)
    image.save(tmp_path / "x.png")
    expected = reference("pngdaz", tmp_path / "x.png", tmp_path / "ref.daz", colors, key)
    image.save(tmp_path / "x.daz", key=key, colors=colors)
    assert (tmp_path / "x.daz").read_bytes() == expected
    back = Image.open(tmp_path / "x.daz")
    assert (back.mode, back.info["key"], back.info["colors"]) == ("P", key, colors or entries)
    assert numpy.array_equal(numpy.asarray(back), numpy.asarray(image))
    Image.open(tmp_path / "x.daz").verify()
    # fed piece by piece, as a download arrives
    parser = ImageFile.Parser()
    for start in range(0, len(expected), 61):
        parser.feed(expected[start:start + 61])
    assert numpy.array_equal(numpy.asarray(parser.close()), numpy.asarray(image))
    # saved again without a key: the same file, key included
    back.save(tmp_path / "again.daz")
    assert (tmp_path / "again.daz").read_bytes() == expected


def test_the_bmp_suite_reads_as_pillow_reads_the_bitmaps(tmp_path):
    compared = 0
    for bitmap in sorted(bmpsuite().rglob("*.bmp")):
        out = tmp_path / (bitmap.stem + ".daz")
        done = subprocess.run([command("orvx"), "-c", str(bitmap), str(out)],
                              stdout=subprocess.DEVNULL)
        if done.returncode != 0:
            continue
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                theirs = Image.open(bitmap)
                theirs.load()
        except (OSError, ValueError, Image.DecompressionBombError):
            continue  # Pillow can't read it itself
        if theirs.info.get("compression", 0) != 0:
            continue  # Pillow 9.4 reads RLE its own way: RLE4's pal4rle.bmp wrongly
        ours = Image.open(out)
        assert ours.mode == "P", bitmap.name
        if theirs.mode == "L":  # a grey palette: Pillow gives the greys
            ours = ours.convert("L")
        assert theirs.mode in ("P", "L"), bitmap.name
        assert numpy.array_equal(numpy.asarray(ours), numpy.asarray(theirs)), bitmap.name
        compared += 1
    print(f"{compared} bitmaps of the BMP Suite compared")
    assert compared >= 20


def daz_header(width, height, colors=2, bits=8, key=0):
    return b"EW" + struct.pack("<HHhHhH", 1, width, height, bits, colors, key) + bytes(10)


def test_opening_reads_the_header_and_palette_only():
    data = daz.encode(numpy.zeros((40, 30), numpy.uint8), bytes(3 * 20), key=7)
    stream = io.BytesIO(data)
    image = Image.open(stream)
    assert stream.tell() == 24 + 4 * 20 and image.size == (30, 40)
    assert image.getpalette()[:60] == [0] * 60


def test_the_bomb_check_runs_before_any_pixel_is_read(monkeypatch):
    monkeypatch.setattr(Image, "MAX_IMAGE_PIXELS", 1000)
    stream = io.BytesIO(daz_header(65535, 32767) + bytes(8))  # and no pixels at all
    with pytest.raises(Image.DecompressionBombError):
        Image.open(stream)


@pytest.mark.parametrize("data,error", [
    (b"GIF89a" + bytes(40), Image.UnidentifiedImageError),
    (b"EW" + bytes(30), daz.DazFormatError),            # bits 0: a daz, and a bad one
    (daz_header(4, 2, bits=4, colors=17), daz.DazFormatError),
    (daz_header(4, 2, colors=3) + bytes(5), Image.UnidentifiedImageError),  # palette cut
    (daz_header(4, 2, colors=3)[:20], Image.UnidentifiedImageError),  # header cut
])
def test_a_bad_file_is_refused_at_open(data, error):
    with pytest.raises(error):
        Image.open(io.BytesIO(data))


# stored height (negative: top row first), rows present, rows expected
# where each present row lands with LOAD_TRUNCATED_IMAGES
TRUNCATED = [(5, 2, [None, None, None, 1, 0]), (-5, 2, [0, 1, None, None, None]),
             (4, 0, [None] * 4)]


@pytest.mark.parametrize("height,present,placed", TRUNCATED)
def test_a_daz_cut_short_is_an_error_unless_truncated_images_load(monkeypatch, height, present,
                                                                  placed):
    stored = [bytes([10 * (r + 1)] * 4) for r in range(present)]  # key 0: bytes as they are
    data = daz_header(4, height) + bytes(8) + b"".join(stored) + b"\x01"
    with pytest.raises(OSError, match="truncated"):
        Image.open(io.BytesIO(data)).load()
    with pytest.raises(OSError, match="truncated"):
        Image.open(io.BytesIO(data)).verify()
    parser = ImageFile.Parser()
    parser.feed(data)
    with pytest.raises(OSError, match="incomplete"):
        parser.close()
    monkeypatch.setattr(ImageFile, "LOAD_TRUNCATED_IMAGES", True)
    rows = numpy.asarray(Image.open(io.BytesIO(data)))
    expected = [[0] * 4 if r is None else list(stored[r]) for r in placed]
    assert rows.tolist() == expected


@pytest.mark.parametrize("mode,size,error,text", [
    ("I", (2, 2), OSError, "cannot write mode I as DAZ"),
    ("F", (2, 2), OSError, "cannot write mode F as DAZ"),
    ("CMYK", (2, 2), OSError, "cannot write mode CMYK as DAZ"),
    ("I;16", (2, 2), OSError, "cannot write mode I;16 as DAZ"),
    ("P", (0, 3), daz.DazFormatError, r"no pixels \(0 x 3\)"),
    ("RGB", (4, 0), daz.DazFormatError, r"no pixels \(4 x 0\)"),
])
def test_saving_an_image_the_library_cannot_write_is_refused(tmp_path, mode, size, error, text):
    with pytest.raises(error, match=text):
        Image.new(mode, size).save(tmp_path / "x.daz")


PALETTE = bytes([0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 128, 0, 0, 0, 255, 200, 180, 20])

# mode, save options, rgbdaz's options for Pillow's PNG of the same image
SAVES = [
    ("RGB", {}, ()),
    ("RGB", {"colors": 16, "dither": True, "key": 0x1F2E}, ("-d",)),
    ("RGB", {"palette": PALETTE}, ("-p", "palette.png")),
    ("RGBA", {"transparent": 0, "background": (255, 255, 255)}, ("-t", 0, "-s", "ffffff")),
    ("RGBA", {"colors": 5}, ()),
    ("L", {}, ()),                                   # 256 greys at most: kept exactly
    ("L", {"colors": 8, "dither": True}, ("-d",)),
    ("LA", {"colors": 30}, ()),
    ("1", {}, ()),
    ("P", {"dither": True, "colors": 4}, ("-d",)),   # a palette image reduced all the same
    ("P", {"palette": "palette.png"}, ("-p", "palette.png")),
    ("P", {"reduce": True, "colors": 16}, ()),        # reduced, not its first 16 entries
    ("RGB", {"palette": "palette image"}, ("-p", "palette.png")),  # a mode P image
    ("RGB", {"palette": "ImagePalette"}, ("-p", "palette.png")),
    ("RGBA", {"palette": "getpalette()"}, ("-p", "palette.png")),  # the flat list
]


@pytest.mark.parametrize("mode,options,flags", SAVES)
def test_saving_other_modes_reduces_as_rgbdaz_reduces_their_png(tmp_path, mode, options, flags):
    from conftest import photo
    table = Image.frombytes("P", (6, 1), bytes(range(6)))
    table.putpalette(PALETTE)
    table.save(tmp_path / "palette.png")
    if mode == "P":
        image = palette_image(40, 20, 200)
    else:
        image = Image.fromarray(photo(40, 20, 4 if mode in ("RGBA", "LA") else 3)).convert(mode)
    image.save(tmp_path / "x.png")
    given = {"palette.png": tmp_path / "palette.png", "palette image": table,
             "ImagePalette": ImagePalette.ImagePalette("RGB", PALETTE),
             "getpalette()": table.getpalette()}
    if options.get("palette") in given:
        options = dict(options, palette=given[options["palette"]])
    flags = [tmp_path / flag if flag == "palette.png" else flag for flag in flags]
    expected = reference("rgbdaz", tmp_path / "x.png", tmp_path / "ref.daz",
                         options.get("colors", 0), options.get("key", 0), flags)
    image.save(tmp_path / "x.daz", **options)
    assert (tmp_path / "x.daz").read_bytes() == expected
    back = Image.open(tmp_path / "x.daz")
    if mode in ("L", "1") and not options:
        assert numpy.array_equal(numpy.asarray(back.convert(mode)), numpy.asarray(image))
    if "palette" in options:
        assert back.getpalette()[:18] == list(PALETTE)


def test_a_key_given_on_save_wins_over_the_one_opened(tmp_path):
    palette_image(8, 8, 16).save(tmp_path / "a.daz", key=0x1234)
    Image.open(tmp_path / "a.daz").save(tmp_path / "b.daz", key=0x4321, colors=4)
    assert daz.inspect(tmp_path / "b.daz").key == 0x4321
    assert daz.inspect(tmp_path / "b.daz").colors == 4
