#!/usr/bin/python3
"""Test GIFs for the GIF reader, written into a folder, and the checks of
what the reader's way back writes.

  gif_cases.py OUT CONVERT     the cases (CONVERT: ImageMagick's convert)
  gif_cases.py --check GIF SOURCE KEPT
                               GIF (a daz image exported) holds the indices
                               of SOURCE (a case), and its table's first KEPT
                               entries padded with the undefined colour

OUT/cases.txt: one line a case, "NAME good FRAME_END" (FRAME_END: the byte
after the first frame's data; the file cut shorter is cut short, longer
reads whole) or "NAME bad INDICES_ERROR RGBA_ERROR" (daz_error numbers, 0
for none). Beside NAME.gif, a good case has NAME.bmp, the canonical bitmap
of the same image (indices and table as Pillow reads frame 0, 4 bits when
the table has at most 16 entries and no index can reach 16, else 8), and,
unless Pillow can't say, NAME.rgba: "W H\\n" and the pixels as a browser
shows them (Pillow's RGBA, alpha 0 outside the frame, 0, 0, 0, 0 where
alpha is 0).

Pillow fills the screen around a smaller first frame with index 0; the
reader fills it with the transparent index, else the background one: the
expected indices say so."""
import subprocess
import struct
import sys
from pathlib import Path

from PIL import Image

UNDEFINED = (255, 0, 255)
BAD_IMAGE, LIMITS = -25, -3


def palette(count, seed=0):
    return [((i * 37 + seed) % 256, (i * 91 + 5) % 256, (255 - i * 13) % 256)
            for i in range(count)]


def sub_blocks(data):
    out = b""
    for at in range(0, len(data), 255):
        piece = data[at:at + 255]
        out += bytes((len(piece),)) + piece
    return out + b"\0"


def lzw(indices, code_size):
    """Literal codes only, a clear code before the code width would grow."""
    clear = 1 << code_size
    width = code_size + 1
    codes = [clear]
    for n, index in enumerate(indices):
        if n and n % (clear - 2) == 0:
            codes.append(clear)
        codes.append(index)
    codes.append(clear + 1)
    bits, count, out = 0, 0, bytearray()
    for code in codes:
        bits |= code << count
        count += width
        while count >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            count -= 8
    if count:
        out.append(bits & 0xFF)
    return bytes(out)


def table_bits(table):
    bits = 1
    while (1 << bits) < len(table):
        bits += 1
    return bits


def table_bytes(table):
    table = table + [(0, 0, 0)] * ((1 << table_bits(table)) - len(table))
    return b"".join(bytes(entry) for entry in table)


def interlaced_order(height):
    return ([y for y in range(0, height, 8)] + [y for y in range(4, height, 8)] +
            [y for y in range(2, height, 4)] + [y for y in range(1, height, 2)])


def raw_gif(screen, frames, table=None, background=0, version=b"GIF89a"):
    """A GIF by hand. frames: dicts of rect (left, top, width, height), rows
    (indices, top row first), and table, interlaced, transparent, code_size,
    data (image data as they are) when given."""
    flags = 0x80 | 0x70 | (table_bits(table) - 1) if table else 0x70
    out = version + struct.pack("<HHBBB", screen[0], screen[1], flags, background, 0)
    if table:
        out += table_bytes(table)
    for frame in frames:
        if frame.get("transparent") is not None:
            out += b"\x21\xf9\x04\x01\x00\x00" + bytes((frame["transparent"],)) + b"\0"
        left, top, width, height = frame["rect"]
        local = frame.get("table")
        flags = (0x80 | (table_bits(local) - 1) if local else 0) | \
            (0x40 if frame.get("interlaced") else 0)
        out += b"," + struct.pack("<HHHHB", left, top, width, height, flags)
        if local:
            out += table_bytes(local)
        code_size = frame.get("code_size", 8)
        rows = frame.get("rows", [])
        order = interlaced_order(len(rows)) if frame.get("interlaced") else range(len(rows))
        data = frame.get("data")
        if data is None:
            data = lzw([i for y in order for i in rows[y]], code_size)
        out += bytes((code_size,)) + sub_blocks(data)
    return out + b";"


def pattern(width, height, colours, seed=0):
    return [[(x * 7 + y * 3 + (x * y) % 5 + seed) % colours for x in range(width)]
            for y in range(height)]


def first_frame(gif):
    """What the reader takes from the file's first frame."""
    width, height, flags, background = struct.unpack("<HHBB", gif[6:12])
    at = 13
    entries = 0
    if flags & 0x80:
        entries = 2 << (flags & 7)
        at += 3 * entries
    else:
        background = 0
    transparent = None
    while gif[at] == 0x21:
        if gif[at + 1] == 0xF9 and gif[at + 3] & 1:
            transparent = gif[at + 6]
        at += 2
        while gif[at]:
            at += gif[at] + 1
        at += 1
    left, top, frame_width, frame_height, image_flags = struct.unpack("<HHHHB", gif[at + 1:at + 10])
    at += 10
    if image_flags & 0x80:
        entries = 2 << (image_flags & 7)
        at += 3 * entries
    code_size = gif[at]
    at += 1
    while gif[at]:
        at += gif[at] + 1
    return dict(screen=(width, height), rect=(left, top, frame_width, frame_height),
                entries=entries, background=background, transparent=transparent,
                code_size=code_size, end=at + 1)


def expected(path):
    """The image the reader makes: size, indices (top row first), table."""
    gif = Path(path).read_bytes()
    frame = first_frame(gif)
    with Image.open(path) as image:
        image.seek(0)
        size = image.size
        indices = list(image.getdata())
        table = image.getpalette()
        table = [tuple(table[i:i + 3]) for i in range(0, len(table), 3)]
        rgba = list(image.convert("RGBA").getdata())
    assert len(table) == frame["entries"], (path, len(table), frame["entries"])
    left, top, width, height = frame["rect"]
    fill = frame["transparent"] if frame["transparent"] is not None else frame["background"]
    covered = (left, top, width, height) == (0, 0) + size
    for y in range(size[1]):
        for x in range(size[0]):
            if not (left <= x < left + width and top <= y < top + height):
                indices[y * size[0] + x] = fill
                rgba[y * size[0] + x] = (0, 0, 0, 0)
            elif rgba[y * size[0] + x][3] == 0:
                rgba[y * size[0] + x] = (0, 0, 0, 0)
    small = len(table) <= 16 and frame["code_size"] <= 4 and (covered or fill < 16)
    return size, indices, table, 4 if small else 8, rgba, frame


def canonical_bmp(size, indices, table, bpp):
    width, height = size
    row_size = (width * bpp + 31) // 32 * 4
    rows = []
    for y in reversed(range(height)):
        line = indices[y * width:(y + 1) * width]
        if bpp == 8:
            row = bytearray(line)
        else:
            row = bytearray((width + 1) // 2)
            for x, index in enumerate(line):
                row[x // 2] |= index << 4 if x % 2 == 0 else index
        rows.append(bytes(row).ljust(row_size, b"\0"))
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in table)
    offset = 14 + 40 + len(colours)
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0, len(pixels), 2835, 2835,
                       len(table), 0)
    return header + info + colours + pixels


def pillow_image(width, height, colours, seed=0):
    image = Image.new("P", (width, height))
    image.putpalette([c for entry in palette(colours, seed) for c in entry])
    image.putdata([i for row in pattern(width, height, colours, seed) for i in row])
    return image


def gifbuild_text(screen, table, images, background=0):
    keys = "abcdefghijklmnopqrstuvwxyz0123456789"
    def colour_map(entries):
        return "".join(f"\trgb {r} {g} {b} is {keys[i]}\n" for i, (r, g, b) in
                       enumerate(entries)) + "end\n"
    text = f"screen width {screen[0]}\nscreen height {screen[1]}\n"
    text += f"screen colors {1 << table_bits(table)}\nscreen background {background}\n"
    text += "screen map\n" + colour_map(table)
    for image in images:
        left, top, width, height = image["rect"]
        text += f"image\nimage left {left}\nimage top {top}\n"
        if image.get("interlaced"):
            text += "image interlaced\n"
        if image.get("table"):
            text += "image map\n" + colour_map(image["table"])
        text += f"image bits {width} by {height}\n"
        text += "".join("".join(keys[i] for i in row) + "\n" for row in image["rows"])
        if image.get("transparent") is not None:
            text += ("graphics control\n\tdisposal mode 0\n\tuser input flag off\n\tdelay 0\n"
                     f"\ttransparent index {image['transparent']}\nend\n")
    return text


def write_cases(out, convert):
    out = Path(out)
    made = {}
    # Pillow.
    made["pillow-2.gif"] = pillow_image(21, 9, 2)
    made["pillow-16.gif"] = pillow_image(33, 17, 16, 3)
    made["pillow-256.gif"] = pillow_image(61, 37, 256, 7)
    for name, image in made.items():
        image.save(out / name)
    pillow_image(19, 11, 8).save(out / "pillow-transparent.gif", transparency=3)
    frames = [pillow_image(24, 16, 32, seed) for seed in (1, 2, 3)]
    frames[0].save(out / "pillow-animated.gif", save_all=True, append_images=frames[1:],
                   duration=50, loop=0)
    # ImageMagick.
    for name, options in (("magick-gradient.gif", []), ("magick-interlaced.gif",
                                                        ["-interlace", "GIF"])):
        subprocess.run([convert, "-size", "64x40", "gradient:red-blue", "-colors", "200",
                        "+dither"] + options + [str(out / name)], check=True)
    subprocess.run([convert, "-delay", "5", "-size", "30x20", "xc:red", "-size", "10x10",
                    "xc:blue", "-page", "+5+5", "xc:green", str(out / "magick-animated.gif")],
                   check=True)
    # giflib's gifbuild.
    built = {
        "gifbuild-global.gif": ((8, 6), palette(4, 9), [dict(rect=(0, 0, 8, 6),
                                                             rows=pattern(8, 6, 4))], 0),
        "gifbuild-local.gif": ((10, 7), palette(2), [dict(rect=(0, 0, 10, 7), table=palette(
            8, 5), rows=pattern(10, 7, 8))], 0),
        "gifbuild-interlaced.gif": ((9, 13), palette(16, 2), [dict(
            rect=(0, 0, 9, 13), interlaced=True, rows=pattern(9, 13, 16))], 0),
        # gifbuild puts the control block after its frame: not the frame's.
        "gifbuild-control-after.gif": ((20, 15), palette(8, 4), [dict(
            rect=(3, 4, 8, 6), transparent=2, rows=pattern(8, 6, 8))], 5),
        "gifbuild-small-background.gif": ((20, 15), palette(4, 6), [dict(
            rect=(5, 2, 6, 5), rows=pattern(6, 5, 4, 1))], 1),
    }
    for name, (screen, table, images, background) in built.items():
        text = gifbuild_text(screen, table, images, background)
        gif = subprocess.run(["gifbuild"], input=text.encode(), capture_output=True,
                             check=True).stdout
        (out / name).write_bytes(gif)
    # By hand: what the tools above don't write.
    raw = {
        "raw-code8-table16.gif": raw_gif((7, 5), [dict(rect=(0, 0, 7, 5),
                                                      rows=pattern(7, 5, 16))], palette(16)),
        "raw-code4-table32.gif": raw_gif((7, 5), [dict(rect=(0, 0, 7, 5), code_size=4,
                                                      rows=pattern(7, 5, 16))], palette(32)),
        "raw-past-table.gif": raw_gif((9, 4), [dict(rect=(0, 0, 9, 4), code_size=4,
                                                    rows=pattern(9, 4, 16))], palette(4)),
        "raw-past-edge.gif": raw_gif((10, 10), [dict(rect=(6, 7, 8, 5), code_size=3,
                                                     rows=pattern(8, 5, 8))], palette(8)),
        "raw-fill-past-table.gif": raw_gif((6, 6), [dict(rect=(1, 1, 3, 3), code_size=2,
                                                         rows=pattern(3, 3, 4))],
                                           palette(4), background=200),
        "raw-small-transparent.gif": raw_gif((20, 15), [dict(
            rect=(3, 4, 8, 6), code_size=3, transparent=2, rows=pattern(8, 6, 8))], palette(8),
            background=5),
        "raw-small-interlaced.gif": raw_gif((12, 30), [dict(
            rect=(2, 3, 7, 22), code_size=5, interlaced=True, transparent=20,
            rows=pattern(7, 22, 32))], palette(32), background=3),
        "raw-87a.gif": raw_gif((5, 3), [dict(rect=(0, 0, 5, 3), code_size=2, table=palette(
            4, 1), rows=pattern(5, 3, 4))], version=b"GIF87a"),
    }
    for name, gif in raw.items():
        (out / name).write_bytes(gif)
    lines = []
    for path in sorted(out.glob("*.gif")):
        size, indices, table, bpp, rgba, frame = expected(path)
        (out / (path.stem + ".bmp")).write_bytes(canonical_bmp(size, indices, table, bpp))
        if not path.name.startswith("raw-past"):
            (out / (path.stem + ".rgba")).write_bytes(
                b"%d %d\n" % size + bytes(c for pixel in rgba for c in pixel))
        lines.append(f"{path.stem} good {frame['end']}")
    # Refused.
    one = [dict(rect=(0, 0, 1, 1), code_size=2, rows=[[1]])]
    bad = {
        "bad-no-table": (raw_gif((4, 4), [dict(rect=(0, 0, 4, 4), code_size=2,
                                               rows=pattern(4, 4, 4))]), BAD_IMAGE, BAD_IMAGE),
        "bad-bomb": (raw_gif((60000, 60000), one, palette(4)), LIMITS, LIMITS),
        "bad-past-daz-width": (raw_gif((1, 1), [dict(rect=(65000, 0, 1000, 1), code_size=2,
                                                     rows=[[1] * 1000])], palette(4)), LIMITS, 0),
        "bad-no-frame": (raw_gif((4, 4), [], palette(4)), BAD_IMAGE, BAD_IMAGE),
        "bad-empty-frame": (raw_gif((4, 4), [dict(rect=(0, 0, 0, 4), code_size=2)], palette(4)),
                            BAD_IMAGE, BAD_IMAGE),
        "bad-code-size": (raw_gif((4, 4), [dict(rect=(0, 0, 1, 1), code_size=12, data=b"\0\0")],
                                  palette(4)), BAD_IMAGE, BAD_IMAGE),
        # A code past the table right after the clear code.
        "bad-code": (raw_gif((4, 1), [dict(rect=(0, 0, 4, 1), code_size=2,
                                           data=bytes((0x3C, 0x00)))], palette(4)),
                     BAD_IMAGE, BAD_IMAGE),
        # The end code before the frame is whole.
        "bad-early-end": (raw_gif((4, 4), [dict(rect=(0, 0, 4, 4), code_size=2,
                                                data=lzw([1, 2], 2))], palette(4)),
                          BAD_IMAGE, BAD_IMAGE),
    }
    for name, (gif, indices_error, rgba_error) in bad.items():
        (out / (name + ".gif")).write_bytes(gif)
        lines.append(f"{name} bad {indices_error} {rgba_error}")
    (out / "cases.txt").write_text("\n".join(lines) + "\n")


def check(gif, source, kept):
    size, indices, table = expected(source)[:3]
    with Image.open(gif) as image:
        got = (image.size, list(image.getdata()), image.getpalette())
    count = max(kept, max(indices) + 1, 2)
    entries = 1 << table_bits([None] * count)
    want = table[:kept] + [UNDEFINED] * (entries - kept)
    want = (size, indices, [c for entry in want for c in entry])
    if got != want:
        print(f"{gif}: {got[0]} {got[2][:12]}... not {want[0]} {want[2][:12]}...")
        return 1
    return 0


if __name__ == "__main__":
    if sys.argv[1] == "--check":
        sys.exit(check(sys.argv[2], sys.argv[3], int(sys.argv[4])))
    write_cases(sys.argv[1], sys.argv[2])
