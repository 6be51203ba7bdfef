#include "api/api_rows.h"

#include "format/daz_format.h"

#include <cstring>

namespace orvx {

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
    return activeKernel().fitNibbles(indices, count);
}

void decodeRow(const PixelCoding& coding, const std::uint8_t* stored, std::uint32_t width,
               std::size_t phase, std::uint8_t* out) {
    activeKernel().decodeRow(coding, stored, width, out, phase, false);
}

std::uint64_t encodeRow(const PixelCoding& coding, const KernelVariant& kernel,
                        const std::uint8_t* indices, std::uint32_t width, std::uint8_t* row,
                        std::size_t rowSize, std::size_t phase) {
    return kernel.encodeRow(coding, indices, width, row, rowSize, phase, false);
}

} // namespace orvx
