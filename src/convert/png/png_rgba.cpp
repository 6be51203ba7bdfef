// A PNG of any colour type and depth as RGBA, through libpng's transforms:
// palette, low-depth grey and tRNS expanded, grey made RGB, 16-bit samples
// cut to their high byte, an opaque alpha added where there is none, the
// passes of an interlaced image put together. No gamma or colour
// correction: the samples as stored.
#include "convert/png/png_format.h"
#include "convert/png/png_glue.h"
#include "convert/png/png_indices.h"

#include <cstring>

namespace orvx {

namespace {

struct PngReading {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE* file = nullptr;
    bool cut = false; // the file ended, or a read failed, before libpng had enough

    PngReading() = default;
    PngReading(const PngReading&) = delete;
    PngReading& operator=(const PngReading&) = delete;
    ~PngReading() { png_destroy_read_struct(&png, &info, nullptr); }
};

void readForPng(png_structp png, png_bytep out, std::size_t size) {
    auto& reading = *static_cast<PngReading*>(png_get_io_ptr(png));
    if (std::fread(out, 1, size, reading.file) != size) {
        reading.cut = true;
        png_error(png, "cut short");
    }
}

int failureOf(const PngReading& reading) {
    return reading.cut ? DAZ_ERR_READ : DAZ_ERR_NOT_PNG;
}

// The header, then the transforms that make every row width RGBA pixels.
int startReading(PngReading& reading, std::uint32_t& width, std::uint32_t& height) {
    return withPngJump(
        reading.png, [&reading] { return failureOf(reading); },
        [&reading, &width, &height] {
            png_set_read_fn(reading.png, &reading, readForPng);
            png_set_keep_unknown_chunks(reading.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
            png_read_info(reading.png, reading.info);
            width = png_get_image_width(reading.png, reading.info);
            height = png_get_image_height(reading.png, reading.info);
        });
}

int setTransforms(PngReading& reading) {
    return withPngJump(
        reading.png, [&reading] { return failureOf(reading); },
        [&reading] {
            png_set_expand(reading.png);
            png_set_strip_16(reading.png);
            png_set_gray_to_rgb(reading.png);
            png_set_add_alpha(reading.png, 0xFF, PNG_FILLER_AFTER);
            static_cast<void>(png_set_interlace_handling(reading.png));
            png_read_update_info(reading.png, reading.info);
        });
}

int readImage(PngReading& reading, png_bytepp rows) {
    return withPngJump(
        reading.png, [&reading] { return failureOf(reading); },
        [&reading, rows] {
            png_read_image(reading.png, rows);
            png_read_end(reading.png, nullptr);
        });
}

// An indexed PNG's PLTE, fourth byte 0.
void takePalette(const PngReading& reading, RgbaImage& image) {
    png_colorp palette = nullptr;
    int entries = 0;
    if (png_get_color_type(reading.png, reading.info) != PNG_COLOR_TYPE_PALETTE ||
        png_get_PLTE(reading.png, reading.info, &palette, &entries) == 0) {
        return;
    }
    image.paletteEntries = std::min(entries, 256);
    for (int i = 0; i < image.paletteEntries; ++i) {
        std::uint8_t* entry = image.palette.data() + 4 * static_cast<std::size_t>(i);
        entry[0] = palette[i].red;
        entry[1] = palette[i].green;
        entry[2] = palette[i].blue;
        entry[3] = 0;
    }
}

} // namespace

int readPngRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image) {
    std::array<std::uint8_t, 8> signature{};
    const std::size_t got = std::fread(signature.data(), 1, signature.size(), source);
    if (std::ferror(source) != 0) {
        return DAZ_ERR_READ;
    }
    if (png_sig_cmp(signature.data(), 0, got) != 0) {
        return DAZ_ERR_NOT_PNG;
    }
    if (got < signature.size()) {
        return DAZ_ERR_READ;
    }
    PngReading reading;
    reading.file = source;
    reading.png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpOnPngError, dropPngWarning);
    reading.info = reading.png != nullptr ? png_create_info_struct(reading.png) : nullptr;
    if (reading.info == nullptr) {
        return DAZ_ERR_MEMORY;
    }
    png_set_sig_bytes(reading.png, static_cast<int>(signature.size()));
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int result = startReading(reading, width, height);
    if (result != DAZ_OK) {
        return result;
    }
    result = checkRgbaSize(check, width, height);
    if (result != DAZ_OK) {
        return result;
    }
    image.width = width;
    image.height = height;
    if (sizeOnly) {
        return DAZ_OK;
    }
    takePalette(reading, image);
    result = setTransforms(reading);
    if (result != DAZ_OK) {
        return result;
    }
    if (png_get_rowbytes(reading.png, reading.info) != std::size_t{4} * width) {
        return DAZ_ERR_NOT_PNG;
    }
    image.pixels.assign(std::size_t{4} * width * height, 0);
    std::vector<png_bytep> rows(height);
    for (std::uint32_t y = 0; y < height; ++y) {
        rows[y] = image.pixels.data() + std::size_t{y} * 4 * width;
    }
    return readImage(reading, rows.data());
}

} // namespace orvx
