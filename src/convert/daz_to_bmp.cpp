#include "convert/daz_to_bmp.h"

#include "convert/bmp/bmp_source.h"
#include "convert/daz_source.h"
#include "output/destination.h"
#include "format/byte_order.h"
#include "format/daz_format.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace orvx {

namespace {

constexpr std::size_t BMP_PREFIX_SIZE = BMP_FILE_HEADER_SIZE + BMP_INFO_HEADER_SIZE; // 54

// The rows are at most |DAZ_MIN_HEIGHT| (the header's height bounds them) of
// at most 65536 bytes: the bitmap always stays under 4 GiB.
static_assert(BMP_PREFIX_SIZE + PALETTE_ENTRY_SIZE * MAX_COLORS_8BPP +
                  std::uint64_t{-DAZ_MIN_HEIGHT} * dazRowSize(DAZ_MAX_WIDTH, 8) <
              std::numeric_limits<std::uint32_t>::max());

void writeBmpHeaders(const DazSource& daz, std::uint8_t* prefix) {
    const auto offBits = static_cast<std::uint32_t>(BMP_PREFIX_SIZE + daz.paletteBytes);
    const auto imageSize = static_cast<std::uint32_t>(daz.rows * daz.rowSize);
    const auto rows = static_cast<std::int32_t>(daz.rows);
    const bool topDown = static_cast<std::int16_t>(daz.header.height) < 0;
    std::memset(prefix, 0, BMP_PREFIX_SIZE);
    prefix[0] = 'B';
    prefix[1] = 'M';
    storeU32(prefix + 2, offBits + imageSize);
    storeU32(prefix + 10, offBits);
    storeU32(prefix + 14, BMP_INFO_HEADER_SIZE);
    storeU32(prefix + 18, daz.header.width);
    storeU32(prefix + 22, static_cast<std::uint32_t>(topDown ? -rows : rows));
    storeU16(prefix + 26, 1);
    storeU16(prefix + 28, daz.header.bitsPerPixel);
    storeU32(prefix + 34, imageSize);
    storeU32(prefix + 38, BMP_PIXELS_PER_METRE);
    storeU32(prefix + 42, BMP_PIXELS_PER_METRE);
    storeU32(prefix + 46, static_cast<std::uint32_t>(daz.header.colorCount));
}

// Headers and palette, then the whole rows with the keystream taken off.
DecodeResult writeBmp(DazSource& daz, std::FILE* out, std::uint8_t* buffer) {
    const std::size_t prefixSize = BMP_PREFIX_SIZE + daz.paletteBytes;
    if (std::fwrite(buffer, 1, prefixSize, out) != prefixSize) {
        return DECODE_ERR_WRITE;
    }
    const std::uint64_t total = daz.rows * daz.rowSize;
    for (std::uint64_t done = 0; done < total;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(total - done, CHUNK_SIZE));
        if (readDazPixels(daz, done, want, buffer) < 0) {
            return DECODE_ERR_READ;
        }
        if (std::fwrite(buffer, 1, want, out) != want) {
            return DECODE_ERR_WRITE;
        }
        done += want;
    }
    return DECODE_OK;
}

// Reads the daz file's header and palette, and puts the bitmap's headers and
// palette at the start of buffer.
DecodeResult openDaz(std::FILE* source, DazSource& daz, std::uint8_t* buffer) {
    const DecodeResult checked = openDazSource(source, daz);
    if (checked < 0) {
        return checked;
    }
    writeBmpHeaders(daz, buffer);
    // The palette back in bitmap order: blue, green, red, fourth byte.
    std::memcpy(buffer + BMP_PREFIX_SIZE, daz.palette, daz.paletteBytes);
    swapPaletteEntries(buffer + BMP_PREFIX_SIZE, daz.paletteBytes / PALETTE_ENTRY_SIZE);
    return DECODE_OK;
}

DecodeResult convertOpenDaz(const FileOps& ops, FILE* source, const char* sourcePath,
                            const char* destinationPath) {
    std::array<std::uint8_t, CHUNK_SIZE> buffer{};
    DazSource daz;
    const DecodeResult checked = openDaz(source, daz, buffer.data());
    if (checked < 0) {
        return checked;
    }
    return writeDestination(
        ops, sourcePath, destinationPath, DECODE_OUTPUT_ERRORS,
        [&](Destination& destination) { return writeBmp(daz, destination.stream, buffer.data()); });
}

} // namespace

DecodeResult convertDazToBmp(const char* source, const char* destination) {
    return convertDazToBmpWith(stdioFileOps(), source, destination);
}

DecodeResult convertDazStreamToBmp(std::FILE* source, std::FILE* out) {
    std::vector<std::uint8_t> buffer(CHUNK_SIZE);
    DazSource daz;
    const DecodeResult checked = openDaz(source, daz, buffer.data());
    return checked < 0 ? checked : writeBmp(daz, out, buffer.data());
}

DecodeResult convertDazToBmpWith(const FileOps& ops, const char* source, const char* destination) {
    return withSource(ops, source, DECODE_ERR_OPEN, [&](FILE* stream) {
        return convertOpenDaz(ops, stream, source, destination);
    });
}

} // namespace orvx
