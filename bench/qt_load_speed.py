#!/usr/bin/env python3
"""Qt's QImageReader on a daz image against the same image as an
uncompressed 8-bit BMP (Qt's own BMP reader), for each Qt the build has a
plugin for, at each side given, two ways:

- one-shot: a fresh process per load (plugins/qt/tests/load_time.cpp with
  one file), daz and BMP alternating, the order swapped each round; the
  process's wall time and processor time (user + system, from wait4) as a
  user timing the command sees them, and the load's own times inside it;
- long-lived: one process loading both files round after round, the order
  swapped each round, after a warm-up pair; each load's wall and processor
  time (CLOCK_PROCESS_CPUTIME_ID). glibc's malloc gives an image under 32
  MiB the memory of the one freed before it, its pages present, and maps
  a larger one afresh, its pages faulted in again as they are written;
- memory kept: the same with malloc told never to map nor give memory back
  (GLIBC_TUNABLES), so that every image, 8192 x 8192 too, reuses present
  pages: the loads' own work, without the page faults.

  /usr/bin/python3 bench/qt_load_speed.py [BUILD_DIR] [--sides 4096,8192]
                                          [--rounds N]

The files are made here: a BMP of 256 colours (compare.write_bmp) and orvx
-c's daz file of it with a key, both read once first (page cache warm).
Prints the processor, the load average, and a Markdown table of medians and
of the per-pair ratios daz / BMP.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare import processor, write_bmp  # noqa: E402


KEEP_MEMORY = "glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=4294967295"


def one_shot(program, path, environment):
    """(process wall, process cpu, load wall, load cpu) of one load."""
    start = time.perf_counter()
    child = subprocess.Popen([program, "1", path], env=environment, stdout=subprocess.PIPE,
                             text=True)
    out = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"{program} {path}: exit {child.returncode}")
    fields = out.split()
    return wall, usage.ru_utime + usage.ru_stime, float(fields[1]), float(fields[2])


def summary(daz, bmp):
    """(BMP median, daz median, median of the per-pair ratios)."""
    return (statistics.median(bmp), statistics.median(daz),
            statistics.median(d / b for d, b in zip(daz, bmp)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build/rel")
    parser.add_argument("--sides", default="4096,8192")
    parser.add_argument("--rounds", type=int, default=9)
    arguments = parser.parse_args()
    build = os.path.abspath(arguments.build)
    rows = []
    with tempfile.TemporaryDirectory() as work:
        for side in (int(s) for s in arguments.sides.split(",")):
            bmp, daz = os.path.join(work, f"{side}.bmp"), os.path.join(work, f"{side}.daz")
            block = bytes((i * 131 + i // 7) % 256 for i in range(side * 3 + 17))
            write_bmp(bmp, side, side, 8, block, side * side)
            subprocess.run([os.path.join(build, "orvx"), "-c", bmp, daz, "0", "1f2e"],
                           check=True, stdout=subprocess.DEVNULL)
            for path in (bmp, daz):
                with open(path, "rb") as f:
                    while f.read(1 << 20):
                        pass
            for major in (6, 5):
                program = os.path.join(build, "plugins", "qt", f"qt{major}-load-time")
                if not os.path.exists(program):
                    continue
                environment = dict(os.environ, QT_QPA_PLATFORM="offscreen",
                                   QT_PLUGIN_PATH=os.path.join(build, "plugins", "qt",
                                                               f"qt{major}"))
                # One-shot: a process a load.
                times = {daz: [], bmp: []}
                one_shot(program, daz, environment)
                one_shot(program, bmp, environment)
                for r in range(arguments.rounds):
                    for path in ((daz, bmp) if r % 2 == 0 else (bmp, daz)):
                        times[path].append(one_shot(program, path, environment))
                for i, what in enumerate(("process wall", "process CPU", "load wall",
                                          "load CPU")):
                    found = summary([t[i] for t in times[daz]], [t[i] for t in times[bmp]])
                    rows.append((f"Qt {major}", side, "one-shot", what) + found)
                # Long-lived: one process, the warm-up pair dropped.
                kept = dict(environment, GLIBC_TUNABLES=KEEP_MEMORY)
                for way, env in (("long-lived", environment), ("memory kept", kept)):
                    out = subprocess.run([program, str(2 * arguments.rounds + 2), daz, bmp],
                                         env=env, check=True, capture_output=True,
                                         text=True).stdout.splitlines()[2:]
                    runs = {daz: [], bmp: []}
                    for line in out:
                        path, wall, cpu = line.split()[:3]
                        runs[path].append((float(wall), float(cpu)))
                    for i, what in enumerate(("load wall", "load CPU")):
                        found = summary([t[i] for t in runs[daz]], [t[i] for t in runs[bmp]])
                        rows.append((f"Qt {major}", side, way, what) + found)

    print(processor())
    print(f"load average: {os.getloadavg()[0]:.2f} {os.getloadavg()[1]:.2f}"
          f" {os.getloadavg()[2]:.2f}; {arguments.rounds} pairs, medians "
          f"(long-lived: {2 * arguments.rounds} pairs)\n")
    print("| Qt | side | way | time | BMP | daz | daz / BMP (median of pairs) |")
    print("|---|---|---|---|---|---|---|")
    for qt, side, way, what, bmp_time, daz_time, ratio in rows:
        print(f"| {qt} | {side}² | {way} | {what} | {1000 * bmp_time:.1f} ms "
              f"| {1000 * daz_time:.1f} ms | {ratio:.2f} |")


if __name__ == "__main__":
    main()
