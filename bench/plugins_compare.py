#!/usr/bin/env python3
"""Load times of an 8192 x 8192 8-bit daz image against the same image as an
uncompressed 8-bit BMP, in each host the plugins serve, with that host's own
BMP reader.

  /usr/bin/python3 bench/plugins_compare.py [BUILD_DIR] [--pairs N]

BUILD_DIR (default build/default) holds orvx and the plugins. The bitmap is
written here, the daz file made from it by orvx -c (every colour, a key).
Each host loads both files in one process, in pairs, the order alternating,
after a warm-up load of each that puts them in the page cache:
- gdk-pixbuf: gdk_pixbuf_new_from_file (the whole-file load) and a
  GdkPixbufLoader fed 64 KiB pieces (the incremental load, as eog reads),
  with a loaders cache holding gdk-pixbuf's BMP loader and the build's daz
  loader;
- Qt 6 and Qt 5: QImageReader::read, through plugins/qt/tests/load_time.cpp
  (Qt 6's allocation limit lifted, for both files).
Prints, under the processor, a Markdown table of the median load times and
the median of the per-pair ratios daz / BMP.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare import processor, write_bmp  # noqa: E402

SIDE = 8192
QUERY_LOADERS = "/usr/lib/x86_64-linux-gnu/gdk-pixbuf-2.0/gdk-pixbuf-query-loaders"
BMP_LOADER = "/usr/lib/x86_64-linux-gnu/gdk-pixbuf-2.0/2.10.0/loaders/libpixbufloader-bmp.so"

PIXBUF_TIMES = """
import sys, time, gi
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf
pairs, files = int(sys.argv[1]), sys.argv[2:]
def whole(path):
    return GdkPixbuf.Pixbuf.new_from_file(path)
def pieces(path):
    loader = GdkPixbuf.PixbufLoader()
    with open(path, "rb") as file:
        for piece in iter(lambda: file.read(1 << 16), b""):
            loader.write(piece)
    loader.close()
    return loader.get_pixbuf()
for way in (whole, pieces):
    for path in files:
        way(path)
    for round in range(pairs):
        for path in (files if round % 2 == 0 else files[::-1]):
            start = time.perf_counter()
            way(path)
            print(way.__name__, path, time.perf_counter() - start, flush=True)
"""


def medians(lines, daz, bmp):
    """{way: (BMP median, daz median, median of per-pair ratios)} from lines
    of "way path seconds", the pairs in order."""
    times = {}
    for line in lines:
        way, path, seconds = line.split()[:3]
        times.setdefault(way, {}).setdefault(path, []).append(float(seconds))
    return {way: (statistics.median(runs[bmp]), statistics.median(runs[daz]),
                  statistics.median(d / b for d, b in zip(runs[daz], runs[bmp])))
            for way, runs in times.items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build/default")
    parser.add_argument("--pairs", type=int, default=7)
    arguments = parser.parse_args()
    build = os.path.abspath(arguments.build)
    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    rows = []
    with tempfile.TemporaryDirectory() as work:
        bmp, daz = os.path.join(work, "big.bmp"), os.path.join(work, "big.daz")
        block = bytes((i * 131 + i // 7) % 256 for i in range(SIDE * 3 + 17))
        write_bmp(bmp, SIDE, SIDE, 8, block, SIDE * SIDE)
        subprocess.run([os.path.join(build, "orvx"), "-c", bmp, daz, "0", "1f2e"], check=True,
                       stdout=subprocess.DEVNULL)

        loader = os.path.join(build, "plugins", "gdk-pixbuf", "libpixbufloader-daz.so")
        if os.path.exists(loader):
            cache = os.path.join(work, "loaders.cache")
            with open(cache, "w") as out:
                subprocess.run([QUERY_LOADERS, BMP_LOADER, loader], stdout=out, check=True)
            mime = os.path.join(work, "share", "mime")
            os.makedirs(os.path.join(mime, "packages"))
            with open(os.path.join(source, "desktop", "daz.xml"), "rb") as xml:
                open(os.path.join(mime, "packages", "daz.xml"), "wb").write(xml.read())
            subprocess.run(["update-mime-database", mime], check=True, stdout=subprocess.DEVNULL)
            environment = dict(os.environ, GDK_PIXBUF_MODULE_FILE=cache,
                               XDG_DATA_HOME=os.path.join(work, "share"))
            out = subprocess.run(["/usr/bin/python3", "-c", PIXBUF_TIMES, str(arguments.pairs),
                                  daz, bmp], env=environment, check=True, capture_output=True,
                                 text=True).stdout
            found = medians(out.splitlines(), daz, bmp)
            rows.append(("gdk-pixbuf, whole file (`gdk_pixbuf_new_from_file`)",) + found["whole"])
            rows.append(("gdk-pixbuf, 64 KiB pieces (`GdkPixbufLoader`)",) + found["pieces"])

        for major in (6, 5):
            program = os.path.join(build, "plugins", "qt", f"qt{major}-load-time")
            if not os.path.exists(program):
                continue
            environment = dict(os.environ, QT_QPA_PLATFORM="offscreen",
                               QT_PLUGIN_PATH=os.path.join(build, "plugins", "qt", f"qt{major}"))
            # The warm-up pair, then the timed ones.
            out = subprocess.run([program, str(arguments.pairs + 1), daz, bmp], env=environment,
                                 check=True, capture_output=True, text=True).stdout
            lines = [f"read {line}" for line in out.splitlines()[2:]]
            found = medians(lines, daz, bmp)
            rows.append((f"Qt {major} (`QImageReader::read`)",) + found["read"])

    print(processor())
    print(f"{SIDE} x {SIDE}, 8 bits, {arguments.pairs} pairs, medians\n")
    print("| host, load | BMP | daz | daz / BMP (median of pairs) |")
    print("|---|---|---|---|")
    for name, bmp_time, daz_time, ratio in rows:
        print(f"| {name} | {bmp_time:.3f} s | {daz_time:.3f} s | {ratio:.2f} |")


if __name__ == "__main__":
    main()
