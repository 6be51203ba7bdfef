// daz_source.h - a daz file read back: its header and palette checked, and any
// stretch of its pixel area with the keystream taken off.
#pragma once

#include "convert/pixel_kernel.h"
#include "convert/result_codes.h"
#include "format/daz_format.h"

#include <cstdint>
#include <cstdio>

struct DazSource {
    std::FILE* file = nullptr;
    DazHeader header;
    std::uint8_t palette[PALETTE_ENTRY_SIZE * MAX_COLORS_8BPP]{}; // as stored: r, g, b, fourth
    std::size_t paletteBytes = 0;
    std::uint64_t pixelStart = 0; // offset of the pixel area in the file
    std::uint64_t rowSize = 0;    // ((width * bpp + 31) / 32) * 4
    std::uint64_t rows = 0;       // whole rows the pixel area holds
    PixelCoding coding;           // the keystream's offsets, one period twice
};

// Reads and checks the header and palette of the daz file open at file:
// DECODE_ERR_NOT_DAZ, _SHORT, _BAD_DEPTH, _BAD_COLORS or _READ, and
// DECODE_ERR_NO_ROWS when the pixel area holds no whole row (a width of 0
// included). Bytes after the last whole row are not part of the image.
DecodeResult openDazSource(std::FILE* file, DazSource& daz);

// Reads size bytes of the pixel area from offset on into out and takes the
// keystream off: (stored - offset) mod 256. DECODE_ERR_READ if they can't
// all be read.
DecodeResult readDazPixels(DazSource& daz, std::uint64_t offset, std::size_t size,
                           std::uint8_t* out);
