#!/usr/bin/env python3
"""Paired runs of rgbdaz and the photo readers against the libraries' own
decoding tools writing a PPM.

  python3 bench/photo_compare.py [BUILD_DIR] [--pairs N]

Writes, under /dev/shm, a 12-megapixel picture (4000 x 3000: smooth waves
under noise) as a baseline JPEG (cjpeg -quality 90) and a lossy WebP (cwebp
-q 85). Prints the CPU, then for each format, in pairs run back to back in
alternating order after a warm-up, the medians of:
  rgbdaz:  rgbdaz FILE out.daz 256 against the tool (djpeg -ppm, dwebp
           -ppm) writing a PPM plus the reduction alone (rgbdaz on a 24-bit
           bitmap of the tool's decode, which it reads as it is);
  decode:  bench/photo_decode FILE (the reader into RGBA, held whole)
           against the tool alone;
as wall and CPU (user + system: steadier on a busy machine) times and the
median of the per-pair ratios. Needs numpy and Pillow: run it with Debian's
/usr/bin/python3.
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare import processor  # noqa: E402


def timed(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def timed_all(commands):
    wall = cpu = 0.0
    for command in commands:
        w, c = timed(command)
        wall += w
        cpu += c
    return wall, cpu


def paired(pairs, ours, theirs):
    """Medians of ours, theirs and ours / theirs, wall and CPU."""
    timed_all(ours)
    timed_all(theirs)
    rows = []
    for i in range(pairs):
        if i % 2 == 0:
            a, b = timed_all(ours), timed_all(theirs)
        else:
            b, a = timed_all(theirs), timed_all(ours)
        rows.append((a, b))
    result = {}
    for k, what in enumerate(["wall", "cpu"]):
        result[what] = (statistics.median(a[k] for a, _ in rows),
                        statistics.median(b[k] for _, b in rows),
                        statistics.median(a[k] / b[k] for a, b in rows))
    return result


def picture(path_ppm):
    height, width = 3000, 4000
    y, x = np.mgrid[0:height, 0:width].astype(np.float32)
    planes = [128 + 90 * np.sin(x / 310) * np.cos(y / 170), 128 + 80 * np.sin((x + y) / 420),
              128 + 100 * np.cos(x / 95 + np.sin(y / 200))]
    noisy = np.stack(planes, -1) + np.random.default_rng(5).normal(0, 7, (height, width, 3))
    image = Image.fromarray(np.clip(noisy, 0, 255).astype("uint8"))
    image.save(path_ppm)
    return width, height


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build/default")
    parser.add_argument("--pairs", type=int, default=5)
    args = parser.parse_args()
    decode = os.path.join(args.build, "bench", "photo_decode")
    work = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        ppm = os.path.join(work, "picture.ppm")
        width, height = picture(ppm)
        jpeg = os.path.join(work, "picture.jpg")
        webp = os.path.join(work, "picture.webp")
        subprocess.run(["cjpeg", "-quality", "90", "-outfile", jpeg, ppm], check=True)
        subprocess.run(["cwebp", "-quiet", "-q", "85", ppm, "-o", webp], check=True)
        out = os.path.join(work, "out.ppm")
        print("CPU:", processor())
        print("%d x %d; JPEG %d bytes, WebP %d bytes; %d pairs" %
              (width, height, os.path.getsize(jpeg), os.path.getsize(webp), args.pairs))
        print("%-5s %-7s %-4s %9s %9s %7s" % ("", "", "", "ours s", "tool s", "ratio"))
        rgbdaz = os.path.join(args.build, "rgbdaz")
        daz = os.path.join(work, "out.daz")
        for name, path, tool in [("JPEG", jpeg, ["djpeg", "-ppm", "-outfile", out, jpeg]),
                                 ("WebP", webp, ["dwebp", "-quiet", "-ppm", webp, "-o", out])]:
            # The reduction's input: the tool's decode as a 24-bit bitmap.
            bitmap = os.path.join(work, "picture.bmp")
            subprocess.run(tool, check=True)
            Image.open(out).save(bitmap)
            alone = [rgbdaz, bitmap, daz, "256"]
            for what, ours, theirs in [("rgbdaz", [[rgbdaz, path, daz, "256"]], [tool, alone]),
                                       ("decode", [[decode, path]], [tool])]:
                result = paired(args.pairs, ours, theirs)
                for clock in ["wall", "cpu"]:
                    a, b, ratio = result[clock]
                    print("%-5s %-7s %-4s %9.3f %9.3f %7.2f" % (name, what, clock, a, b, ratio))
    finally:
        shutil.rmtree(work)


main()
