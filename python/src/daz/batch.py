"""Batch conversion: python -m daz convert SRC... --out DIR [options].

Each SRC (a file, or a folder: its files, not its subfolders) becomes
DIR/NAME.daz, NAME the source's name without its extension, as orvx -c or
pngdaz would write it; the library tells each file's format by content
(daz.formats(): what this build reads). A file the library can't read
fails, with its reason, when it was named on the command line or looks like
an image (its first bytes, or an image file's extension); only a folder's
other files (notes.txt) and its daz images are skipped. An image without a
palette (a truecolour or grey PNG, a bitmap of 1, 16, 24 or 32 bits, a
photo), which orvx -c and pngdaz refuse, is reduced by the library to
--colors colours (0: 256), as rgbdaz does. --dither reduces every image,
palette ones included, with error diffusion; --palette FILE maps every
image onto FILE's palette (an image file of any format the library reads;
with --colors N, its first N entries), which the outputs then hold
unchanged. Outputs go through the library's file calls (the commands'
safe output). The work runs in this process, in --jobs N processes, or on a
Dask cluster (--scheduler ADDRESS), whose workers then write to DIR: DIR
must be a folder every worker sees at the same path (shared storage).

Every entry of a folder but its subfolders is counted: a link that leads
nowhere or round in a loop fails, a FIFO, socket or device is skipped.

Exit status: 0 when every file was converted or skipped, 1 when any failed
(or the scheduler can't be reached), 2 for a wrong command line, 130 when
interrupted (Ctrl-C).
"""

from __future__ import annotations

import argparse
import gc
import os
import re
import signal
import stat
import sys
from concurrent.futures import ProcessPoolExecutor, as_completed
from dataclasses import dataclass
from typing import Callable, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple

from . import DazError, _daz, _limits, _read_all, formats
from ._errors import (ERR_BMP_BITS, ERR_COLORS, ERR_CREATE, ERR_FORMAT, ERR_NOT_INDEXED,
                      ERR_PNG_NOT_PALETTE, ERR_WRITE)

CONVERTED, FAILED, SKIPPED = "converted", "failed", "skipped"


@dataclass(frozen=True)
class Outcome:
    source: str
    status: str  # CONVERTED, FAILED or SKIPPED
    detail: str = ""  # why it failed or was skipped
    undefined: int = 0  # pixels past the kept palette
    reduced: bool = False  # its colours reduced or mapped by the library


@dataclass(frozen=True)
class Reduction:
    """How images are reduced: dither, and the palette to map onto, the
    entries used, 4 bytes each (None: reduce each to its own). always: every
    image, else only those without a palette."""

    dither: bool = False
    palette: Optional[bytes] = None

    @property
    def always(self) -> bool:
        return self.dither or self.palette is not None


def _format_of(source: str) -> Optional[int]:
    """The format the library tells from the file's first bytes, or None
    for a file that can't be read (its conversion then says why)."""
    try:
        with open(source, "rb") as stream:
            return _daz.guess_format(stream.read(_daz.GUESS_BYTES))
    except OSError:
        return None


# Extensions of images that the library may not read in this build, beside
# those of every format it knows (daz.formats()): a file so named that can't
# be read fails rather than being skipped.
COMMON_IMAGE_EXTENSIONS = frozenset(
    "bmp dib png gif jpg jpeg jpe jfif tif tiff webp heic heif avif pgm ppm pbm pnm pam jxl jp2 "
    "ico".split())
IMAGE_EXTENSIONS = COMMON_IMAGE_EXTENSIONS | frozenset(
    extension for known in formats() if known.format != _daz.FORMAT_DAZ
    for extension in known.extensions)


def looks_like_image(source: str) -> bool:
    """Whether a file is an image by its name (an image file's extension)
    or by its first bytes (a format the library knows), a daz image
    excepted: the batch makes those, and leaves them be."""
    if os.path.splitext(source)[1][1:].lower() in IMAGE_EXTENSIONS:
        return True
    return _format_of(source) not in (None, _daz.FORMAT_UNKNOWN, _daz.FORMAT_DAZ)


def _refused(source: str, detail: str) -> Outcome:
    """A file the library doesn't take: failed when it looks like an image
    (it can't be read: the user lost a picture), else skipped."""
    return Outcome(source, FAILED if looks_like_image(source) else SKIPPED, detail)


# What orvx -c and pngdaz refuse an image without a palette for, and what
# the library says of a format it reads only as colours.
_NO_PALETTE = (ERR_PNG_NOT_PALETTE, ERR_BMP_BITS, ERR_NOT_INDEXED)


def convert_one(source: str, destination: str, colors: int, key: int,
                reduction: Reduction = Reduction()) -> Outcome:
    """One conversion, as a worker process or a Dask worker runs it, within
    the library's default limits: the library tells the source's format
    (one it doesn't read is skipped, or failed when it looks like an
    image). A failure says why, and names the output when that is what
    failed."""
    paths = (os.fsencode(source), os.fsencode(destination))
    count = len(reduction.palette) // 4 if reduction.palette is not None else colors or 256
    options = (count, _daz.DITHER_DIFFUSION if reduction.dither else _daz.DITHER_NONE, -1,
               (0, 0, 0))
    if reduction.always and _format_of(source) == _daz.FORMAT_DAZ:
        return Outcome(source, SKIPPED, _daz.strerror(ERR_FORMAT))  # reduce_file would take it
    try:
        if not reduction.always:
            try:
                undefined = _daz.convert_file(*paths, _limits(None), colors, key)
                return Outcome(source, CONVERTED, undefined=undefined)
            except DazError as error:
                if error.code not in _NO_PALETTE:
                    raise
        if not 2 <= count <= 256 and reduction.palette is None:
            return Outcome(source, FAILED, _daz.strerror(ERR_COLORS))
        _daz.reduce_file(*paths, _limits(None), options, reduction.palette, key)
    except DazError as error:
        if error.code == ERR_FORMAT:
            return _refused(source, error.message)
        detail = error.message
        if error.code in (ERR_CREATE, ERR_WRITE):
            detail += f": {destination}"
        why = getattr(error, "strerror", None)
        return Outcome(source, FAILED, f"{detail} ({why})" if why else detail)
    return Outcome(source, CONVERTED, reduced=True)


# What orvx reads as a key (sscanf's %hx): blanks first, a plus sign, 0x,
# hexadecimal digits. Here the digits must end it, blanks aside, and fit in
# 16 bits: what orvx would read as another number or as 0 is refused.
KEY = re.compile(r"[ \t\n\v\f\r]*\+?(?:0[xX])?([0-9a-fA-F]+)[ \t\n\v\f\r]*")


def parse_key(text: str) -> int:
    """A key in hexadecimal, as the commands read it: 1f2e, or 0x1f2e."""
    match = KEY.fullmatch(text)
    if match is None:
        raise argparse.ArgumentTypeError(f"not a hexadecimal key: {text!r}")
    key = int(match.group(1), 16)
    if key > 0xFFFF:
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
    readable = ", ".join(known.name for known in formats()
                         if known.format != _daz.FORMAT_DAZ and (known.converts or known.loads))
    convert = commands.add_parser(
        "convert", help=f"convert images ({readable}) into daz files",
        description="Converts each SRC into DIR/NAME.daz, as orvx -c and pngdaz do.")
    convert.add_argument("sources", nargs="+", metavar="SRC",
                         help=f"an image file ({readable}), or a folder of them")
    convert.add_argument("--out", required=True, metavar="DIR", help="folder for the daz files")
    convert.add_argument("--colors", type=parse_count, default=0, metavar="N",
                         help="palette entries to keep (0: all); for an image without a "
                              "palette, or with --dither, the colours to reduce it to "
                              "(2 to 256, 0: 256); with --palette, its entries to use")
    convert.add_argument("--dither", action="store_true",
                         help="reduce every image, with error diffusion")
    convert.add_argument("--palette", metavar="FILE",
                         help="map every image onto the palette of FILE (an image file)")
    convert.add_argument("--key", type=parse_key, default=0, metavar="K",
                         help="key in hexadecimal, 0 to ffff, with or without 0x")
    convert.add_argument("--jobs", type=parse_count, default=1, metavar="N",
                         help="processes to convert in (default 1)")
    convert.add_argument("--scheduler", metavar="ADDRESS",
                         help="a Dask scheduler (tcp://host:8786) to run the work on; "
                              "DIR must be shared with its workers")
    top.set_defaults(convert_parser=convert)
    return top


def expand(sources: Sequence[str]) -> Tuple[List[str], List[Outcome]]:
    """The files to convert, and the outcomes of what a folder holds that
    can't be: a link that leads nowhere or round in a loop fails, a FIFO, a
    socket or a device is skipped (never opened: a FIFO would wait for a
    writer). Subfolders are left out. A SRC named on the command line is
    taken as it is."""
    files: List[str] = []
    outcomes: List[Outcome] = []
    for source in sources:
        if not os.path.isdir(source):
            files.append(os.path.abspath(source))
            continue
        try:
            with os.scandir(source) as entries:
                paths = sorted(os.path.abspath(entry.path) for entry in entries)
        except OSError as error:
            outcomes.append(Outcome(os.path.abspath(source), FAILED,
                                    f"folder cannot be read ({error.strerror})"))
            continue
        for path in paths:
            try:
                mode = os.stat(path).st_mode
            except OSError as error:
                outcomes.append(Outcome(path, FAILED,
                                        f"input file cannot be opened ({error.strerror})"))
                continue
            if stat.S_ISREG(mode):
                files.append(path)
            elif not stat.S_ISDIR(mode):
                outcomes.append(Outcome(path, SKIPPED, "not a regular file"))
    return files, outcomes


def plan(sources: List[str], out: str) -> Tuple[list, List[Outcome]]:
    """(source, destination) pairs, and the outcomes of sources that can't
    have their output name. Where several sources make one name, only those
    of them that are images claim it, the first one winning: a skipped file
    takes no name from a good one."""
    claims: Dict[str, List[str]] = {}
    for source in sources:
        stem = os.path.splitext(os.path.basename(source))[0]
        claims.setdefault(os.path.join(out, stem + ".daz"), []).append(source)
    work, outcomes = [], []
    for destination, claimants in claims.items():
        if len(claimants) > 1:
            claimants, refused = _images_among(claimants)
            outcomes += refused
        if not claimants:
            continue
        work.append((claimants[0], destination))
        outcomes += [Outcome(source, FAILED, f"{os.path.basename(destination)} comes from "
                                             f"{claimants[0]}") for source in claimants[1:]]
    return work, outcomes


def _images_among(sources: List[str]) -> Tuple[List[str], List[Outcome]]:
    """The sources of a format the library converts, as it tells it from
    their first bytes, and the outcomes of the others, as convert_one would
    give them."""
    images, others = [], []
    for source in sources:
        try:
            with open(source, "rb") as stream:
                start = stream.read(_daz.GUESS_BYTES)
        except OSError as error:
            others.append(Outcome(source, FAILED,
                                  f"input file cannot be opened ({error.strerror})"))
            continue
        if _daz.guess_format(start) in (_daz.FORMAT_UNKNOWN, _daz.FORMAT_DAZ):
            others.append(_refused(source, _daz.strerror(ERR_FORMAT)))
        else:
            images.append(source)
    return images, others


# Files per task at most: a million files make some thousands of tasks, not
# a million, for the pool or the scheduler to keep track of.
BATCH_LIMIT = 256


def convert_batch(work, colors: int, key: int, reduction: Reduction = Reduction()) -> List[Outcome]:
    return [convert_one(source, destination, colors, key, reduction)
            for source, destination in work]


def batches(work, workers: int) -> List[list]:
    """The work in tasks: about four per worker for a small job, so that
    every worker gets some and a slow file doesn't hold up the end, and no
    more than BATCH_LIMIT files each for a large one."""
    size = max(1, min(BATCH_LIMIT, -(-len(work) // (4 * max(1, workers)))))
    return [work[start:start + size] for start in range(0, len(work), size)]


def lost(batch, error: BaseException) -> List[Outcome]:
    """The outcomes of a task that never gave its own: a worker that died,
    or anything else that went wrong where it ran."""
    why = f"{type(error).__name__}: {error}" if str(error) else type(error).__name__
    return [Outcome(source, FAILED, f"not converted: {why}") for source, _ in batch]


def run_here(work, colors: int, key: int, reduction: Reduction) -> Iterator[Outcome]:
    for source, destination in work:
        yield convert_one(source, destination, colors, key, reduction)


def _worker_start() -> None:
    # Ctrl-C reaches the whole process group: the parent alone decides, and
    # stops its workers (SIGTERM: the library removes a temporary file). A
    # worker starts with SIGINT blocked (run_in_processes), so that one
    # arriving before this is ignored too, not a KeyboardInterrupt.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    _sigint_mask("SIG_UNBLOCK")


def _sigint_mask(how: str):
    """signal.pthread_sigmask(signal.<how>, {SIGINT}): the mask before, or
    None where the system has no signal masks (Windows)."""
    if not hasattr(signal, "pthread_sigmask"):
        return None
    return signal.pthread_sigmask(getattr(signal, how), {signal.SIGINT})


def run_in_processes(work, colors: int, key: int, reduction: Reduction,
                     jobs: int) -> Iterator[Outcome]:
    pool = ProcessPoolExecutor(max_workers=jobs, initializer=_worker_start)
    try:
        # The workers are forked as the work is submitted, with SIGINT
        # blocked; one that came meanwhile is the parent's once unblocked.
        blocked = _sigint_mask("SIG_BLOCK")
        try:
            futures = {pool.submit(convert_batch, batch, colors, key, reduction): batch
                       for batch in batches(work, jobs)}
        finally:
            if blocked is not None:
                signal.pthread_sigmask(signal.SIG_SETMASK, blocked)
        for future in as_completed(futures):
            try:
                outcomes = future.result()
            except Exception as error:  # a worker died: BrokenProcessPool
                outcomes = lost(futures[future], error)
            yield from outcomes
    except BaseException:
        # Interrupted, or the caller stopped early: no worker goes on.
        for process in list((getattr(pool, "_processes", None) or {}).values()):
            process.terminate()
        pool.shutdown(wait=True, cancel_futures=True)
        raise
    pool.shutdown(wait=True)


class SchedulerError(Exception):
    """The scheduler can't be used: status 2 for an address that can't be
    one, 1 for one that doesn't answer."""

    def __init__(self, message: str, status: int):
        super().__init__(message)
        self.status = status


def connect(address: str):
    """A dask.distributed Client of the scheduler at address, or a
    SchedulerError."""
    try:
        from distributed import Client
    except ImportError:
        raise SchedulerError("--scheduler needs dask.distributed, which is not installed",
                             1) from None
    try:
        return Client(address)
    except ValueError as error:  # no port, an unknown scheme...
        failure = SchedulerError(f"not a scheduler address: {address!r} ({error})", 2)
    except OSError as error:  # no answer within distributed.comm.timeouts.connect
        failure = SchedulerError(f"cannot reach the scheduler at {address} ({error})", 1)
    # The half-made Client goes now, while its event loop runs: left to the
    # end, its __del__ would wait for a dead loop and print a traceback.
    gc.collect()
    raise failure


def run_on_dask(work, colors: int, key: int, reduction: Reduction, client) -> Iterator[Outcome]:
    from distributed import as_completed as dask_completed

    workers = sum(client.nthreads().values())
    # (client.map's own key= names the tasks: the values go as lists)
    tasks = batches(work, workers)
    futures = client.map(convert_batch, tasks, [colors] * len(tasks), [key] * len(tasks),
                         [reduction] * len(tasks), pure=False)
    batch_of = {future.key: task for future, task in zip(futures, tasks)}
    try:
        for future in dask_completed(futures):
            try:
                outcomes = future.result()
            except Exception as error:  # KilledWorker, or the task raised
                outcomes = lost(batch_of[future.key], error)
            yield from outcomes
    except BaseException:
        client.cancel(futures)
        raise


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
    reduced = sum(1 for outcome in by_status[CONVERTED] if outcome.reduced)
    notes = ([f"{reduced} reduced"] if reduced else []) + \
        ([f"{undefined} with undefined pixels"] if undefined else [])
    write(f"converted: {len(by_status[CONVERTED])}"
          + (f" ({', '.join(notes)})" if notes else ""))
    for status in (FAILED, SKIPPED):
        write(f"{status}: {len(by_status[status])}")
        for outcome in sorted(by_status[status], key=lambda o: o.source):
            write(f"  {outcome.source}: {outcome.detail}")


def main(argv: Optional[Sequence[str]] = None) -> int:
    try:
        return _main(argv)
    except KeyboardInterrupt:
        # A conversion under way finished or was undone: no temporary file.
        print("interrupted", file=sys.stderr)
        return 130


def _main(argv: Optional[Sequence[str]]) -> int:
    options = parser().parse_args(argv)
    if options.jobs < 1:
        options.convert_parser.error("--jobs takes 1 or more")
    palette = None
    if options.palette is not None:
        try:
            palette = _daz.load_palette(_read_all(options.palette, _limits(None)[3]),
                                        _limits(None))
        except DazError as error:
            options.convert_parser.error(f"--palette {options.palette}: {error.message}")
        if options.colors > len(palette) // 4:
            options.convert_parser.error(f"--colors {options.colors}: --palette "
                                         f"{options.palette} has {len(palette) // 4} entries")
        palette = palette[:4 * options.colors] if options.colors else palette
    options.reduction = Reduction(options.dither, palette)
    client = None
    if options.scheduler:  # before anything is made: DIR included
        try:
            client = connect(options.scheduler)
        except SchedulerError as error:
            if error.status == 2:
                options.convert_parser.error(str(error))
            print(f"python -m daz: {error}", file=sys.stderr)
            return error.status
    try:
        return _convert(options, client)
    finally:
        if client is not None:
            client.close()


def _convert(options: argparse.Namespace, client) -> int:
    out = os.path.abspath(options.out)
    try:
        os.makedirs(out, exist_ok=True)
    except OSError as error:
        print(f"cannot create {out}: {error.strerror}", file=sys.stderr)
        return 1
    files, outcomes = expand(options.sources)
    work, refused = plan(files, out)
    outcomes += refused
    # A file named on the command line was asked for: never just skipped.
    named = {os.path.abspath(source) for source in options.sources
             if not os.path.isdir(source)}
    arguments = (work, options.colors, options.key, options.reduction)
    if client is not None:
        running = run_on_dask(*arguments, client)
    elif options.jobs > 1:
        running = run_in_processes(*arguments, options.jobs)
    else:
        running = run_here(*arguments)
    outcomes += list(progress(running, len(work)))
    outcomes = [Outcome(o.source, FAILED, o.detail) if o.status == SKIPPED and o.source in named
                else o for o in outcomes]
    summary(outcomes, print)
    return 1 if any(outcome.status == FAILED for outcome in outcomes) else 0
