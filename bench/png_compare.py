#!/usr/bin/env python3
"""Paired wall-time runs of pngdaz against a bare libpng decode of one PNG.

  python3 bench/png_compare.py [BUILD_DIR] [--pairs N] [--side N]

Writes, in a temp folder under /dev/shm, two 8-bit indexed PNGs of N x N
pixels (default 8192: 64 MiB of indices; see write_pngs), then times pngdaz
converting each (colour count 200, a key) against bench/png_decode reading it
with the same reader settings, back to back in alternating order after a
warm-up. Prints the CPU, then for each the median of the per-pair ratios
pngdaz / decode and the peak memory of each (GNU time). Needs Pillow.
"""
import argparse
import os
import statistics
import subprocess
import tempfile
import time


def cpu_model():
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown"


def write_pngs(folder, side):
    """Two 8-bit indexed PNGs of side x side pixels, written by Pillow.

    noisy: a gradient with noise in one channel, quantised to 256 colours:
    about as hard to decode as a photo-like or dithered palette image.
    flat: the same gradient alone: long runs that inflate almost for free, so
    that writing the daz file is most of pngdaz's work.
    """
    from PIL import Image  # only for the pictures

    gradient = Image.linear_gradient("L").resize((side, side))
    turned = gradient.rotate(90)
    noise = Image.effect_noise((side, side), 48)
    for name, green in (("noisy", noise), ("flat", turned)):
        rgb = Image.merge("RGB", (gradient, green, turned))
        indexed = rgb.quantize(256, method=Image.Quantize.FASTOCTREE, dither=Image.Dither.NONE)
        indexed.save(os.path.join(folder, name + ".png"))


def timed(argv):
    with open(os.devnull, "wb") as null:
        start = time.perf_counter_ns()
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, null.fileno(), 1)])
        _, status = os.waitpid(pid, 0)
        elapsed = time.perf_counter_ns() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"failed: {argv}")
    return elapsed


def peak_mib(argv):
    """Peak memory of one run, through GNU time: a child spawned from this
    script would count the script's own memory too."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, check=True)
    return int(result.stderr.split()[-1]) >> 10


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build/bench")
    parser.add_argument("--pairs", type=int, default=21)
    parser.add_argument("--side", type=int, default=8192)
    args = parser.parse_args()
    pngdaz = os.path.abspath(os.path.join(args.build, "pngdaz"))
    decode = os.path.abspath(os.path.join(args.build, "bench", "png_decode"))
    folder = "/dev/shm" if os.path.isdir("/dev/shm") else None
    with tempfile.TemporaryDirectory(prefix="orvx-png-bench-", dir=folder) as tmp:
        write_pngs(tmp, args.side)
        print(f"cpu: {cpu_model()}")
        print(f"{'png':24} {'pairs':>5}  median pngdaz/decode  peak MiB pngdaz/decode")
        for name in ("noisy", "flat"):
            png = os.path.join(tmp, name + ".png")
            tool = [pngdaz, png, os.path.join(tmp, "out.daz"), "200", "1f2e"]
            bare = [decode, png]
            timed(tool)
            timed(bare)
            ratios = []
            for pair in range(args.pairs):
                if pair % 2 == 0:
                    t, b = timed(tool), timed(bare)
                else:
                    b, t = timed(bare), timed(tool)
                ratios.append(t / b)
            label = f"{name}, {os.path.getsize(png) >> 20} MiB"
            print(f"{label:24} {args.pairs:5}  {statistics.median(ratios):20.3f}  "
                  f"{peak_mib(tool):>8} / {peak_mib(bare)}", flush=True)


if __name__ == "__main__":
    main()
