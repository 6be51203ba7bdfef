// daz_source.h - a daz file read back: its header and palette checked, and any
// stretch of its pixel area with the keystream taken off.
#pragma once

#include "convert/result_codes.h"
#include "format/daz_format.h"
#include "kernel/pixel_kernel.h"

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
// DAZ_OK, or DAZ_ERR_NOT_DAZ, DAZ_ERR_TRUNCATED, DAZ_ERR_DAZ_BITS,
// DAZ_ERR_DAZ_COLORS or DAZ_ERR_READ.
//
// The image's rows are the first H = |height| rows of the pixel area (height
// read as signed 16 bits), whichever way they run: a pixel area that holds
// more leaves the bytes past them out of the image, one that holds fewer
// gives its whole rows. DAZ_ERR_NO_ROWS when that makes no row: a height
// or a width of 0, or a pixel area shorter than one row. So rows is at most
// 32768 and a row at most 65536 bytes.
int openDazSource(std::FILE* file, DazSource& daz);

// Reads size bytes of the pixel area from offset on into out and takes the
// keystream off: (stored - offset) mod 256. DAZ_ERR_READ if they can't all
// be read.
int readDazPixels(DazSource& daz, std::uint64_t offset, std::size_t size, std::uint8_t* out);

} // namespace orvx
