"""Shared helpers: where the commands and the BMP Suite are, grey images
as PGM and PNG, and a check that the package under test is the installed
one when CI asks for it."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import daz

REPO = Path(__file__).resolve().parents[2]

if os.environ.get("DAZ_TEST_INSTALLED") and not daz.__file__.startswith(sys.prefix):
    raise RuntimeError(f"testing {daz.__file__}, not the package installed in {sys.prefix}")


def command(name: str) -> str:
    """A command of this tree: ORVX_BIN_DIR, build/default, then PATH."""
    for folder in (os.environ.get("ORVX_BIN_DIR"), REPO / "build" / "default"):
        if folder and (Path(folder) / name).is_file():
            return str(Path(folder) / name)
    found = shutil.which(name)
    if found is None:
        pytest.skip(f"no {name}: build the commands or set ORVX_BIN_DIR")
    return found


def reference(name: str, source: Path, out: Path, colors: int = 0, key: int = 0,
              options: tuple = ()):
    """What orvx -c, pngdaz or rgbdaz (with options: -d, -p FILE...) writes
    for source: the bytes, or None when it refuses it."""
    args = [command("orvx"), "-c"] if name == "orvx" else [command(name)]
    done = subprocess.run(args + [str(option) for option in options] +
                          [str(source), str(out), str(colors), f"{key:x}"],
                          stdout=subprocess.DEVNULL)
    return out.read_bytes() if done.returncode == 0 else None


def bmpsuite() -> Path:
    """The BMP Suite: ORVX_BMPSUITE, else the tree's tests/data/bmpsuite."""
    folder = Path(os.environ.get("ORVX_BMPSUITE", REPO / "tests" / "data" / "bmpsuite"))
    assert (folder / "g" / "pal8.bmp").is_file(), f"no BMP Suite in {folder}"
    return folder


def grey_twins(pgm: Path, png: Path, width: int, height: int, maxval: int) -> None:
    """The same image as a binary PGM, an input only the library reads, and
    as the indexed PNG of its greys (entry i round(i * 255 / maxval)), of
    which pngdaz makes the daz file the library makes of the PGM."""
    from PIL import Image
    samples = bytes((x * 7 + y * 13) % (maxval + 1) for y in range(height) for x in range(width))
    pgm.write_bytes(b"P5 %d %d # grey\n%d\n" % (width, height, maxval) + samples)
    image = Image.frombytes("P", (width, height), samples)
    image.putpalette(bytes(int(i * 255 / maxval + 0.5) for i in range(maxval + 1) for _ in "rgb"))
    image.save(png)  # 8 bits a pixel: maxval 16 or more


def photo(width: int, height: int, channels: int = 3, seed: int = 2):
    """A (height, width, channels) array of thousands of colours: gradients
    with noise, alpha (channels 4) from 0 to 255 across the rows."""
    import numpy
    rng = numpy.random.default_rng(seed)
    y, x = numpy.mgrid[0:height, 0:width]
    planes = [x * 255 // max(1, width - 1), y * 255 // max(1, height - 1), (x + y) * 4 % 256]
    if channels == 4:
        planes.append(y * 255 // max(1, height - 1))
    noisy = numpy.stack(planes, axis=-1) + rng.integers(-12, 13, (height, width, channels))
    return numpy.clip(noisy, 0, 255).astype(numpy.uint8)


def few_colours(width: int, height: int, count: int, channels: int = 3, seed: int = 3):
    """A (height, width, channels) array of count colours at most, opaque."""
    import numpy
    rng = numpy.random.default_rng(seed)
    colours = rng.integers(0, 256, (count, channels), dtype=numpy.uint8)
    if channels == 4:
        colours[:, 3] = 255
    return colours[rng.integers(0, count, (height, width))]


# Pictures Pillow writes in formats the library may read in a build: file
# name, the library's name of the format, mode, Pillow's save options. The
# palette ones keep their indices where the library converts the format.
PICTURES = [
    ("sprite.gif", "GIF", "P", {}),
    ("scan.tif", "TIFF", "P", {}),
    ("scan-rgb.tif", "TIFF", "RGB", {"compression": "tiff_lzw"}),
    ("photo.jpg", "JPEG", "L", {"quality": 95}),
    ("web.webp", "WebP", "RGB", {"lossless": True}),
]


def known_format(name: str):
    """The library's record of a format (daz.formats()), or None when this
    build doesn't know it."""
    return next((known for known in daz.formats() if known.name.lower() == name.lower()), None)


def picture(path: Path, mode: str, options: dict):
    """A 23 x 11 picture of 7 colours (greys for L) saved by Pillow as path:
    the Pillow image saved, whose decode of the file is the reference."""
    from PIL import Image
    rgb = Image.fromarray(few_colours(23, 11, 7))
    image = rgb.convert("L") if mode == "L" else rgb if mode == "RGB" else \
        rgb.quantize(7, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    image.save(path, **options)
    return Image.open(path)
