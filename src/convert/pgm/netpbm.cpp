#include "convert/pgm/netpbm.h"

#include "platform/platform.h"

#include <algorithm>
#include <vector>

namespace orvx {

int NetpbmBytes::next() {
    if (at_ == size_) {
        size_ = ended_ ? 0 : std::fread(piece_.data(), 1, piece_.size(), source_);
        at_ = 0;
        if (size_ == 0) {
            ended_ = true;
            return END;
        }
    }
    ++consumed_;
    return piece_[at_++];
}

int NetpbmBytes::nextFolded() {
    int c = next();
    if (c == '#') {
        do {
            c = next();
        } while (c != '\n' && c != '\r' && c != END);
    }
    return c;
}

ConvertResult netpbmFaultAt(int c) {
    return c == NetpbmBytes::END ? ERR_READ : ERR_NOT_BMP;
}

ConvertResult readNetpbmMagic(NetpbmBytes& in, char digit) {
    const int p = in.next();
    if (p != 'P') {
        return netpbmFaultAt(p);
    }
    const int kind = in.next();
    return kind == digit ? 0 : netpbmFaultAt(kind);
}

ConvertResult readNetpbmNumber(NetpbmBytes& in, int& c, std::uint32_t& value) {
    if (!isNetpbmSpace(c)) {
        return netpbmFaultAt(c);
    }
    do {
        c = in.nextFolded();
    } while (isNetpbmSpace(c));
    if (c < '0' || c > '9') {
        return netpbmFaultAt(c);
    }
    value = 0;
    do {
        value = std::min(NETPBM_NUMBER_CAP, value * 10 + static_cast<std::uint32_t>(c - '0'));
        c = in.nextFolded();
    } while (c >= '0' && c <= '9');
    return isNetpbmSpace(c) ? 0 : netpbmFaultAt(c);
}

int readNetpbmRgba(std::FILE* source, const NetpbmRaster& raster, const PlanCheck* check,
                   bool sizeOnly, RgbaImage& image) {
    const int checked = checkRgbaSize(check, raster.width, raster.height);
    if (checked != DAZ_OK) {
        return checked;
    }
    image.width = raster.width;
    image.height = raster.height;
    if (sizeOnly) {
        return DAZ_OK;
    }
    if (seekFile(source, static_cast<std::int64_t>(raster.offset)) != 0) {
        return DAZ_ERR_READ;
    }
    const std::size_t sampleBytes = raster.maxval > 255 ? 2 : 1;
    const std::size_t tuples = raster.width;
    std::vector<std::uint8_t> row(tuples * raster.depth * sampleBytes);
    std::vector<std::uint8_t> pixels(std::size_t{4} * raster.width * raster.height);
    const std::uint32_t maxval = raster.maxval;
    std::uint8_t* out = pixels.data();
    for (std::uint32_t y = 0; y < raster.height; ++y) {
        if (std::fread(row.data(), 1, row.size(), source) != row.size()) {
            return DAZ_ERR_READ;
        }
        const std::uint8_t* in = row.data();
        for (std::size_t x = 0; x < tuples; ++x, out += 4) {
            std::array<std::uint8_t, 4> tuple{0, 0, 0, 0xFF};
            for (std::uint32_t s = 0; s < raster.depth; ++s, in += sampleBytes) {
                const std::uint32_t sample =
                    sampleBytes == 2 ? (std::uint32_t{in[0]} << 8U) | in[1] : std::uint32_t{in[0]};
                const std::uint32_t value = std::min(sample, maxval);
                tuple[s] = static_cast<std::uint8_t>((value * 2 * 255 + maxval) / (2 * maxval));
            }
            if (raster.depth <= 2) { // grey: a grey and an alpha
                tuple[3] = raster.depth == 2 ? tuple[1] : std::uint8_t{0xFF};
                tuple[1] = tuple[0];
                tuple[2] = tuple[0];
            }
            std::copy(tuple.begin(), tuple.end(), out);
        }
    }
    image.pixels = std::move(pixels);
    return DAZ_OK;
}

} // namespace orvx
