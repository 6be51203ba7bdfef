#include "convert/bmp_to_daz.h"

#include "convert/destination.h"
#include "format/daz_format.h"

#include <array>

namespace {

// Where the fields of a bitmap in the common layout sit: a 14-byte file
// header, a 40-byte info header, a full palette, then the pixels.
constexpr long BMP_WIDTH_OFFSET = 18;
constexpr long BMP_HEIGHT_OFFSET = 22;
constexpr long BMP_DEPTH_OFFSET = 28;
constexpr long BMP_PALETTE_OFFSET = 54;

FILE* openForReading(const char* path) { return std::fopen(path, "rb"); }
FILE* openForWriting(const char* path) { return std::fopen(path, "wb"); }

bool readExactly(FILE* stream, void* buffer, std::size_t size) {
    return std::fread(buffer, 1, size, stream) == size;
}

bool readAt(FILE* stream, long offset, void* buffer, std::size_t size) {
    return std::fseek(stream, offset, SEEK_SET) == 0 && readExactly(stream, buffer, size);
}

std::uint16_t u16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8U));
}

// Everything known about the source once its header and palette are read.
struct SourceInfo {
    DazHeader header;
    int paletteSize = 0;
    long pixelOffset = 0;
};

// Steps up to the kept palette, which lands in prefix after the header bytes.
// Reads the source only; nothing is written.
ConvertResult readSource(FILE* source, int requestedColors, std::uint16_t key,
                         SourceInfo& info, std::uint8_t* prefix) {
    std::array<std::uint8_t, 2> field{};
    if (!readExactly(source, field.data(), field.size())) {
        return ERR_READ;
    }
    if (field[0] != 'B' || field[1] != 'M') {
        return ERR_NOT_BMP;
    }
    if (!readAt(source, BMP_DEPTH_OFFSET, field.data(), field.size())) {
        return ERR_READ;
    }
    info.header.bitsPerPixel = u16(field.data());
    if (info.header.bitsPerPixel == 4) {
        info.paletteSize = MAX_COLORS_4BPP;
    } else if (info.header.bitsPerPixel == 8) {
        info.paletteSize = MAX_COLORS_8BPP;
    } else {
        return ERR_BAD_DEPTH;
    }
    if (requestedColors < 0 || requestedColors > info.paletteSize) {
        return ERR_BAD_COLORS;
    }
    const int colorCount = requestedColors == 0 ? info.paletteSize : requestedColors;
    info.header.colorCount = static_cast<std::int16_t>(colorCount);
    info.header.key = key;
    if (!readAt(source, BMP_WIDTH_OFFSET, field.data(), field.size())) {
        return ERR_READ;
    }
    info.header.width = u16(field.data());
    if (!readAt(source, BMP_HEIGHT_OFFSET, field.data(), field.size())) {
        return ERR_READ;
    }
    info.header.height = u16(field.data());
    writeDazHeader(info.header, prefix);
    const auto paletteBytes = PALETTE_ENTRY_SIZE * static_cast<std::size_t>(colorCount);
    if (!readAt(source, BMP_PALETTE_OFFSET, prefix + DAZ_HEADER_SIZE, paletteBytes)) {
        return ERR_READ;
    }
    swapPaletteEntries(prefix + DAZ_HEADER_SIZE, static_cast<std::size_t>(colorCount));
    info.pixelOffset =
        BMP_PALETTE_OFFSET + static_cast<long>(PALETTE_ENTRY_SIZE) * info.paletteSize;
    return 0;
}

// Streams the pixel area from the source's current position to its end.
ConvertResult copyPixels(FILE* source, FILE* destination, const SourceInfo& info,
                         std::uint8_t* buffer) {
    PixelKeystream stream = makeKeystream(info.header.key);
    std::uint64_t undefinedCount = 0;
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, CHUNK_SIZE, source);
        if (got == 0) {
            return std::ferror(source) != 0 ? ERR_READ : static_cast<ConvertResult>(undefinedCount);
        }
        undefinedCount +=
            countUndefined(buffer, got, info.header.bitsPerPixel, info.header.colorCount);
        encodePixels(buffer, got, stream);
        if (std::fwrite(buffer, 1, got, destination) != got) {
            return ERR_WRITE;
        }
    }
}

ConvertResult writeDaz(FILE* source, Destination& destination, const SourceInfo& info,
                       std::uint8_t* buffer) {
    const std::size_t prefixSize =
        DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * static_cast<std::size_t>(info.header.colorCount);
    if (std::fwrite(buffer, 1, prefixSize, destination.stream) != prefixSize) {
        return ERR_WRITE;
    }
    if (std::fseek(source, info.pixelOffset, SEEK_SET) != 0) {
        return ERR_READ;
    }
    const ConvertResult result = copyPixels(source, destination.stream, info, buffer);
    if (result < 0) {
        return result;
    }
    return closeDestination(destination) ? result : ERR_WRITE;
}

ConvertResult convertOpenSource(const FileOps& ops, FILE* source, const char* sourcePath,
                                const char* destinationPath, int requestedColors,
                                std::uint16_t key) {
    std::array<std::uint8_t, CHUNK_SIZE> buffer{};
    SourceInfo info;
    const ConvertResult checked = readSource(source, requestedColors, key, info, buffer.data());
    if (checked < 0) {
        return checked;
    }
    // Writing onto the bitmap itself would truncate it before it is read.
    if (isSameFile(sourcePath, destinationPath)) {
        return ERR_CREATE;
    }
    Destination destination;
    destination.path = destinationPath;
    destination.stream = ops.openDestination(destinationPath);
    if (destination.stream == nullptr) {
        return ERR_CREATE;
    }
    rememberIdentity(destination);
    const ConvertResult result = writeDaz(source, destination, info, buffer.data());
    if (result < 0) {
        discardDestination(destination);
    }
    return result;
}

} // namespace

const FileOps& stdioFileOps() {
    static const FileOps ops{openForReading, openForWriting};
    return ops;
}

ConvertResult convertBmpToDaz(const char* source, const char* destination, int requestedColors,
                              std::uint16_t key) {
    return convertBmpToDazWith(stdioFileOps(), source, destination, requestedColors, key);
}

ConvertResult convertBmpToDazWith(const FileOps& ops, const char* source,
                                  const char* destination, int requestedColors,
                                  std::uint16_t key) {
    FILE* stream = ops.openSource(source);
    if (stream == nullptr) {
        return ERR_OPEN;
    }
    const ConvertResult result =
        convertOpenSource(ops, stream, source, destination, requestedColors, key);
    static_cast<void>(std::fclose(stream));
    return result;
}

std::uint64_t countUndefined(const std::uint8_t* data, std::size_t size, int bitsPerPixel,
                             int colorCount) {
    std::uint64_t count = 0;
    const auto limit = static_cast<unsigned>(colorCount);
    if (bitsPerPixel == 4) {
        for (std::size_t i = 0; i < size; ++i) {
            count += static_cast<std::uint64_t>((data[i] & 0x0FU) >= limit);
            count += static_cast<std::uint64_t>((data[i] >> 4U) >= limit);
        }
    } else {
        for (std::size_t i = 0; i < size; ++i) {
            count += static_cast<std::uint64_t>(data[i] >= limit);
        }
    }
    return count;
}
