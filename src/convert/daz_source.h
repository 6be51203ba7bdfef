// daz_source.h - a daz file read back: its header and palette checked, and any
// stretch of its pixel area with the keystream taken off.
#pragma once

#include "kernel/pixel_kernel.h"
#include "convert/result_codes.h"
#include "format/daz_format.h"

#include <cstdint>
#include <cstdio>

namespace orvx {

struct DazSource {
    std::FILE* file = nullptr;
    DazHeader header;
    std::uint8_t palette[PALETTE_ENTRY_SIZE * MAX_COLORS_8BPP]{}; // as stored: r, g, b, fourth
    std::size_t paletteBytes = 0;
    std::uint64_t pixelStart = 0; // offset of the pixel area in the file
    std::uint64_t rowSize = 0;    // dazRowSize(width, bpp)
    std::uint64_t rows = 0;       // the image's rows: |height|, or fewer if the file is short
    PixelCoding coding;           // the keystream's offsets, one period twice
};

// Reads and checks the header and palette of the daz file open at file:
// DECODE_ERR_NOT_DAZ, _SHORT, _BAD_DEPTH, _BAD_COLORS or _READ.
//
// The image's rows are the first H = |height| rows of the pixel area (height
// read as signed 16 bits), whichever way they run: a pixel area that holds
// more leaves the bytes past them out of the image, one that holds fewer
// gives its whole rows. DECODE_ERR_NO_ROWS when that makes no row: a height
// or a width of 0, or a pixel area shorter than one row. So rows is at most
// 32768 and a row at most 65536 bytes.
DecodeResult openDazSource(std::FILE* file, DazSource& daz);

// Reads size bytes of the pixel area from offset on into out and takes the
// keystream off: (stored - offset) mod 256. DECODE_ERR_READ if they can't
// all be read.
DecodeResult readDazPixels(DazSource& daz, std::uint64_t offset, std::size_t size,
                           std::uint8_t* out);

} // namespace orvx
