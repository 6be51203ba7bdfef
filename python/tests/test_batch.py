"""python -m daz convert: outputs equal the commands', here, in processes
and on a Dask cluster; failures and skips reported; exit codes."""

import random
import shutil

import pytest
from PIL import Image

from conftest import REPO, reference
from daz.batch import main

KEY, COLORS = 0x1F2E, 2  # every palette here has 2 entries or more


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """57 sources: 8- and 4-bit bitmaps, indexed PNGs of 1 to 8 bits, and
    bad ones (50 convert); with what the commands write for each (None: refused)."""
    folder = tmp_path_factory.mktemp("sources")
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
    (folder / "empty.png").write_bytes(b"")                         # skipped
    expected = {}
    out = tmp_path_factory.mktemp("reference")
    for source in sorted(folder.iterdir()):
        start = source.read_bytes()[:2]
        if start not in (b"BM", b"\x89P"):
            continue
        command = "pngdaz" if start == b"\x89P" else "orvx"
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
    status = main(["convert", str(folder), "--out", str(tmp_path / "out"), "--colors",
                   str(COLORS), "--key", f"{KEY:x}"] + extra)
    printed = capsys.readouterr().out
    written = {path.stem: path.read_bytes() for path in (tmp_path / "out").iterdir()}
    assert written == {stem: data for stem, data in expected.items() if data is not None}
    refused = {stem for stem, data in expected.items() if data is None}
    assert {"broken", "header", "onebit", "truecolour"} <= refused and len(written) == 50
    assert status == 1
    assert f"converted: {len(written)}" in printed and "skipped: 3" in printed
    assert f"failed: {len(refused)}" in printed
    failed = {line.split(": ")[0].rsplit("/", 1)[1].split(".")[0]
              for line in printed.splitlines() if line.startswith("  ")}
    assert failed == refused | {"notes", "data", "empty"}
    assert "truecolour.png: PNG without a palette" in printed  # the library's reason


@pytest.mark.parametrize("argv", [
    ["convert", "x.bmp", "--out", "o", "--key", "zz"],
    ["convert", "x.bmp", "--out", "o", "--key", "10000"],
    ["convert", "x.bmp", "--out", "o", "--key", "-1"],
    ["convert", "x.bmp", "--out", "o", "--colors", "-3"],
    ["convert", "x.bmp", "--out", "o", "--jobs", "0"],
    ["convert", "x.bmp"],
    ["convert", "--out", "o"],
    [],
])
def test_a_wrong_command_line_exits_with_2(tmp_path, monkeypatch, argv):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(SystemExit) as caught:
        main(argv)
    assert caught.value.code == 2
    assert not (tmp_path / "o").exists()


def test_same_names_and_all_good(tmp_path, capsys):
    for folder in ("a", "b"):
        (tmp_path / folder).mkdir()
        shutil.copy(REPO / "samples/sample8.bmp", tmp_path / folder / "s.bmp")
    assert main(["convert", str(tmp_path / "a"), "--out", str(tmp_path / "out"),
                 "--key", "0x1f2e"]) == 0
    assert main(["convert", str(tmp_path / "a/s.bmp"), str(tmp_path / "b/s.bmp"), "--out",
                 str(tmp_path / "out")]) == 1
    assert "s.daz comes from" in capsys.readouterr().out
