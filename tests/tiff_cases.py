#!/usr/bin/python3
"""Makes the TIFF test's files in OUT, each by another tool than the reader
under test: palette TIFFs of 1, 2, 4 and 8 bits laid out here (strips of 7
rows, colour map values v * 257) then recompressed and tiled by tiffcp;
Pillow's 8-bit palette TIFFs (map values v * 256); ImageMagick's RGB, RGBA,
grey, 16-bit, CMYK, tiled and two-page files of one picture. Beside each
palette TIFF, NAME.bmp: the canonical bitmap of the same indices and map
(4 bits a pixel up to 4 in the TIFF, else 8), as Pillow reads them; and
NAME.magick, ImageMagick's RGBA of each ("WIDTH HEIGHT\n" and the bytes).
Usage: tiff_cases.py OUT CONVERT"""
import os
import struct
import subprocess
import sys

from PIL import Image

W, H = 83, 61


def picture():
    """An RGBA picture of gradients, with alpha from 0 to 255."""
    image = Image.new("RGBA", (W, H))
    image.putdata([((x * 7 + y) % 256, (y * 5) % 256, (x * y) % 256, (x * 3 + y * 2) % 256)
                   for y in range(H) for x in range(W)])
    return image


def palette_tiff(bits, indices, colours):
    """An uncompressed little-endian palette TIFF, strips of 7 rows."""
    row = (W * bits + 7) // 8
    rows = []
    for y in range(H):
        packed = bytearray(row)
        for x in range(W):
            at = x * bits
            packed[at // 8] |= indices[y * W + x] << (8 - bits - at % 8)
        rows.append(bytes(packed))
    per = 7
    strips = [b"".join(rows[y:y + per]) for y in range(0, H, per)]
    entries = 1 << bits
    cmap = [c[k] * 257 for k in range(3) for c in colours]
    tags = [(256, 3, 1, W), (257, 3, 1, H), (258, 3, 1, bits), (259, 3, 1, 1), (262, 3, 1, 3),
            (273, 4, len(strips), None), (277, 3, 1, 1), (278, 3, 1, per),
            (279, 4, len(strips), None), (320, 3, 3 * entries, None)]
    ifd_at = 8
    data_at = ifd_at + 2 + 12 * len(tags) + 4
    extra = bytearray()
    offsets_at = data_at + len(extra)
    extra += b"\0" * (4 * len(strips))
    counts_at = data_at + len(extra)
    extra += struct.pack("<%dI" % len(strips), *(len(s) for s in strips))
    cmap_at = data_at + len(extra)
    extra += struct.pack("<%dH" % len(cmap), *cmap)
    strip_at = data_at + len(extra)
    offsets = []
    for strip in strips:
        offsets.append(strip_at)
        strip_at += len(strip)
    extra[offsets_at - data_at:counts_at - data_at] = struct.pack("<%dI" % len(strips), *offsets)
    ifd = struct.pack("<H", len(tags))
    for tag, kind, count, value in tags:
        if tag == 273:
            value = offsets_at if count > 1 else offsets[0]
        elif tag == 279:
            value = counts_at if count > 1 else len(strips[0])
        elif tag == 320:
            value = cmap_at
        packed = struct.pack("<H", value) + b"\0\0" if kind == 3 and count == 1 else \
            struct.pack("<I", value)
        ifd += struct.pack("<HHI", tag, kind, count) + packed
    ifd += b"\0\0\0\0"
    return b"II*\0" + struct.pack("<I", ifd_at) + ifd + bytes(extra) + b"".join(strips)


def canonical_bmp(path, tiff):
    """The bitmap of the TIFF's indices and map as Pillow reads them."""
    with Image.open(tiff) as image:
        bits = {"P;1": 1, "P;2": 2, "P;4": 4}.get(image.tile[0][3][0] if image.tile else "", 8)
        bits = image.tag_v2.get(258, (8,))[0] if hasattr(image, "tag_v2") else bits
        indices = list(image.getdata())
        colours = image.getpalette()[:3 * (1 << bits)]
    bmp_bits = 4 if bits <= 4 else 8
    entries = 1 << bits
    colours += [0] * (3 * entries - len(colours))
    row = ((W * bmp_bits + 31) // 32) * 4
    pixels = bytearray()
    for y in reversed(range(H)):
        packed = bytearray(row)
        for x in range(W):
            index = indices[y * W + x]
            if bmp_bits == 8:
                packed[x] = index
            else:
                packed[x // 2] |= index << (4 if x % 2 == 0 else 0)
        pixels += packed
    table = b"".join(bytes((colours[3 * i + 2], colours[3 * i + 1], colours[3 * i], 0))
                     for i in range(entries))
    offset = 14 + 40 + len(table)
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, bmp_bits, 0, len(pixels), 2835, 2835,
                       entries, 0)
    with open(path, "wb") as file:
        file.write(header + info + table + pixels)


def run(*argv):
    subprocess.run(argv, check=True, capture_output=True)


def main():
    out, convert = sys.argv[1], sys.argv[2]
    source = os.path.join(out, "source.png")
    picture().save(source)
    for bits in (1, 2, 4, 8):
        entries = 1 << bits
        colours = [((i * 97 + 13) % 256, (i * 31) % 256, 255 - i) for i in range(entries)]
        indices = [(x * 3 + y * 5) % entries for y in range(H) for x in range(W)]
        name = os.path.join(out, "pal%d" % bits)
        with open(name + ".tif", "wb") as file:
            file.write(palette_tiff(bits, indices, colours))
        for how, args in (("lzw", ["-c", "lzw"]), ("zip", ["-c", "zip"]),
                          ("packbits", ["-c", "packbits"]),
                          ("tiled", ["-t", "-w", "32", "-l", "16", "-c", "lzw"])):
            run("tiffcp", *args, name + ".tif", "%s-%s.tif" % (name, how))
    for how in ("raw", "tiff_lzw", "tiff_adobe_deflate", "packbits"):
        picture().convert("RGB").quantize(200).save(
            os.path.join(out, "pillow-p8-%s.tif" % how), compression=how)
    picture().save(os.path.join(out, "pillow-rgba.tif"), compression="tiff_lzw")
    picture().convert("L").save(os.path.join(out, "pillow-grey.tif"))
    picture().convert("1").save(os.path.join(out, "pillow-bilevel.tif"))
    magick = {
        "im-rgb-none": ["-alpha", "off", "-compress", "none"],
        "im-rgb-lzw": ["-alpha", "off", "-compress", "lzw"],
        "im-rgb-zip": ["-alpha", "off", "-compress", "zip"],
        "im-rgb-jpeg": ["-alpha", "off", "-compress", "jpeg", "-quality", "95"],
        "im-rgb-packbits": ["-alpha", "off", "-compress", "RLE"],
        "im-rgba": ["-compress", "lzw"],
        "im-rgba-associated": ["-define", "tiff:alpha=associated", "-compress", "zip"],
        "im-grey": ["-alpha", "off", "-colorspace", "Gray"],
        "im-grey16": ["-alpha", "off", "-colorspace", "Gray", "-depth", "16"],
        "im-rgb16": ["-alpha", "off", "-depth", "16", "-compress", "zip"],
        "im-rgba16": ["-depth", "16"],
        "im-cmyk": ["-alpha", "off", "-colorspace", "CMYK"],
        "im-tiled": ["-alpha", "off", "-define", "tiff:tile-geometry=64x64", "-compress", "lzw"],
        "im-palette4": ["-alpha", "off", "-colors", "16", "-type", "Palette", "-depth", "4"],
        "im-palette8": ["-alpha", "off", "-colors", "100", "-type", "Palette"],
        "im-big-endian": ["-alpha", "off", "-endian", "MSB"],
    }
    for name, args in magick.items():
        run(convert, source, *args, os.path.join(out, name + ".tif"))
    run(convert, source, "-alpha", "off", source, "-alpha", "off", "-negate",
        os.path.join(out, "im-two-pages.tif"))
    run("tiffcp", "-p", "separate", os.path.join(out, "im-rgb-none.tif"),
        os.path.join(out, "tiffcp-separate.tif"))
    run("tiffcp", "-8", os.path.join(out, "im-rgb-lzw.tif"), os.path.join(out, "tiffcp-bigtiff.tif"))
    for name in sorted(os.listdir(out)):
        if not name.endswith(".tif"):
            continue
        path = os.path.join(out, name)
        if "pal" in name or name.startswith("pillow-p8"):
            canonical_bmp(path[:-4] + ".bmp", path)
        # ImageMagick's decode alone, for a file Pillow reads otherwise
        size = subprocess.run([convert, path + "[0]", "-format", "%w %h", "info:"],
                              capture_output=True, check=True).stdout
        pixels = subprocess.run([convert, path + "[0]", "-depth", "8", "RGBA:-"],
                                capture_output=True, check=True).stdout
        with open(path[:-4] + ".magick", "wb") as file:
            file.write(size + b"\n" + pixels)


main()
