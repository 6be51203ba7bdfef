#!/usr/bin/python3
"""Writes PNGs of every colour type and bit depth into OUT, for the RGBA
reader: with Pillow grey of 1 and 8 bits (and 16, I;16), grey with alpha,
RGB, RGBA, palettes of 1, 2, 4 and 8 bits, and tRNS for grey, RGB and a
palette; with ImageMagick (CONVERT) 16-bit RGB, RGBA and grey with alpha,
2- and 4-bit grey, and an interlaced copy of the RGBA image.
Usage: png_rgba_cases.py OUT CONVERT"""
import subprocess
import sys
from pathlib import Path

from PIL import Image

WIDTH, HEIGHT = 19, 11


def rgba(x, y):
    return (x * 255 // (WIDTH - 1), y * 255 // (HEIGHT - 1), (x * 29 + y * 53) % 256,
            (x * 37 + y * 11) % 256)


def image(mode):
    picture = Image.new("RGBA", (WIDTH, HEIGHT))
    picture.putdata([rgba(x, y) for y in range(HEIGHT) for x in range(WIDTH)])
    return picture if mode == "RGBA" else picture.convert(mode)


def main():
    out, convert = Path(sys.argv[1]), sys.argv[2]
    image("RGBA").save(out / "rgba8.png")
    image("RGB").save(out / "rgb8.png")
    image("RGB").save(out / "rgb8-trns.png", transparency=image("RGB").getpixel((3, 2)))
    image("LA").save(out / "greya8.png")
    image("L").save(out / "grey8.png")
    image("L").save(out / "grey8-trns.png", transparency=image("L").getpixel((5, 5)))
    image("1").save(out / "grey1.png")
    sixteen = Image.new("I;16", (WIDTH, HEIGHT))
    sixteen.putdata([x * 3000 + y * 700 for y in range(HEIGHT) for x in range(WIDTH)])
    sixteen.save(out / "grey16.png")
    for bits, colours in ((1, 2), (2, 4), (4, 16), (8, 200)):
        indexed = image("RGB").quantize(colours)
        indexed.save(out / f"palette{bits}.png", bits=bits)
    indexed = image("RGB").quantize(16)
    indexed.save(out / "palette4-trns.png", bits=4, transparency=bytes(range(0, 256, 16)))
    for name, options in (("rgb16", ["-depth", "16", "-alpha", "off", "PNG48:"]),
                          ("rgba16", ["-depth", "16", "PNG64:"]),
                          ("greya16", ["-depth", "16", "-colorspace", "gray",
                                       "-define", "png:color-type=4", "PNG:"]),
                          ("grey2", ["-colorspace", "gray", "-alpha", "off", "-depth", "2",
                                     "-define", "png:bit-depth=2", "-define", "png:color-type=0",
                                     "PNG:"]),
                          ("grey4", ["-colorspace", "gray", "-alpha", "off", "-depth", "4",
                                     "-define", "png:bit-depth=4", "-define", "png:color-type=0",
                                     "PNG:"]),
                          ("rgba8-interlaced", ["-interlace", "PNG", "PNG32:"])):
        target = options[-1] + str(out / f"{name}.png")
        subprocess.run([convert, str(out / "rgba8.png")] + options[:-1] + [target], check=True)


main()
