#!/usr/bin/python3
"""Makes the TIFF test's files in OUT: ImageMagick's palette TIFFs of 1, 2,
4 and 8 bits (map values v * 257), recompressed, cut into strips of 7 rows
and tiled by tiffcp; Pillow's 8-bit ones (map values v * 256); RGB, RGBA,
grey, 16-bit, CMYK, tiled and two-page files; headers made to claim sizes
by tiffset. Beside each palette TIFF, NAME.bmp: the canonical bitmap of its
indices and map as Pillow reads them (4 bits a pixel up to 4 in the TIFF,
else 8); beside each TIFF, NAME.magick: ImageMagick's RGBA of its first
page ("WIDTH HEIGHT\\n" and the bytes), or Pillow's, which turns the rows as
the orientation tag says.
Usage: tiff_cases.py OUT CONVERT"""
import os
import struct
import subprocess
import sys

from PIL import Image

from rgba_reference import with_imagemagick


def canonical_bmp(path, tiff):
    with Image.open(tiff) as image:
        bits = image.tag_v2.get(258, (8,))[0]
        colours = image.getpalette()[:3 << bits]
        (width, height), indices = image.size, list(image.getdata())
    depth, entries = (4 if bits <= 4 else 8), 1 << bits
    colours += [0] * (3 * entries - len(colours))
    pixels = bytearray()
    for y in reversed(range(height)):
        row = bytearray(((width * depth + 31) // 32) * 4)
        for x in range(width):
            row[x * depth // 8] |= indices[y * width + x] << (4 * (x % 2 == 0) if depth == 4 else 0)
        pixels += row
    table = b"".join(bytes((colours[3 * i + 2], colours[3 * i + 1], colours[3 * i], 0))
                     for i in range(entries))
    offset = 54 + len(table)
    with open(path, "wb") as file:
        file.write(b"BM" + struct.pack("<IHHIIiiHHIIiiII", offset + len(pixels), 0, 0, offset, 40,
                                       width, height, 1, depth, 0, len(pixels), 2835, 2835,
                                       entries, 0) + table + pixels)


def main():
    out, convert = sys.argv[1], sys.argv[2]
    at = lambda name: os.path.join(out, name)
    run = lambda *argv: subprocess.run(argv, check=True, capture_output=True)
    image = Image.new("RGBA", (83, 61))
    image.putdata([((x * 7 + y) % 256, (y * 5) % 256, (x * y) % 256, (x * 3 + y * 2) % 256)
                   for y in range(61) for x in range(83)])
    image.save(at("source.png"))
    for bits in (1, 2, 4, 8):
        name = at("pal%d" % bits)
        run(convert, at("source.png"), "-alpha", "off", "-colors", str(1 << bits), "-type",
            "Palette", "-depth", str(bits), "-compress", "none", name + "-one.tif")
        run("tiffcp", "-r", "7", name + "-one.tif", name + ".tif")
        for how, args in (("lzw", ["-c", "lzw"]), ("zip", ["-c", "zip"]),
                          ("packbits", ["-c", "packbits"]),
                          ("tiled", ["-t", "-w", "32", "-l", "16", "-c", "lzw"])):
            run("tiffcp", "-r", "7", *args, name + ".tif", "%s-%s.tif" % (name, how))
    for how in ("raw", "tiff_lzw", "tiff_adobe_deflate", "packbits"):
        image.convert("RGB").quantize(200).save(at("pillow-p8-%s.tif" % how), compression=how)
    image.save(at("pillow-rgba.tif"), compression="tiff_lzw")
    image.convert("L").save(at("pillow-grey.tif"))
    image.convert("1").save(at("pillow-bilevel.tif"))
    magick = {
        "rgb-none": ["-compress", "none"], "rgb-lzw": ["-compress", "lzw"],
        "rgb-zip": ["-compress", "zip"], "rgb-jpeg": ["-compress", "jpeg", "-quality", "95"],
        "rgb-packbits": ["-compress", "RLE"], "grey": ["-colorspace", "Gray"],
        "grey16": ["-colorspace", "Gray", "-depth", "16"],
        "rgb16": ["-depth", "16", "-compress", "zip"], "cmyk": ["-colorspace", "CMYK"],
        "tiled": ["-define", "tiff:tile-geometry=64x64", "-compress", "lzw"],
        "big-endian": ["-endian", "MSB"],
    }
    for name, args in magick.items():
        run(convert, at("source.png"), "-alpha", "off", *args, at("im-%s.tif" % name))
    run(convert, at("source.png"), "-compress", "lzw", at("im-rgba.tif"))
    run(convert, at("source.png"), "-depth", "16", at("im-rgba16.tif"))
    run(convert, at("source.png"), "-define", "tiff:alpha=associated", at("im-rgba-associated.tif"))
    run(convert, at("source.png"), "-alpha", "off", at("source.png"), "-alpha", "off", "-negate",
        at("im-two-pages.tif"))
    run("tiffcp", "-p", "separate", at("im-rgb-none.tif"), at("tiffcp-separate.tif"))
    run("tiffcp", "-8", at("im-rgb-lzw.tif"), at("tiffcp-bigtiff.tif"))
    # Rows flipped or mirrored as the orientation tag says: TIFF-ORIENTATION.tif
    for name, orientation in (("pal4-tiled", 2), ("pal8", 3), ("pal2-lzw", 4),
                              ("im-rgb-lzw", 4)):
        run("cp", at(name + ".tif"), at("%s-%d.tif" % (name, orientation)))
        run("tiffset", "-s", "274", str(orientation), at("%s-%d.tif" % (name, orientation)))
    for name in sorted(os.listdir(out)):
        if name.endswith(".tif") and ("pal" in name or "-p8-" in name):
            canonical_bmp(at(name[:-4] + ".bmp"), at(name))
        if name.endswith(".tif"):
            (width, height), pixels = with_imagemagick(convert, at(name))
            with Image.open(at(name)) as image:
                if image.tag_v2.get(274, 1) != 1:  # ImageMagick leaves the rows as stored
                    pixels = image.convert("RGBA").tobytes()
            with open(at(name[:-4] + ".magick"), "wb") as file:
                file.write(b"%d %d\n" % (width, height) + pixels)
    # Headers claiming what no one should hold: WIDTHxHEIGHT-FROM.tif.
    for width, height, source in ((60000, 60000, "im-rgb-none"), (60000, 60000, "pal8"),
                                  (60000, 30000, "pal4"), (70000, 2, "pal8"), (5, 40000, "pal8"),
                                  (0, 5, "im-rgb-none")):
        claim = at("%dx%d-%s.tif" % (width, height, source))
        run("cp", at(source + ".tif"), claim)
        run("tiffset", "-s", "257", str(height), claim)
        run("tiffset", "-s", "256", str(width), claim)


main()
