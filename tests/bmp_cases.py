#!/usr/bin/python3
"""Writes bitmaps of the direct-colour kinds, laid out by hand, into OUT: 16
bits (BI_RGB's 5-5-5, BI_BITFIELDS 5-6-5 and 4-4-4-4 with alpha), 24 bits
bottom-up and top-down, 32 bits (BI_RGB, BI_BITFIELDS, a version 5 header's
masks with alpha, 10-10-10 in a version 4 header), and 1 bit. Each holds a
gradient, so that every channel takes many values.
Usage: bmp_cases.py OUT"""
import os
import struct
import sys

WIDTH, HEIGHT = 13, 7


def pixel(x, y):
    """Red, green, blue, alpha of pixel (x, y), top row first."""
    return (x * 255 // (WIDTH - 1), y * 255 // (HEIGHT - 1),
            (x * 17 + y * 31) % 256, (x * 40 + y * 9) % 256)


def field(value, mask):
    """An 8-bit value put into mask's bits (its top bits, as a scale down)."""
    if mask == 0:
        return 0
    shift = (mask & -mask).bit_length() - 1
    bits = bin(mask).count("1")
    return ((value >> (8 - bits)) if bits <= 8 else (value << (bits - 8))) << shift


def bitmap(bits, masks=None, header=40, compression=0, top_down=False, palette=b""):
    rows = []
    for y in range(HEIGHT):
        row = bytearray()
        for x in range(WIDTH):
            r, g, b, a = pixel(x, y)
            if bits == 24:
                row += bytes((b, g, r))
            elif bits == 1:
                pass
            else:
                word = sum(field(v, m) for v, m in zip((r, g, b, a), masks))
                row += struct.pack("<H" if bits == 16 else "<I", word)
        if bits == 1:
            for byte in range((WIDTH + 7) // 8):
                row.append(sum(((x + y) % 2) << (7 - x % 8)
                               for x in range(byte * 8, min(WIDTH, byte * 8 + 8))))
        row += bytes(-len(row) % 4)
        rows.append(bytes(row))
    if not top_down:
        rows.reverse()
    pixels = b"".join(rows)
    extra = b""
    if compression in (3, 6) and header == 40:
        extra = b"".join(struct.pack("<I", m) for m in masks[:3 if compression == 3 else 4])
    info = struct.pack("<IiiHHIIiiII", header, WIDTH, -HEIGHT if top_down else HEIGHT, 1, bits,
                       compression, len(pixels), 2835, 2835, len(palette) // 4, 0)
    if header > 40:
        info += b"".join(struct.pack("<I", m) for m in (list(masks or [0, 0, 0, 0]) + [0])[:4])
        info += bytes(header - len(info))
    offset = 14 + len(info) + len(extra) + len(palette)
    start = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    return start + info + extra + palette + pixels


CASES = {
    "rgb16-555": dict(bits=16, masks=(0x7C00, 0x03E0, 0x001F, 0)),
    "rgb16-565": dict(bits=16, masks=(0xF800, 0x07E0, 0x001F, 0), compression=3),
    "rgba16-4444": dict(bits=16, masks=(0x0F00, 0x00F0, 0x000F, 0xF000), compression=6),
    "rgb24": dict(bits=24),
    "rgb24-topdown": dict(bits=24, top_down=True),
    "rgb32": dict(bits=32, masks=(0xFF0000, 0xFF00, 0xFF, 0)),
    "rgb32-fields": dict(bits=32, masks=(0xFF, 0xFF00, 0xFF0000, 0), compression=3),
    "rgba32-v5": dict(bits=32, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000), header=124,
                      compression=3),
    "rgb32-1010102-v4": dict(bits=32, masks=(0x3FF00000, 0x000FFC00, 0x000003FF, 0), header=108,
                             compression=3),
    "pal1": dict(bits=1, palette=bytes((10, 20, 30, 0, 200, 150, 100, 0))),
}

for name, case in CASES.items():
    with open(os.path.join(sys.argv[1], name + ".bmp"), "wb") as out:
        out.write(bitmap(**case))
