#!/usr/bin/env python3
"""Paired runs of pngdaz against a bare libpng decode, and of dazpng against
Pillow's PNG writer.

  python3 bench/png_compare.py [BUILD_DIR] [--pairs N] [--side N] [--only pngdaz|dazpng]

Writes, in a temp folder under /dev/shm, three 8-bit indexed PNGs of N x N
pixels (default 8192: 64 MiB of indices; see write_pngs). Prints the CPU, then:

pngdaz: times pngdaz converting noisy and flat (colour count 200, a key)
against bench/png_decode reading each with the same reader settings, back to
back in alternating order after a warm-up; for each the median of the
per-pair ratios pngdaz / decode and the peak memory of each (GNU time).

dazpng: makes a daz file of random, noisy and flat with pngdaz, then times
dazpng writing it back to PNG against Pillow's Image.save(..., "PNG") with its
defaults, here in this process, of the very image dazpng wrote (read back and
checked equal, indices and palette, to the source PNG). dazpng's times are the
whole run (start, reading the daz file); Pillow's the save alone. For each
the median wall time of both, the medians of the per-pair ratios of wall and
of CPU time (user + system: steadier on a busy machine), both file sizes and
dazpng's peak memory.

Only the dazpng half runs from a build without bench/png_decode (the default
preset's). Needs Pillow: run it with Debian's /usr/bin/python3.
"""
import argparse
import os
import random
import resource
import statistics
import subprocess
import tempfile
import time


def cpu_model():
    """The model name, and which of AVX2 and AVX-512 it has."""
    model, flags = "unknown", []
    with open("/proc/cpuinfo") as info:
        for line in info:
            key, _, value = line.partition(":")
            if key.strip() == "model name" and model == "unknown":
                model = value.strip()
            elif key.strip() == "flags" and not flags:
                flags = value.split()
    simd = [flag for flag in ("avx2", "avx512f", "avx512bw") if flag in flags]
    return f"{model} ({', '.join(simd) or 'no avx2'}; {os.cpu_count()} CPUs)"


def write_pngs(folder, side):
    """Three 8-bit indexed PNGs of side x side pixels, written by Pillow.

    noisy: a gradient with noise in one channel, quantised to 256 colours:
    about as hard to decode as a photo-like or dithered palette image.
    flat: the same gradient alone: long runs that inflate almost for free, so
    that writing the daz file is most of pngdaz's work.
    random: indices drawn at random (a fixed seed) over 256 colours, the worst
    case for deflate: it finds nothing worth keeping and stores the data.
    """
    from PIL import Image  # only for the pictures

    noise_only = Image.frombytes("P", (side, side), random.Random(1).randbytes(side * side))
    noise_only.putpalette([(i * 37 + 11) % 256 for i in range(768)])
    noise_only.save(os.path.join(folder, "random.png"))

    gradient = Image.linear_gradient("L").resize((side, side))
    turned = gradient.rotate(90)
    noise = Image.effect_noise((side, side), 48)
    for name, green in (("noisy", noise), ("flat", turned)):
        rgb = Image.merge("RGB", (gradient, green, turned))
        indexed = rgb.quantize(256, method=Image.Quantize.FASTOCTREE, dither=Image.Dither.NONE)
        indexed.save(os.path.join(folder, name + ".png"))


def timed_with_cpu(argv):
    """Wall and CPU (user + system) nanoseconds of one run."""
    with open(os.devnull, "wb") as null:
        start = time.perf_counter_ns()
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, null.fileno(), 1)])
        _, status, usage = os.wait4(pid, 0)
        elapsed = time.perf_counter_ns() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"failed: {argv}")
    return elapsed, int((usage.ru_utime + usage.ru_stime) * 1e9)


def timed(argv):
    return timed_with_cpu(argv)[0]


def own_cpu_ns():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return int((usage.ru_utime + usage.ru_stime) * 1e9)


def timed_save(image, path):
    """Wall and CPU nanoseconds of Pillow writing the image, with its defaults."""
    start, cpu = time.perf_counter_ns(), own_cpu_ns()
    image.save(path, "PNG")
    return time.perf_counter_ns() - start, own_cpu_ns() - cpu


def peak_mib(argv):
    """Peak memory of one run, through GNU time: a child spawned from this
    script would count the script's own memory too."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, check=True)
    return int(result.stderr.split()[-1]) >> 10


def compare_pngdaz(build, tmp, pairs):
    decode = os.path.join(build, "bench", "png_decode")
    if not os.path.exists(decode):
        raise SystemExit(f"no {decode}: build the bench preset, or give --only dazpng")
    pngdaz = os.path.join(build, "pngdaz")
    print(f"{'png':24} {'pairs':>5}  median pngdaz/decode  peak MiB pngdaz/decode")
    for name in ("noisy", "flat"):
        png = os.path.join(tmp, name + ".png")
        tool = [pngdaz, png, os.path.join(tmp, "out.daz"), "200", "1f2e"]
        bare = [decode, png]
        timed(tool)
        timed(bare)
        ratios = []
        for pair in range(pairs):
            if pair % 2 == 0:
                t, b = timed(tool), timed(bare)
            else:
                b, t = timed(bare), timed(tool)
            ratios.append(t / b)
        label = f"{name}, {os.path.getsize(png) >> 20} MiB"
        print(f"{label:24} {pairs:5}  {statistics.median(ratios):20.3f}  "
              f"{peak_mib(tool):>8} / {peak_mib(bare)}", flush=True)


def same_image(first, second):
    from PIL import Image

    with Image.open(first) as a, Image.open(second) as b:
        return (a.mode, a.size, a.tobytes(), a.getpalette()) == \
            (b.mode, b.size, b.tobytes(), b.getpalette())


def compare_dazpng(build, tmp, pairs):
    from PIL import Image

    dazpng = os.path.join(build, "dazpng")
    print(f"{'image':8} {'pairs':>5}  {'dazpng s':>8} {'Pillow s':>8}  wall ratio  CPU ratio  "
          f"{'dazpng bytes':>12} {'Pillow bytes':>12}  peak MiB")
    for name in ("random", "noisy", "flat"):
        png = os.path.join(tmp, name + ".png")
        daz = os.path.join(tmp, name + ".daz")
        ours = os.path.join(tmp, name + "-dazpng.png")
        theirs = os.path.join(tmp, name + "-pillow.png")
        timed([os.path.join(build, "pngdaz"), png, daz, "0", "1f2e"])
        tool = [dazpng, daz, ours]
        timed(tool)
        if not same_image(png, ours):
            raise SystemExit(f"dazpng changed the indices or the palette of {name}")
        image = Image.open(ours)
        image.load()
        timed_save(image, theirs)
        walls, cpus, ours_s, theirs_s = [], [], [], []
        for pair in range(pairs):
            if pair % 2 == 0:
                t, p = timed_with_cpu(tool), timed_save(image, theirs)
            else:
                p, t = timed_save(image, theirs), timed_with_cpu(tool)
            walls.append(t[0] / p[0])
            cpus.append(t[1] / p[1])
            ours_s.append(t[0] / 1e9)
            theirs_s.append(p[0] / 1e9)
        image.close()
        print(f"{name:8} {pairs:5}  {statistics.median(ours_s):8.3f} "
              f"{statistics.median(theirs_s):8.3f}  {statistics.median(walls):10.3f} "
              f"{statistics.median(cpus):10.3f}  {os.path.getsize(ours):12} "
              f"{os.path.getsize(theirs):12}  {peak_mib(tool):>8}", flush=True)
        for path in (daz, ours, theirs):
            os.remove(path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build/bench")
    parser.add_argument("--pairs", type=int, default=21)
    parser.add_argument("--side", type=int, default=8192)
    parser.add_argument("--only", choices=("pngdaz", "dazpng"))
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    folder = "/dev/shm" if os.path.isdir("/dev/shm") else None
    with tempfile.TemporaryDirectory(prefix="orvx-png-bench-", dir=folder) as tmp:
        write_pngs(tmp, args.side)
        print(f"cpu: {cpu_model()}")
        if args.only != "dazpng":
            compare_pngdaz(build, tmp, args.pairs)
        if args.only != "pngdaz":
            compare_dazpng(build, tmp, args.pairs)


if __name__ == "__main__":
    main()
