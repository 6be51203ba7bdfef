#!/usr/bin/env python3
"""Paired wall-time runs of orvx against a plain copy of the same file.

  python3 bench/compare.py [ORVX] [--large-pairs N] [--small-pairs N] [--replace]

Makes, in a temp folder, a 256 MiB 8-bit bitmap, a 256 MiB 4-bit one and a
333x300 8-bit one. Each large file is converted (colour count 200 and 9, a
non-zero key) against `dd bs=32K` of it; the small one against `cp`. Every
pair runs both commands back to back, in alternating order, after a warm-up
that puts the source in the page cache. Prints the median of the per-pair
ratios orvx / copy, under the processor's model and vector flags.

Each timed run writes a new file: its output from the run before is removed
first, untimed, for both commands. With --replace the outputs stay and each
run replaces its own. On a virtual machine that hands freed memory back to
its host (free page reporting), that case times the host: dd truncates its
output and refills the same pages at once, while orvx keeps the old file
until the new one is whole, so it writes to pages the host may have taken
back in the meantime, and pays for them again.
"""
import argparse
import os
import statistics
import struct
import tempfile
import time

MIB = 1 << 20


def write_bmp(path, width, height, bpp, pixel_block, pixel_bytes):
    entries = 1 << bpp
    offset = 14 + 40 + 4 * entries
    header = b"BM" + struct.pack("<IHHI", offset + pixel_bytes, 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0, pixel_bytes, 2835, 2835,
                       entries, 0)
    palette = b"".join(bytes((i, 2 * i & 255, 3 * i & 255, 0)) for i in range(entries))
    with open(path, "wb") as out:
        out.write(header + info + palette)
        for _ in range(pixel_bytes // len(pixel_block)):
            out.write(pixel_block)
        out.write(pixel_block[: pixel_bytes % len(pixel_block)])


def cpu_fields():
    """The first processor's model name, family, model and flags from
    /proc/cpuinfo, or None where it can't be read."""
    info = {}
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                key, _, value = line.partition(":")
                key = key.strip()
                if key in ("model name", "cpu family", "model", "flags") and key not in info:
                    info[key] = value.strip()
    except OSError:
        return None
    return info


def processor():
    """The first processor's model, family/model numbers and vector flags from
    /proc/cpuinfo: a figure holds for that processor only."""
    info = cpu_fields()
    if info is None:
        return "unknown processor"
    flags = set(info.get("flags", "").split())
    vector = " ".join(f for f in ("sse2", "avx2", "avx512f", "avx512bw") if f in flags)
    return (f"{info.get('model name', 'unknown')} (family {info.get('cpu family', '?')}, "
            f"model {info.get('model', '?')}), flags: {vector or 'none of sse2/avx2/avx512'}")


def wall_time(argv):
    start = time.perf_counter_ns()
    pid = os.posix_spawn(argv[0], argv, os.environ)
    _, status = os.waitpid(pid, 0)
    elapsed = time.perf_counter_ns() - start
    if os.waitstatus_to_exitcode(status) < 0:
        raise SystemExit(f"{argv[0]} died: {argv}")
    return elapsed


def paired_ratio(tool, copy, outputs, pairs, replace, warmups=3):
    """tool and copy are argvs; outputs, the files each writes."""
    def run(argv, output):
        if not replace and os.path.exists(output):
            os.unlink(output)
        return wall_time(argv)

    # The source into the page cache, as in every timed run.
    for _ in range(warmups):
        run(tool, outputs[0])
        run(copy, outputs[1])
    ratios = []
    for pair in range(pairs):
        if pair % 2 == 0:
            t, c = run(tool, outputs[0]), run(copy, outputs[1])
        else:
            c, t = run(copy, outputs[1]), run(tool, outputs[0])
        ratios.append(t / c)
    return statistics.median(ratios)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("orvx", nargs="?", default="build/bench/orvx")
    parser.add_argument("--large-pairs", type=int, default=11)
    parser.add_argument("--small-pairs", type=int, default=40)
    parser.add_argument("--dir", default="/dev/shm" if os.path.isdir("/dev/shm") else None,
                        help="where the files go (default: /dev/shm, so that the disk's "
                        "write-back does not time the runs)")
    parser.add_argument("--replace", action="store_true",
                        help="let each run replace its output of the run before, instead of "
                        "writing a new file")
    args = parser.parse_args()
    orvx = os.path.abspath(args.orvx)
    dd = "/usr/bin/dd"
    cp = "/usr/bin/cp"
    block = os.urandom(MIB)
    with tempfile.TemporaryDirectory(prefix="orvx-bench-", dir=args.dir) as tmp:
        def at(name):
            return os.path.join(tmp, name)

        write_bmp(at("large8.bmp"), 16384, 16384, 8, block, 256 * MIB)
        write_bmp(at("large4.bmp"), 32768, 16384, 4, block, 256 * MIB)
        write_bmp(at("small8.bmp"), 333, 300, 8, block, 336 * 300)
        cases = [
            ("256 MiB, 8-bit, count 200", "large8.bmp", "200", "dd bs=32K", args.large_pairs),
            ("256 MiB, 4-bit, count 9", "large4.bmp", "9", "dd bs=32K", args.large_pairs),
            ("333x300, 8-bit, count 200", "small8.bmp", "200", "cp", args.small_pairs),
        ]
        print(f"cpu: {processor()}")
        print(f"orvx: {orvx}")
        print("outputs: " + ("replaced by every run" if args.replace else "new in every run"))
        print(f"{'case':28} {'against':10} {'pairs':>5}  median orvx/copy")
        for label, name, count, against, pairs in cases:
            tool = [orvx, "-c", at(name), at("out.daz"), count, "1f2e"]
            if against == "cp":
                copy = [cp, at(name), at("copy.bmp")]
            else:
                copy = [dd, f"if={at(name)}", f"of={at('copy.bmp')}", "bs=32K", "status=none"]
            with open(os.devnull, "wb") as null:
                # orvx prints its result line; keep it out of the table.
                saved = os.dup(1)
                os.dup2(null.fileno(), 1)
                try:
                    ratio = paired_ratio(tool, copy, (at("out.daz"), at("copy.bmp")), pairs,
                                         args.replace)
                finally:
                    os.dup2(saved, 1)
                    os.close(saved)
            print(f"{label:28} {against:10} {pairs:5}  {ratio:.3f}", flush=True)


if __name__ == "__main__":
    main()
