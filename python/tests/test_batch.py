"""python -m daz convert: outputs equal the commands', here, in processes
and on a Dask cluster; failures and skips reported; exit codes."""

import os
import random
import signal
import shutil
import socket
import subprocess
import sys

import pytest
from PIL import Image

import daz
from conftest import PICTURES, REPO, command, grey_twins, known_format, picture, reference
import daz.batch
from daz.batch import main, parse_key

KEY, COLORS = 0x1F2E, 2  # every palette here has 2 entries or more
REDUCED = {"truecolour", "onebit"}  # no palette: reduced, as rgbdaz reduces them


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """63 entries: 8- and 4-bit bitmaps, indexed PNGs of 1 to 8 bits, a PGM
    (which only the library reads), images without a palette, and bad ones
    (53 convert; files named as images that aren't fail, other files are
    skipped), a link loop, a link to nothing and a FIFO; with what the
    commands write for each image (None: refused), for the PGM what pngdaz
    writes for its twin PNG."""
    folder = tmp_path_factory.mktemp("sources")
    twins = tmp_path_factory.mktemp("twins")
    rng = random.Random(9)
    for n in range(24):
        entries = rng.choice([2, 4, 16, 40, 256])
        size = (rng.randrange(1, 40), rng.randrange(1, 30))
        image = Image.frombytes("P", size, bytes(rng.randrange(entries)
                                                 for _ in range(size[0] * size[1])))
        image.putpalette(bytes(rng.randrange(256) for _ in range(3 * entries)))
        image.save(folder / f"png{n}.png")
        image.save(folder / f"bmp{n}.bmp")  # 8 bits a pixel
    sample4 = (REPO / "samples/sample4.bmp").read_bytes()
    (folder / "four.bmp").write_bytes(sample4)
    (folder / "cut.bmp").write_bytes(sample4[:300])                 # ends in the pixels
    (folder / "header.bmp").write_bytes(sample4[:30])               # ends in the header
    (folder / "broken.png").write_bytes((folder / "png0.png").read_bytes()[:60])
    Image.new("RGB", (3, 3)).save(folder / "truecolour.png")       # no palette
    Image.new("1", (8, 2)).save(folder / "onebit.bmp")             # 1 bit a pixel
    (folder / "notes.txt").write_text("not an image")              # skipped
    (folder / "data.bin").write_bytes(bytes(range(256)))           # skipped
    (folder / "empty.png").write_bytes(b"")                         # failed: named an image
    (folder / "png5.bmp").write_text("not an image")  # failed: png5.png keeps png5.daz
    (folder / "loop").symlink_to("loop")                             # failed
    (folder / "nowhere.bmp").symlink_to("missing.bmp")               # failed
    os.mkfifo(folder / "pipe.png")                                   # skipped, never opened
    (folder / "subfolder").mkdir()                                   # not counted
    grey_twins(folder / "greys.pgm", twins / "greys.png", 29, 7, 254)
    (folder / "short.pgm").write_bytes((folder / "greys.pgm").read_bytes()[:-1])  # failed
    expected = {}
    out = tmp_path_factory.mktemp("reference")
    for source in sorted(folder.iterdir()):
        if not source.is_file():
            continue
        start = source.read_bytes()[:2]
        if start == b"P5":  # no command reads a PGM: pngdaz's file of its twin, if it has one
            twin = twins / (source.stem + ".png")
            expected[source.stem] = reference("pngdaz", twin, out / (source.stem + ".daz"),
                                              COLORS, KEY) if twin.exists() else None
            continue
        if start not in (b"BM", b"\x89P"):
            continue
        command = "rgbdaz" if source.stem in REDUCED else "pngdaz" if start == b"\x89P" else "orvx"
        expected[source.stem] = reference(command, source, out / (source.stem + ".daz"),
                                          COLORS, KEY)
    return folder, expected


@pytest.fixture(scope="module")
def cluster():
    distributed = pytest.importorskip("distributed")
    import dask
    # No time limit on the way to the scheduler that a busy machine could reach.
    with dask.config.set({"distributed.comm.timeouts.connect": "1h"}), \
            distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                     dashboard_address=":0") as local:
        yield local.scheduler_address


@pytest.mark.parametrize("mode", ["here", "jobs", "dask"])
def test_a_batch_writes_what_the_commands_write(corpus, tmp_path, capsys, request, mode):
    folder, expected = corpus
    extra = {"here": [], "jobs": ["--jobs", "2"],
             "dask": ["--scheduler", request.getfixturevalue("cluster") if mode == "dask"
                      else ""]}[mode]
    (tmp_path / "out" / "bmp3.daz").mkdir(parents=True)  # an output that can't be written
    status = main(["convert", str(folder), "--out", str(tmp_path / "out"), "--colors",
                   str(COLORS), "--key", f"{KEY:x}"] + extra)
    printed = capsys.readouterr().out
    written = {path.stem: path.read_bytes() for path in (tmp_path / "out").iterdir()
               if path.is_file()}
    assert written == {stem: data for stem, data in expected.items()
                       if data is not None and stem != "bmp3"}
    refused = {stem for stem, data in expected.items() if data is None}
    assert {"broken", "header", "short"} <= refused and not REDUCED & refused
    assert "greys" in written and len(written) == 52
    assert status == 1
    # every entry but the subfolder counted once
    counts = {line.split(":")[0]: int(line.split()[1]) for line in printed.splitlines()
              if not line.startswith(" ")}
    assert counts == {"converted": 52, "failed": len(refused) + 5, "skipped": 3}
    assert "converted: 52 (2 reduced, " in printed
    listed = {line.split(": ")[0].rsplit("/", 1)[1].split(".")[0]
              for line in printed.splitlines() if line.startswith("  ")}
    assert listed == refused | {"notes", "data", "empty", "png5", "loop", "nowhere", "pipe",
                                "bmp3"}
    # what failed on a worker, and why
    assert f"bmp3.bmp: output file cannot be created: {tmp_path}/out/bmp3.daz (Is a directory)" \
        in printed
    assert "loop: input file cannot be opened (Too many levels of symbolic links)" in printed
    assert "pipe.png: not a regular file" in printed
    assert "empty.png: not an image format this library converts" in printed.split("skipped:")[0]
    assert "notes.txt: not an image format this library converts" in printed.split("skipped:")[1]


@pytest.mark.parametrize("argv", [
    ["convert", "x.bmp", "--out", "o", "--key", "zz"],
    ["convert", "x.bmp", "--out", "o", "--key", "10000"],
    ["convert", "x.bmp", "--out", "o", "--key", "-1"],
    ["convert", "x.bmp", "--out", "o", "--colors", "-3"],
    ["convert", "x.bmp", "--out", "o", "--jobs", "0"],
    ["convert", "x.bmp", "--out", "o", "--palette", "missing.png"],
    ["convert", "x.bmp", "--out", "o", "--palette", "x.bmp", "--colors", "4"],
    ["convert", "x.bmp", "--out", "o", "--scheduler", "nonsense"],
    ["convert", "x.bmp", "--out", "o", "--scheduler", "unknown://host:8786"],
    ["convert", "x.bmp"],
    ["convert", "--out", "o"],
    [],
])
def test_a_wrong_command_line_exits_with_2(tmp_path, monkeypatch, capsys, argv):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(SystemExit) as caught:
        main(argv)
    assert caught.value.code == 2
    assert not (tmp_path / "o").exists()
    assert capsys.readouterr().err.splitlines()[-1].startswith("python -m daz")


# options; what every image gets: the rgbdaz options and colours, or None for
# the palette images' commands and rgbdaz for the others
BATCH_REDUCTIONS = [
    ([], None),
    (["--colors", "16"], None),
    (["--dither", "--colors", "16"], (("-d",), 16)),
    (["--palette", "palette.png"], (("-p", "palette.png"), 0)),
    (["--palette", "palette.png", "--dither", "--jobs", "2"], (("-d", "-p", "palette.png"), 0)),
    (["--palette", "palette.png", "--colors", "3"], (("-p", "palette.png"), 3)),  # 3 of 5
]


@pytest.mark.parametrize("options,every", BATCH_REDUCTIONS)
def test_photos_are_reduced_and_palette_images_converted_as_before(tmp_path, capsys, options,
                                                                   every):
    from conftest import few_colours, photo
    photos = tmp_path / "photos"
    photos.mkdir()
    Image.fromarray(photo(40, 30)).save(photos / "rgb.png")
    Image.fromarray(photo(17, 9, channels=4)).save(photos / "rgba.png")
    Image.fromarray(photo(21, 8)).save(photos / "rgb24.bmp")
    Image.fromarray(photo(21, 8)).convert("L").save(photos / "grey.png")
    Image.fromarray(few_colours(9, 9, 6)).convert("P").save(photos / "indexed.png")
    shutil.copy(REPO / "samples/sample8.bmp", photos / "sample8.bmp")
    (photos / "old.daz").write_bytes(daz.encode(bytes(4), bytes(6), width=2, height=2))
    Image.fromarray(few_colours(3, 2, 6)).save(tmp_path / "palette.png")  # 5 colours, no PLTE
    options = [str(tmp_path / o) if o == "palette.png" else o for o in options]
    assert main(["convert", str(photos), "--out", str(tmp_path / "out")] + options) == 0
    colors = int(options[options.index("--colors") + 1]) if "--colors" in options else 0
    reduced = 0
    for source in sorted(photos.iterdir()):
        if source.suffix == ".daz":  # skipped, reduced or not
            assert not (tmp_path / "out" / source.name).exists()
            continue
        flags, count = every or ((), colors)
        palette_image = source.stem in ("indexed", "sample8")
        if every is None and palette_image:
            made = reference("pngdaz" if source.suffix == ".png" else "orvx", source,
                             tmp_path / "ref.daz", colors)
        else:
            made = reference("rgbdaz", source, tmp_path / "ref.daz", count,
                             options=[tmp_path / f if f == "palette.png" else f for f in flags])
            reduced += 1
        assert (tmp_path / "out" / (source.stem + ".daz")).read_bytes() == made, source.name
    assert f"converted: 6 ({reduced} reduced" in capsys.readouterr().out


def closed_port() -> str:
    with socket.socket() as listener:
        listener.bind(("127.0.0.1", 0))
        return f"tcp://127.0.0.1:{listener.getsockname()[1]}"


def interrupt_after_one(convert_one):
    def convert_then_interrupt(*args):
        convert_one(*args)
        raise KeyboardInterrupt
    return convert_then_interrupt


# extra arguments, what goes wrong, status, the one line on standard error
ONE_LINE = [
    (lambda: ["--scheduler", closed_port()], None, 1, "cannot reach the scheduler at tcp://"),
    (lambda: [], interrupt_after_one, 130, "interrupted"),
]


@pytest.mark.parametrize("extra,patch,status,line", ONE_LINE)
def test_a_run_that_cannot_go_on_says_why_in_one_line(tmp_path, monkeypatch, capsys, extra,
                                                      patch, status, line):
    if patch is not None:
        monkeypatch.setattr("daz.batch.convert_one", patch(daz.batch.convert_one))
    extra = extra()
    if "--scheduler" in extra:
        pytest.importorskip("distributed")  # its configuration with it
        import dask
        monkeypatch.setitem(dask.config.config["distributed"]["comm"]["timeouts"], "connect",
                            "1s")
    for name in ("a", "b"):
        shutil.copy(REPO / "samples/sample8.bmp", tmp_path / f"{name}.bmp")
    assert main(["convert", str(tmp_path / "a.bmp"), str(tmp_path / "b.bmp"), "--out",
                 str(tmp_path / "out")] + extra) == status
    printed = capsys.readouterr()
    assert printed.out == "" and len(printed.err.splitlines()) == 1
    assert line in printed.err
    # the file converted before the interruption is whole, and no temporary
    # file; a scheduler that can't be reached: nothing made
    made = os.listdir(tmp_path / "out") if (tmp_path / "out").exists() else None
    assert made == (["a.daz"] if status == 130 else None)


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_ctrl_c_ends_a_run_with_one_line_and_no_temporary_file(tmp_path, jobs):
    """SIGINT while the library waits for the source, a FIFO: here, or in a
    worker."""
    source = tmp_path / "slow.bmp"
    os.mkfifo(source)
    run = subprocess.Popen([sys.executable, "-m", "daz", "convert", str(source), "--out",
                            str(tmp_path / "out"), "--jobs", jobs], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, start_new_session=True)
    with open(source, "wb"):  # returns once the library opened the source
        os.killpg(run.pid, signal.SIGINT)  # Ctrl-C: the whole foreground group
    out, err = run.communicate()  # the FIFO's end: the library's call returns
    assert (run.returncode, out, err) == (130, b"", b"interrupted\n")
    assert os.listdir(tmp_path / "out") == []


def test_same_names_and_all_good(tmp_path, capsys):
    for folder in ("a", "b"):
        (tmp_path / folder).mkdir()
        shutil.copy(REPO / "samples/sample8.bmp", tmp_path / folder / "s.bmp")
    assert main(["convert", str(tmp_path / "a"), "--out", str(tmp_path / "out"),
                 "--key", "0x1f2e"]) == 0
    assert main(["convert", str(tmp_path / "a/s.bmp"), str(tmp_path / "b/s.bmp"), "--out",
                 str(tmp_path / "out")]) == 1
    assert "s.daz comes from" in capsys.readouterr().out


@pytest.mark.parametrize("text", ["1f2e", "0x1F2E", " 1f", "\t0Xab\n", "+7", "ffff", "0"])
def test_a_key_is_read_as_orvx_reads_it(tmp_path, text):
    expected = reference("orvx", REPO / "samples/sample8.bmp", tmp_path / "ref.daz")
    done = subprocess.run([command("orvx"), "-c", str(REPO / "samples/sample8.bmp"),
                           str(tmp_path / "x.daz"), "0", text], stdout=subprocess.DEVNULL)
    assert done.returncode == 0 and expected is not None
    assert parse_key(text) == daz.inspect(tmp_path / "x.daz").key


# Files of a folder, or named on the command line: what each gives. A
# format of PICTURES converts where the library reads it (daz.formats()),
# else fails: it looks like an image, by its name or its first bytes.
NOT_PICTURES = [
    ("notes.txt", b"not an image", False, "skipped"),
    ("notes.txt", b"not an image", True, "failed"),      # asked for by name
    ("photo.heic", b"a lost photo", False, "failed"),  # an image's name, whatever the build
    ("old.daz", None, False, "skipped"),                 # the batch's own kind
    ("old.daz", None, True, "failed"),
    ("photo.dat", "photo.jpg", False, None),            # a JPEG by content alone
]


def batch_rows():
    rows = [(name, name, False, None) for name, _format, _mode, _options in PICTURES]
    return rows + [(name, name, True, None) for name, _f, _m, _o in PICTURES[:2]] + NOT_PICTURES


@pytest.mark.parametrize("name,content,named,status", batch_rows())
def test_a_file_the_library_cannot_read_fails_when_it_looks_like_an_image(
        tmp_path, capsys, name, content, named, status):
    folder = tmp_path / "in"
    folder.mkdir()
    made = next(((picture_name, fmt, mode, options)
                 for picture_name, fmt, mode, options in PICTURES if picture_name == content),
                None)
    if made is not None:
        picture(tmp_path / content, made[2], made[3])
        (tmp_path / content).rename(folder / name)
        known = known_format(made[1])
        readable = known is not None and (known.loads or known.converts)
        status = "converted" if readable else "failed" if named or name == content else "skipped"
    elif content is None:
        (folder / name).write_bytes(daz.encode(bytes(4), bytes(6), width=2, height=2))
    else:
        (folder / name).write_bytes(content)
    source = folder / name if named else folder
    code = main(["convert", str(source), "--out", str(tmp_path / "out")])
    printed = capsys.readouterr().out
    assert f"{status}: 1" in printed.splitlines()[{"converted": 0, "failed": 1,
                                                   "skipped": -2}[status]]
    assert code == (1 if status == "failed" else 0)
    if status != "converted":
        assert f"  {folder / name}: not an image format this library converts" in printed
        assert not (tmp_path / "out").exists() or not os.listdir(tmp_path / "out")
