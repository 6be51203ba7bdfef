#!/usr/bin/env python3
"""The gdk-pixbuf loader through GObject introspection, as GTK programs use
it, with a loaders cache and a MIME database of its own: every pixel against
libdaz's daz_decode_rgba (through ctypes), whole-file and fed in pieces, the
sizes a thumbnailer asks for, the key, and hostile input (the saved fuzz
cases and hand-made headers), which must give a GError.

Usage: loader_test.py LOADER LIBDAZ QUERY_LOADERS SOURCE_DIR
Exit 77 (skipped) without python3-gi and gdk-pixbuf's typelib."""
import ctypes
import os
import random
import struct
import subprocess
import sys
import tempfile

loader_path, libdaz_path, query_loaders, source = sys.argv[1:5]
work = tempfile.TemporaryDirectory()
cache = os.path.join(work.name, "loaders.cache")
with open(cache, "w") as out:
    subprocess.run([query_loaders, loader_path], stdout=out, check=True)
# gdk-pixbuf picks a loader by the file's MIME type, from shared-mime-info.
mime = os.path.join(work.name, "share", "mime")
os.makedirs(os.path.join(mime, "packages"))
with open(os.path.join(source, "desktop", "daz.xml"), "rb") as xml:
    open(os.path.join(mime, "packages", "daz.xml"), "wb").write(xml.read())
subprocess.run(["update-mime-database", mime], check=True, stdout=subprocess.DEVNULL,
               stderr=subprocess.DEVNULL)
os.environ.update(GDK_PIXBUF_MODULE_FILE=cache, XDG_DATA_HOME=os.path.join(work.name, "share"),
                  XDG_DATA_DIRS="/usr/share")
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


# ---- libdaz through ctypes: the reference pixels, and daz files to load.
daz = ctypes.CDLL(libdaz_path)


class Info(ctypes.Structure):
    _fields_ = [("width", ctypes.c_uint32), ("height", ctypes.c_int32), ("rows", ctypes.c_uint32),
                ("bits", ctypes.c_int), ("colors", ctypes.c_int), ("key", ctypes.c_uint16),
                ("row_size", ctypes.c_uint32), ("pixel_offset", ctypes.c_uint64),
                ("trailing", ctypes.c_uint64), ("palette", ctypes.c_uint8 * 1024)]


def decode_rgb(data):
    """(width, rows, RGB bytes) as daz_decode_rgba gives them, or None."""
    info, size = Info(), ctypes.c_size_t()
    if daz.daz_inspect(data, len(data), ctypes.byref(info)) != 0:
        return None
    if daz.daz_decoded_size(ctypes.byref(info), None, None, ctypes.byref(size)) != 0:
        return None
    rgba = ctypes.create_string_buffer(size.value)
    if daz.daz_decode_rgba(data, len(data), None, None, rgba, size) != 0:
        return None
    return info.width, info.rows, bytes(b for i, b in enumerate(rgba.raw) if i % 4 != 3)


def encode(width, height, bits, palette, kept, key, indices):
    flat, indices, written = bytes(sum(palette, ())), bytes(indices), ctypes.c_size_t()
    arguments = (indices, ctypes.c_size_t(width), width, height, bits, flat, len(palette), kept,
                 key)
    assert daz.daz_encode(*arguments, None, 0, ctypes.byref(written), None) == 0
    out = ctypes.create_string_buffer(written.value)
    assert daz.daz_encode(*arguments, out, written, ctypes.byref(written), None) == 0
    return out.raw


def convert(path, colors, key):
    data = open(path, "rb").read()
    out, written = ctypes.create_string_buffer(1 << 22), ctypes.c_size_t()
    assert daz.daz_convert(data, len(data), None, colors, key, out, ctypes.c_size_t(len(out)),
                           ctypes.byref(written), None) == 0
    return out.raw[:written.value]


def pixbuf_rgb(pixbuf):
    width, height, stride = pixbuf.get_width(), pixbuf.get_height(), pixbuf.get_rowstride()
    assert pixbuf.get_n_channels() == 3 and not pixbuf.get_has_alpha()
    pixels = pixbuf.get_pixels()
    return b"".join(pixels[y * stride:y * stride + 3 * width] for y in range(height))


def write(name, data):
    path = os.path.join(work.name, name)
    open(path, "wb").write(data)
    return path


def feed(data, piece, size=None):
    """A PixbufLoader for daz fed data in pieces: (pixbuf, error, rows the
    updates covered)."""
    loader = GdkPixbuf.PixbufLoader.new_with_type("daz")
    updated = set()
    loader.connect("area-updated", lambda _l, x, y, w, h: updated.update(range(y, y + h)))
    if size:
        loader.set_size(*size)
    error = None
    try:
        for start in range(0, len(data), piece):
            loader.write(data[start:start + piece])
        loader.close()
    except GLib.Error as failure:
        error = failure
        try:
            loader.close()
        except GLib.Error:
            pass
    return loader.get_pixbuf(), error, updated


random.seed(25)
gradient = [(i, 255 - i, (7 * i) % 256, 0) for i in range(256)]
sixteen = [(17 * i, 0, 255 - 17 * i, 0) for i in range(16)]
eight_bit = encode(300, 2, 8, gradient, 0, 0x0102, [random.randrange(256) for _ in range(600)])
sample8 = convert(os.path.join(source, "samples", "sample8.bmp"), 200, 0x1F2E)


def cut(data, rows):
    """The file with rows whole rows of pixels and half of the next."""
    info = Info()
    daz.daz_inspect(data, len(data), ctypes.byref(info))
    return data[:info.pixel_offset + info.row_size * rows + info.row_size // 2]


# name | daz bytes | key | colours
cases = [
    ("sample8, 200 of 256 colours, bottom-up", sample8, "1f2e", "200"),
    ("sample4, 10 of 16 colours", convert(os.path.join(source, "samples", "sample4.bmp"), 10, 0),
     "0000", "10"),
    ("4 bits, odd width, top-down, indices past 5 colours",
     encode(7, -5, 4, sixteen, 5, 0xBEEF, [random.randrange(16) for _ in range(35)]), "beef", "5"),
    ("8 bits, 1 x 1", encode(1, 1, 8, gradient[:3], 0, 0xFFFF, [2]), "ffff", "3"),
    ("8 bits, bytes after the rows", eight_bit + b"\x55" * 1000, "0102", "256"),
    ("8 bits, 3000 x 1500, bottom-up: a pixbuf of several blocks",
     encode(3000, 1500, 8, gradient, 0, 0xABCD, bytes(range(250)) * 18000), "abcd", "256"),
    ("bottom-up, cut short after 10 rows", cut(sample8, 10), "1f2e", "200"),
    ("top-down, cut short after 2 rows", cut(encode(9, -4, 8, gradient, 0, 7, range(36)), 2),
     "0007", "256"),
]
for name, data, key, colours in cases:
    expected = decode_rgb(data)
    width, rows, rgb = expected
    try:
        pixbuf = GdkPixbuf.Pixbuf.new_from_file(write("case.daz", data))
        check((pixbuf.get_width(), pixbuf.get_height()) == (width, rows), f"{name}: size")
        check(pixbuf_rgb(pixbuf) == rgb, f"{name}: pixels of the whole-file load")
        check(pixbuf.get_option("daz::key") == key, f"{name}: key")
        check(pixbuf.get_option("daz::colors") == colours, f"{name}: colours")
    except GLib.Error as error:
        check(False, f"{name}: {error.message}")
    info = Info()
    daz.daz_inspect(data, len(data), ctypes.byref(info))
    stored = abs(info.height)
    for piece in (1, 7, 1000, len(data)):
        if piece < 1000 and len(data) > 100000:
            continue
        shown, error, updated = feed(data, piece)
        if rows == stored:
            check(error is None, f"{name}, pieces of {piece}: {error}")
            check(pixbuf_rgb(shown) == rgb, f"{name}, pieces of {piece}: pixels")
            check(updated == set(range(rows)), f"{name}, pieces of {piece}: updates")
        else:
            # Not knowing the end ahead, the loader shows the rows that came,
            # in their places, and then says the file is cut short.
            check(error is not None and "cut short" in error.message, f"{name}: {error}")
            top = 0 if info.height < 0 else stored - rows
            got = pixbuf_rgb(shown)[3 * width * top:3 * width * (top + rows)]
            check(got == rgb, f"{name}, pieces of {piece}: the rows that came")
            check(updated == set(range(top, top + rows)), f"{name}, pieces of {piece}: updates")


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


# Sizes asked for, as thumbnailers do: name | daz | asked | made
sizes = [
    ("halved", sample8, (48, 32), (48, 32)),
    ("uneven boxes", sample8, (40, 27), (40, 27)),
    ("one pixel", sample8, (1, 1), (1, 1)),
    ("narrower only", eight_bit, (7, 2), (7, 2)),
    ("enlarged by GdkPixbufLoader", sample8, (192, 128), (192, 128)),
]
for name, data, asked, made in sizes:
    width, rows, rgb = decode_rgb(data)
    shown, error, updated = feed(data, 4096, asked)
    check(error is None and (shown.get_width(), shown.get_height()) == made, f"{name}: {error}")
    if made[0] <= width and made[1] <= rows:
        check(pixbuf_rgb(shown) == box_mean(width, rows, rgb, *made), f"{name}: box means")
        check(updated == set(range(made[1])), f"{name}: updates")
at_size = GdkPixbuf.Pixbuf.new_from_file_at_size(write("s.daz", sample8), 64, 64)
check((at_size.get_width(), at_size.get_height()) == (64, 43), "new_from_file_at_size: aspect")
# gdk_pixbuf_get_file_info asks for no pixels at all once it has the size.
format_, width, height = GdkPixbuf.Pixbuf.get_file_info(write("s.daz", sample8))
check(format_ is not None and format_.get_name() == "daz" and (width, height) == (96, 64),
      "get_file_info")

# Hostile input: each one a GError, or, where daz_decode_rgba takes it, its
# pixels; the loader chosen for any content.
header = lambda fields, rest: b"EW\x01\x00" + struct.pack("<HhHhH", *fields) + bytes(rest)
hostile = {
    "empty": b"",
    "cut in the palette": sample8[:100],
    "65535 x 32767, 12 bytes": header((65535, 32767, 8, 1, 0), 12),
    "65535 x 32767 past the limits": header((65535, 32767, 8, 1, 0), 20),
    "16384 x -16384 at the limits, one row": header((16384, -16384, 8, 1, 0), 14 + 16384),
    "16 bits per pixel": header((4, 4, 16, 1, 0), 40),
    "no colours": header((4, 4, 8, 0, 0), 40),
    "17 colours at 4 bits": header((4, 4, 4, 17, 0), 120),
    "-1 colours": header((4, 4, 8, -1, 0), 40),
    "less than a row": header((4, 4, 8, 1, 0), 17),
    "width 0": header((0, 4, 8, 1, 0), 40),
    "EW and random bytes": b"EW" + bytes(random.randrange(256) for _ in range(3000)),
    "a bitmap": open(os.path.join(source, "samples", "sample8.bmp"), "rb").read(),
}
regressions = os.path.join(source, "fuzz", "regressions")
for folder in sorted(os.listdir(regressions)):
    for entry in sorted(os.listdir(os.path.join(regressions, folder))):
        hostile[f"fuzz {folder}/{entry}"] = open(os.path.join(regressions, folder, entry),
                                                  "rb").read()
for name, data in hostile.items():
    expected = decode_rgb(data)
    for piece in (1, 64, 1 << 16):
        if piece == 1 and len(data) > 5000:
            continue
        shown, error, _ = feed(data, piece)
        if expected is None:
            check(error is not None, f"{name}, pieces of {piece}: no error")
        elif error is None:
            check(pixbuf_rgb(shown) == expected[2], f"{name}, pieces of {piece}: pixels")
    path = write("hostile.daz", data)
    try:
        pixbuf = GdkPixbuf.Pixbuf.new_from_file(path)
        check(expected is not None and pixbuf_rgb(pixbuf) == expected[2], f"{name}: loaded")
    except GLib.Error as error:
        check(expected is None or error.domain != "gdk-pixbuf-error-quark" or
              error.code == GdkPixbuf.PixbufError.UNKNOWN_TYPE, f"{name}: {error.message}")

# Memory while fed: the pixbuf and a few rows, not the input; and for a
# header claiming 16384 x 16384 pixels with one row behind it, not the
# pixbuf it claims (805 MB) either. Each read from its file in pieces of
# 64 KiB, in a process of its own. Its peak is VmHWM: getrusage's
# ru_maxrss would start at this process's size, which exec keeps.
measure = """
import sys, gi
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, GLib
def peak():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
loader = GdkPixbuf.PixbufLoader.new_with_type("daz")
before = peak()
try:
    with open(sys.argv[1], "rb") as file:
        for piece in iter(lambda: file.read(1 << 16), b""):
            loader.write(piece)
    loader.close()
except GLib.Error:
    pass
grown = peak() - before
print(grown, loader.get_pixbuf().get_byte_length() // 1024)
"""
# name | daz | KiB it may grow by past the pixbuf's size (-1: not the pixbuf)
memory = [
    ("4096 x 4096", encode(4096, 4096, 8, gradient, 0, 9, bytes(range(256)) * 65536), 4096),
    ("16384 x 16384 claimed, one row", header((16384, -16384, 8, 1, 0), 14 + 16384), -1),
]
# (A sanitizer's runtime, preloaded, keeps memory of its own: not measured.)
for name, data, allowed in memory if "libasan" not in os.environ.get("LD_PRELOAD", "") else []:
    grown, pixbuf_kib = map(int, subprocess.run(
        [sys.executable, "-c", measure, write("memory.daz", data)], check=True,
        capture_output=True, text=True).stdout.split())
    limit = pixbuf_kib + allowed if allowed >= 0 else 16384
    check(grown < limit, f"{name}: memory grew by {grown} KiB for a {pixbuf_kib} KiB pixbuf")

print(f"{len(failures)} failures" if failures else "all passed")
sys.exit(1 if failures else 0)
