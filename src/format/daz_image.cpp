#include "format/daz_image.h"

#include "format/byte_order.h"

#include <algorithm>
#include <cstring>

namespace orvx {

int parseDazImage(const std::uint8_t* data, std::size_t size, std::uint64_t totalSize,
                  DazImage& image) {
    // A short buffer that isn't daz at all is told so first.
    if (size >= 2 && loadU16(data) != DAZ_MAGIC) {
        return DAZ_ERR_NOT_DAZ;
    }
    if (size < DAZ_HEADER_SIZE) {
        return DAZ_ERR_TRUNCATED;
    }
    DazHeader header;
    readDazHeader(data, header);
    const int bits = header.bitsPerPixel;
    if (bits != 4 && bits != 8) {
        return DAZ_ERR_DAZ_BITS;
    }
    const int colors = header.colorCount;
    if (colors < 1 || colors > (bits == 4 ? MAX_COLORS_4BPP : MAX_COLORS_8BPP)) {
        return DAZ_ERR_DAZ_COLORS;
    }
    const std::size_t paletteBytes = PALETTE_ENTRY_SIZE * static_cast<std::size_t>(colors);
    const std::uint64_t pixelStart = DAZ_HEADER_SIZE + paletteBytes;
    if (size < pixelStart) {
        return DAZ_ERR_TRUNCATED;
    }
    // The image is the first |height| rows of the pixel area, or as many
    // whole rows as it holds when it holds fewer; anything after them (an
    // ICC profile, say) is not part of the image.
    const std::uint64_t rowSize = dazRowSize(header.width, static_cast<unsigned>(bits));
    const std::uint64_t pixelBytes = std::max(totalSize, std::uint64_t{size}) - pixelStart;
    const std::uint64_t present = rowSize == 0 ? 0 : pixelBytes / rowSize;
    const std::uint64_t rows = std::min(present, dazHeightRows(header));
    if (rows == 0) {
        return DAZ_ERR_NO_ROWS;
    }
    image.header = header;
    image.palette = data + DAZ_HEADER_SIZE;
    image.paletteBytes = paletteBytes;
    image.pixelStart = pixelStart;
    image.rowSize = rowSize;
    image.rows = rows;
    image.trailing = pixelBytes - rows * rowSize;
    return DAZ_OK;
}

void fillDazColourTable(const std::uint8_t* palette, std::size_t paletteBytes,
                        DazColourTable& colours) {
    for (std::size_t i = 0; i < 256; ++i) {
        std::uint8_t* colour = colours.data() + 4 * i;
        if (i < paletteBytes / PALETTE_ENTRY_SIZE) {
            std::memcpy(colour, palette + 4 * i, 3);
            colour[3] = 0xFF;
        } else {
            colour[0] = DAZ_UNDEFINED_RED;
            colour[1] = DAZ_UNDEFINED_GREEN;
            colour[2] = DAZ_UNDEFINED_BLUE;
            colour[3] = DAZ_UNDEFINED_ALPHA;
        }
    }
}

} // namespace orvx
