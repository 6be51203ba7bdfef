// Colour reduction and palette mapping in the C API: the quantizer's two
// calls on the caller's pixels, and any image read as RGBA or for its
// palette. Every output is written on success only: the work is done in
// memory of the call's own, within the limits, then copied.
#include "api/api_quantize.h"

#include "api/api_convert.h"
#include "api/api_rows.h"
#include "api/memory_stream.h"
#include "convert/reduce_to_daz.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace orvx {

int takeQuantizeOptions(const daz_quantize_options* options, int entries, quantize::Options& out) {
    daz_quantize_options defaults{};
    if (options == nullptr) {
        daz_default_quantize_options(&defaults);
        options = &defaults;
    }
    const bool reserved = options->reserved_byte != 0 ||
                          std::any_of(std::begin(options->reserved), std::end(options->reserved),
                                      [](std::uint32_t word) { return word != 0; });
    const int bound = entries == 0 ? options->colors : entries;
    if (reserved || (entries == 0 && (options->colors < 2 || options->colors > DAZ_MAX_PALETTE)) ||
        (options->dither != DAZ_DITHER_NONE && options->dither != DAZ_DITHER_DIFFUSION) ||
        options->transparent_index < -1 || options->transparent_index >= bound) {
        return DAZ_ERR_ARGUMENT;
    }
    out.colors = entries == 0 ? options->colors : entries;
    out.dither = options->dither == DAZ_DITHER_DIFFUSION ? quantize::Dither::Diffusion
                                                         : quantize::Dither::None;
    out.transparentIndex = options->transparent_index;
    std::memcpy(out.background, options->background, sizeof out.background);
    return DAZ_OK;
}

namespace {

// The pixels a caller hands over: DAZ_OK once they are checked against the
// limits, with what the quantizer holds while it works on them.
int checkPixels(const std::uint8_t* rgba, std::size_t stride, std::uint32_t width,
                std::uint32_t height, const daz_limits* limits, const std::uint8_t* indices,
                std::size_t indicesSize, std::uint64_t working) {
    if (rgba == nullptr || indices == nullptr || width == 0 || height == 0 || stride / 4 < width) {
        return DAZ_ERR_ARGUMENT;
    }
    // The last row ends at stride x (height - 1) + 4 x width past rgba.
    const std::uintptr_t room =
        std::min<std::uintptr_t>(PTRDIFF_MAX, UINTPTR_MAX - reinterpret_cast<std::uintptr_t>(rgba));
    if (std::uint64_t{4} * width > room ||
        height - 1 > (room - 4 * std::uint64_t{width}) / stride) {
        return DAZ_ERR_ARGUMENT;
    }
    const std::uint64_t pixels = std::uint64_t{width} * height;
    const int limited = checkLimits(limits, width, height, working);
    if (limited != DAZ_OK) {
        return limited;
    }
    return indicesSize < pixels ? DAZ_ERR_BUFFER : DAZ_OK;
}

// The limits' say on a reader's plan, and the caller's buffer's: an RGBA
// image past room is DAZ_ERR_BUFFER before anything is read.
struct ReadBounds {
    const daz_limits* limits = nullptr;
    bool checkRoom = false;
    std::size_t room = 0;
};

int checkRead(void* context, const OutputPlan& plan) {
    const auto& bounds = *static_cast<const ReadBounds*>(context);
    const int limited = checkLimits(bounds.limits, plan.width, plan.rows, plan.held);
    if (limited != DAZ_OK) {
        return limited;
    }
    // The room takes the pixels; what a reader holds beside them (a file read
    // whole, a decoder's buffers) counts against the limits alone.
    const std::uint64_t pixelBytes = 4 * plan.width * plan.rows;
    return bounds.checkRoom && pixelBytes > bounds.room ? DAZ_ERR_BUFFER : DAZ_OK;
}

// Runs read(stream, check) on a stream over data[0, size), an image of a
// format the table knows, with the bounds' check.
template <typename Read>
int withImage(const void* data, std::size_t size, const ReadBounds& bounds, Read read) {
    if (data == nullptr && size > 0) {
        return DAZ_ERR_ARGUMENT;
    }
    if (formatReader(guessFormat(static_cast<const std::uint8_t*>(data), size)) == nullptr) {
        return DAZ_ERR_FORMAT;
    }
    MemoryInput input;
    if (!openMemoryInput(input, data, size)) {
        return DAZ_ERR_MEMORY;
    }
    ReadBounds context = bounds;
    const PlanCheck check{checkRead, &context};
    int result = DAZ_ERR_MEMORY;
    try {
        result = read(input.stream, check);
    } catch (const std::bad_alloc&) {
        result = DAZ_ERR_MEMORY;
    }
    closeMemoryInput(input);
    return result;
}

} // namespace

} // namespace orvx

using namespace orvx;

extern "C" {

void daz_default_quantize_options(daz_quantize_options* options) {
    if (options == nullptr) {
        return;
    }
    std::memset(options, 0, sizeof *options);
    options->colors = DAZ_MAX_PALETTE;
    options->dither = DAZ_DITHER_NONE;
    options->transparent_index = -1;
}

int daz_quantize(const uint8_t* rgba, size_t stride, uint32_t width, uint32_t height,
                 const daz_limits* limits, const daz_quantize_options* options, uint8_t* palette,
                 int* entries, uint8_t* indices, size_t indices_size) {
    quantize::Options taken;
    if (palette == nullptr || entries == nullptr ||
        takeQuantizeOptions(options, 0, taken) != DAZ_OK) {
        return DAZ_ERR_ARGUMENT;
    }
    const int checked = checkPixels(rgba, stride, width, height, limits, indices, indices_size,
                                    quantize::workingBytes(width, height, true, taken.dither) +
                                        sizeof(quantize::Palette));
    if (checked != DAZ_OK) {
        return checked;
    }
    // The quantizer writes the indices only once nothing can fail.
    return guarded([&]() -> int {
        auto made = std::make_unique<quantize::Palette>();
        const int result = quantize::reducePalette(quantize::RgbaImage{rgba, stride, width, height},
                                                   taken, *made, indices);
        if (result != DAZ_OK) {
            return result;
        }
        std::memcpy(palette, made->bytes, DAZ_PALETTE_BYTES);
        *entries = made->entries;
        return DAZ_OK;
    });
}

int daz_remap(const uint8_t* rgba, size_t stride, uint32_t width, uint32_t height,
              const daz_limits* limits, const daz_quantize_options* options, const uint8_t* palette,
              int entries, uint8_t* indices, size_t indices_size) {
    quantize::Options taken;
    if (palette == nullptr || entries < 1 || entries > DAZ_MAX_PALETTE ||
        takeQuantizeOptions(options, entries, taken) != DAZ_OK) {
        return DAZ_ERR_ARGUMENT;
    }
    const int checked = checkPixels(rgba, stride, width, height, limits, indices, indices_size,
                                    quantize::workingBytes(width, height, false, taken.dither) +
                                        sizeof(quantize::Palette));
    if (checked != DAZ_OK) {
        return checked;
    }
    return guarded([&]() -> int {
        auto given = std::make_unique<quantize::Palette>();
        std::memcpy(given->bytes, palette, 4 * static_cast<std::size_t>(entries));
        given->entries = entries;
        return quantize::mapToPalette(quantize::RgbaImage{rgba, stride, width, height}, taken,
                                      *given, indices);
    });
}

int daz_load_rgba(const void* data, size_t size, const daz_limits* limits, uint32_t* width,
                  uint32_t* height, uint8_t* rgba, size_t rgba_size) {
    if (width == nullptr || height == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return guarded([&]() -> int {
        RgbaImage image;
        const ReadBounds bounds{limits, rgba != nullptr, rgba_size};
        const int result =
            withImage(data, size, bounds, [&](std::FILE* stream, const PlanCheck& check) {
                const FormatReader* entry =
                    formatReader(guessFormat(static_cast<const std::uint8_t*>(data), size));
                return entry->readRgba(stream, &check, rgba == nullptr, image);
            });
        if (result != DAZ_OK) {
            return result;
        }
        *width = image.width;
        *height = image.height;
        if (rgba != nullptr) {
            std::memcpy(rgba, image.pixels.data(), image.pixels.size());
        }
        return DAZ_OK;
    });
}

int daz_load_palette(const void* data, size_t size, const daz_limits* limits, uint8_t* palette,
                     int* entries) {
    if (palette == nullptr || entries == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return guarded([&]() -> int {
        std::array<std::uint8_t, DAZ_PALETTE_BYTES> found{};
        int count = 0;
        const int result = withImage(data, size, ReadBounds{limits},
                                     [&](std::FILE* stream, const PlanCheck& check) {
                                         return readPaletteOf(stream, &check, found.data(), count);
                                     });
        if (result != DAZ_OK) {
            return result;
        }
        std::memcpy(palette, found.data(), found.size());
        *entries = count;
        return DAZ_OK;
    });
}

} // extern "C"
