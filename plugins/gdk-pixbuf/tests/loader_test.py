#!/usr/bin/env python3
"""The gdk-pixbuf loader as GTK programs use it (python3-gi), with a loaders
cache, MIME database and desktop entries of its own: pixels against
daz_decode_rgba (ctypes), whole and fed in pieces, thumbnail sizes, options,
hostile input, memory; eog as GIO's application.
Usage: loader_test.py LOADER LIBDAZ QUERY_LOADERS SOURCE_DIR (77: no gi)"""
import ctypes
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

loader_path, libdaz_path, query_loaders, source = sys.argv[1:5]
plugin = os.path.join(source, "plugins", "gdk-pixbuf")
work = tempfile.TemporaryDirectory()
share = os.path.join(work.name, "share")
cache = os.path.join(work.name, "loaders.cache")
os.environ.update(GDK_PIXBUF_MODULE_FILE=cache, XDG_DATA_HOME=share, XDG_DATA_DIRS="/usr/share",
                  XDG_CONFIG_HOME=work.name, XDG_CONFIG_DIRS=work.name)
with open(cache, "w") as out:
    subprocess.run([query_loaders, loader_path], stdout=out, check=True)
# gdk-pixbuf picks a loader by the file's MIME type, from shared-mime-info.
for folder, name in (("mime/packages", f"{source}/desktop/daz.xml"),
                     ("applications", f"{plugin}/daz-eog.desktop")):
    os.makedirs(os.path.join(share, folder))
    shutil.copy(name, os.path.join(share, folder))
subprocess.run(["update-mime-database", f"{share}/mime"], check=True, stdout=subprocess.DEVNULL)
try:
    import gi
    gi.require_version("GdkPixbuf", "2.0")
    from gi.repository import GdkPixbuf, GLib
except (ImportError, ValueError) as missing:
    print("skipped, no GdkPixbuf introspection:", missing)
    sys.exit(77)

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


daz = ctypes.CDLL(libdaz_path)


class Info(ctypes.Structure):
    _fields_ = [("width", ctypes.c_uint32), ("height", ctypes.c_int32), ("rows", ctypes.c_uint32),
                ("bits", ctypes.c_int), ("colors", ctypes.c_int), ("key", ctypes.c_uint16),
                ("row_size", ctypes.c_uint32), ("pixel_offset", ctypes.c_uint64),
                ("trailing", ctypes.c_uint64), ("palette", ctypes.c_uint8 * 1024)]


def inspect(data):
    info = Info()
    return info if daz.daz_inspect(data, len(data), ctypes.byref(info)) == 0 else None


def decode_rgb(data):
    """(width, rows, RGB bytes) as daz_decode_rgba gives them, or None."""
    info, size = inspect(data), ctypes.c_size_t()
    if info is None or daz.daz_decoded_size(ctypes.byref(info), None, None, ctypes.byref(size)):
        return None
    rgba = ctypes.create_string_buffer(size.value)
    if daz.daz_decode_rgba(data, len(data), None, None, rgba, size) != 0:
        return None
    return info.width, info.rows, bytes(b for i, b in enumerate(rgba.raw) if i % 4 != 3)


def filled(call):
    """What a libdaz call that fills a buffer gives, asked its size first."""
    written = ctypes.c_size_t()
    assert call(None, ctypes.c_size_t(0), ctypes.byref(written)) == 0
    out = ctypes.create_string_buffer(written.value)
    assert call(out, written, ctypes.byref(written)) == 0
    return out.raw


def encode(width, height, bits, palette, kept, key, indices):
    flat, indices = bytes(sum(palette, ())), bytes(indices)
    return filled(lambda *out: daz.daz_encode(indices, ctypes.c_size_t(width), width, height, bits,
                                              flat, len(palette), kept, key, *out, None))


def cut(data, rows):
    """The file with rows whole rows of pixels and half of the next."""
    info = inspect(data)
    return data[:info.pixel_offset + info.row_size * rows + info.row_size // 2]


def pixbuf_rgb(pixbuf):
    width, stride, pixels = pixbuf.get_width(), pixbuf.get_rowstride(), pixbuf.get_pixels()
    return b"".join(pixels[y * stride:y * stride + 3 * width] for y in range(pixbuf.get_height()))


def write(name, data):
    open(os.path.join(work.name, name), "wb").write(data)
    return os.path.join(work.name, name)


def feed(data, piece, size=None):
    """A PixbufLoader for daz fed data in pieces: (pixbuf, error, rows the
    updates covered)."""
    loader, updated, error = GdkPixbuf.PixbufLoader.new_with_type("daz"), set(), None
    loader.connect("area-updated", lambda _l, x, y, w, h: updated.update(range(y, y + h)))
    if size:
        loader.set_size(*size)
    try:
        for start in range(0, len(data), piece):
            loader.write(data[start:start + piece])
        loader.close()
    except GLib.Error as failure:
        error = failure
    return loader.get_pixbuf(), error, updated


random.seed(25)
ramp = [(i, 255 - i, (7 * i) % 256, 0) for i in range(256)]
sample8 = encode(96, 64, 8, ramp, 200, 0x1F2E, [i * 7 % 256 for i in range(96 * 64)])
# name | daz bytes | key | colours
cases = [
    ("200 of 256 colours, bottom-up", sample8, "1f2e", "200"),
    ("4 bits, odd width, top-down, indices past 5 colours",
     encode(7, -5, 4, ramp[:16], 5, 0xBEEF, [random.randrange(16) for _ in range(35)]), "beef", "5"),
    ("8 bits, 1 x 1, bytes after the rows", encode(1, 1, 8, ramp[:3], 0, 0xFFFF, [2]) + b"x" * 99,
     "ffff", "3"),
    ("3000 x 1500, several blocks", encode(3000, 1500, 8, ramp, 0, 0xABCD,
                                           bytes(range(250)) * 18000), "abcd", "256"),
    ("bottom-up, cut short after 10 rows", cut(sample8, 10), "1f2e", "200"),
    ("top-down, cut short after 2 rows", cut(encode(9, -4, 8, ramp, 0, 7, range(36)), 2), "0007",
     "256"),
]
for name, data, key, colours in cases:
    width, rows, rgb = decode_rgb(data)
    try:
        pixbuf = GdkPixbuf.Pixbuf.new_from_file(write("case.daz", data))
        check(pixbuf_rgb(pixbuf) == rgb and pixbuf.get_height() == rows, f"{name}: pixels")
        check((pixbuf.get_option("daz::key"), pixbuf.get_option("daz::colors")) == (key, colours),
              f"{name}: options")
    except GLib.Error as error:
        check(False, f"{name}: {error.message}")
    stored = abs(inspect(data).height)
    # Not knowing the end ahead, the loader shows the rows that came, in
    # their places, then says the file is cut short.
    top = 0 if inspect(data).height < 0 else stored - rows
    for piece in (1, 7, 1000, len(data)) if len(data) < 100000 else (1 << 16,):
        shown, error, updated = feed(data, piece)
        check((error is None) == (rows == stored), f"{name}, pieces of {piece}: {error}")
        got = pixbuf_rgb(shown)[3 * width * top:3 * width * (top + rows)]
        check(got == rgb and updated == set(range(top, top + rows)), f"{name}, {piece}: rows")


def box_mean(width, rows, rgb, out_width, out_height):
    """Each output pixel the rounded mean of the pixels whose x * out / width
    and y * out / rows are its own."""
    sums = {}
    for y in range(rows):
        for x in range(width):
            cell = sums.setdefault((x * out_width // width, y * out_height // rows), [0, 0, 0, 0])
            for c in range(3):
                cell[c] += rgb[3 * (y * width + x) + c]
            cell[3] += 1
    return bytes((sums[x, y][c] + sums[x, y][3] // 2) // sums[x, y][3]
                 for y in range(out_height) for x in range(out_width) for c in range(3))


# Sizes asked for, as thumbnailers do: smaller ones made by the loader
for asked in ((48, 32), (40, 27), (1, 1), (96, 20), (192, 128)):
    width, rows, rgb = decode_rgb(sample8)
    shown, error, updated = feed(sample8, 4096, asked)
    check(error is None and (shown.get_width(), shown.get_height()) == asked, f"{asked}: {error}")
    if asked[0] <= width and asked[1] <= rows:
        check(pixbuf_rgb(shown) == box_mean(width, rows, rgb, *asked), f"{asked}: box means")
        check(updated == set(range(asked[1])), f"{asked}: updates")
# gdk_pixbuf_get_file_info asks for no pixels at all once it has the size.
found, width, height = GdkPixbuf.Pixbuf.get_file_info(write("s.daz", sample8))
check(found.get_name() == "daz" and (width, height) == (96, 64), "get_file_info")
# What the format tells GTK's "about" lists: the project's license.
formats = [f for f in GdkPixbuf.Pixbuf.get_formats() if f.get_name() == "daz"]
check([f.get_license() for f in formats] == ["MIT"], f"license: {[f.get_license() for f in formats]}")

# Hostile input: each one a GError, or, where daz_decode_rgba takes it, its
# pixels; the loader chosen whatever the content.
header = lambda fields, rest: b"EW\x01\x00" + struct.pack("<HhHhH", *fields) + bytes(rest)
hostile = {
    "65535 x 32767 claimed": header((65535, 32767, 8, 1, 0), 20),
    "16384 x -16384 claimed, one row": header((16384, -16384, 8, 1, 0), 14 + 16384),
    "17 colours at 4 bits": header((4, 4, 4, 17, 0), 120),
    "width 0": header((0, 4, 8, 1, 0), 40),
    "cut in the palette": sample8[:100],
    "EW and random bytes": b"EW" + bytes(random.randrange(256) for _ in range(3000)),
}
regressions = os.path.join(source, "fuzz", "regressions")
for folder in sorted(os.listdir(regressions)):
    for entry in sorted(os.listdir(os.path.join(regressions, folder))):
        hostile[f"{folder}/{entry}"] = open(os.path.join(regressions, folder, entry), "rb").read()
for name, data in hostile.items():
    expected = decode_rgb(data)
    for piece in (1, 64, 1 << 16) if len(data) < 5000 else (64, 1 << 16):
        shown, error, _ = feed(data, piece)
        check(error is not None if expected is None else error is not None or
              pixbuf_rgb(shown) == expected[2], f"{name}, pieces of {piece}")
    try:
        pixbuf = GdkPixbuf.Pixbuf.new_from_file(write("hostile.daz", data))
        check(expected is not None and pixbuf_rgb(pixbuf) == expected[2], f"{name}: loaded")
    except GLib.Error as error:
        check(expected is None or error.code == GdkPixbuf.PixbufError.UNKNOWN_TYPE, name)

# Memory while fed in pieces of 64 KiB from a file: the pixbuf and a few
# rows, not the input; for a header claiming 16384 x 16384 pixels with one
# row behind it, not the 805 MB pixbuf either. Each in a process of its own,
# measured by VmHWM (getrusage's ru_maxrss starts at this process's size,
# which exec keeps). A sanitizer's runtime, preloaded, keeps its own memory.
measure = """
import sys, gi
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, GLib
def peak():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
loader, before = GdkPixbuf.PixbufLoader.new_with_type("daz"), peak()
try:
    with open(sys.argv[1], "rb") as file:
        for piece in iter(lambda: file.read(1 << 16), b""):
            loader.write(piece)
    loader.close()
except GLib.Error:
    pass
print(peak() - before, loader.get_pixbuf().get_byte_length() // 1024)
"""
# name | daz | KiB it may grow by (None: the pixbuf's size and 4 MiB)
memory = [("4096 x 4096", encode(4096, 4096, 8, ramp, 0, 9, bytes(range(256)) * 65536), None),
          ("16384 x 16384 claimed", header((16384, -16384, 8, 1, 0), 14 + 16384), 16384)]
for name, data, allowed in memory if "libasan" not in os.environ.get("LD_PRELOAD", "") else []:
    grown, pixbuf_kib = map(int, subprocess.run(
        [sys.executable, "-c", measure, write("memory.daz", data)], check=True,
        capture_output=True, text=True).stdout.split())
    check(grown < (allowed or pixbuf_kib + 4096), f"{name}: grew by {grown} KiB")

# The desktop: GIO opens daz files in eog.
if all(map(shutil.which, ("eog", "gio", "update-desktop-database"))):
    subprocess.run(["update-desktop-database", f"{share}/applications"], check=True)
    said = subprocess.run(["gio", "mime", "image/x-daz"], capture_output=True, text=True).stdout
    check("Default application for “image/x-daz”: daz-eog.desktop" in said, said)
else:
    print("skipped the eog association: no eog, gio or update-desktop-database")

print(f"{len(failures)} failures" if failures else "all passed")
sys.exit(1 if failures else 0)
