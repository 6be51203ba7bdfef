#!/usr/bin/python3
"""The pixels of an indexed PNG as dazpng writes it, as a daz viewer shows
them: raw RGB, an index past the PLTE as opaque magenta (libdaz's undefined
colour), whatever the PNG decoder would make of it.

    png_rgb.py image.png > image.rgb
    png_rgb.py --indices image.png > image.indices    (one byte a pixel)
"""
import struct
import sys
import zlib

UNDEFINED = bytes((255, 0, 255))


def chunks(data):
    at = 8
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        yield kind, data[at + 8:at + 8 + length]
        at += 12 + length


def unfilter(raw, row_bytes, rows, step):
    out, previous, at = [], bytearray(row_bytes), 0
    for _ in range(rows):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + row_bytes])
        at += 1 + row_bytes
        for i in range(row_bytes):
            left = line[i - step] if i >= step else 0
            up, corner = previous[i], previous[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        out.append(bytes(line))
        previous = line
    return out


def main():
    indices_only = sys.argv[1] == "--indices"
    data = open(sys.argv[-1], "rb").read()
    found = dict()
    idat = b""
    for kind, body in chunks(data):
        if kind == b"IDAT":
            idat += body
        else:
            found.setdefault(kind, body)
    width, height, depth, colour_type, _, _, interlace = struct.unpack(">IIBBBBB", found[b"IHDR"])
    assert colour_type == 3 and interlace == 0, (colour_type, interlace)
    plte = found[b"PLTE"]
    row_bytes = (width * depth + 7) // 8
    rows = unfilter(zlib.decompress(idat), row_bytes, height, 1)
    out = bytearray()
    per_byte = 8 // depth
    for line in rows:
        for x in range(width):
            byte = line[x // per_byte]
            index = (byte >> (8 - depth * (x % per_byte + 1))) & ((1 << depth) - 1)
            if indices_only:
                out.append(index)
            else:
                out += plte[3 * index:3 * index + 3] if 3 * index < len(plte) else UNDEFINED
    sys.stdout.buffer.write(bytes(out))


main()
