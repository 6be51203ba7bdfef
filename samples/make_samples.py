#!/usr/bin/env python3
"""Writes the sample bitmaps: uncompressed, 40-byte info header, full palette.

sample8.bmp: 96 x 64, 8 bits per pixel, 256 colours, a diagonal ramp over
every index. sample4.bmp: 45 x 30, 4 bits per pixel, 16 colours, rings; its
odd width gives rows with padding.
"""
import struct
import sys
from pathlib import Path


def bmp(width, height, bpp, palette, pixel):
    row_size = (width * bpp + 31) // 32 * 4
    rows = []
    for y in range(height):
        row = bytearray(row_size)
        for x in range(width):
            index = pixel(x, y)
            if bpp == 8:
                row[x] = index
            elif x % 2 == 0:
                row[x // 2] |= index << 4
            else:
                row[x // 2] |= index
        rows.append(bytes(row))
    pixels = b"".join(rows)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0, len(pixels),
                       2835, 2835, len(palette), 0)
    return header + info + table + pixels


def main(folder):
    out = Path(folder)
    ramp = [(i, (i * 3) % 256, 255 - i) for i in range(256)]
    (out / "sample8.bmp").write_bytes(
        bmp(96, 64, 8, ramp, lambda x, y: (x * 2 + y * 3) % 256))
    rings = [(i * 17, 255 - i * 17, (i * 40) % 256) for i in range(16)]
    (out / "sample4.bmp").write_bytes(
        bmp(45, 30, 4, rings, lambda x, y: ((x - 22) ** 2 + (y - 15) ** 2) // 20 % 16))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent)
