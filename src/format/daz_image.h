// daz_image.h - a daz image's header and palette read from bytes in memory:
// a pure parse, no allocation and no I/O, shared by the file reader and the
// library's calls on buffers. Its faults are the library's own daz_error
// values (daz.h), so that no layer above maps them again.
#pragma once

#include "format/daz_format.h"

#include "daz/daz.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvx {

struct DazImage {
    DazHeader header;
    const std::uint8_t* palette = nullptr; // into the bytes parsed: red, green, blue, fourth
    std::size_t paletteBytes = 0;          // 4 * colorCount
    std::uint64_t pixelStart = 0;          // where the pixel area starts: 24 + paletteBytes
    std::uint64_t rowSize = 0;             // dazRowSize(width, bits)
    std::uint64_t rows = 0;                // min(whole rows present, |height|)
    std::uint64_t trailing = 0;            // bytes after the image's last row
};

// |height|: the field is signed 16 bits, negative for top-down rows.
inline std::uint64_t dazHeightRows(const DazHeader& header) {
    const std::int64_t height = static_cast<std::int16_t>(header.height);
    return static_cast<std::uint64_t>(height < 0 ? -height : height);
}

inline bool dazTopDown(const DazHeader& header) {
    return static_cast<std::int16_t>(header.height) < 0;
}

// Checks a daz image whose first size bytes are at data (at least its header
// and palette, at most DAZ_MAX_PREFIX_SIZE of them are read) and whose whole
// length is totalSize (at least size). The checks come in this order: the
// magic (once two bytes are there), the header's length, the bits, the
// colour count, the palette's length, the rows: DAZ_ERR_NOT_DAZ,
// DAZ_ERR_TRUNCATED, DAZ_ERR_DAZ_BITS, DAZ_ERR_DAZ_COLORS. A width or height
// of 0, or a pixel area shorter than one row, is DAZ_ERR_NO_ROWS. DAZ_OK on
// success; image.palette then points into data.
int parseDazImage(const std::uint8_t* data, std::size_t size, std::uint64_t totalSize,
                  DazImage& image);

// Every byte value's RGBA colour: the palette's entries (paletteBytes of
// them as stored) opaque, the rest the undefined colour.
using DazColourTable = std::array<std::uint8_t, std::size_t{4} * 256>;
void fillDazColourTable(const std::uint8_t* palette, std::size_t paletteBytes,
                        DazColourTable& colours);

} // namespace orvx
