#!/usr/bin/python3
"""Paired wall-time runs of the GIF reader (a GIF's first frame into a daz
file, its indices kept) against giflib's own decode of the same file
(DGifSlurp, which holds the frame's indices in memory and writes nothing).

  /usr/bin/python3 bench/gif_compare.py [BUILD] [--pairs N]

BUILD (default build/default) holds bench/gif_decode. Makes, in a temp
folder, 4000 x 3000 GIFs of 256 colours: a dithered picture (short LZW
strings, the slow case for a decoder), the same interlaced (the reader holds
the pixel area), and flat areas (long strings). Each pair runs both sides
back to back, alternating which goes first, after a warm-up that puts the
file in the page cache. Prints the median of the per-pair ratios reader /
giflib, and each side's median time, under the processor's model.
"""
import argparse
import os
import statistics
import tempfile
import time

from PIL import Image


def cpu_model():
    with open("/proc/cpuinfo") as info:
        for line in info:
            key, _, value = line.partition(":")
            if key.strip() == "model name":
                return f"{value.strip()} ({os.cpu_count()} CPUs)"
    return "unknown"


def timed(argv):
    """Wall and CPU (user + system) nanoseconds of one run."""
    with open(os.devnull, "wb") as null:
        start = time.perf_counter_ns()
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, null.fileno(), 1)])
        _, status, usage = os.wait4(pid, 0)
        elapsed = time.perf_counter_ns() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"failed: {argv}")
    return elapsed, (usage.ru_utime + usage.ru_stime) * 1e9


def write_gifs(folder, width, height):
    red = Image.linear_gradient("L").resize((width, height))
    green = Image.radial_gradient("L").resize((width, height))
    blue = Image.effect_noise((width, height), 40)
    picture = Image.merge("RGB", (red, green, blue)).quantize(256, dither=Image.Dither.FLOYDSTEINBERG)
    # Pillow interlaces unless told not to.
    picture.save(os.path.join(folder, "dithered.gif"), interlace=False)
    picture.save(os.path.join(folder, "interlaced.gif"), interlace=True)
    flat = Image.new("P", (width, height))
    flat.putpalette([i % 256 for i in range(768)])
    for n in range(256):
        flat.paste(n, ((n % 16) * width // 16, (n // 16) * height // 16,
                       (n % 16 + 1) * width // 16, (n // 16 + 1) * height // 16))
    flat.save(os.path.join(folder, "flat.gif"), interlace=False)
    return ("dithered", "interlaced", "flat")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build/default")
    parser.add_argument("--pairs", type=int, default=9)
    args = parser.parse_args()
    decode = os.path.join(args.build, "bench", "gif_decode")
    print(cpu_model())
    print(f"{'gif':24} {'pairs':>5}  {'reader ms':>9}  {'giflib ms':>9}  median reader/giflib"
          "  (wall; CPU)")
    with tempfile.TemporaryDirectory() as tmp:
        for name in write_gifs(tmp, 4000, 3000):
            gif = os.path.join(tmp, name + ".gif")
            reader = [decode, "daz", gif, os.path.join(tmp, "out.daz")]
            bare = [decode, "slurp", gif]
            timed(reader)
            timed(bare)
            pairs = []
            for pair in range(args.pairs):
                if pair % 2 == 0:
                    t, b = timed(reader), timed(bare)
                else:
                    b, t = timed(bare), timed(reader)
                pairs.append((t, b))
            label = f"{name}, {os.path.getsize(gif) / (1 << 20):.1f} MiB"
            wall = statistics.median(t[0] / b[0] for t, b in pairs)
            cpu = statistics.median(t[1] / b[1] for t, b in pairs)
            print(f"{label:24} {args.pairs:5}  {statistics.median(t[0] for t, _ in pairs) / 1e6:9.1f}"
                  f"  {statistics.median(b[0] for _, b in pairs) / 1e6:9.1f}"
                  f"  {wall:20.3f}  ({cpu:.3f} CPU)", flush=True)


main()
