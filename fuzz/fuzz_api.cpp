#include "fuzz_api.h"

#include "daz/daz.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool isKnownError(int code) {
    return code <= DAZ_OK && code >= DAZ_ERR_STATE;
}

// Small enough that a hostile header can't make a run slow.
daz_limits smallLimits() {
    daz_limits limits;
    daz_default_limits(&limits);
    limits.max_pixels = std::uint64_t{1} << 22U;
    limits.max_bytes = std::uint64_t{1} << 24U;
    return limits;
}

} // namespace

void fuzzApiInspectOne(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> exact(data, data + size);
    daz_info info;
    const int code = daz_inspect(exact.data(), exact.size(), &info);
    require(isKnownError(code));
    if (code != DAZ_OK) {
        return;
    }
    const std::uint32_t height = info.height < 0 ? static_cast<std::uint32_t>(-info.height)
                                                 : static_cast<std::uint32_t>(info.height);
    require(info.bits == 4 || info.bits == 8);
    require(info.colors >= 1 && info.colors <= (info.bits == 4 ? 16 : 256));
    require(info.rows >= 1 && info.rows <= height);
    require(info.row_size == (info.width * static_cast<std::uint32_t>(info.bits) + 31) / 32 * 4);
    require(info.pixel_offset == DAZ_HEADER_SIZE + 4 * static_cast<std::uint64_t>(info.colors));
    require(info.pixel_offset + std::uint64_t{info.rows} * info.row_size + info.trailing == size);
}

void fuzzApiDecodeOne(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> exact(data, data + size);
    const daz_limits limits = smallLimits();
    daz_info info;
    int code = daz_inspect(exact.data(), exact.size(), &info);
    std::size_t indicesSize = 0;
    std::size_t rgbaSize = 0;
    if (code == DAZ_OK) {
        code = daz_decoded_size(&info, &limits, &indicesSize, &rgbaSize);
    }
    if (code != DAZ_OK || rgbaSize > limits.max_bytes) {
        return;
    }
    std::vector<std::uint8_t> indices(indicesSize);
    std::vector<std::uint8_t> rgba(rgbaSize);
    std::vector<std::uint8_t> palette(DAZ_PALETTE_BYTES);
    daz_info decoded;
    daz_info applied;
    const int byIndex = daz_decode(exact.data(), exact.size(), &limits, &decoded, palette.data(),
                                   indices.data(), indices.size());
    const int byColour =
        daz_decode_rgba(exact.data(), exact.size(), &limits, &applied, rgba.data(), rgba.size());
    require(isKnownError(byIndex) && isKnownError(byColour));
    if (byIndex != DAZ_OK || byColour != DAZ_OK) {
        return;
    }
    const auto colors = static_cast<std::size_t>(decoded.colors);
    for (std::size_t i = 0; i < indices.size(); ++i) {
        const std::uint8_t* pixel = rgba.data() + 4 * i;
        if (indices[i] < colors) {
            require(std::memcmp(pixel, palette.data() + 4 * std::size_t{indices[i]}, 3) == 0 &&
                    pixel[3] == 255);
        } else {
            require(pixel[0] == DAZ_UNDEFINED_RED && pixel[1] == DAZ_UNDEFINED_GREEN &&
                    pixel[2] == DAZ_UNDEFINED_BLUE && pixel[3] == DAZ_UNDEFINED_ALPHA);
        }
    }
}

void fuzzApiRoundTripOne(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t PARAMETERS = 7;
    if (size < PARAMETERS) {
        return;
    }
    const std::uint32_t width = data[0] == 0 ? 1U : data[0];
    const std::uint32_t rows = data[1] == 0 ? 1U : data[1];
    const int bits = (data[2] & 1U) != 0 ? 4 : 8;
    const bool topDown = (data[2] & 2U) != 0;
    const std::int32_t height =
        topDown ? -static_cast<std::int32_t>(rows) : static_cast<std::int32_t>(rows);
    const int maxIndex = bits == 4 ? 16 : 256;
    const int entries = 1 + data[3] % maxIndex;
    const int kept = data[4] % (entries + 1);
    const auto key = static_cast<std::uint16_t>(data[5] | data[6] << 8U);
    std::vector<std::uint8_t> indices(std::size_t{width} * rows);
    for (std::size_t i = 0; i < indices.size(); ++i) {
        const std::uint8_t byte = PARAMETERS + i < size ? data[PARAMETERS + i] : 0;
        indices[i] = static_cast<std::uint8_t>(byte % maxIndex);
    }
    std::vector<std::uint8_t> palette(4 * static_cast<std::size_t>(entries));
    for (std::size_t i = 0; i < palette.size(); ++i) {
        palette[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::size_t encodedSize = 0;
    require(daz_encoded_size(width, height, bits, entries, kept, &encodedSize) == DAZ_OK);
    std::vector<std::uint8_t> daz(encodedSize);
    std::size_t written = 0;
    std::uint64_t undefined = 0;
    require(daz_encode(indices.data(), width, width, height, bits, palette.data(), entries, kept,
                       key, daz.data(), daz.size(), &written, &undefined) == DAZ_OK);
    require(written == encodedSize);
    const int colors = kept == 0 ? entries : kept;
    std::uint64_t past = 0;
    for (const std::uint8_t index : indices) {
        past += index >= colors ? 1U : 0U;
    }
    require(undefined == past);
    std::vector<std::uint8_t> back(indices.size());
    daz_info info;
    require(daz_decode(daz.data(), daz.size(), nullptr, &info, nullptr, back.data(), back.size()) ==
            DAZ_OK);
    require(back == indices && info.key == key && info.colors == colors && info.height == height);
}

void fuzzApiRgbaOne(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> exact(data, data + size);
    const daz_limits limits = smallLimits();
    const auto known = [](int code) { return code <= DAZ_OK && code >= DAZ_ERR_NOT_INDEXED; };
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int code = daz_load_rgba(exact.data(), exact.size(), &limits, &width, &height, nullptr, 0);
    require(known(code));
    if (code != DAZ_OK) {
        return;
    }
    const std::uint32_t queriedWidth = width;
    const std::uint32_t queriedHeight = height;
    std::vector<std::uint8_t> rgba(std::size_t{4} * width * height);
    code = daz_load_rgba(exact.data(), exact.size(), &limits, &width, &height, rgba.data(),
                         rgba.size());
    require(known(code) && code != DAZ_ERR_BUFFER && code != DAZ_ERR_LIMITS);
    require(width == queriedWidth && height == queriedHeight);
    if (code != DAZ_OK) {
        return;
    }
    std::uint8_t palette[DAZ_PALETTE_BYTES];
    int entries = 0;
    code = daz_load_palette(exact.data(), exact.size(), &limits, palette, &entries);
    require(known(code) && (code != DAZ_OK || (entries >= 1 && entries <= 256)));
    if (std::uint64_t{width} * height > (std::uint64_t{1} << 16U)) {
        return; // the reduction's time grows with the pixels
    }
    daz_quantize_options options;
    daz_default_quantize_options(&options);
    options.colors = 16;
    std::size_t written = 0;
    code = daz_reduce(exact.data(), exact.size(), &limits, &options, nullptr, 0, 0, nullptr, 0,
                      &written);
    require(known(code));
    if (code != DAZ_OK) {
        return; // a height past what a bottom-up daz image holds
    }
    std::vector<std::uint8_t> daz(written);
    require(daz_reduce(exact.data(), exact.size(), &limits, &options, nullptr, 0, 0, daz.data(),
                       daz.size(), &written) == DAZ_OK);
    daz_info info;
    require(daz_inspect(daz.data(), daz.size(), &info) == DAZ_OK);
    require(info.colors >= 1 && info.colors <= 16 && info.bits == 4);
    require(info.width == width && info.rows == height);
}
