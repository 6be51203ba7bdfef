#include "api/api_rows.h"

#include "format/daz_format.h"

#include <cstring>

namespace orvx {

int apiErrorFromParse(DazParseResult parsed) {
    switch (parsed) {
    case DAZ_PARSE_OK:
        return DAZ_OK;
    case DAZ_PARSE_NOT_DAZ:
        return DAZ_ERR_NOT_DAZ;
    case DAZ_PARSE_SHORT:
        return DAZ_ERR_TRUNCATED;
    case DAZ_PARSE_BAD_DEPTH:
        return DAZ_ERR_DAZ_BITS;
    case DAZ_PARSE_BAD_COLORS:
        return DAZ_ERR_DAZ_COLORS;
    case DAZ_PARSE_NO_ROWS:
        return DAZ_ERR_NO_ROWS;
    }
    return DAZ_ERR_ARGUMENT;
}

int checkLimits(const daz_limits* limits, std::uint64_t width, std::uint64_t rows,
                std::uint64_t bytes) {
    daz_limits defaults{};
    if (limits == nullptr) {
        daz_default_limits(&defaults);
        limits = &defaults;
    }
    if (width > limits->max_width || rows > limits->max_height ||
        width * rows > limits->max_pixels || bytes > limits->max_bytes) {
        return DAZ_ERR_LIMITS;
    }
    return DAZ_OK;
}

void fillInfo(const DazImage& image, daz_info& info) {
    info.width = image.header.width;
    info.height = static_cast<std::int16_t>(image.header.height);
    info.rows = static_cast<std::uint32_t>(image.rows);
    info.bits = image.header.bitsPerPixel;
    info.colors = image.header.colorCount;
    info.key = image.header.key;
    info.row_size = static_cast<std::uint32_t>(image.rowSize);
    info.pixel_offset = image.pixelStart;
    info.trailing = image.trailing;
    std::memset(info.palette, 0, sizeof info.palette);
    std::memcpy(info.palette, image.palette, image.paletteBytes);
}

int prepareEncode(std::uint32_t width, std::int64_t height, int bits, const std::uint8_t* palette,
                  int entries, int keptColors, std::uint16_t key, std::uint8_t* prefix,
                  std::size_t& prefixSize, int& kept) {
    if (palette == nullptr || (bits != 4 && bits != 8) || width == 0 || width > DAZ_MAX_WIDTH ||
        height == 0 || height < DAZ_MIN_HEIGHT || height > DAZ_MAX_HEIGHT || entries < 1 ||
        entries > (1 << bits)) {
        return DAZ_ERR_ARGUMENT;
    }
    if (keptColors < 0 || keptColors > entries) {
        return DAZ_ERR_COLORS;
    }
    kept = keptColors == 0 ? entries : keptColors;
    DazHeader header;
    header.width = static_cast<std::uint16_t>(width);
    header.height = static_cast<std::uint16_t>(height & 0xFFFF);
    header.bitsPerPixel = static_cast<std::uint16_t>(bits);
    header.colorCount = static_cast<std::int16_t>(kept);
    header.key = key;
    writeDazHeader(header, prefix);
    const std::size_t paletteBytes = PALETTE_ENTRY_SIZE * static_cast<std::size_t>(kept);
    std::memcpy(prefix + DAZ_HEADER_SIZE, palette, paletteBytes);
    prefixSize = DAZ_HEADER_SIZE + paletteBytes;
    return DAZ_OK;
}

bool fitNibbles(const std::uint8_t* indices, std::size_t count) {
    std::uint8_t seen = 0;
    for (std::size_t i = 0; i < count; ++i) {
        seen = static_cast<std::uint8_t>(seen | indices[i]);
    }
    return seen < 16;
}

void decodeRow(const PixelCoding& coding, const std::uint8_t* stored, std::uint32_t width, int bits,
               std::size_t phase, std::uint8_t* out, std::uint8_t* scratch) {
    if (bits == 8) {
        copyRemovingKeystream(coding, stored, out, width, phase);
        return;
    }
    const std::size_t bytes = (std::size_t{width} + 1) / 2;
    copyRemovingKeystream(coding, stored, scratch, bytes, phase);
    const std::size_t pairs = width / 2;
    for (std::size_t i = 0; i < pairs; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(scratch[i] >> 4U);
        out[2 * i + 1] = static_cast<std::uint8_t>(scratch[i] & 0x0FU);
    }
    if (width % 2 != 0) {
        out[width - 1] = static_cast<std::uint8_t>(scratch[pairs] >> 4U);
    }
}

std::uint64_t encodeRow(const PixelCoding& coding, PixelKernel kernel, const std::uint8_t* indices,
                        std::uint32_t width, int bits, std::uint8_t* row, std::size_t rowSize,
                        std::size_t phase) {
    std::size_t filled = width;
    if (bits == 8) {
        std::memcpy(row, indices, width);
    } else {
        const std::size_t pairs = width / 2;
        for (std::size_t i = 0; i < pairs; ++i) {
            row[i] = static_cast<std::uint8_t>((indices[2 * i] << 4U) | indices[2 * i + 1]);
        }
        filled = pairs;
        if (width % 2 != 0) {
            row[filled++] = static_cast<std::uint8_t>(indices[width - 1] << 4U);
        }
    }
    std::memset(row + filled, 0, rowSize - filled);
    return kernel(coding, row, rowSize, phase);
}

} // namespace orvx
