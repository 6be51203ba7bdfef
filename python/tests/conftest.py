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


def reference(name: str, source: Path, out: Path, colors: int = 0, key: int = 0):
    """What orvx -c or pngdaz writes for source: the bytes, or None when it
    refuses it."""
    args = [command("orvx"), "-c"] if name == "orvx" else [command(name)]
    done = subprocess.run(args + [str(source), str(out), str(colors), f"{key:x}"],
                          stdout=subprocess.DEVNULL)
    return out.read_bytes() if done.returncode == 0 else None


def bmpsuite() -> Path:
    folder = Path(os.environ.get("ORVX_BMPSUITE", REPO.parent / "shared" / "bmpsuite"))
    if not folder.is_dir():
        pytest.skip(f"no BMP Suite at {folder} (set ORVX_BMPSUITE)")
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
