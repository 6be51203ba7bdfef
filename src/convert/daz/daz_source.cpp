#include "convert/daz/daz_source.h"

#include "format/daz_image.h"
#include "platform/platform.h"

#include <array>
#include <cstring>

namespace orvx {

int openDazSource(std::FILE* file, DazSource& daz) {
    daz.file = file;
    // The header and the largest palette: all the parse ever looks at.
    std::array<std::uint8_t, DAZ_MAX_PREFIX_SIZE> bytes{};
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    if (std::ferror(file) != 0) {
        return DAZ_ERR_READ;
    }
    // The header's own faults are told first, then a size that can't be
    // had or that is below what was read (the file shrank while we read it).
    const std::int64_t end = fileSize(file);
    const bool sized = end >= static_cast<std::int64_t>(got);
    DazImage image;
    const int parsed = parseDazImage(
        bytes.data(), got, sized ? static_cast<std::uint64_t>(end) : std::uint64_t{got}, image);
    if (parsed != DAZ_OK && parsed != DAZ_ERR_NO_ROWS) {
        return parsed;
    }
    if (!sized) {
        return DAZ_ERR_READ;
    }
    if (parsed != DAZ_OK) {
        return parsed;
    }
    daz.header = image.header;
    daz.paletteBytes = image.paletteBytes;
    std::memcpy(daz.palette, image.palette, image.paletteBytes);
    daz.pixelStart = image.pixelStart;
    daz.rowSize = image.rowSize;
    daz.rows = image.rows;
    initPixelCoding(daz.coding, daz.header.key, daz.header.bitsPerPixel, daz.header.colorCount);
    return DAZ_OK;
}

int readDazPixels(DazSource& daz, std::uint64_t offset, std::size_t size, std::uint8_t* out) {
    if (seekFile(daz.file, static_cast<std::int64_t>(daz.pixelStart + offset)) != 0 ||
        std::fread(out, 1, size, daz.file) != size) {
        return DAZ_ERR_READ; // the file shrank while we read it
    }
    removeKeystream(daz.coding, out, size, static_cast<std::size_t>(offset % KEYSTREAM_PERIOD));
    return DAZ_OK;
}

} // namespace orvx
