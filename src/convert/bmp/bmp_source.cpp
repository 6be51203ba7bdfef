#include "convert/bmp/bmp_source.h"

#include "convert/platform/platform.h"
#include "format/daz_format.h"
#include "format/little_endian.h"

#include <algorithm>
#include <array>

namespace orvx {

namespace {

constexpr std::int64_t BMP_OFFBITS_OFFSET = 10;
constexpr std::int64_t BMP_WIDTH_OFFSET = 18;
constexpr std::int64_t BMP_DEPTH_OFFSET = 28;
constexpr std::int64_t BMP_CORE_DEPTH_OFFSET = 24;
constexpr std::int64_t BMP_COMPRESSION_OFFSET = 30;
constexpr std::int64_t BMP_CLR_USED_OFFSET = 46;
constexpr std::int64_t FIXED_PALETTE_OFFSET = 54;
constexpr std::uint32_t MIN_HEADER_FOR_COMPRESSION = 20;
constexpr std::uint32_t MIN_HEADER_FOR_CLR_USED = 36;
constexpr std::uint32_t MAX_OS2_HEADER_SIZE = 64;
constexpr std::uint32_t V4_HEADER_SIZE = 108;
constexpr std::uint32_t V5_HEADER_SIZE = 124;

enum class Read { FULL, END, ERROR };

// An absolute read that tells a file too short (END) from a failure (ERROR).
Read readAt(std::FILE* source, std::int64_t offset, std::uint8_t* buffer, std::size_t size) {
    if (seekFile(source, offset) != 0) {
        return Read::ERROR;
    }
    const std::size_t got = std::fread(buffer, 1, size, source);
    if (got == size) {
        return Read::FULL;
    }
    return std::ferror(source) != 0 ? Read::ERROR : Read::END;
}

// A field that a short file may lack: missing reads as 0, a failure is -1.
ConvertResult readOptionalU32(std::FILE* source, std::int64_t offset, std::uint32_t& value) {
    std::array<std::uint8_t, 4> bytes{};
    const Read read = readAt(source, offset, bytes.data(), bytes.size());
    if (read == Read::ERROR) {
        return ERR_READ;
    }
    value = read == Read::FULL ? loadU32(bytes.data()) : 0;
    return 0;
}

bool isInfoHeaderSize(std::uint32_t size) {
    return (size >= 16 && size <= MAX_OS2_HEADER_SIZE) || size == V4_HEADER_SIZE ||
           size == V5_HEADER_SIZE;
}

// Picks the layout from bfOffBits and the header size. A file too short to
// hold them keeps the fixed layout, whose reads then decide.
ConvertResult chooseLayout(std::FILE* source, BmpLayout& layout, std::uint32_t& headerSize,
                           std::uint32_t& offBits) {
    std::array<std::uint8_t, 8> bytes{};
    const Read read = readAt(source, BMP_OFFBITS_OFFSET, bytes.data(), bytes.size());
    if (read == Read::ERROR) {
        return ERR_READ;
    }
    layout.kind = BmpLayoutKind::FIXED;
    if (read == Read::END) {
        return 0;
    }
    offBits = loadU32(bytes.data());
    headerSize = loadU32(bytes.data() + 4);
    const std::uint64_t headersEnd = std::uint64_t{BMP_FILE_HEADER_SIZE} + headerSize;
    if (offBits < headersEnd) {
        return 0;
    }
    if (headerSize == BMP_CORE_HEADER_SIZE) {
        layout.kind = BmpLayoutKind::CORE;
    } else if (isInfoHeaderSize(headerSize)) {
        layout.kind = BmpLayoutKind::INFO;
    }
    return 0;
}

ConvertResult readDepth(std::FILE* source, BmpLayout& layout) {
    std::array<std::uint8_t, 2> bytes{};
    const std::int64_t at =
        layout.kind == BmpLayoutKind::CORE ? BMP_CORE_DEPTH_OFFSET : BMP_DEPTH_OFFSET;
    if (readAt(source, at, bytes.data(), bytes.size()) != Read::FULL) {
        return ERR_READ;
    }
    layout.bitsPerPixel = loadU16(bytes.data());
    if (layout.bitsPerPixel == 4) {
        layout.paletteSize = MAX_COLORS_4BPP;
    } else if (layout.bitsPerPixel == 8) {
        layout.paletteSize = MAX_COLORS_8BPP;
    } else {
        return ERR_BAD_DEPTH;
    }
    return 0;
}

// Width and height: 16-bit fields in a core header, 32-bit in the others.
ConvertResult readDimensions(std::FILE* source, BmpLayout& layout) {
    std::array<std::uint8_t, 8> bytes{};
    const std::size_t size = layout.kind == BmpLayoutKind::CORE ? 4 : 8;
    if (readAt(source, BMP_WIDTH_OFFSET, bytes.data(), size) != Read::FULL) {
        return ERR_READ;
    }
    layout.widthField = loadU16(bytes.data());
    if (layout.kind == BmpLayoutKind::CORE) {
        layout.heightField = loadU16(bytes.data() + 2);
        layout.width = layout.widthField;
        layout.height = layout.heightField;
    } else {
        layout.heightField = loadU16(bytes.data() + 4);
        layout.width = static_cast<std::int32_t>(loadU32(bytes.data()));
        layout.height = static_cast<std::int32_t>(loadU32(bytes.data() + 4));
    }
    return 0;
}

ConvertResult checkLayout(const BmpLayout& layout) {
    switch (layout.compression) {
    case BMP_COMPRESSION_NONE:
        break;
    case BMP_COMPRESSION_RLE8:
        if (layout.bitsPerPixel != 8) {
            return ERR_NOT_BMP;
        }
        break;
    case BMP_COMPRESSION_RLE4:
        if (layout.bitsPerPixel != 4) {
            return ERR_NOT_BMP;
        }
        break;
    default:
        return ERR_NOT_BMP;
    }
    // Sizes the daz header can't hold would come back wrapped: a height of
    // 40000 as -25536, upside down, or a width of 65536 as 0.
    if (layout.width <= 0 || layout.width > DAZ_MAX_WIDTH || layout.height < DAZ_MIN_HEIGHT ||
        layout.height > DAZ_MAX_HEIGHT) {
        return ERR_NOT_BMP;
    }
    if (isRle(layout) && layout.height < 0) {
        return ERR_NOT_BMP;
    }
    return 0;
}

// The layout of a core or info header, once the depth is known.
ConvertResult readHeaderLayout(std::FILE* source, BmpLayout& layout, std::uint32_t headerSize,
                               std::uint32_t offBits) {
    const ConvertResult dimensions = readDimensions(source, layout);
    if (dimensions < 0) {
        return dimensions;
    }
    std::uint32_t clrUsed = 0;
    if (layout.kind == BmpLayoutKind::INFO) {
        if (headerSize >= MIN_HEADER_FOR_COMPRESSION &&
            readOptionalU32(source, BMP_COMPRESSION_OFFSET, layout.compression) < 0) {
            return ERR_READ;
        }
        if (headerSize >= MIN_HEADER_FOR_CLR_USED &&
            readOptionalU32(source, BMP_CLR_USED_OFFSET, clrUsed) < 0) {
            return ERR_READ;
        }
    }
    layout.rowSize =
        (static_cast<std::uint64_t>(std::max<std::int64_t>(layout.width, 0)) * layout.bitsPerPixel +
         31) /
        32 * 4;
    const ConvertResult checked = checkLayout(layout);
    if (checked < 0) {
        return checked;
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
    return layout.compression != BMP_COMPRESSION_NONE;
}

ConvertResult readBmpLayout(std::FILE* source, BmpLayout& layout) {
    std::array<std::uint8_t, 2> magic{};
    if (std::fread(magic.data(), 1, magic.size(), source) != magic.size()) {
        return ERR_READ;
    }
    if (magic[0] != 'B' || magic[1] != 'M') {
        return ERR_NOT_BMP;
    }
    std::uint32_t headerSize = 0;
    std::uint32_t offBits = 0;
    const ConvertResult chosen = chooseLayout(source, layout, headerSize, offBits);
    if (chosen < 0) {
        return chosen;
    }
    const ConvertResult depth = readDepth(source, layout);
    if (depth < 0) {
        return depth;
    }
    if (layout.kind != BmpLayoutKind::FIXED) {
        return readHeaderLayout(source, layout, headerSize, offBits);
    }
    // The common layout assumed whole: 40-byte header, full palette, pixels.
    const ConvertResult dimensions = readDimensions(source, layout);
    if (dimensions < 0) {
        return dimensions;
    }
    layout.paletteOffset = FIXED_PALETTE_OFFSET;
    layout.paletteEntries = layout.paletteSize;
    layout.pixelOffset =
        FIXED_PALETTE_OFFSET + std::int64_t{PALETTE_ENTRY_SIZE} * layout.paletteSize;
    return 0;
}

ConvertResult readDazPalette(std::FILE* source, const BmpLayout& layout, int colorCount,
                             std::uint8_t* out) {
    const auto count = static_cast<std::size_t>(colorCount);
    // Read at the end of out, then spread 3-byte entries forward into 4-byte ones.
    std::uint8_t* raw = out + count * (PALETTE_ENTRY_SIZE - layout.entrySize);
    if (readAt(source, layout.paletteOffset, raw, count * layout.entrySize) != Read::FULL) {
        return ERR_READ;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = raw + i * layout.entrySize;
        const std::uint8_t extra = layout.entrySize == PALETTE_ENTRY_SIZE ? entry[3] : 0;
        storePaletteEntry(PaletteEntry{entry[2], entry[1], entry[0], extra},
                          out + i * PALETTE_ENTRY_SIZE);
    }
    return 0;
}

} // namespace orvx
