#!/usr/bin/env python3
"""For each bitmap path: "WIDTH HEIGHT SHA256" of its pixel indices as Pillow
decodes them (one byte per pixel, top row first), or "ERROR message"."""
import hashlib
import sys

from PIL import Image

for path in sys.argv[1:]:
    try:
        with Image.open(path) as image:
            if image.mode not in ("P", "L"):  # L: a grey palette, still indices
                raise ValueError("mode " + image.mode)
            digest = hashlib.sha256(image.tobytes()).hexdigest()
            print(image.width, image.height, digest)
    except Exception as error:  # one line per path, whatever went wrong
        print("ERROR", str(error).replace("\n", " "))
