#!/usr/bin/env python3
"""Test images for the PNG commands, written into a folder.

  png_cases.py OUT [CONVERT]   the cases below (CONVERT: ImageMagick's convert)
  png_cases.py --describe F... one line per PNG: "W H DEPTH INDICES-SHA PLTE-SHA"

good-*.png convert; each has good-*.bmp beside it, the canonical bitmap of the
same image (40-byte header, bottom-up rows padded with zeros, the PLTE as the
palette with fourth byte 0, biClrUsed its entry count, 8 bits per pixel for an
8-bit PNG, else 4): Pillow's for 8-bit images, written here for 4-bit ones.
bad-*.png are refused, each for its own reason.
"""
import hashlib
import random
import struct
import subprocess
import sys
import zlib
from pathlib import Path

from PIL import Image

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def chunks(png):
    at = len(SIGNATURE)
    while at + 8 <= len(png):
        length, kind = struct.unpack(">I4s", png[at:at + 8])
        yield kind, png[at + 8:at + 8 + length]
        at += 12 + length


def raw_png(width, height, depth, palette, rows, colour_type=3, extra=b"", plte=True):
    """A PNG from packed index rows (no filter), written by hand."""
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    data = b"".join(b"\0" + row for row in rows)
    body = chunk(b"IHDR", ihdr)
    if plte:
        body += chunk(b"PLTE", bytes(c for entry in palette for c in entry))
    return SIGNATURE + body + extra + chunk(b"IDAT", zlib.compress(data)) + chunk(b"IEND", b"")


def palette(count):
    return [((i * 37) % 256, (i * 91 + 5) % 256, (255 - i * 13) % 256) for i in range(count)]


def picture(width, height, colours, mode="P"):
    image = Image.new(mode, (width, height))
    image.putdata([(x * 7 + y * 3 + (x * y) % 5) % colours for y in range(height)
                   for x in range(width)])
    return image


def describe(path):
    png = Path(path).read_bytes()
    found = dict(chunks(png))
    depth = found[b"IHDR"][8]
    with Image.open(path) as image:
        indices = hashlib.sha256(image.tobytes()).hexdigest()[:16]
        size = image.size
    plte = hashlib.sha256(found.get(b"PLTE", b"")).hexdigest()[:16]
    return f"{size[0]} {size[1]} {depth} {indices} {plte}"


def canonical_bmp(png_path, bmp_path):
    """The bitmap orvx -c must turn into the same daz file as the PNG."""
    found = dict(chunks(Path(png_path).read_bytes()))
    plte = found[b"PLTE"]
    entries = [plte[i:i + 3] for i in range(0, len(plte), 3)]
    with Image.open(png_path) as image:
        width, height = image.size
        indices = image.tobytes()
        if found[b"IHDR"][8] == 8 and b"tRNS" not in found:
            image.save(bmp_path)  # Pillow: 8 bits, exactly the PLTE's entries
            return
    bpp = 8 if found[b"IHDR"][8] == 8 else 4
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
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in entries)
    offset = 14 + 40 + len(table)
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0, len(pixels), 2835, 2835,
                       len(entries), 0)
    Path(bmp_path).write_bytes(header + info + table + pixels)


def write_cases(out, convert):
    out = Path(out)
    good = {}
    # Pillow picks the bit depth from the palette's size: 1, 2, 4 or 8.
    for colours, width, height in ((2, 13, 7), (3, 5, 4), (11, 9, 6), (200, 37, 21)):
        image = picture(width, height, colours)
        image.putpalette([c for entry in palette(colours) for c in entry])
        good[f"pillow-{colours}"] = image
    unused = picture(6, 5, 4)
    unused.putpalette([c for entry in palette(16) for c in entry])
    good["unused-entries"] = unused
    same = picture(8, 3, 9)
    same.putpalette([c for entry in palette(4) * 3 for c in entry])  # entries 0, 4, 8 alike
    good["duplicate-colours"] = same
    one = Image.new("P", (1, 1), 0)
    one.putpalette([10, 20, 30])
    good["1x1"] = one
    # Past a MiB of indices: dazpng reads more than one block of rows and
    # writes more than one IDAT chunk of the noisy one (random indices, which
    # deflate stores); the flat one is bands and a box of a few colours.
    width, height = 1100, 1000
    noisy = Image.frombytes("P", (width, height), random.Random(7).randbytes(width * height))
    flat = Image.new("P", (width, height))
    for y in range(0, height, 40):
        flat.paste(y // 40 % 6, (0, y, width, y + 40))
    flat.paste(9, (300, 250, 800, 700))
    for image in (noisy, flat):
        image.putpalette([c for entry in palette(256) for c in entry])
    good["noisy"] = noisy
    good["flat"] = flat
    for name, image in good.items():
        image.save(out / f"good-{name}.png")
    transparent = picture(7, 4, 5)
    transparent.putpalette([c for entry in palette(5) for c in entry])
    transparent.save(out / "good-trns.png", transparency=bytes([0, 128, 255]))
    # By hand: indices past the PLTE, the widest and the highest images.
    (out / "good-index-past-plte.png").write_bytes(
        raw_png(4, 2, 8, palette(5), [bytes([0, 4, 5, 200]), bytes([255, 1, 2, 3])]))
    (out / "good-widest.png").write_bytes(
        raw_png(65535, 1, 4, palette(16), [bytes(range(256)) * 128]))
    (out / "good-highest.png").write_bytes(
        raw_png(1, 32767, 8, palette(3), [bytes([y % 4]) for y in range(32767)]))
    if convert:
        source = out / "good-pillow-200.png"
        subprocess.run([convert, str(source), f"PNG8:{out / 'good-im-png8.png'}"], check=True)
        subprocess.run([convert, str(source), "-interlace", "PNG",
                        f"PNG8:{out / 'good-im-interlaced.png'}"], check=True)
    base = (out / "good-pillow-11.png").read_bytes()
    parts = dict(chunks(base))
    idat_at = base.index(b"IDAT") - 4
    # Read to IEND: ancillary chunks after the image data, known or not, and
    # image data split over IDATs with nothing between.
    (out / "good-ancillary-after-idat.png").write_bytes(
        base[:-12] + chunk(b"tEXt", b"Comment\0after") + chunk(b"abCd", b"\1\2")
        + chunk(b"IEND", b""))
    idat = parts[b"IDAT"]
    (out / "good-split-idat.png").write_bytes(
        base[:idat_at] + chunk(b"IDAT", idat[:3]) + chunk(b"IDAT", idat[3:9])
        + chunk(b"IDAT", idat[9:]) + chunk(b"IDAT", b"") + chunk(b"IEND", b""))
    for png in out.glob("good-*.png"):
        canonical_bmp(png, png.with_suffix(".bmp"))

    bad = {
        "grey": None, "rgb": None,
        "ihdr-crc": base[:29] + bytes([base[29] ^ 1]) + base[30:],
        "idat-crc": base[:-13] + bytes([base[-13] ^ 1]) + base[-12:],
        "zlib": base[:idat_at] + chunk(b"IDAT", b"\x78\x9c\xff\xff\xff" + parts[b"IDAT"][5:])
        + chunk(b"IEND", b""),
        "no-idat": base[:idat_at] + chunk(b"IEND", b""),
        "no-plte": raw_png(4, 2, 8, [], [bytes(4)] * 2, plte=False),
        "long-plte": raw_png(4, 2, 4, palette(17), [bytes(2)] * 2),
        "empty-plte": raw_png(4, 2, 8, [], [bytes(4)] * 2),
        "too-wide": raw_png(65536, 1, 8, palette(2), [bytes(65536)]),
        "too-high": raw_png(1, 32768, 8, palette(2), [bytes(1)] * 32768),
        "depth-16": raw_png(4, 2, 16, palette(2), [bytes(8)] * 2),
        "cut-in-idat": base[:idat_at + 20],
        "cut-before-iend": base[:-12],
        "no-iend-after-text": base[:-12] + chunk(b"tEXt", b"Comment\0no end"),
        # After the image data only ancillary chunks and IEND may come.
        "plte-after-idat": base[:-12] + chunk(b"PLTE", parts[b"PLTE"]) + chunk(b"IEND", b""),
        "ihdr-after-idat": base[:-12] + chunk(b"IHDR", parts[b"IHDR"]) + chunk(b"IEND", b""),
        "critical-after-idat": base[:-12] + chunk(b"ABCD", b"data") + chunk(b"IEND", b""),
        "idat-after-text": base[:-12] + chunk(b"tEXt", b"Comment\0x") + chunk(b"IDAT", b"")
        + chunk(b"IEND", b""),
        "cut-in-signature": base[:5],
        "not-png": b"BM this is no PNG at all",
    }
    # Past the cap of what may be held whole, as 4-bit indices: 65535 x 8193
    # makes 256 MiB and a little more. Interlaced rows are always held, and
    # any rows going to a device; both are refused before the image data is
    # decoded, so the header and a row of it are enough.
    width, height = 65535, 8193
    for name, interlace in (("interlaced-past-the-cap", 1), ("past-the-cap", 0)):
        ihdr = struct.pack(">IIBBBBB", width, height, 4, 3, 0, 0, interlace)
        bad[name] = (SIGNATURE + chunk(b"IHDR", ihdr) + chunk(b"PLTE", bytes(48)) +
                     chunk(b"IDAT", zlib.compress(bytes(1 + (width + 1) // 2))) +
                     chunk(b"IEND", b""))
    picture(4, 3, 200, "L").save(out / "bad-grey.png")
    picture(4, 3, 200, "L").convert("RGB").save(out / "bad-rgb.png")
    for name, data in bad.items():
        if data is not None:
            (out / f"bad-{name}.png").write_bytes(data)


if __name__ == "__main__":
    if sys.argv[1] == "--describe":
        for path in sys.argv[2:]:
            print(describe(path))
    else:
        write_cases(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)
