// A GIF's first frame as RGBA, as a browser shows it: the frame over a
// screen that is see-through, so alpha 0 outside the frame and for its
// transparent index, every other pixel opaque; an index past the colour
// table opaque black. The pixels of alpha 0 are 0, 0, 0, 0.
#include "convert/gif/gif_format.h"
#include "convert/gif/gif_source.h"

#include <cstring>
#include <utility>
#include <vector>

namespace orvx {

namespace {

// The frame's colours by index, 256 of them, as RGBA.
std::array<std::uint8_t, std::size_t{4} * 256> coloursOf(const GifFrame& frame) {
    std::array<std::uint8_t, std::size_t{4} * 256> colours{};
    for (std::size_t i = 0; i < 256; ++i) {
        std::uint8_t* colour = colours.data() + 4 * i;
        if (static_cast<int>(i) == frame.transparent) {
            continue;
        }
        if (i < static_cast<std::size_t>(frame.entries)) {
            colour[0] = frame.table[3 * i];
            colour[1] = frame.table[3 * i + 1];
            colour[2] = frame.table[3 * i + 2];
        }
        colour[3] = 0xFF;
    }
    return colours;
}

void takePalette(const GifFrame& frame, RgbaImage& image) {
    image.paletteEntries = frame.entries;
    for (std::size_t i = 0; i < static_cast<std::size_t>(frame.entries); ++i) {
        image.palette[4 * i] = frame.table[3 * i];
        image.palette[4 * i + 1] = frame.table[3 * i + 1];
        image.palette[4 * i + 2] = frame.table[3 * i + 2];
        image.palette[4 * i + 3] = 0;
    }
}

} // namespace

int readGifRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image) {
    GifReading reading;
    GifFrame frame;
    const int opened = openGif(source, reading, frame);
    if (opened != DAZ_OK) {
        return opened;
    }
    // Held beside the pixels: one row of the frame's indices.
    const int checked = checkRgbaSize(check, frame.imageWidth, frame.imageHeight, frame.width);
    if (checked != DAZ_OK) {
        return checked;
    }
    if (sizeOnly) {
        image.width = frame.imageWidth;
        image.height = frame.imageHeight;
        return DAZ_OK;
    }
    const auto colours = coloursOf(frame);
    std::vector<std::uint8_t> pixels(std::size_t{4} * frame.imageWidth * frame.imageHeight, 0);
    std::vector<std::uint8_t> row(frame.width);
    for (std::uint32_t n = 0; n < frame.height; ++n) {
        const int read = readGifRow(reading, frame, row.data());
        if (read != DAZ_OK) {
            return read;
        }
        const std::uint32_t y = frame.top + gifFrameRow(frame, n);
        std::uint8_t* out = pixels.data() + 4 * (std::size_t{y} * frame.imageWidth + frame.left);
        for (std::uint32_t x = 0; x < frame.width; ++x) {
            std::memcpy(out + std::size_t{4} * x, colours.data() + std::size_t{4} * row[x], 4);
        }
    }
    image.width = frame.imageWidth;
    image.height = frame.imageHeight;
    image.pixels = std::move(pixels);
    takePalette(frame, image);
    return DAZ_OK;
}

} // namespace orvx
