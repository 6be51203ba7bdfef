"""The web page in headless Chromium, served by http.server on 127.0.0.1.

Files go in through the page's file input; what it offers for download, and
the lines it shows, must be what the build machine's commands (orvx -c,
pngdaz, dazbmp, dazpng) write and print for the same file and arguments.
"""
from __future__ import annotations

import atexit
import base64
import functools
import hashlib
import http.server
import os
import re
import shutil
import subprocess
import tempfile
import threading
import time
import warnings
from pathlib import Path

import pytest
from PIL import Image
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

WEB = Path(os.environ["ORVX_WEB_DIR"])
REFERENCE = Path(os.environ["ORVX_REFERENCE_BUILD"])
SOURCE = Path(os.environ["ORVX_SOURCE_DIR"])
SUITE = Path(os.environ.get("ORVX_BMPSUITE", SOURCE / "tests/data/bmpsuite"))
WORK = Path(tempfile.mkdtemp(prefix="orvx-web-"))
# 64 MiB bitmaps and their daz files, and sparse files of 2 and 4 GiB.
atexit.register(shutil.rmtree, WORK, ignore_errors=True)

# How long to wait for the page's next state, in seconds: no measure of
# anything, only an end to a hang, past what the slowest busy machine needs
# (ctest's TIMEOUT for these tests ends a hang first).
PATIENCE = 3600

# (count, key) as typed, taken in turn by the files of the tables below.
ARGUMENTS = [("0", "0"), ("200", "1f2e"), ("3", "0xBEEF"), ("1", "ffff"), ("abc", "zz"),
             ("-1", "0"), ("300", "12345"), ("16", "7")]


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format: str, *args: object) -> None:  # noqa: A002
        pass


def serve(directory: Path) -> http.server.ThreadingHTTPServer:
    handler = functools.partial(QuietHandler, directory=str(directory))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


@pytest.fixture(scope="module")
def url():
    server = serve(WEB)
    yield f"http://127.0.0.1:{server.server_address[1]}/index.html"
    server.shutdown()


@pytest.fixture(scope="module")
def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--window-size=1100,1300", "--allow-file-access-from-files"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(PATIENCE)
    driver.set_page_load_timeout(PATIENCE)
    yield driver
    driver.quit()


def open_page(browser, address: str) -> None:
    browser.get(address)
    WebDriverWait(browser, PATIENCE).until(
        lambda b: b.execute_script("return document.body.dataset.state") == "ready")


def load(browser, path: Path, colors: str = "0", key: str = "0", options: tuple = ()) -> None:
    """Types the arguments, sets dithering and the palette file as rgbdaz's
    options (-d, -p FILE) say, opens the file and waits for the page's
    result."""
    for field, value in (("colors", colors), ("key", key)):
        element = browser.find_element(By.ID, field)
        element.clear()
        element.send_keys(value)
    dither = browser.find_element(By.ID, "dither")
    if dither.is_selected() != ("-d" in options):
        dither.click()
    browser.find_element(By.ID, "no-palette").click()
    if "-p" in options:
        palette = Path(options[options.index("-p") + 1])
        browser.find_element(By.ID, "palette-file").send_keys(str(palette.resolve()))
    pick(browser, path)


def pick(browser, path: Path) -> None:
    """Opens the file through the page's input and waits for its result."""
    browser.execute_script("document.body.dataset.state = 'waiting'")
    browser.find_element(By.ID, "file").send_keys(str(path.resolve()))
    WebDriverWait(browser, PATIENCE).until(
        lambda b: b.execute_script("return document.body.dataset.state") == "done")


def pick_gone(browser, path: Path) -> None:
    """Picks the file, removes it, then hands it to the page's input, whose
    read then fails, and waits for the page's result."""
    stash = browser.execute_script(
        "const stash = document.createElement('input'); stash.type = 'file';"
        "document.body.append(stash); return stash;")
    stash.send_keys(str(path.resolve()))
    path.unlink()
    browser.execute_script(
        """document.body.dataset.state = 'waiting';
        const moved = new DataTransfer();
        moved.items.add(arguments[0].files[0]);
        arguments[0].remove();
        const input = document.getElementById('file');
        input.files = moved.files;
        input.dispatchEvent(new Event('change'));""", stash)
    WebDriverWait(browser, 120).until(
        lambda b: b.execute_script("return document.body.dataset.state") == "done")


def fact_value(browser, label: str) -> str | None:
    """What the page's facts give for label, None when absent."""
    return browser.execute_script(
        """const term = [...document.querySelectorAll('#facts dt')]
          .find((dt) => dt.textContent === arguments[0]);
        return term ? term.nextElementSibling.textContent : null;""", label)


def status_lines(browser) -> list[str]:
    return [p.text for p in browser.find_elements(By.CSS_SELECTOR, "#status p")]


def downloads(browser) -> dict[str, bytes]:
    """Each download link's file name and bytes, the links found by role."""
    found = {}
    for link in browser.find_elements(By.CSS_SELECTOR, "#downloads a[download]"):
        encoded = browser.execute_async_script(
            """const done = arguments[arguments.length - 1];
            fetch(arguments[0]).then((r) => r.arrayBuffer()).then((buffer) => {
              const bytes = new Uint8Array(buffer);
              let text = '';
              for (let i = 0; i < bytes.length; i += 0x8000) {
                text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
              }
              done(btoa(text));
            });""", link.get_attribute("href"))
        found[link.get_attribute("download")] = base64.b64decode(encoded)
    return found


def native(command: str, before: list[str], after: list[str] = []) -> tuple[list[str], bytes | None]:
    """The command's non-empty lines before its usage text, and the file it wrote."""
    out = WORK / "native.out"
    out.unlink(missing_ok=True)
    run = subprocess.run([str(REFERENCE / command), *before, str(out), *after],
                         capture_output=True, text=True, check=False)
    lines = []
    for line in run.stdout.splitlines():
        if line.startswith(("Orvanti", "Uso:")):
            break
        if line:
            lines.append(line)
    return lines, out.read_bytes() if out.exists() else None


def stem(path: Path) -> str:
    return path.name.rsplit(".", 1)[0] if "." in path.name else path.name


def indexed_pngs() -> list[Path]:
    """Indexed PNGs of each bit depth, an interlaced one, a grey one."""
    made = []
    for bits, colours in ((1, 2), (2, 4), (4, 16), (8, 256)):
        image = Image.new("P", (37, 11))
        image.putpalette([(i * 53 + c * 90) % 256 for i in range(colours) for c in range(3)])
        image.putdata([(x * 7 + y * 3) % colours for y in range(11) for x in range(37)])
        path = WORK / f"indexed{bits}.png"
        image.save(path, bits=bits)
        made.append(path)
    Image.open(made[-1]).save(WORK / "interlaced.png", interlace=1)
    Image.new("L", (5, 5), 9).save(WORK / "grey.png")
    return made + [WORK / "interlaced.png", WORK / "grey.png"]


def photos() -> list[Path]:
    """Truecolour PNGs, with and without alpha, of some thousand colours."""
    made = []
    for mode in ("RGB", "RGBA"):
        image = Image.new(mode, (61, 23))
        image.putdata([(x * 4, y * 11, (x * y) % 256, 255 - x * 3)[:len(mode)]
                       for y in range(23) for x in range(61)])
        made.append(WORK / f"foto-{mode.lower()}.png")
        image.save(made[-1])
    return made


def palette_files() -> list[Path]:
    """Files to map onto: a palette PNG, a daz file, a bitmap, and a text
    file that gives no palette."""
    png = WORK / "tavolozza.png"
    image = Image.new("P", (8, 1))
    image.putpalette([0, 0, 0, 255, 255, 255, 230, 30, 30, 30, 160, 40, 20, 40, 200,
                      250, 220, 30, 120, 120, 120, 90, 40, 10])
    image.putdata(list(range(8)))
    image.save(png)
    daz = WORK / "tavolozza.daz"
    subprocess.run([str(REFERENCE / "orvx"), "-c", str(SOURCE / "samples/sample4.bmp"), str(daz)],
                   capture_output=True, check=True)
    text = WORK / "non-tavolozza.txt"
    text.write_text("niente colori\n")
    return [png, daz, SOURCE / "samples/sample8.bmp", text]


# The commands' saved hostile daz files that hold no daz image: the page
# takes them by their content, not as daz files (the empty one is in
# bad_files, the bitmap one in image_cases).
NOT_DAZ = ("empty", "not-daz")


def image_cases() -> list[tuple[Path, str, str]]:
    files = [SOURCE / "samples/sample4.bmp", SOURCE / "samples/sample8.bmp"]
    files += sorted(p for folder in "gqb" for p in (SUITE / folder).glob("*.bmp"))
    files += indexed_pngs() + sorted((SOURCE / "fuzz/regressions/pngdaz").iterdir())
    # The content tells the format, never the name.
    disguised = WORK / "png-travestito.bmp"
    disguised.write_bytes((WORK / "indexed8.png").read_bytes())
    files.append(disguised)
    files.append(WORK / "dazbmp-not-daz.daz")
    files[-1].write_bytes((SOURCE / "fuzz/regressions/dazbmp/not-daz").read_bytes())
    files += photos()
    cases = [(SOURCE / "samples/sample8.bmp", colors, key, ()) for colors, key in ARGUMENTS]
    cases += [(path, *ARGUMENTS[i % len(ARGUMENTS)], ()) for i, path in enumerate(files)]
    # Dithering, and palettes to map onto: every image reduced, as rgbdaz
    # reduces it, palette images too.
    png, daz, bmp, text = palette_files()
    for path, colors, options in (
            (WORK / "foto-rgb.png", "16", ("-d",)), (WORK / "foto-rgba.png", "0", ("-d",)),
            (SOURCE / "samples/sample8.bmp", "20", ("-d",)),
            (WORK / "foto-rgb.png", "0", ("-p", png)), (WORK / "foto-rgba.png", "0", ("-p", daz)),
            (WORK / "indexed8.png", "0", ("-d", "-p", bmp)),
            (SOURCE / "samples/sample4.bmp", "0", ("-p", png)),
            (WORK / "foto-rgb.png", "0", ("-p", text))):
        cases.append((path, colors, "1f2e", options))
    return cases


# What orvx -c and pngdaz say of an image without a palette: the page then
# reduces it, as rgbdaz does.
NO_PALETTE = ("Puoi convertire solo PNG con tavolozza", "Puoi convertire solo BMP a 16 o 256")


def same_outcome(browser, got, path, lines, daz, case):
    """Asserts the page did with path what the command did: no download and
    its first line after the file's name (daz None), or the same daz file and
    lines. True when a file was made."""
    if daz is None:
        assert got == {}, case
        assert status_lines(browser) == [f"{path.name}: {lines[0]}"], case
        return False
    assert got == {f"{stem(path)}.daz": daz}, case
    assert status_lines(browser) == lines, case
    return True


def test_images_give_the_commands_daz_files_and_lines(browser, url):
    open_page(browser, url)
    converted = reduced = 0
    for path, colors, key, options in image_cases():
        png = path.read_bytes()[:4] == b"\x89PNG"
        if options:
            lines, daz = [], None
        elif png:
            lines, daz = native("pngdaz", [str(path)], [colors, key])
        else:
            lines, daz = native("orvx", ["-c", str(path)], [colors, key])
        made = options or (daz is None and lines[0].startswith(NO_PALETTE))
        if made:
            lines, daz = native("rgbdaz", [*map(str, options), str(path)], [colors, key])
        load(browser, path, colors, key, options)
        got = downloads(browser)
        case = f"{path.name} {colors} {key} {options}"
        told = "PNG" if png else "BMP" if path.read_bytes()[:2] == b"BM" else None
        assert fact_value(browser, "Formato") == told, case
        if same_outcome(browser, got, path, lines, daz, case):
            converted += 1
            if made:  # the preview is the daz file made
                assert_preview(browser, daz)
                reduced += 1
    assert converted >= 30 and reduced >= 10


def grey_twins(width: int, height: int, maxval: int) -> tuple[Path, Path]:
    """A binary PGM, an input only the library reads, and its twin, the
    indexed PNG of its greys (entry i round(i * 255 / maxval)), of which
    pngdaz makes the daz file daz_convert makes of the PGM."""
    samples = bytes((x * 7 + y * 13) % (maxval + 1) for y in range(height) for x in range(width))
    pgm, twin = WORK / f"grigi{maxval}.pgm", WORK / f"grigi{maxval}.png"
    pgm.write_bytes(b"P5\n# grigi\n%d %d\n%d\n" % (width, height, maxval) + samples)
    image = Image.frombytes("P", (width, height), samples)
    image.putpalette(bytes(int(i * 255 / maxval + 0.5) for i in range(maxval + 1) for _ in "rgb"))
    image.save(twin)  # 8 bits a pixel: maxval 16 or more
    return pgm, twin


def test_a_pgm_gives_its_twin_pngs_daz_file_and_lines(browser, url):
    """An input format added to the library alone reaches the page."""
    open_page(browser, url)
    for (width, height, maxval), (colors, key) in (((300, 41, 254), ("200", "1f2e")),
                                                   ((5, 5, 255), ("300", "7"))):
        pgm, twin = grey_twins(width, height, maxval)
        lines, daz = native("pngdaz", [str(twin)], [colors, key])
        assert (daz is None) == (colors == "300"), lines  # 256 greys: 300 colours refused
        load(browser, pgm, colors, key)
        assert downloads(browser) == ({f"{stem(pgm)}.daz": daz} if daz else {}), pgm.name
        assert status_lines(browser) == (lines if daz else [f"{pgm.name}: {lines[0]}"]), pgm.name
    deep = WORK / "grigi16bit.pgm"
    deep.write_bytes(b"P5 4 2 65535\n" + bytes(16))
    load(browser, deep)
    assert downloads(browser) == {}
    assert status_lines(browser) == [
        "grigi16bit.pgm: Il file non sembra un PGM valido - Operazione non riuscita"]


def library_reads(browser, name: str) -> bool:
    """Whether the page's library reads the format itself (its formats, as
    the page lists them from daz_format_at)."""
    listed = WebDriverWait(browser, PATIENCE).until(
        lambda b: b.execute_script("return document.body.dataset.formats"))
    return any(entry.split(":")[0] == name for entry in listed.split())


def browser_cases() -> list[tuple[Path, Path | None, str, str, tuple]]:
    """Images of formats the page's library doesn't read, the browser's to
    decode: (file, the PNG of the pixels it decodes to or None for a JPEG,
    count, key, rgbdaz's options). Pillow's decode is the browser's, exactly,
    for a lossless WebP and a GIF."""
    image = Image.new("RGB", (61, 23))
    image.putdata([(x * 4, y * 11, (x * y) % 256) for y in range(23) for x in range(61)])
    webp = WORK / "foto.webp"
    image.save(webp, lossless=True)
    few = Image.new("P", (37, 11))
    few.putpalette([(i * 53 + c * 90) % 256 for i in range(20) for c in range(3)])
    few.putdata([(x * 7 + y * 3) % 20 for y in range(11) for x in range(37)])
    gif = WORK / "disegno.gif"
    few.save(gif)
    # Flat 8 x 8 blocks, no chroma subsampling: the block's mean alone, which
    # the browser's libjpeg-turbo and Pillow's decode alike, or nearly.
    blocks = Image.new("RGB", (64, 32))
    blocks.putdata([((x // 8) * 36, (y // 8) * 80, ((x // 8) * 29 + (y // 8) * 50) % 256)
                    for y in range(32) for x in range(64)])
    jpeg = WORK / "foto.jpg"
    blocks.save(jpeg, quality=95, subsampling=0)
    twins = {}
    for path in (webp, gif):
        twins[path] = WORK / f"{path.name}.png"
        with Image.open(path) as decoded:
            decoded.convert("RGB").save(twins[path])
    png, daz, _, text = palette_files()
    cases = [(path, twins[path], *ARGUMENTS[i % len(ARGUMENTS)], ())
             for i, path in enumerate([webp] * 4 + [gif] * 3)]
    cases += [(webp, twins[webp], "16", "1f2e", ("-d",)), (webp, twins[webp], "0", "7", ("-p", png)),
              (gif, twins[gif], "5", "0", ("-d", "-p", daz)),
              (webp, twins[webp], "0", "0", ("-p", text)), (jpeg, None, "0", "beef", ())]
    return cases


def test_images_the_browser_decodes_are_reduced_as_rgbdaz_reduces_their_pixels(browser, url):
    open_page(browser, url)
    gif_by_library = library_reads(browser, "GIF")
    for path, twin, colors, key, options in browser_cases():
        case = f"{path.name} {colors} {key} {options}"
        by_library = path.suffix == ".gif" and gif_by_library
        if by_library and options:
            lines, daz = native("rgbdaz", [*map(str, options), str(path)], [colors, key])
        elif by_library:
            if not (REFERENCE / "imgdaz").exists():
                continue
            lines, daz = native("imgdaz", [str(path)], [colors, key])  # its indices kept
        elif twin is not None:
            lines, daz = native("rgbdaz", [*map(str, options), str(twin)], [colors, key])
        load(browser, path, colors, key, options)
        got = downloads(browser)
        if twin is None:  # a JPEG: its pixels within 2 of Pillow's decode
            made = got[f"{stem(path)}.daz"]
            width, rows, rgba = daz_pixels(made)
            decoded = Image.open(path).convert("RGBA")
            assert (width, rows) == decoded.size, case
            assert max(abs(a - b) for a, b in zip(rgba, decoded.tobytes())) <= 2, case
            assert made[12:14] == (0xBEEF).to_bytes(2, "little"), case
            continue
        if same_outcome(browser, got, path, lines, daz, case) and (not by_library or options):
            assert_preview(browser, daz)  # the preview is the daz file made
        assert fact_value(browser, "Formato") == ("GIF" if by_library else None), case
        assert fact_value(browser, "Letta da") == (None if by_library else "browser"), case
    # What neither reads: the library's line naming the format, or, for a
    # format it doesn't know, orvx -c's for a file of none.
    cut_gif, bad_gif, bad_jpeg = WORK / "tagliato.gif", WORK / "rotto.gif", WORK / "rotto.jpg"
    gif = (WORK / "disegno.gif").read_bytes()
    cut_gif.write_bytes(gif[:40])
    image_at = 13 + 3 * 2 ** ((gif[10] & 7) + 1)  # past the global colour table
    assert gif[image_at] == 0x2C  # the image's descriptor, then its LZW code size
    bad_gif.write_bytes(gif[:image_at + 10] + b"\x0c" + gif[image_at + 11:])
    bad_jpeg.write_bytes(b"\xff\xd8\xff\xe0" + bytes(60))
    for path in (cut_gif, bad_gif, bad_jpeg):
        message = "Il file non sembra un BMP valido - Operazione non riuscita"
        if path.suffix == ".gif" and gif_by_library:
            if not (REFERENCE / "imgdaz").exists():
                continue
            message = native("imgdaz", [str(path)])[0][0]
            assert path != bad_gif or "GIF" in message, message  # it names the format
        load(browser, path)
        assert downloads(browser) == {} and status_lines(browser) == [f"{path.name}: {message}"]
    # The rows left out, and why: said, not failed.
    if not gif_by_library:
        warnings.warn("GIF rows by the library skipped: this build's library doesn't read GIF"
                      " (no giflib); the browser decoded them")
    elif not (REFERENCE / "imgdaz").exists():
        warnings.warn(f"GIF rows by the library skipped: no {REFERENCE / 'imgdaz'} to compare with")


def daz_cases() -> list[Path]:
    made = []
    for name, bmp, key in (("s8", SOURCE / "samples/sample8.bmp", "1f2e"),
                           ("s4", SOURCE / "samples/sample4.bmp", "0"),
                           ("topdown", SUITE / "g/pal8topdown.bmp", "beef")):
        made.append(WORK / f"{name}.daz")
        subprocess.run([str(REFERENCE / "orvx"), "-c", str(bmp), str(made[-1]), "0", key],
                       capture_output=True, check=True)
    # A daz image named as a bitmap: the content tells the format.
    made.append(WORK / "s8-travestito.bmp")
    made[-1].write_bytes((WORK / "s8.daz").read_bytes())
    # The commands' saved hostile daz files (those holding no daz image at
    # all are image_cases').
    for folder in ("dazbmp", "dazpng"):
        for saved in sorted((SOURCE / "fuzz/regressions" / folder).iterdir()):
            if saved.name not in NOT_DAZ:
                made.append(WORK / f"{folder}-{saved.name}.daz")
                made[-1].write_bytes(saved.read_bytes())
    return made


def test_daz_files_give_dazpngs_and_dazbmps_files_and_previews(browser, url):
    open_page(browser, url)
    for path in daz_cases():
        _, png = native("dazpng", [str(path)])
        bmp_lines, bmp = native("dazbmp", [str(path)])
        load(browser, path)
        assert fact_value(browser, "Formato") == "daz", path.name
        got = downloads(browser)
        expected = {}
        if png is not None:
            expected[f"{stem(path)}.png"] = png
        if bmp is not None:
            expected[f"{stem(path)}.bmp"] = bmp
        assert got == expected, path.name
        lines = status_lines(browser)
        if png is None and bmp is None:
            assert lines == [f"{path.name}: {bmp_lines[0]}"], path.name
        else:
            assert lines == bmp_lines, path.name
            assert_preview(browser, path.read_bytes())


def assert_preview(browser, daz: bytes) -> None:
    """The canvas holds the daz indices drawn through its palette."""
    width, rows, expected = daz_pixels(daz)
    if width * rows > 1 << 25:
        return
    encoded = browser.execute_script(
        """const canvas = document.getElementById('preview');
        const bytes = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
        let text = '';
        for (let i = 0; i < bytes.length; i += 0x8000) {
          text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
        }
        return [canvas.width, canvas.height, btoa(text)];""")
    assert encoded[:2] == [width, rows]
    assert base64.b64decode(encoded[2]) == bytes(expected)


def daz_pixels(daz: bytes) -> tuple[int, int, bytes]:
    """Width, rows present and the pixels (RGBA, undefined ones magenta),
    computed here; no pixels past 2^25."""
    width, height, bits, colors, key = (int.from_bytes(daz[4:6], "little"),
                                        int.from_bytes(daz[6:8], "little", signed=True),
                                        int.from_bytes(daz[8:10], "little"),
                                        int.from_bytes(daz[10:12], "little", signed=True),
                                        int.from_bytes(daz[12:14], "little"))
    row_size = (width * bits + 31) // 32 * 4
    start = 24 + 4 * colors
    rows = min(abs(height), (len(daz) - start) // row_size)
    if width * rows > 1 << 25:
        return width, rows, b""
    a, b = key & 0xFF, key >> 8
    plain = bytearray()
    for stored in daz[start:start + rows * row_size]:
        a, b = b, (a + b) & 0xFF
        plain.append((stored - b) & 0xFF)
    palette = [tuple(daz[24 + 4 * i:27 + 4 * i]) + (255,) for i in range(colors)]
    expected = bytearray()
    for y in range(rows):
        stored_row = y if height < 0 else rows - 1 - y
        row = plain[stored_row * row_size:(stored_row + 1) * row_size]
        for x in range(width):
            index = row[x] if bits == 8 else (row[x // 2] >> (4 if x % 2 == 0 else 0)) & 15
            expected += bytes(palette[index]) if index < colors else b"\xff\x00\xff\xff"
    return width, rows, bytes(expected)


def bad_files() -> list[tuple[Path, str, bool]]:
    """(file, the first line it gets, whether it is gone once picked)."""
    text = WORK / "lettera.txt"
    text.write_text("Cara Zavel, ecco il file.\n")
    sample = (SOURCE / "samples/sample8.bmp")
    subprocess.run([str(REFERENCE / "orvx"), "-c", str(sample), str(WORK / "whole.daz")],
                   capture_output=True, check=True)
    truncated = WORK / "tagliato.daz"
    truncated.write_bytes((WORK / "whole.daz").read_bytes()[:100])
    huge = WORK / "enorme.daz"
    huge.write_bytes(b"EW\x01\x00\xff\xff\x00\x80\x08\x00\x01\x00" + bytes(12))
    # Within the format, past what the page previews: converted all the same.
    wide = WORK / "largo.daz"
    wide.write_bytes(b"EW\x01\x00\x01\x40\x01\x00\x08\x00\x01\x00" + bytes(12) + bytes(4)
                     + bytes(0x4004))
    # Sparse files past what the page takes: refused from their size alone.
    # To the module's 32-bit sizes, 4 GiB + 100 bytes would be 100 bytes.
    big_bmp = WORK / "enorme.bmp"
    big_bmp.write_bytes(sample.read_bytes()[:54 + 1024])
    big_daz = WORK / "enormissimo.daz"
    big_daz.write_bytes((WORK / "whole.daz").read_bytes()[:24 + 4 * 256])
    for path, size in ((big_bmp, "2G"), (big_daz, str((4 << 30) + 100))):
        subprocess.run(["truncate", "-s", size, str(path)], check=True)
    # No format at all: orvx -c would fail reading a bitmap's header.
    empty = WORK / "vuoto.daz"
    empty.write_bytes(b"")
    gone_bmp = WORK / "sparito.bmp"
    gone_bmp.write_bytes(sample.read_bytes())
    gone_daz = WORK / "sparito.daz"
    gone_daz.write_bytes((WORK / "whole.daz").read_bytes())
    failed = " - Operazione non riuscita"
    return [(text, "Il file non sembra un BMP valido" + failed, False),
            (truncated, "Il file e' piu' corto dell'intestazione e della tavolozza" + failed, False),
            (huge, "Il file e' piu' corto dell'intestazione e della tavolozza" + failed, False),
            (wide, "Operazione riuscita", False),
            (empty, "Il file non sembra un BMP valido" + failed, False),
            (big_bmp, "L'immagine e' troppo grande per essere tenuta in memoria" + failed, False),
            (big_daz, "L'immagine e' troppo grande per un PNG" + failed, False),
            (gone_bmp, "Errore di lettura" + failed, True),
            (gone_daz, "Errore di lettura" + failed, True)]


def test_bad_files_show_their_message_and_the_page_goes_on(browser, url):
    open_page(browser, url)
    for path, message, gone in bad_files():
        # A good file first, whose facts, preview and palette must not stay.
        load(browser, SOURCE / "samples/sample4.bmp")
        assert set(downloads(browser)) == {"sample4.daz"}, path.name
        if gone:
            pick_gone(browser, path)
        else:
            load(browser, path)
        lines = status_lines(browser)
        if message.startswith("Operazione"):
            assert message in lines[0], path.name
            assert "troppo grande" in browser.find_element(By.ID, "preview-note").text
            assert set(downloads(browser)) == {"largo.png", "largo.bmp"}
        else:
            assert lines[0] == f"{path.name}: {message}", path.name
            shown = browser.execute_script(
                "return [document.getElementById('facts').textContent,"
                " document.getElementById('preview').width,"
                " document.querySelectorAll('#palette li').length]")
            assert shown[1:] == [0, 0] and "Larghezza" not in shown[0], path.name
            assert downloads(browser) == {}, path.name
    load(browser, SOURCE / "samples/sample4.bmp")
    assert set(downloads(browser)) == {"sample4.daz"}


@pytest.mark.parametrize("scheme", ["http", "file"])
def test_no_request_leaves_the_page_after_load(browser, url, scheme):
    open_page(browser, url if scheme == "http" else (WEB / "index.html").as_uri())
    browser.get_log("performance")  # what the load itself asked for
    load(browser, SOURCE / "samples/sample8.bmp", "200", "1f2e")
    if scheme == "http":
        browser.save_screenshot(str(WEB / "screenshot.png"))
    _, daz = native("orvx", ["-c", str(SOURCE / "samples/sample8.bmp")], ["12", "beef"])
    (WORK / "net.daz").write_bytes(daz)
    load(browser, WORK / "net.daz")
    assert browser.execute_script(
        "return performance.getEntriesByType('resource').map((e) => e.name)"
        ".filter((name) => !/(daz-codec|orvx-web)\\.(js|css)$/.test(name))") == []
    requested = [m for m in map(lambda e: e["message"], browser.get_log("performance"))
                 if '"Network.requestWillBeSent"' in m]
    urls = [re.search(r'"url":"([^"]*)"', m).group(1) for m in requested]
    assert [u for u in urls if not u.startswith(("blob:", "data:"))] == []
    assert len(downloads(browser)) == 2  # the page works from this scheme too


def test_the_script_takes_the_librarys_numbers_by_daz_hs_names(browser, url):
    """The module exports daz.h's table of results; every library name the
    script uses (DAZ.NAME) is one the module exports."""
    header = (SOURCE / "include/daz/daz.h").read_text()
    results = {name: int(number)
               for name, number in re.findall(r"\bX\((DAZ_\w+), (-?\d+),", header)}
    open_page(browser, url)
    exported = dict(browser.execute_async_script(
        """const done = arguments[arguments.length - 1];
        createDazCodec().then((m) => done(Array.from({ length: m._web_constant_count() },
          (_, i) => [m.UTF8ToString(m._web_constant_name(i)), m._web_constant_value(i)])));"""))
    assert len(results) > 20 and results.items() <= exported.items()
    used = set(re.findall(r"\bDAZ\.(\w+)", (SOURCE / "web/orvx-web.js").read_text()))
    assert used and used <= exported.keys()


def test_the_footer_links_the_license(browser, url):
    open_page(browser, url)
    link = browser.find_element(By.CSS_SELECTOR, "footer a[href]")
    assert "MIT" in link.text
    browser.get(link.get_attribute("href"))
    shown = browser.find_element(By.TAG_NAME, "body").text
    assert shown.split() == (SOURCE / "LICENSE").read_text().split()


def big_bitmap(path: Path) -> None:
    """An 8192 x 8192 8-bit bitmap of a gradient with some noise."""
    width = height = 8192
    header = (b"BM" + (54 + 1024 + width * height).to_bytes(4, "little") + bytes(4)
              + (54 + 1024).to_bytes(4, "little") + (40).to_bytes(4, "little")
              + width.to_bytes(4, "little") + height.to_bytes(4, "little")
              + (1).to_bytes(2, "little") + (8).to_bytes(2, "little") + bytes(4)
              + (width * height).to_bytes(4, "little") + bytes(8) + (256).to_bytes(4, "little")
              + bytes(4))
    palette = b"".join(bytes((i, 255 - i, i // 2, 0)) for i in range(256))
    row = bytes((x // 32) % 256 for x in range(width))
    with path.open("wb") as out:
        out.write(header + palette)
        for y in range(height):
            out.write(row[y % 97:] + row[:y % 97])


def spread(times: list[float]) -> str:
    """Best, median and worst, in milliseconds."""
    ordered = sorted(times)
    return (f"{ordered[0]:.0f} / {ordered[len(ordered) // 2]:.0f} / {ordered[-1]:.0f} ms")


RUNS = 5


def test_speed_of_a_large_conversion_against_orvx(browser, url):
    bmp = WORK / "big.bmp"
    big_bitmap(bmp)
    open_page(browser, url)
    steps = []  # (from the pick to the link, reading, conversion, Blob) per run
    native_ms = []
    for _ in range(RUNS + 1):
        load(browser, bmp, "200", "1f2e")
        steps.append(browser.execute_script(
            "const d = document.body.dataset; return [d.totalMs, d.readMs, d.ms, d.blobMs].map(Number)"))
        started = time.perf_counter()
        subprocess.run([str(REFERENCE / "orvx"), "-c", str(bmp), str(WORK / "big.daz"), "200",
                        "1f2e"], capture_output=True, check=True)
        native_ms.append((time.perf_counter() - started) * 1000)
    digest = browser.execute_async_script(
        """const done = arguments[arguments.length - 1];
        fetch(document.querySelector('#downloads a[download="big.daz"]').href)
          .then((r) => r.arrayBuffer()).then((b) => crypto.subtle.digest('SHA-256', b))
          .then((d) => done(Array.from(new Uint8Array(d), (x) => x.toString(16).padStart(2, '0'))
          .join('')));""")
    assert digest == hashlib.sha256((WORK / "big.daz").read_bytes()).hexdigest()
    version = browser.capabilities.get("browserVersion", "?")
    # The floor: the same file to a link to its bytes, with no codec
    # (floor.html), on the page's thread and through a worker as the page.
    server = serve(Path(__file__).parent)
    floor = {}
    for mode in ("plain", "worker"):
        browser.get(f"http://127.0.0.1:{server.server_address[1]}/floor.html")
        browser.execute_script(f"document.body.dataset.mode = '{mode}'")
        floor[mode] = []
        for _ in range(RUNS):
            pick(browser, bmp)
            floor[mode].append(float(browser.execute_script("return document.body.dataset.totalMs")))
    server.shutdown()
    # The first file after loading maps the module's memory in: apart.
    first, warm = steps[0], steps[1:]
    total, read, convert, blob = ([run[i] for run in warm] for i in range(4))
    ratios = sorted(page / orvx for page, orvx in zip(total, native_ms[1:]))
    report = (f"8192x8192 8-bit BMP to daz, 200 colours, key 1f2e; best / median / worst of "
              f"{RUNS} runs (Chromium {version}, {cpu_model()}):\n"
              f"orvx -c, file to file: {spread(native_ms[1:])}\n"
              f"the page, from the file picked to its link: {spread(total)}\n"
              f"  reading the file into the module: {spread(read)}\n"
              f"  daz_convert in WebAssembly in a worker: {spread(convert)}\n"
              f"  making the link's Blob: {spread(blob)}\n"
              f"the page's first file after loading: {first[0]:.0f} ms\n"
              f"page / orvx -c, run by run: {ratios[0]:.1f} / {ratios[len(ratios) // 2]:.1f}"
              f" / {ratios[-1]:.1f}\n"
              f"floor, no codec, through a worker as the page: {spread(floor['worker'])}\n"
              f"floor, no codec, on the page's thread: {spread(floor['plain'])}\n")
    print(report)
    (WEB / "speed.txt").write_text(report)


def cpu_model() -> str:
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip() + f", {os.cpu_count()} cores"
    return "?"
