#include "convert/daz_source.h"

#include "convert/platform/platform.h"

#include <algorithm>
#include <array>

namespace orvx {

namespace {

// |height|: the field is signed 16 bits, negative for top-down rows.
std::uint64_t heightInRows(const DazHeader& header) {
    const std::int64_t height = static_cast<std::int16_t>(header.height);
    return static_cast<std::uint64_t>(height < 0 ? -height : height);
}

} // namespace

DecodeResult openDazSource(std::FILE* file, DazSource& daz) {
    daz.file = file;
    std::array<std::uint8_t, DAZ_HEADER_SIZE> bytes{};
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    if (std::ferror(file) != 0) {
        return DECODE_ERR_READ;
    }
    // A short file that isn't daz at all is told so first.
    if (readDazHeader(bytes.data(), daz.header) != DAZ_MAGIC && got >= 2) {
        return DECODE_ERR_NOT_DAZ;
    }
    if (got != bytes.size()) {
        return DECODE_ERR_SHORT;
    }
    const int bpp = daz.header.bitsPerPixel;
    if (bpp != 4 && bpp != 8) {
        return DECODE_ERR_BAD_DEPTH;
    }
    const int colors = daz.header.colorCount;
    if (colors < 1 || colors > (bpp == 4 ? MAX_COLORS_4BPP : MAX_COLORS_8BPP)) {
        return DECODE_ERR_BAD_COLORS;
    }
    daz.paletteBytes = PALETTE_ENTRY_SIZE * static_cast<std::size_t>(colors);
    if (std::fread(daz.palette, 1, daz.paletteBytes, file) != daz.paletteBytes) {
        return std::ferror(file) != 0 ? DECODE_ERR_READ : DECODE_ERR_SHORT;
    }
    // The pixel area runs from after the palette to the end of the file. The
    // image is the first |height| rows of it, or as many whole rows as it
    // holds when it holds fewer; anything after them (an ICC profile, say) is
    // not part of the image.
    daz.pixelStart = DAZ_HEADER_SIZE + daz.paletteBytes;
    const std::int64_t end = fileSize(file);
    if (end < static_cast<std::int64_t>(daz.pixelStart)) {
        return DECODE_ERR_READ;
    }
    daz.rowSize = (std::uint64_t{daz.header.width} * static_cast<unsigned>(bpp) + 31) / 32 * 4;
    const std::uint64_t pixelBytes = static_cast<std::uint64_t>(end) - daz.pixelStart;
    const std::uint64_t present = daz.rowSize == 0 ? 0 : pixelBytes / daz.rowSize;
    daz.rows = std::min(present, heightInRows(daz.header));
    if (daz.rows == 0) {
        return DECODE_ERR_NO_ROWS;
    }
    initPixelCoding(daz.coding, daz.header.key, bpp, colors);
    return DECODE_OK;
}

DecodeResult readDazPixels(DazSource& daz, std::uint64_t offset, std::size_t size,
                           std::uint8_t* out) {
    if (seekFile(daz.file, static_cast<std::int64_t>(daz.pixelStart + offset)) != 0 ||
        std::fread(out, 1, size, daz.file) != size) {
        return DECODE_ERR_READ; // the file shrank while we read it
    }
    removeKeystream(daz.coding, out, size, static_cast<std::size_t>(offset % KEYSTREAM_PERIOD));
    return DECODE_OK;
}

} // namespace orvx
