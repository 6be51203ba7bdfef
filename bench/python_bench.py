#!/usr/bin/python3
"""The Python package's speed on an 8192 x 8192 8-bit image:

  1. daz.decode(bytes) against libdaz's daz_decode of the same bytes, called
     from C (bench/daz_decode_time.c through ctypes) into one reused buffer;
  2. Image.open(x.daz).load() through daz.pillow against Pillow opening the
     same image as an uncompressed 8-bit BMP, from a path and from a file
     object in memory, and with every pixel read afterwards (histogram()).

Each run times the two sides back to back and the figure is the median of
the ratios, which holds up on a busy machine where single times don't.

  python3 bench/python_bench.py [--runs 21] [--library build/python-libdaz/libdaz.a]

with the daz package installed (or PYTHONPATH=python/src after
`python3 setup.py build_ext --inplace` in python/). Needs cc, Pillow, numpy.
"""

import argparse
import ctypes
import gc
import io
import statistics
import subprocess
import tempfile
import time
from pathlib import Path

import numpy
from PIL import Image

import daz
import daz.pillow  # noqa: F401  (registers the plugin)

HERE = Path(__file__).resolve().parent
SIDE = 8192


def build_helper(library: Path, folder: Path) -> ctypes.CDLL:
    out = folder / "daz_decode_time.so"
    subprocess.run(["cc", "-O2", "-std=c11", "-shared", "-fPIC", "-DDAZ_STATIC",
                    f"-I{HERE.parent / 'include'}", str(HERE / "daz_decode_time.c"),
                    str(library), "-lpng", "-lz", "-lstdc++", "-lm", "-o", str(out)], check=True)
    helper = ctypes.CDLL(str(out))
    helper.decode_into.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_void_p,
                                   ctypes.c_size_t]
    return helper


def pattern() -> numpy.ndarray:
    """The indices bench/api_bench.cpp uses."""
    i = numpy.arange(SIDE * SIDE, dtype=numpy.uint64)
    return (((i * 37) ^ (i >> 7)) & 0xFF).astype(numpy.uint8).reshape(SIDE, SIDE)


def paired(first, second, runs: int):
    """Median times of first and second (ms), and the median of the ratios
    second / first, each run timing both back to back."""
    firsts, seconds, ratios = [], [], []
    for _ in range(runs):
        gc.collect()
        start = time.perf_counter()
        first()
        middle = time.perf_counter()
        second()
        end = time.perf_counter()
        firsts.append(middle - start)
        seconds.append(end - middle)
        ratios.append((end - middle) / (middle - start))
    return (statistics.median(firsts) * 1e3, statistics.median(seconds) * 1e3,
            statistics.median(ratios))


def cpu() -> str:
    info = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
    fields = dict(line.split(":", 1) for line in info.splitlines() if ":" in line)
    return " ".join(f"{name.strip()} {fields.get(name, '?').strip()}"
                    for name in ("Model name", "CPU family", "Model"))


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=21)
    parser.add_argument("--library", type=Path,
                        default=HERE.parent / "build" / "python-libdaz" / "libdaz.a")
    options = parser.parse_args()
    print(f"CPU: {cpu()}; daz {daz.__version__}, Pillow {Image.__version__}")
    with tempfile.TemporaryDirectory() as folder_name:
        folder = Path(folder_name)
        helper = build_helper(options.library, folder)
        indices = pattern()
        palette = bytes((i * 7) & 0xFF for i in range(768))
        data = daz.encode(indices, palette, key=0x1F2E)
        out = numpy.empty(SIDE * SIDE, dtype=numpy.uint8)  # written once first: faulted in
        out_pointer = out.ctypes.data

        def c_decode():
            if helper.decode_into(data, len(data), out_pointer, out.size) != 0:
                raise SystemExit("daz_decode failed")

        c_decode()
        assert numpy.array_equal(out.reshape(SIDE, SIDE), indices)
        assert numpy.array_equal(numpy.asarray(daz.decode(data).indices), indices)
        kept = []  # the result of the previous run lives on while the next one runs

        def py_decode():
            kept[:] = [daz.decode(data)]

        c_ms, py_ms, ratio = paired(c_decode, py_decode, options.runs)
        print(f"decode 8192x8192 8-bit: daz_decode (C, reused buffer) {c_ms:.1f} ms, "
              f"daz.decode {py_ms:.1f} ms: {ratio:.2f}x")
        kept.clear()

        image = Image.frombuffer("P", (SIDE, SIDE), indices.tobytes(), "raw", "P", 0, 1)
        image.putpalette(palette)
        bmp_path, daz_path = folder / "x.bmp", folder / "x.daz"
        image.save(bmp_path)
        daz_path.write_bytes(data)
        plain_path = folder / "plain.daz"  # key 0: the rows as stored
        plain_path.write_bytes(daz.encode(indices, palette, key=0))
        bmp_bytes = bmp_path.read_bytes()
        loaded = Image.open(daz_path)
        loaded.load()
        assert numpy.array_equal(numpy.asarray(loaded), indices)
        del loaded

        def opener(source, touch):
            def run():
                image = Image.open(source() if callable(source) else source)
                image.load()
                if touch:
                    image.histogram()
                kept[:] = [image]
            return run

        cases = [
            ("path", lambda: bmp_path, lambda: daz_path, False),
            ("path, every pixel read", lambda: bmp_path, lambda: daz_path, True),
            ("path, key 0", lambda: bmp_path, lambda: plain_path, False),
            ("file object in memory", lambda: io.BytesIO(bmp_bytes), lambda: io.BytesIO(data),
             False),
        ]
        for name, bmp_source, daz_source, touch in cases:
            bmp_ms, daz_ms, ratio = paired(opener(bmp_source, touch), opener(daz_source, touch),
                                           options.runs)
            print(f"Image.open().load(), {name}: BMP {bmp_ms:.1f} ms, daz {daz_ms:.1f} ms: "
                  f"{ratio:.2f}x")
            kept.clear()


if __name__ == "__main__":
    main()
