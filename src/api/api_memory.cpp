// The daz side of the C API on buffers in memory: inspect, decode, encode.
// No call allocates: every buffer is the caller's, its size checked against
// the image, and the image against the limits, before anything is written.
#include "api/api_rows.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

using namespace orvx;

// A stored row's place in the pixel area, as a keystream phase.
std::size_t rowPhase(std::uint64_t stored, std::uint64_t rowSize) {
    return static_cast<std::size_t>(stored * rowSize % KEYSTREAM_PERIOD);
}

// |height|, for a height prepareEncode has taken.
std::uint32_t heightRows(std::int32_t height) {
    return static_cast<std::uint32_t>(height < 0 ? -std::int64_t{height} : height);
}

// Parses and checks an image to decode, bytesPerPixel bytes a pixel out.
int openForDecode(const void* data, std::size_t size, const daz_limits* limits,
                  std::uint64_t bytesPerPixel, DazImage& image) {
    if (data == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    const int parsed = parseDazImage(static_cast<const std::uint8_t*>(data), size, size, image);
    if (parsed != DAZ_OK) {
        return parsed;
    }
    const std::uint64_t width = image.header.width;
    return checkLimits(limits, width, image.rows, width * image.rows * bytesPerPixel);
}

// The image's rows, top row first, as width indices each, to visit(row, out
// index of the row), whatever order they are stored in.
template <typename Visit>
void decodeRows(const DazImage& image, const std::uint8_t* data, Visit visit) {
    PixelCoding coding;
    initPixelCoding(coding, image.header.key, image.header.bitsPerPixel, image.header.colorCount);
    const bool topDown = dazTopDown(image.header);
    for (std::uint64_t stored = 0; stored < image.rows; ++stored) {
        const std::uint64_t top = topDown ? stored : image.rows - 1 - stored;
        visit(coding, data + image.pixelStart + stored * image.rowSize,
              rowPhase(stored, image.rowSize), top);
    }
}

} // namespace

extern "C" {

int daz_inspect(const void* data, size_t size, daz_info* info) {
    if (data == nullptr || info == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    DazImage image;
    const int parsed = parseDazImage(static_cast<const std::uint8_t*>(data), size, size, image);
    if (parsed != DAZ_OK) {
        return parsed;
    }
    fillInfo(image, *info);
    return DAZ_OK;
}

int daz_decoded_size(const daz_info* info, const daz_limits* limits, size_t* indices_size,
                     size_t* rgba_size) {
    if (info == nullptr || info->width > orvx::DAZ_MAX_WIDTH || info->rows > DAZ_MAX_ROWS) {
        return DAZ_ERR_ARGUMENT;
    }
    const std::uint64_t pixels = std::uint64_t{info->width} * info->rows;
    // The most the caller asks to hold: the pixels when they ask for them.
    const std::uint64_t held = rgba_size != nullptr ? 4 * pixels : pixels;
    const int limited = checkLimits(limits, info->width, info->rows, held);
    if (limited != DAZ_OK) {
        return limited;
    }
    if constexpr (sizeof(std::size_t) < sizeof(std::uint64_t)) {
        if (4 * pixels > SIZE_MAX) {
            return DAZ_ERR_LIMITS; // a 32-bit build, and an image past its memory
        }
    }
    if (indices_size != nullptr) {
        *indices_size = static_cast<std::size_t>(pixels);
    }
    if (rgba_size != nullptr) {
        *rgba_size = static_cast<std::size_t>(4 * pixels);
    }
    return DAZ_OK;
}

int daz_decode(const void* data, size_t size, const daz_limits* limits, daz_info* info,
               uint8_t* palette, uint8_t* indices, size_t indices_size) {
    if (indices == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    DazImage image;
    const int opened = openForDecode(data, size, limits, 1, image);
    if (opened != DAZ_OK) {
        return opened;
    }
    const std::uint32_t width = image.header.width;
    if (indices_size / width < image.rows) {
        return DAZ_ERR_BUFFER;
    }
    if (info != nullptr) {
        fillInfo(image, *info);
    }
    if (palette != nullptr) {
        std::memset(palette, 0, DAZ_PALETTE_BYTES);
        std::memcpy(palette, image.palette, image.paletteBytes);
    }
    // Past the caches, the indices go out with streaming stores, which
    // don't read each line in before writing it.
    const bool streaming = std::uint64_t{width} * image.rows >= STREAMED_OUTPUT_BYTES;
    const RowDecoder decode = activeKernel().decodeRow;
    decodeRows(image, static_cast<const std::uint8_t*>(data),
               [&](const PixelCoding& coding, const std::uint8_t* stored, std::size_t phase,
                   std::uint64_t top) {
                   decode(coding, stored, width, indices + top * width, phase, streaming);
               });
    if (streaming) {
        finishStreaming();
    }
    return DAZ_OK;
}

int daz_decode_rgba(const void* data, size_t size, const daz_limits* limits, daz_info* info,
                    uint8_t* rgba, size_t rgba_size) {
    if (rgba == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    DazImage image;
    const int opened = openForDecode(data, size, limits, 4, image);
    if (opened != DAZ_OK) {
        return opened;
    }
    const std::uint32_t width = image.header.width;
    if (rgba_size / 4 / width < image.rows) {
        return DAZ_ERR_BUFFER;
    }
    if (info != nullptr) {
        fillInfo(image, *info);
    }
    DazColourTable colours{};
    fillDazColourTable(image.palette, image.paletteBytes, colours);
    std::array<std::uint8_t, orvx::DAZ_MAX_WIDTH> row;
    decodeRows(image, static_cast<const std::uint8_t*>(data),
               [&](const PixelCoding& coding, const std::uint8_t* stored, std::size_t phase,
                   std::uint64_t top) {
                   decodeRow(coding, stored, width, phase, row.data());
                   std::uint8_t* out = rgba + top * width * 4;
                   for (std::size_t x = 0; x < width; ++x) {
                       std::memcpy(out + 4 * x, colours.data() + 4 * std::size_t{row[x]}, 4);
                   }
               });
    return DAZ_OK;
}

int daz_encoded_size(uint32_t width, int32_t height, int bits, int entries, int kept_colors,
                     size_t* size) {
    if (size == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    std::array<std::uint8_t, DAZ_MAX_PREFIX_SIZE> prefix{};
    const std::array<std::uint8_t, DAZ_PALETTE_BYTES> palette{};
    std::size_t prefixSize = 0;
    int kept = 0;
    const int checked = prepareEncode(width, height, bits, palette.data(), entries, kept_colors, 0,
                                      prefix.data(), prefixSize, kept);
    if (checked != DAZ_OK) {
        return checked;
    }
    *size = prefixSize + static_cast<std::size_t>(dazRowSize(width, static_cast<unsigned>(bits)) *
                                                  heightRows(height));
    return DAZ_OK;
}

int daz_encode(const uint8_t* indices, size_t stride, uint32_t width, int32_t height, int bits,
               const uint8_t* palette, int entries, int kept_colors, uint16_t key, void* out,
               size_t capacity, size_t* written, uint64_t* undefined) {
    if ((indices == nullptr && out != nullptr) || written == nullptr || stride < width) {
        return DAZ_ERR_ARGUMENT;
    }
    std::array<std::uint8_t, DAZ_MAX_PREFIX_SIZE> prefix{};
    std::size_t prefixSize = 0;
    int kept = 0;
    const int checked = prepareEncode(width, height, bits, palette, entries, kept_colors, key,
                                      prefix.data(), prefixSize, kept);
    if (checked != DAZ_OK) {
        return checked;
    }
    const std::uint32_t rows = heightRows(height);
    // The last row ends at stride x (rows - 1) + width past indices: an
    // address the pointer can reach without wrapping.
    const std::uintptr_t room = std::min<std::uintptr_t>(
        PTRDIFF_MAX, UINTPTR_MAX - reinterpret_cast<std::uintptr_t>(indices));
    if (width > room || rows - 1 > (room - width) / stride) {
        return DAZ_ERR_ARGUMENT;
    }
    const auto rowSize = static_cast<std::size_t>(dazRowSize(width, static_cast<unsigned>(bits)));
    const std::size_t total = prefixSize + rowSize * rows;
    if (out == nullptr) {
        *written = total; // the size query
        return DAZ_OK;
    }
    if (capacity < total) {
        return DAZ_ERR_BUFFER;
    }
    const KernelVariant& kernel = activeKernel();
    // Checked before anything is written: a refused call leaves out as it was.
    if (bits == 4) {
        for (std::uint32_t y = 0; y < rows; ++y) {
            if (!kernel.fitNibbles(indices + std::size_t{y} * stride, width)) {
                return DAZ_ERR_ARGUMENT;
            }
        }
    }
    auto* bytes = static_cast<std::uint8_t*>(out);
    std::memcpy(bytes, prefix.data(), prefixSize);
    PixelCoding coding;
    initPixelCoding(coding, key, bits, kept);
    const bool streaming = total >= STREAMED_OUTPUT_BYTES;
    const bool topDown = height < 0;
    std::uint64_t count = 0;
    // Canonical rows run bottom-up: the last image row is stored first. The
    // indices are read in their own order, top row first, which the
    // processor's prefetch follows better than rows read backwards.
    for (std::uint32_t y = 0; y < rows; ++y) {
        const std::uint32_t stored = topDown ? y : rows - 1 - y;
        count += kernel.encodeRow(coding, indices + std::size_t{y} * stride, width,
                                  bytes + prefixSize + std::size_t{stored} * rowSize, rowSize,
                                  rowPhase(stored, rowSize), streaming);
    }
    if (streaming) {
        finishStreaming();
    }
    *written = total;
    if (undefined != nullptr) {
        *undefined = count;
    }
    return DAZ_OK;
}

} // extern "C"
