"""Batch conversion: python -m daz convert SRC... --out DIR [options].

Each SRC (a file, or a folder: its files, not its subfolders) becomes
DIR/NAME.daz, NAME the source's name without its extension, as orvx -c or
pngdaz would write it; BMP and PNG are told apart by content, other files
are skipped. Outputs go through the library's file conversion (the commands'
safe output). The work runs in this process, in --jobs N processes, or on a
Dask cluster (--scheduler ADDRESS), whose workers then write to DIR: DIR
must be a folder every worker sees at the same path (shared storage).

Exit status: 0 when every file was converted or skipped, 1 when any failed,
2 for a wrong command line.
"""

from __future__ import annotations

import argparse
import os
import sys
from concurrent.futures import ProcessPoolExecutor, as_completed
from dataclasses import dataclass
from typing import Callable, Iterable, Iterator, List, Optional, Sequence

from . import PNG_SIGNATURE, DazError, _daz

CONVERTED, FAILED, SKIPPED = "converted", "failed", "skipped"


@dataclass(frozen=True)
class Outcome:
    source: str
    status: str  # CONVERTED, FAILED or SKIPPED
    detail: str = ""  # why it failed or was skipped
    undefined: int = 0  # pixels past the kept palette


def kind_of(path: str) -> Optional[str]:
    """"png", "bmp", or None for anything else; OSError if unreadable."""
    with open(path, "rb") as stream:
        start = stream.read(len(PNG_SIGNATURE))
    if start == PNG_SIGNATURE:
        return "png"
    return "bmp" if start[:2] == b"BM" else None


def convert_one(source: str, destination: str, colors: int, key: int) -> Outcome:
    """One conversion, as a worker process or a Dask worker runs it."""
    try:
        kind = kind_of(source)
    except OSError as error:
        return Outcome(source, FAILED, f"input file cannot be opened ({error.strerror})")
    if kind is None:
        return Outcome(source, SKIPPED, "neither a BMP nor a PNG")
    try:
        undefined = _daz.convert_file(kind == "png", os.fsencode(source),
                                      os.fsencode(destination), colors, key)
    except DazError as error:
        return Outcome(source, FAILED, error.message)
    return Outcome(source, CONVERTED, undefined=undefined)


def parse_key(text: str) -> int:
    """A key in hexadecimal, as the commands read it: 1f2e, or 0x1f2e."""
    digits = text[2:] if text.lower().startswith("0x") else text
    try:
        key = int(digits, 16)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a hexadecimal key: {text!r}") from None
    if not digits.isalnum() or not 0 <= key <= 0xFFFF:
        raise argparse.ArgumentTypeError(f"a key is 0 to ffff: {text!r}")
    return key


def parse_count(text: str) -> int:
    try:
        value = int(text, 10)
    except ValueError:
        value = -1
    if value < 0:
        raise argparse.ArgumentTypeError(f"not a count: {text!r}")
    return value


def parser() -> argparse.ArgumentParser:
    top = argparse.ArgumentParser(prog="python -m daz", description="daz images in batches")
    commands = top.add_subparsers(dest="command", required=True)
    convert = commands.add_parser(
        "convert", help="convert BMP and PNG files into daz files",
        description="Converts each SRC into DIR/NAME.daz, as orvx -c and pngdaz do.")
    convert.add_argument("sources", nargs="+", metavar="SRC",
                         help="a BMP or PNG file, or a folder of them")
    convert.add_argument("--out", required=True, metavar="DIR", help="folder for the daz files")
    convert.add_argument("--colors", type=parse_count, default=0, metavar="N",
                         help="palette entries to keep (0: all)")
    convert.add_argument("--key", type=parse_key, default=0, metavar="K",
                         help="key in hexadecimal, 0 to ffff, with or without 0x")
    convert.add_argument("--jobs", type=parse_count, default=1, metavar="N",
                         help="processes to convert in (default 1)")
    convert.add_argument("--scheduler", metavar="ADDRESS",
                         help="a Dask scheduler (tcp://host:8786) to run the work on; "
                              "DIR must be shared with its workers")
    return top


def expand(sources: Sequence[str]) -> List[str]:
    files: List[str] = []
    for source in sources:
        if os.path.isdir(source):
            files += sorted(entry.path for entry in os.scandir(source) if entry.is_file())
        else:
            files.append(source)
    return [os.path.abspath(path) for path in files]


def plan(sources: List[str], out: str) -> tuple:
    """(source, destination) pairs, and the outcomes of sources whose output
    name another source already takes."""
    taken = {}
    work, clashes = [], []
    for source in sources:
        stem = os.path.splitext(os.path.basename(source))[0]
        destination = os.path.join(out, stem + ".daz")
        if destination in taken:
            clashes.append(Outcome(source, FAILED, f"{stem}.daz comes from {taken[destination]}"))
        else:
            taken[destination] = source
            work.append((source, destination))
    return work, clashes


# Files per task at most: a million files make some thousands of tasks, not
# a million, for the pool or the scheduler to keep track of.
BATCH_LIMIT = 256


def convert_batch(work, colors: int, key: int) -> List[Outcome]:
    return [convert_one(source, destination, colors, key) for source, destination in work]


def batches(work, workers: int) -> List[list]:
    """The work in tasks: about four per worker for a small job, so that
    every worker gets some and a slow file doesn't hold up the end, and no
    more than BATCH_LIMIT files each for a large one."""
    size = max(1, min(BATCH_LIMIT, -(-len(work) // (4 * max(1, workers)))))
    return [work[start:start + size] for start in range(0, len(work), size)]


def run_here(work, colors: int, key: int) -> Iterator[Outcome]:
    for source, destination in work:
        yield convert_one(source, destination, colors, key)


def run_in_processes(work, colors: int, key: int, jobs: int) -> Iterator[Outcome]:
    with ProcessPoolExecutor(max_workers=jobs) as pool:
        futures = [pool.submit(convert_batch, batch, colors, key) for batch in batches(work, jobs)]
        for future in as_completed(futures):
            yield from future.result()


def run_on_dask(work, colors: int, key: int, address: str) -> Iterator[Outcome]:
    from distributed import Client, as_completed as dask_completed

    with Client(address) as client:
        workers = sum(client.nthreads().values())
        # (client.map's own key= names the tasks: the values go as lists)
        tasks = batches(work, workers)
        futures = client.map(convert_batch, tasks, [colors] * len(tasks), [key] * len(tasks),
                             pure=False)
        for future in dask_completed(futures):
            yield from future.result()


def progress(outcomes: Iterable[Outcome], total: int) -> Iterable[Outcome]:
    """A progress bar on a terminal (tqdm, when installed)."""
    if not (sys.stdout.isatty() and sys.stderr.isatty()):
        return outcomes
    try:
        from tqdm import tqdm
    except ImportError:
        return outcomes
    return tqdm(outcomes, total=total, unit="file")


def summary(outcomes: List[Outcome], write: Callable[[str], None]) -> None:
    by_status = {status: [o for o in outcomes if o.status == status]
                 for status in (CONVERTED, FAILED, SKIPPED)}
    undefined = sum(1 for outcome in by_status[CONVERTED] if outcome.undefined)
    write(f"converted: {len(by_status[CONVERTED])}"
          + (f" ({undefined} with undefined pixels)" if undefined else ""))
    for status in (FAILED, SKIPPED):
        write(f"{status}: {len(by_status[status])}")
        for outcome in sorted(by_status[status], key=lambda o: o.source):
            write(f"  {outcome.source}: {outcome.detail}")


def main(argv: Optional[Sequence[str]] = None) -> int:
    options = parser().parse_args(argv)
    if options.jobs < 1:
        parser().error("--jobs takes 1 or more")
    out = os.path.abspath(options.out)
    try:
        os.makedirs(out, exist_ok=True)
    except OSError as error:
        print(f"cannot create {out}: {error.strerror}", file=sys.stderr)
        return 1
    work, outcomes = plan(expand(options.sources), out)
    if options.scheduler:
        running = run_on_dask(work, options.colors, options.key, options.scheduler)
    elif options.jobs > 1:
        running = run_in_processes(work, options.colors, options.key, options.jobs)
    else:
        running = run_here(work, options.colors, options.key)
    outcomes += list(progress(running, len(work)))
    summary(outcomes, print)
    return 1 if any(outcome.status == FAILED for outcome in outcomes) else 0
