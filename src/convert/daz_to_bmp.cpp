#include "convert/daz_to_bmp.h"

#include "convert/bmp_source.h"
#include "convert/destination.h"
#include "format/daz_format.h"
#include "format/little_endian.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace {

constexpr std::size_t BMP_PREFIX_SIZE = BMP_FILE_HEADER_SIZE + BMP_INFO_HEADER_SIZE; // 54

struct DazInfo {
    DazHeader header;
    std::size_t paletteBytes = 0;
    std::uint64_t rowSize = 0;
    std::uint64_t rows = 0;
};

// Reads and checks the header and palette; leaves the palette, already in
// bitmap order, at BMP_PREFIX_SIZE in prefix, and the source at the pixels.
DecodeResult readDaz(FILE* source, DazInfo& info, std::uint8_t* prefix) {
    std::array<std::uint8_t, DAZ_HEADER_SIZE> bytes{};
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), source);
    if (std::ferror(source) != 0) {
        return DECODE_ERR_READ;
    }
    // A short file that isn't daz at all is told so first.
    if (readDazHeader(bytes.data(), info.header) != DAZ_MAGIC && got >= 2) {
        return DECODE_ERR_NOT_DAZ;
    }
    if (got != bytes.size()) {
        return DECODE_ERR_SHORT;
    }
    const int bpp = info.header.bitsPerPixel;
    if (bpp != 4 && bpp != 8) {
        return DECODE_ERR_BAD_DEPTH;
    }
    const int colors = info.header.colorCount;
    if (colors < 1 || colors > (bpp == 4 ? MAX_COLORS_4BPP : MAX_COLORS_8BPP)) {
        return DECODE_ERR_BAD_COLORS;
    }
    info.paletteBytes = PALETTE_ENTRY_SIZE * static_cast<std::size_t>(colors);
    std::uint8_t* palette = prefix + BMP_PREFIX_SIZE;
    if (std::fread(palette, 1, info.paletteBytes, source) != info.paletteBytes) {
        return std::ferror(source) != 0 ? DECODE_ERR_READ : DECODE_ERR_SHORT;
    }
    swapPaletteEntries(palette, static_cast<std::size_t>(colors));
    // The pixel area is the rest of the file.
    const long pixelStart = std::ftell(source);
    if (pixelStart < 0 || std::fseek(source, 0, SEEK_END) != 0) {
        return DECODE_ERR_READ;
    }
    const long end = std::ftell(source);
    if (end < pixelStart || std::fseek(source, pixelStart, SEEK_SET) != 0) {
        return DECODE_ERR_READ;
    }
    info.rowSize = (std::uint64_t{info.header.width} * static_cast<unsigned>(bpp) + 31) / 32 * 4;
    const auto pixelBytes = static_cast<std::uint64_t>(end - pixelStart);
    info.rows = info.rowSize == 0 ? 0 : pixelBytes / info.rowSize;
    const std::uint64_t fileSize = BMP_PREFIX_SIZE + info.paletteBytes + info.rows * info.rowSize;
    if (info.rows > std::numeric_limits<std::int32_t>::max() ||
        fileSize > std::numeric_limits<std::uint32_t>::max()) {
        return DECODE_ERR_TOO_BIG;
    }
    return DECODE_OK;
}

void writeBmpHeaders(const DazInfo& info, std::uint8_t* prefix) {
    const auto offBits = static_cast<std::uint32_t>(BMP_PREFIX_SIZE + info.paletteBytes);
    const auto imageSize = static_cast<std::uint32_t>(info.rows * info.rowSize);
    const auto rows = static_cast<std::int32_t>(info.rows);
    const bool topDown = static_cast<std::int16_t>(info.header.height) < 0;
    std::memset(prefix, 0, BMP_PREFIX_SIZE);
    prefix[0] = 'B';
    prefix[1] = 'M';
    storeU32(prefix + 2, offBits + imageSize);
    storeU32(prefix + 10, offBits);
    storeU32(prefix + 14, BMP_INFO_HEADER_SIZE);
    storeU32(prefix + 18, info.header.width);
    storeU32(prefix + 22, static_cast<std::uint32_t>(topDown ? -rows : rows));
    storeU16(prefix + 26, 1);
    storeU16(prefix + 28, info.header.bitsPerPixel);
    storeU32(prefix + 34, imageSize);
    storeU32(prefix + 38, BMP_PIXELS_PER_METRE);
    storeU32(prefix + 42, BMP_PIXELS_PER_METRE);
    storeU32(prefix + 46, static_cast<std::uint32_t>(info.header.colorCount));
}

// Headers and palette, then the whole rows with the keystream taken off.
DecodeResult writeBmp(FILE* source, Destination& destination, const DazInfo& info,
                      std::uint8_t* buffer) {
    const std::size_t prefixSize = BMP_PREFIX_SIZE + info.paletteBytes;
    if (std::fwrite(buffer, 1, prefixSize, destination.stream) != prefixSize) {
        return DECODE_ERR_WRITE;
    }
    auto table = std::make_unique<OffsetTable>();
    fillOffsetTable(*table, info.header.key);
    for (std::uint64_t left = info.rows * info.rowSize; left > 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, CHUNK_SIZE));
        if (std::fread(buffer, 1, want, source) != want) {
            return DECODE_ERR_READ; // the file shrank while we read it
        }
        decodeWithTable(buffer, want, *table);
        if (std::fwrite(buffer, 1, want, destination.stream) != want) {
            return DECODE_ERR_WRITE;
        }
        left -= want;
    }
    return closeDestination(destination) ? DECODE_OK : DECODE_ERR_WRITE;
}

DecodeResult convertOpenDaz(const FileOps& ops, FILE* source, const char* sourcePath,
                            const char* destinationPath) {
    std::array<std::uint8_t, CHUNK_SIZE> buffer{};
    DazInfo info;
    const DecodeResult checked = readDaz(source, info, buffer.data());
    if (checked < 0) {
        return checked;
    }
    writeBmpHeaders(info, buffer.data());
    Destination destination;
    if (!openDestination(destination, ops, sourcePath, destinationPath)) {
        return DECODE_ERR_CREATE;
    }
    const DecodeResult result = writeBmp(source, destination, info, buffer.data());
    if (result < 0) {
        discardDestination(destination);
    }
    return result;
}

} // namespace

DecodeResult convertDazToBmp(const char* source, const char* destination) {
    return convertDazToBmpWith(stdioFileOps(), source, destination);
}

DecodeResult convertDazToBmpWith(const FileOps& ops, const char* source, const char* destination) {
    FILE* stream = ops.openSource(source);
    if (stream == nullptr) {
        return DECODE_ERR_OPEN;
    }
    const DecodeResult result = convertOpenDaz(ops, stream, source, destination);
    static_cast<void>(std::fclose(stream));
    return result;
}
