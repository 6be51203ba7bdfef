// A bitmap of any depth as RGBA: 1, 2, 4 and 8 bits through their palette
// (RLE4 and RLE8 decoded as the conversion into daz decodes them), 16, 24
// and 32 bits through their masks.
#include "convert/bmp/bmp_format.h"
#include "convert/bmp/bmp_source.h"
#include "convert/bmp/rle_decoder.h"
#include "convert/bmp_to_daz.h"
#include "format/byte_order.h"
#include "format/daz_format.h"
#include "platform/platform.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace orvx {

namespace {

// One channel's mask: where its bits sit and how many there are.
struct Channel {
    std::uint32_t mask = 0;
    unsigned shift = 0;
    unsigned bits = 0;
};

Channel channelOf(std::uint32_t mask) {
    Channel channel{mask};
    if (mask != 0) {
        channel.shift = static_cast<unsigned>(std::countr_zero(mask));
        channel.bits = static_cast<unsigned>(std::popcount(mask));
    }
    return channel;
}

// The channel's value scaled to 8 bits: the top 8 of a wider one; a
// narrower one's bits repeated down from the top (5 bits abcde: abcdeabc),
// so that 0 and the largest value are black and full. absent: what a
// channel without a mask gives.
std::uint8_t sampleOf(const Channel& channel, std::uint32_t pixel, std::uint8_t absent) {
    if (channel.bits == 0) {
        return absent;
    }
    const std::uint32_t value = (pixel & channel.mask) >> channel.shift;
    if (channel.bits >= 8) {
        return static_cast<std::uint8_t>(value >> (channel.bits - 8));
    }
    std::uint32_t sample = 0;
    for (int at = 8 - static_cast<int>(channel.bits); at > -static_cast<int>(channel.bits);
         at -= static_cast<int>(channel.bits)) {
        sample |=
            at >= 0 ? value << static_cast<unsigned>(at) : value >> static_cast<unsigned>(-at);
    }
    return static_cast<std::uint8_t>(sample);
}

struct Decoding {
    BmpLayout layout;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::array<std::uint8_t, std::size_t{4} * 256> colours{}; // every index's RGBA
    unsigned entries = 0; // the palette's; an index past them is refused
    std::array<Channel, 4> channels{};
};

// Every index's colour: the palette's entries opaque.
void fillColours(Decoding& decoding, const RgbaImage& image) {
    decoding.entries = static_cast<unsigned>(image.paletteEntries);
    for (std::size_t i = 0; i < 256; ++i) {
        std::uint8_t* colour = decoding.colours.data() + 4 * i;
        if (i < static_cast<std::size_t>(image.paletteEntries)) {
            std::memcpy(colour, image.palette.data() + 4 * i, 3);
        }
        colour[3] = 0xFF;
    }
}

// One stored row of the bitmap into width RGBA pixels at out. False for an
// index past the palette.
bool convertRow(const Decoding& decoding, const std::uint8_t* row, std::uint8_t* out) {
    const unsigned bits = decoding.layout.bitsPerPixel;
    for (std::uint32_t x = 0; x < decoding.width; ++x, out += 4) {
        if (bits <= 8) {
            const std::size_t bit = std::size_t{x} * bits;
            const unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1U << bits) - 1U);
            if (index >= decoding.entries) {
                return false;
            }
            std::memcpy(out, decoding.colours.data() + 4 * std::size_t{index}, 4);
            continue;
        }
        std::uint32_t pixel = 0;
        if (bits == 16) {
            pixel = loadU16(row + 2 * std::size_t{x});
        } else if (bits == 24) {
            const std::uint8_t* bgr = row + 3 * std::size_t{x};
            pixel =
                std::uint32_t{bgr[0]} | std::uint32_t{bgr[1]} << 8U | std::uint32_t{bgr[2]} << 16U;
        } else {
            pixel = loadU32(row + 4 * std::size_t{x});
        }
        for (std::size_t c = 0; c < 3; ++c) {
            out[c] = sampleOf(decoding.channels.at(c), pixel, 0);
        }
        out[3] = sampleOf(decoding.channels[3], pixel, 0xFF);
    }
    return true;
}

// The stored rows, each whole as far as its pixels go; a pixel area cut
// short is DAZ_ERR_READ.
int readRows(std::FILE* source, const Decoding& decoding, RgbaImage& image) {
    const auto rowSize =
        static_cast<std::size_t>(dazRowSize(decoding.width, decoding.layout.bitsPerPixel));
    const std::size_t needed = (std::size_t{decoding.width} * decoding.layout.bitsPerPixel + 7) / 8;
    std::vector<std::uint8_t> row(rowSize);
    const bool topDown = decoding.layout.height < 0;
    for (std::uint32_t stored = 0; stored < decoding.height; ++stored) {
        const std::size_t got = std::fread(row.data(), 1, rowSize, source);
        if (got < needed) {
            return DAZ_ERR_READ;
        }
        const std::uint32_t top = topDown ? stored : decoding.height - 1 - stored;
        if (!convertRow(decoding, row.data(),
                        image.pixels.data() + std::size_t{top} * 4 * decoding.width)) {
            return DAZ_ERR_NOT_BMP;
        }
    }
    return DAZ_OK;
}

// Run-length rows: decoded whole as indices (bottom row first), then looked
// up.
int readRleRows(std::FILE* source, const Decoding& decoding, RgbaImage& image) {
    std::vector<std::uint8_t> indices(std::size_t{decoding.width} * decoding.height);
    const ConvertResult decoded = decodeRleToIndices(source, decoding.layout, indices.data());
    if (decoded < 0) {
        return dazErrorOf(decoded, BMP_INPUT_ERRORS);
    }
    if (std::any_of(indices.begin(), indices.end(),
                    [&](std::uint8_t index) { return index >= decoding.entries; })) {
        return DAZ_ERR_NOT_BMP;
    }
    for (std::uint32_t stored = 0; stored < decoding.height; ++stored) {
        const std::uint8_t* row = indices.data() + std::size_t{stored} * decoding.width;
        std::uint8_t* out =
            image.pixels.data() + std::size_t{decoding.height - 1 - stored} * 4 * decoding.width;
        for (std::uint32_t x = 0; x < decoding.width; ++x) {
            std::memcpy(out + 4 * std::size_t{x}, decoding.colours.data() + 4 * std::size_t{row[x]},
                        4);
        }
    }
    return DAZ_OK;
}

} // namespace

int readBmpRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image) {
    BmpStart start;
    if (readBmpStart(source, start) < 0) {
        return DAZ_ERR_READ;
    }
    Decoding decoding;
    BmpLayout& layout = decoding.layout;
    const ConvertResult parsed =
        parseBmpLayout(start.bytes.data(), start.size, layout, BmpDepths::ANY);
    if (parsed < 0) {
        return dazErrorOf(parsed, BMP_INPUT_ERRORS);
    }
    // A header of no size a bitmap has (the conversions into daz then assume
    // the common layout, as the first readers did) or more colours than the
    // depth indexes: none of the other readers takes these, nor does this.
    const bool tooManyColours =
        layout.bitsPerPixel <= 8 && layout.colorsUsed > (1U << layout.bitsPerPixel);
    if (layout.kind == BmpLayoutKind::FIXED || tooManyColours || layout.width <= 0 ||
        layout.width > DAZ_MAX_WIDTH || layout.height == 0 || layout.height < DAZ_MIN_HEIGHT ||
        layout.height > DAZ_MAX_HEIGHT) {
        return DAZ_ERR_NOT_BMP;
    }
    decoding.width = static_cast<std::uint32_t>(layout.width);
    decoding.height =
        static_cast<std::uint32_t>(layout.height < 0 ? -layout.height : layout.height);
    const int checked = checkRgbaSize(check, decoding.width, decoding.height);
    if (checked != DAZ_OK) {
        return checked;
    }
    image.width = decoding.width;
    image.height = decoding.height;
    if (sizeOnly) {
        return DAZ_OK;
    }
    if (layout.bitsPerPixel <= 8) {
        if (parseDazPalette(start.bytes.data(), start.size, layout, layout.paletteEntries,
                            image.palette.data()) < 0) {
            return DAZ_ERR_READ;
        }
        for (int i = 0; i < layout.paletteEntries; ++i) {
            image.palette.at(4 * static_cast<std::size_t>(i) + 3) = 0;
        }
        image.paletteEntries = layout.paletteEntries;
        fillColours(decoding, image);
    }
    for (std::size_t c = 0; c < 4; ++c) {
        decoding.channels.at(c) = channelOf(layout.masks[c]);
    }
    image.pixels.assign(std::size_t{4} * decoding.width * decoding.height, 0);
    if (seekFile(source, layout.pixelOffset) != 0) {
        return DAZ_ERR_READ;
    }
    return isRle(layout) ? readRleRows(source, decoding, image) : readRows(source, decoding, image);
}

} // namespace orvx
