#!/usr/bin/python3
"""Makes JPEG, WebP, HEIF and AVIF files with Debian's tools into OUT, each
with its reference decode from another program as NAME.rgba ("WIDTH
HEIGHT\\n", then 4 x WIDTH x HEIGHT bytes, top row first), and lists them in
OUT/cases.txt, one file name a line. The references use the same libraries
as the readers, with the same settings: djpeg's defaults (the accurate
integer DCT, fancy upsampling), dwebp, heif-convert; Pillow where those
tools can't (CMYK, an animation's first frame). A case whose tool is
missing is left out, and named on standard output.
Usage: photo_cases.py OUT"""
import io
import os
import shutil
import struct
import subprocess
import sys

import numpy as np
from PIL import Image

OUT = sys.argv[1]


def path(name):
    return os.path.join(OUT, name)


def run(*command):
    return subprocess.run(command, check=True, capture_output=True).stdout


def picture(width, height, alpha=False, seed=1):
    """Gradients under noise: something like a photo, edges and all."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]
    planes = [x * 255 // width, y * 255 // height, (x + 2 * y) * 3 % 256]
    if alpha:
        planes.append((x * 7 + y * 5) % 256)
    noisy = np.stack(planes, -1) + rng.integers(-24, 24, (height, width, len(planes)))
    return Image.fromarray(np.clip(noisy, 0, 255).astype("uint8"), "RGBA" if alpha else "RGB")


def rgba_of(image):
    return image.size, image.convert("RGBA").tobytes()


def pnm_reference(data):
    return rgba_of(Image.open(io.BytesIO(data)))


def pam_reference(data):
    """dwebp -pam: P7 with WIDTH, HEIGHT, DEPTH 4, ENDHDR."""
    header, _, pixels = data.partition(b"ENDHDR\n")
    fields = dict(line.split(b" ", 1) for line in header.split(b"\n")[1:] if b" " in line)
    return (int(fields[b"WIDTH"]), int(fields[b"HEIGHT"])), pixels


# EXIF orientation as Pillow's transposes (ImageOps.exif_transpose).
ORIENTED = {2: Image.Transpose.FLIP_LEFT_RIGHT, 3: Image.Transpose.ROTATE_180,
            4: Image.Transpose.FLIP_TOP_BOTTOM, 5: Image.Transpose.TRANSPOSE,
            6: Image.Transpose.ROTATE_270, 7: Image.Transpose.TRANSVERSE,
            8: Image.Transpose.ROTATE_90}


def with_orientation(jpeg, orientation, big_endian=False):
    """jpeg with an APP1 Exif marker after SOI: one IFD, tag 0x0112."""
    order = ">" if big_endian else "<"
    tiff = (b"MM" if big_endian else b"II") + struct.pack(order + "HI", 42, 8)
    tiff += struct.pack(order + "H", 1) + struct.pack(order + "HHIHH", 0x0112, 3, 1,
                                                      orientation, 0)
    tiff += struct.pack(order + "I", 0)
    body = b"Exif\0\0" + tiff
    return jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(body) + 2) + body + jpeg[2:]


def save(name, data, reference):
    with open(path(name), "wb") as file:
        file.write(data)
    (width, height), rgba = reference
    with open(path(name + ".rgba"), "wb") as file:
        file.write(b"%d %d\n" % (width, height) + rgba)
    return name


def main():
    made = []
    missing = []
    # JPEG: cjpeg, djpeg the reference.
    picture(67, 45).save(path("source.ppm"))
    baseline = None
    for name, options in [("baseline", []), ("progressive", ["-progressive"]),
                          ("grey", ["-grayscale"]), ("h2v1", ["-sample", "2x1"]),
                          ("h1v1", ["-sample", "1x1"]), ("rgb", ["-rgb"]),
                          ("arithmetic", ["-arithmetic"]), ("restarts", ["-restart", "1B"]),
                          ("progressive-grey", ["-progressive", "-grayscale"])]:
        file = path(name + ".jpg")
        run("cjpeg", "-quality", "85", *options, "-outfile", file, path("source.ppm"))
        with open(file, "rb") as read:
            data = read.read()
        made.append(save(name + ".jpg", data, pnm_reference(run("djpeg", "-pnm", file))))
        if name == "baseline":
            baseline = data
    # Turned by EXIF: djpeg's decode, turned by Pillow.
    upright = Image.open(io.BytesIO(run("djpeg", "-pnm", path("baseline.jpg"))))
    for orientation in range(1, 9):
        turned = upright.transpose(ORIENTED[orientation]) if orientation in ORIENTED else upright
        made.append(save("exif-%d.jpg" % orientation, with_orientation(baseline, orientation),
                         rgba_of(turned)))
    made.append(save("exif-6-motorola.jpg", with_orientation(baseline, 6, True),
                     rgba_of(upright.transpose(ORIENTED[6]))))
    # CMYK: ImageMagick writes YCCK under an Adobe marker, Pillow plain CMYK;
    # Pillow, on the same libjpeg, the reference for both.
    convert = shutil.which("convert-im6.q16") or shutil.which("convert")
    if convert:
        run(convert, path("source.ppm"), "-colorspace", "CMYK", "-quality", "90",
            path("ycck.jpg"))
        for name in ["ycck.jpg", "cmyk.jpg"]:
            if name == "cmyk.jpg":
                Image.open(path("ycck.jpg")).save(path(name), quality=90)
            with open(path(name), "rb") as read:
                made.append(save(name, read.read(), rgba_of(Image.open(path(name)))))
    else:
        missing.append("ImageMagick: ycck.jpg, cmyk.jpg")

    # WebP: cwebp, dwebp -pam the reference; img2webp, Pillow the reference.
    picture(67, 45).save(path("source.png"))
    picture(67, 45, alpha=True, seed=2).save(path("source-alpha.png"))
    for name, options, source in [("lossy", ["-q", "80"], "source.png"),
                                  ("lossless", ["-lossless"], "source.png"),
                                  ("lossy-alpha", ["-q", "80"], "source-alpha.png"),
                                  ("lossless-alpha", ["-lossless"], "source-alpha.png")]:
        file = path(name + ".webp")
        run("cwebp", "-quiet", *options, path(source), "-o", file)
        with open(file, "rb") as read:
            made.append(save(name + ".webp", read.read(),
                             pam_reference(run("dwebp", "-quiet", "-pam", file, "-o", "-"))))
    picture(67, 45, seed=3).save(path("frame2.png"))
    file = path("animated.webp")
    run("img2webp", "-loop", "0", "-lossy", path("source-alpha.png"), "-d", "100",
        path("frame2.png"), "-o", file)
    with Image.open(file) as animation:
        assert animation.is_animated
        animation.seek(0)
        reference = rgba_of(animation)
    with open(file, "rb") as read:
        made.append(save("animated.webp", read.read(), reference))
    # A first frame of 30 x 20 at (10, 6) on the canvas of the second: the
    # rest of the canvas transparent black.
    picture(30, 20, alpha=True, seed=4).save(path("small.png"))
    run("cwebp", "-quiet", "-q", "80", path("small.png"), "-o", path("small.webp"))
    run("cwebp", "-quiet", "-q", "80", path("frame2.png"), "-o", path("frame2.webp"))
    file = path("animated-offset.webp")
    run("webpmux", "-frame", path("small.webp"), "+100+10+6", "-frame", path("frame2.webp"),
        "+100+0+0", "-loop", "0", "-o", file)
    with Image.open(file) as animation:
        reference = rgba_of(animation)
    with open(file, "rb") as read:
        made.append(save("animated-offset.webp", read.read(), reference))

    # HEIF and AVIF: heif-enc, heif-convert the reference.
    if shutil.which("heif-enc") and shutil.which("heif-convert"):
        for name, options, source in [("plain.heic", [], "source.png"),
                                      ("alpha.heic", [], "source-alpha.png"),
                                      ("plain.avif", ["-A"], "source.png"),
                                      ("alpha.avif", ["-A"], "source-alpha.png")]:
            file = path(name)
            run("heif-enc", "-q", "70", *options, path(source), "-o", file)
            run("heif-convert", file, file + ".png")
            with open(file, "rb") as read:
                made.append(save(name, read.read(), rgba_of(Image.open(file + ".png"))))
    else:
        missing.append("libheif-examples: *.heic, *.avif")

    with open(path("cases.txt"), "w") as listing:
        listing.write("".join(name + "\n" for name in made))
    for what in missing:
        print("missing " + what)


main()
