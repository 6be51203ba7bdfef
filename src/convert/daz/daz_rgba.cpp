// A daz image as RGBA, as daz_decode_rgba gives it: the palette's entries
// opaque, an index past them opaque magenta, top row first whatever the
// stored order.
#include "convert/daz/daz_reader.h"
#include "convert/daz/daz_source.h"
#include "format/daz_image.h"

#include <cstring>

namespace orvx {

int readDazRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image) {
    DazSource daz;
    const int opened = openDazSource(source, daz);
    if (opened != DAZ_OK) {
        return opened;
    }
    const std::uint32_t width = daz.header.width;
    const auto height = static_cast<std::uint32_t>(daz.rows);
    const int checked = checkRgbaSize(check, width, height);
    if (checked != DAZ_OK) {
        return checked;
    }
    image.width = width;
    image.height = height;
    if (sizeOnly) {
        return DAZ_OK;
    }
    image.paletteEntries = static_cast<int>(daz.paletteBytes / PALETTE_ENTRY_SIZE);
    std::memcpy(image.palette.data(), daz.palette, daz.paletteBytes);
    DazColourTable colours{};
    fillDazColourTable(daz.palette, daz.paletteBytes, colours);
    image.pixels.assign(std::size_t{4} * width * height, 0);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(daz.rowSize));
    const bool topDown = dazTopDown(daz.header);
    const bool nibbles = daz.header.bitsPerPixel == 4;
    for (std::uint32_t stored = 0; stored < height; ++stored) {
        const int read = readDazPixels(daz, stored * daz.rowSize, row.size(), row.data());
        if (read != DAZ_OK) {
            return read;
        }
        const std::uint32_t top = topDown ? stored : height - 1 - stored;
        std::uint8_t* out = image.pixels.data() + std::size_t{top} * 4 * width;
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t byte = row[nibbles ? x / 2 : x];
            const unsigned index = !nibbles ? byte : (x % 2 == 0 ? byte >> 4U : byte & 0x0FU);
            std::memcpy(out + 4 * std::size_t{x}, colours.data() + 4 * std::size_t{index}, 4);
        }
    }
    return DAZ_OK;
}

} // namespace orvx
