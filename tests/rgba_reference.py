#!/usr/bin/python3
"""Writes the RGBA of each image that Pillow and ImageMagick both read, and
read alike, as OUT/NAME.rgba: "WIDTH HEIGHT\\n", then Pillow's 4 x WIDTH x
HEIGHT bytes, top row first, then ImageMagick's. Alike: the same size, and
no byte more than 1 apart (they scale a 5-bit channel to 8 bits, one
rounding and the other truncating); a reader is then held to lie between
them. An image either can't read, or that they read differently, gets no
file: there is no one answer to hold the reader to.
Usage: rgba_reference.py OUT CONVERT FILE..."""
import os
import subprocess
import sys

from PIL import Image


def with_pillow(path):
    try:
        with Image.open(path) as image:
            image.load()
            return image.size, image.convert("RGBA").tobytes()
    except Exception:  # Pillow's refusals come as many kinds
        return None


def with_imagemagick(convert, path):
    size = subprocess.run([convert, path + "[0]", "-format", "%w %h", "info:"],
                          capture_output=True, text=True, check=False)
    pixels = subprocess.run([convert, path + "[0]", "-depth", "8", "RGBA:-"],
                            capture_output=True, check=False)
    if size.returncode != 0 or pixels.returncode != 0 or not size.stdout.strip():
        return None
    width, height = (int(word) for word in size.stdout.split())
    return (width, height), pixels.stdout


def main():
    out, convert, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    for path in files:
        pillow = with_pillow(path)
        magick = with_imagemagick(convert, path) if pillow is not None else None
        if magick is None or pillow[0] != magick[0] or len(pillow[1]) != len(magick[1]) or \
                any(abs(a - b) > 1 for a, b in zip(pillow[1], magick[1])):
            continue
        (width, height), rgba = pillow
        name = os.path.basename(os.path.dirname(path)) + "-" + os.path.basename(path) + ".rgba"
        with open(os.path.join(out, name), "wb") as file:
            file.write(b"%d %d\n" % (width, height) + rgba + magick[1])


if __name__ == "__main__":
    main()
