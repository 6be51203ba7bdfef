// quantize_png IN.png OUT.png COLORS [--dither] [--map PALETTE.png]
//
// The quantizer (src/quantize) between PNG files, to measure it against
// pngquant, Pillow and ImageMagick (bench/quantize_compare.py): any PNG in
// (palette, grey and tRNS expanded to RGBA, 16-bit samples cut to 8), an
// indexed PNG out. With --map, the image is mapped onto the palette of
// PALETTE.png: its PLTE if indexed, else its distinct colours (at most 256)
// in order of first appearance. Exit 0 on success, 1 with a message on
// standard error.
#include "quantize/quantize.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;
    std::vector<uint8_t> plte; // 3 bytes an entry, when indexed
};

struct File {
    FILE* f = nullptr;
    ~File() {
        if (f != nullptr) {
            std::fclose(f);
        }
    }
};

bool readPng(const char* path, Picture& out, std::string& error) {
    File file;
    file.f = std::fopen(path, "rb");
    if (file.f == nullptr) {
        error = std::string("cannot open ") + path;
        return false;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        error = "out of memory";
        return false;
    }
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = std::string("not a valid PNG: ") + path;
        return false;
    }
    png_init_io(png, file.f);
    png_read_info(png, info);
    const int type = png_get_color_type(png, info);
    if (type == PNG_COLOR_TYPE_PALETTE) {
        png_colorp entries = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &entries, &count) != 0) {
            for (int i = 0; i < count; ++i) {
                out.plte.push_back(entries[i].red);
                out.plte.push_back(entries[i].green);
                out.plte.push_back(entries[i].blue);
            }
        }
    }
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    out.rgba.assign(static_cast<size_t>(out.width) * out.height * 4, 0);
    rows.resize(out.height);
    for (uint32_t y = 0; y < out.height; ++y) {
        rows[y] = &out.rgba[static_cast<size_t>(y) * out.width * 4];
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool writePng(const char* path, uint32_t width, uint32_t height, const uint8_t* indices,
              const orvx::quantize::Palette& palette, std::string& error) {
    File file;
    file.f = std::fopen(path, "wb");
    if (file.f == nullptr) {
        error = std::string("cannot create ") + path;
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = std::string("cannot write ") + path;
        return false;
    }
    png_init_io(png, file.f);
    int depth = 8;
    if (palette.entries <= 2) {
        depth = 1;
    } else if (palette.entries <= 4) {
        depth = 2;
    } else if (palette.entries <= 16) {
        depth = 4;
    }
    png_set_IHDR(png, info, width, height, depth, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color entries[256];
    for (int i = 0; i < palette.entries; ++i) {
        entries[i].red = palette.bytes[i * 4];
        entries[i].green = palette.bytes[i * 4 + 1];
        entries[i].blue = palette.bytes[i * 4 + 2];
    }
    png_set_PLTE(png, info, entries, palette.entries);
    png_write_info(png, info);
    if (depth < 8) {
        png_set_packing(png);
    }
    for (uint32_t y = 0; y < height; ++y) {
        png_write_row(png, indices + static_cast<size_t>(y) * width);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fflush(file.f) != 0) {
        error = std::string("cannot write ") + path;
        return false;
    }
    return true;
}

// The palette of a picture: its PLTE, else its distinct colours.
bool paletteOf(const Picture& picture, orvx::quantize::Palette& palette, std::string& error) {
    palette = {};
    if (!picture.plte.empty()) {
        palette.entries = static_cast<int>(picture.plte.size() / 3);
        for (int i = 0; i < palette.entries; ++i) {
            std::memcpy(&palette.bytes[i * 4], &picture.plte[static_cast<size_t>(i) * 3], 3);
        }
        return true;
    }
    std::unordered_map<uint32_t, int> seen;
    for (size_t i = 0; i < picture.rgba.size(); i += 4) {
        const uint32_t c = uint32_t{picture.rgba[i]} << 16 | uint32_t{picture.rgba[i + 1]} << 8 |
                           picture.rgba[i + 2];
        if (seen.emplace(c, palette.entries).second) {
            if (palette.entries == 256) {
                error = "palette image with more than 256 colours";
                return false;
            }
            std::memcpy(&palette.bytes[palette.entries * 4], &picture.rgba[i], 3);
            ++palette.entries;
        }
    }
    return true;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "quantize_png: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return fail("usage: quantize_png IN.png OUT.png COLORS [--dither] [--map PALETTE.png]");
    }
    orvx::quantize::Options options;
    char* end = nullptr;
    options.colors = static_cast<int>(std::strtol(argv[3], &end, 10));
    if (end == argv[3] || *end != '\0') {
        return fail(std::string("not a colour count: ") + argv[3]);
    }
    const char* mapPath = nullptr;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dither") == 0) {
            options.dither = orvx::quantize::Dither::Diffusion;
        } else if (std::strcmp(argv[i], "--map") == 0 && i + 1 < argc) {
            mapPath = argv[++i];
        } else {
            return fail(std::string("unknown option: ") + argv[i]);
        }
    }
    std::string error;
    Picture picture;
    if (!readPng(argv[1], picture, error)) {
        return fail(error);
    }
    const orvx::quantize::RgbaImage image{picture.rgba.data(), size_t{picture.width} * 4,
                                          picture.width, picture.height};
    std::vector<uint8_t> indices(size_t{picture.width} * picture.height);
    orvx::quantize::Palette palette;
    int status = 0;
    if (mapPath != nullptr) {
        Picture source;
        if (!readPng(mapPath, source, error) || !paletteOf(source, palette, error)) {
            return fail(error);
        }
        status = orvx::quantize::mapToPalette(image, options, palette, indices.data());
    } else {
        status = orvx::quantize::reducePalette(image, options, palette, indices.data());
    }
    if (status != 0) {
        return fail("quantizer error " + std::to_string(status));
    }
    if (!writePng(argv[2], picture.width, picture.height, indices.data(), palette, error)) {
        return fail(error);
    }
    return 0;
}
