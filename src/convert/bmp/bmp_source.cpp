#include "convert/bmp/bmp_source.h"

#include "format/byte_order.h"
#include "format/daz_format.h"

#include <algorithm>

namespace orvx {

namespace {

constexpr std::size_t BMP_OFFBITS_OFFSET = 10;
constexpr std::size_t BMP_HEADER_SIZE_OFFSET = 14;
constexpr std::size_t BMP_WIDTH_OFFSET = 18;
constexpr std::size_t BMP_DEPTH_OFFSET = 28;
constexpr std::size_t BMP_CORE_DEPTH_OFFSET = 24;
constexpr std::size_t BMP_COMPRESSION_OFFSET = 30;
constexpr std::size_t BMP_CLR_USED_OFFSET = 46;
constexpr std::int64_t FIXED_PALETTE_OFFSET = 54;
constexpr std::uint32_t MIN_HEADER_FOR_COMPRESSION = 20;
constexpr std::uint32_t MIN_HEADER_FOR_CLR_USED = 36;
constexpr std::uint32_t MAX_OS2_HEADER_SIZE = 64;
constexpr std::uint32_t V4_HEADER_SIZE = 108;

// The file's first bytes; a field past size is past the end of the file.
struct Start {
    const std::uint8_t* bytes;
    std::size_t size;

    bool holds(std::size_t offset, std::size_t count) const {
        return offset <= size && count <= size - offset;
    }
};

// A field that a short file may lack: missing reads as 0.
std::uint32_t optionalU32(const Start& start, std::size_t offset) {
    return start.holds(offset, 4) ? loadU32(start.bytes + offset) : 0;
}

bool isInfoHeaderSize(std::uint32_t size) {
    return (size >= 16 && size <= MAX_OS2_HEADER_SIZE) || size == V4_HEADER_SIZE ||
           size == BMP_V5_HEADER_SIZE;
}

// Picks the layout from bfOffBits and the header size. A file too short to
// hold them keeps the fixed layout, whose fields then decide.
void chooseLayout(const Start& start, BmpLayout& layout, std::uint32_t& headerSize,
                  std::uint32_t& offBits) {
    layout.kind = BmpLayoutKind::FIXED;
    if (!start.holds(BMP_OFFBITS_OFFSET, 8)) {
        return;
    }
    offBits = loadU32(start.bytes + BMP_OFFBITS_OFFSET);
    headerSize = loadU32(start.bytes + BMP_HEADER_SIZE_OFFSET);
    const std::uint64_t headersEnd = std::uint64_t{BMP_FILE_HEADER_SIZE} + headerSize;
    if (offBits < headersEnd) {
        return;
    }
    if (headerSize == BMP_CORE_HEADER_SIZE) {
        layout.kind = BmpLayoutKind::CORE;
    } else if (isInfoHeaderSize(headerSize)) {
        layout.kind = BmpLayoutKind::INFO;
    }
}

bool isDirectColour(std::uint16_t bitsPerPixel) {
    return bitsPerPixel == 16 || bitsPerPixel == 24 || bitsPerPixel == 32;
}

int parseDepth(const Start& start, BmpLayout& layout, BmpDepths depths) {
    const std::size_t at =
        layout.kind == BmpLayoutKind::CORE ? BMP_CORE_DEPTH_OFFSET : BMP_DEPTH_OFFSET;
    if (!start.holds(at, 2)) {
        return DAZ_ERR_READ;
    }
    layout.bitsPerPixel = loadU16(start.bytes + at);
    const std::uint16_t bits = layout.bitsPerPixel;
    if (bits == 4) {
        layout.paletteSize = MAX_COLORS_4BPP;
    } else if (bits == 8) {
        layout.paletteSize = MAX_COLORS_8BPP;
    } else if (depths == BmpDepths::ANY && (bits == 1 || bits == 2)) {
        layout.paletteSize = 1 << bits;
    } else if (depths == BmpDepths::ANY && isDirectColour(bits)) {
        layout.paletteSize = 0;
        // BI_RGB's: 5-5-5 for 16 bits, 8-8-8 (blue in the first byte) else.
        const bool fiveBits = bits == 16;
        layout.masks[0] = fiveBits ? 0x7C00U : 0xFF0000U;
        layout.masks[1] = fiveBits ? 0x03E0U : 0x00FF00U;
        layout.masks[2] = fiveBits ? 0x001FU : 0x0000FFU;
        layout.masks[3] = 0;
    } else {
        return DAZ_ERR_BMP_BITS;
    }
    return 0;
}

// Width and height: 16-bit fields in a core header, 32-bit in the others.
int parseDimensions(const Start& start, BmpLayout& layout) {
    const std::uint8_t* fields = start.bytes + BMP_WIDTH_OFFSET;
    if (!start.holds(BMP_WIDTH_OFFSET, layout.kind == BmpLayoutKind::CORE ? 4 : 8)) {
        return DAZ_ERR_READ;
    }
    layout.widthField = loadU16(fields);
    if (layout.kind == BmpLayoutKind::CORE) {
        layout.heightField = loadU16(fields + 2);
        layout.width = layout.widthField;
        layout.height = layout.heightField;
    } else {
        layout.heightField = loadU16(fields + 4);
        layout.width = static_cast<std::int32_t>(loadU32(fields));
        layout.height = static_cast<std::int32_t>(loadU32(fields + 4));
    }
    return 0;
}

int checkLayout(const BmpLayout& layout, BmpDepths depths) {
    switch (layout.compression) {
    case BMP_COMPRESSION_NONE:
        break;
    case BMP_COMPRESSION_BITFIELDS:
    case BMP_COMPRESSION_ALPHABITFIELDS:
        if (depths != BmpDepths::ANY || layout.kind != BmpLayoutKind::INFO ||
            (layout.bitsPerPixel != 16 && layout.bitsPerPixel != 32)) {
            return DAZ_ERR_NOT_BMP;
        }
        break;
    case BMP_COMPRESSION_RLE8:
        if (layout.bitsPerPixel != 8) {
            return DAZ_ERR_NOT_BMP;
        }
        break;
    case BMP_COMPRESSION_RLE4:
        if (layout.bitsPerPixel != 4) {
            return DAZ_ERR_NOT_BMP;
        }
        break;
    default:
        return DAZ_ERR_NOT_BMP;
    }
    // Sizes the daz header can't hold would come back wrapped: a height of
    // 40000 as -25536, upside down, or a width of 65536 as 0.
    if (layout.width <= 0 || layout.width > DAZ_MAX_WIDTH || layout.height < DAZ_MIN_HEIGHT ||
        layout.height > DAZ_MAX_HEIGHT) {
        return DAZ_ERR_NOT_BMP;
    }
    if (isRle(layout) && layout.height < 0) {
        return DAZ_ERR_NOT_BMP;
    }
    return 0;
}

// The masks of BI_BITFIELDS (red, green, blue) and BI_ALPHABITFIELDS (and
// alpha): in the header when it has room for them (52 bytes, alpha from 56),
// else right after a 40-byte one. -1 when the file ends first.
constexpr std::size_t BMP_MASKS_OFFSET = 54;
constexpr std::uint32_t MIN_HEADER_FOR_MASKS = 52;
constexpr std::uint32_t MIN_HEADER_FOR_ALPHA_MASK = 56;

int parseMasks(const Start& start, BmpLayout& layout, std::uint32_t headerSize) {
    const bool inHeader = headerSize >= MIN_HEADER_FOR_MASKS;
    const bool withAlpha = inHeader ? headerSize >= MIN_HEADER_FOR_ALPHA_MASK
                                    : layout.compression == BMP_COMPRESSION_ALPHABITFIELDS;
    const std::size_t count = withAlpha ? 4 : 3;
    if (!start.holds(BMP_MASKS_OFFSET, 4 * count)) {
        return DAZ_ERR_READ;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        layout.masks[i] = i < count ? loadU32(start.bytes + BMP_MASKS_OFFSET + 4 * i) : 0;
    }
    return 0;
}

// The layout of a core or info header, once the depth is known.
int parseHeaderLayout(const Start& start, BmpLayout& layout, std::uint32_t headerSize,
                      std::uint32_t offBits, BmpDepths depths) {
    const int dimensions = parseDimensions(start, layout);
    if (dimensions < 0) {
        return dimensions;
    }
    std::uint32_t clrUsed = 0;
    if (layout.kind == BmpLayoutKind::INFO) {
        if (headerSize >= MIN_HEADER_FOR_COMPRESSION) {
            layout.compression = optionalU32(start, BMP_COMPRESSION_OFFSET);
        }
        if (headerSize >= MIN_HEADER_FOR_CLR_USED) {
            clrUsed = optionalU32(start, BMP_CLR_USED_OFFSET);
            layout.colorsUsed = clrUsed;
        }
    }
    layout.rowSize = dazRowSize(static_cast<std::uint64_t>(std::max<std::int64_t>(layout.width, 0)),
                                static_cast<unsigned>(layout.bitsPerPixel));
    const int checked = checkLayout(layout, depths);
    if (checked < 0) {
        return checked;
    }
    if (layout.compression == BMP_COMPRESSION_BITFIELDS ||
        layout.compression == BMP_COMPRESSION_ALPHABITFIELDS) {
        const int masks = parseMasks(start, layout, headerSize);
        if (masks < 0) {
            return masks;
        }
    }
    layout.entrySize = layout.kind == BmpLayoutKind::CORE ? 3 : PALETTE_ENTRY_SIZE;
    layout.paletteOffset = std::int64_t{BMP_FILE_HEADER_SIZE} + headerSize;
    layout.pixelOffset = offBits;
    const std::uint64_t stated = clrUsed != 0 ? clrUsed : std::uint64_t{1} << layout.bitsPerPixel;
    const std::uint64_t fits =
        (static_cast<std::uint64_t>(offBits) - static_cast<std::uint64_t>(layout.paletteOffset)) /
        layout.entrySize;
    layout.paletteEntries =
        static_cast<int>(std::min({stated, fits, static_cast<std::uint64_t>(layout.paletteSize)}));
    return 0;
}

} // namespace

bool isRle(const BmpLayout& layout) {
    return layout.compression == BMP_COMPRESSION_RLE8 || layout.compression == BMP_COMPRESSION_RLE4;
}

int parseBmpLayout(const std::uint8_t* bytes, std::size_t size, BmpLayout& layout,
                   BmpDepths depths) {
    const Start start{bytes, size};
    if (!start.holds(0, 2)) {
        return DAZ_ERR_READ;
    }
    if (bytes[0] != 'B' || bytes[1] != 'M') {
        return DAZ_ERR_NOT_BMP;
    }
    std::uint32_t headerSize = 0;
    std::uint32_t offBits = 0;
    chooseLayout(start, layout, headerSize, offBits);
    const int depth = parseDepth(start, layout, depths);
    if (depth < 0) {
        return depth;
    }
    if (layout.kind != BmpLayoutKind::FIXED) {
        return parseHeaderLayout(start, layout, headerSize, offBits, depths);
    }
    // The common layout assumed whole: 40-byte header, full palette, pixels.
    const int dimensions = parseDimensions(start, layout);
    if (dimensions < 0) {
        return dimensions;
    }
    layout.paletteOffset = FIXED_PALETTE_OFFSET;
    layout.paletteEntries = layout.paletteSize;
    layout.pixelOffset =
        FIXED_PALETTE_OFFSET + std::int64_t{PALETTE_ENTRY_SIZE} * layout.paletteSize;
    return 0;
}

int parseDazPalette(const std::uint8_t* bytes, std::size_t size, const BmpLayout& layout,
                    int colorCount, std::uint8_t* out) {
    const auto count = static_cast<std::size_t>(colorCount);
    const Start start{bytes, size};
    if (layout.paletteOffset < 0 ||
        !start.holds(static_cast<std::size_t>(layout.paletteOffset), count * layout.entrySize)) {
        return DAZ_ERR_READ;
    }
    const std::uint8_t* raw = bytes + layout.paletteOffset;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = raw + i * layout.entrySize;
        const std::uint8_t extra = layout.entrySize == PALETTE_ENTRY_SIZE ? entry[3] : 0;
        storePaletteEntry(PaletteEntry{entry[2], entry[1], entry[0], extra},
                          out + i * PALETTE_ENTRY_SIZE);
    }
    return 0;
}

int readBmpStart(std::FILE* source, BmpStart& start) {
    start.size = std::fread(start.bytes.data(), 1, start.bytes.size(), source);
    return std::ferror(source) != 0 ? DAZ_ERR_READ : 0;
}

} // namespace orvx
