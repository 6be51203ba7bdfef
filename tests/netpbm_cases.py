#!/usr/bin/python3
"""Makes the PPM and PAM test's files in OUT: by netpbm's tools (ppmpat,
pgmramp, pamstack, pamchannel, pamdepth, pbmmake) and by hand here (header
comments and odd whitespace, two-byte samples, samples past maxval), and
beside each NAME.magick, ImageMagick's RGBA of it ("WIDTH HEIGHT\\n" and
the bytes).
Usage: netpbm_cases.py OUT CONVERT"""
import os
import subprocess
import sys

from rgba_reference import with_imagemagick


def run(command, out):
    with open(out, "wb") as file:
        subprocess.run(command, stdout=file, check=True, stderr=subprocess.DEVNULL)


def samples(values, maxval):
    width = 2 if maxval > 255 else 1
    return b"".join(v.to_bytes(width, "big") for v in values)


def pam(width, height, depth, maxval, tupltype, values, extra=b""):
    return (b"P7\n%sWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\nTUPLTYPE %s\nENDHDR\n" %
            (extra, width, height, depth, maxval, tupltype) + samples(values, maxval))


def main():
    out, convert = sys.argv[1], sys.argv[2]
    at = lambda name: os.path.join(out, name)
    run(["ppmpat", "-randomseed=7", "-gingham2", "41", "29"], at("pat.ppm"))
    run(["pgmramp", "-lr", "41", "29"], at("ramp.pgm"))
    run(["pamstack", at("pat.ppm"), at("ramp.pgm"), "-tupletype=RGB_ALPHA"], at("rgba.pam"))
    run(["pamchannel", "-infile", at("pat.ppm"), "0", "1", "2", "-tupletype=RGB"], at("rgb.pam"))
    run(["pamchannel", "-infile", at("ramp.pgm"), "0", "-tupletype=GRAYSCALE"], at("grey.pam"))
    run(["pamstack", at("ramp.pgm"), at("ramp.pgm"), "-tupletype=GRAYSCALE_ALPHA"],
        at("grey-alpha.pam"))
    run(["pbmmake", "-g", "13", "7"], at("bits.pbm"))
    run(["pamchannel", "-infile", at("bits.pbm"), "0", "-tupletype=BLACKANDWHITE"], at("bw.pam"))
    run(["pamdepth", "65535", at("pat.ppm")], at("pat65535.ppm"))
    run(["pamdepth", "100", at("pat.ppm")], at("pat100.ppm"))
    run(["pamdepth", "1000", at("rgba.pam")], at("rgba1000.pam"))
    values = [(i * 37) % 1001 for i in range(5 * 3 * 3)]
    hand = {
        "comments.ppm": b"P6 #a comment\n5\t# another\r3\n\n1000\n" + samples(values, 1000),
        "past-maxval.ppm": b"P6\n2 1\n7\n" + bytes([0, 7, 200, 3, 255, 1]),
        "grey16-alpha.pam": pam(3, 2, 2, 65535, b"GRAYSCALE_ALPHA",
                                [0, 65535, 32768, 1, 257, 40000, 65535, 0, 12345, 54321,
                                 1, 65535]),
        "commented.pam": pam(2, 2, 3, 15, b"RGB", list(range(12)), b"# made here\n\n"),
    }
    for name, data in hand.items():
        with open(at(name), "wb") as file:
            file.write(data)
    os.remove(at("bits.pbm"))
    # ImageMagick 6 reads the alpha of a two-byte RGB_ALPHA PAM inverted:
    # its reference is read after netpbm's pamdepth brings it to one byte.
    run(["pamdepth", "255", at("rgba1000.pam")], at("rgba1000.pam-255"))
    for name in sorted(os.listdir(out)):
        seen = at(name + "-255") if os.path.exists(at(name + "-255")) else at(name)
        if not name.endswith("-255"):
            (width, height), pixels = with_imagemagick(convert, seen)
            with open(at(name + ".magick"), "wb") as file:
                file.write(b"%d %d\n" % (width, height) + pixels)


main()
