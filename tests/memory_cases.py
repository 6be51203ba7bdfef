#!/usr/bin/python3
"""Writes one noisy picture of more than 2^17 colours into OUT in every
format Pillow (and heif-enc, where installed) writes that libdaz reads:
photo.png, .bmp, .gif, .jpg, -progressive.jpg, .tif, -tiled.tif, .webp,
-lossless.webp, .ppm, .heic. Usage: memory_cases.py OUT"""
import os
import shutil
import subprocess
import sys

import numpy as np
from PIL import Image

OUT = sys.argv[1]
rng = np.random.default_rng(7)
y, x = np.mgrid[0:340, 0:440]
planes = np.stack([x * 255 // 440, y * 255 // 340, (x + y) % 256], -1)
noisy = np.clip(planes + rng.integers(-40, 40, planes.shape), 0, 255).astype("uint8")
photo = Image.fromarray(noisy, "RGB")


def path(name):
    return os.path.join(OUT, name)


photo.save(path("photo.png"))
photo.save(path("photo.bmp"))
photo.save(path("photo.ppm"))
photo.save(path("photo.gif"))
photo.save(path("photo.jpg"), quality=90)
photo.save(path("photo-progressive.jpg"), quality=90, progressive=True)
photo.save(path("photo.tif"), compression="tiff_lzw")
photo.save(path("photo-tiled.tif"), compression="tiff_adobe_deflate", tile=(64, 64))
photo.save(path("photo.webp"), quality=80)
photo.save(path("photo-lossless.webp"), lossless=True)
if shutil.which("heif-enc"):
    subprocess.run(["heif-enc", "-q", "60", path("photo.png"), "-o", path("photo.heic")],
                   check=True, capture_output=True)
