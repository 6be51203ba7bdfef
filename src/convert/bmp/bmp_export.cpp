#include "convert/bmp/bmp_export.h"

#include "convert/bmp/bmp_format.h"
#include "convert/bmp/bmp_source.h"
#include "convert/daz/daz_source.h"
#include "convert/driver.h"
#include "format/byte_order.h"
#include "format/daz_format.h"
#include "output/destination.h"

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
int writeBmp(DazSource& daz, std::FILE* out, std::uint8_t* buffer) {
    const std::size_t prefixSize = BMP_PREFIX_SIZE + daz.paletteBytes;
    if (std::fwrite(buffer, 1, prefixSize, out) != prefixSize) {
        return DAZ_ERR_WRITE;
    }
    const std::uint64_t total = daz.rows * daz.rowSize;
    for (std::uint64_t done = 0; done < total;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(total - done, CHUNK_SIZE));
        if (readDazPixels(daz, done, want, buffer) < 0) {
            return DAZ_ERR_READ;
        }
        if (std::fwrite(buffer, 1, want, out) != want) {
            return DAZ_ERR_WRITE;
        }
        done += want;
    }
    return DAZ_OK;
}

// Reads the daz file's header and palette, puts the bitmap's headers and
// palette at the start of buffer, and asks check about the bitmap.
int openDaz(std::FILE* source, DazSource& daz, std::uint8_t* buffer, const PlanCheck* check) {
    const int checked = openDazSource(source, daz);
    if (checked < 0) {
        return checked;
    }
    OutputPlan plan;
    plan.width = daz.header.width;
    plan.rows = daz.rows;
    plan.bytes = BMP_PREFIX_SIZE + daz.paletteBytes + daz.rows * daz.rowSize;
    const int taken = checkPlan(check, plan);
    if (taken != DAZ_OK) {
        return taken;
    }
    writeBmpHeaders(daz, buffer);
    // The palette back in bitmap order: blue, green, red, fourth byte.
    std::memcpy(buffer + BMP_PREFIX_SIZE, daz.palette, daz.paletteBytes);
    swapPaletteEntries(buffer + BMP_PREFIX_SIZE, daz.paletteBytes / PALETTE_ENTRY_SIZE);
    return DAZ_OK;
}

// What the write needs once the daz file's header is read.
struct BmpExport {
    std::array<std::uint8_t, CHUNK_SIZE> buffer{};
    DazSource daz;
};

} // namespace

int openBmpExport(std::FILE* source, const PlanCheck* check, ReaderState& state) {
    auto* bmp = holdState<BmpExport>(state);
    return bmp == nullptr ? DAZ_ERR_MEMORY : openDaz(source, bmp->daz, bmp->buffer.data(), check);
}

int writeBmpExport(ReaderState& state, std::FILE* out) {
    auto& bmp = *static_cast<BmpExport*>(state.data);
    return writeBmp(bmp.daz, out, bmp.buffer.data());
}

int convertDazToBmp(const char* source, const char* destination, const PlanCheck* check) {
    return convertDazToBmpWith(stdioFileOps(), source, destination, check);
}

int convertDazToBmpWith(const FileOps& ops, const char* source, const char* destination,
                        const PlanCheck* check) {
    return exportFileFromDaz(ops, source, destination, BMP_READER, check);
}

} // namespace orvx
