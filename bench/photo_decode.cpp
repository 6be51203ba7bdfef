// The photo readers alone, or with the reduction rgbdaz makes, for
// bench/photo_compare.py:
//   photo_decode FILE [COLORS]        the file as RGBA through its reader
//                                     (by extension), then reduced to COLORS
//   photo_decode --rgba W H FILE COLORS   raw RGBA bytes reduced alone
// Prints nothing; exits 1 on a failure.
#include "convert/reader.h"
#include "quantize/quantize.h"

#if ORVX_HAVE_JPEG
#include "convert/jpeg/jpeg_format.h"
#endif
#if ORVX_HAVE_WEBP
#include "convert/webp/webp_format.h"
#endif

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

using Reader = int (*)(std::FILE*, const orvx::PlanCheck*, bool, orvx::RgbaImage&);

Reader readerFor(const std::string& name) {
    const std::string extension = name.substr(name.rfind('.') + 1);
#if ORVX_HAVE_JPEG
    if (extension == "jpg") {
        return orvx::readJpegRgba;
    }
#endif
#if ORVX_HAVE_WEBP
    if (extension == "webp") {
        return orvx::readWebpRgba;
    }
#endif
    return nullptr;
}

int reduce(const orvx::RgbaImage& image, int colors) {
    orvx::quantize::Options options;
    options.colors = colors;
    const auto palette = std::make_unique<orvx::quantize::Palette>();
    std::vector<std::uint8_t> indices(std::size_t{image.width} * image.height);
    const orvx::quantize::RgbaImage pixels{image.pixels.data(), std::size_t{4} * image.width,
                                           image.width, image.height};
    return orvx::quantize::reducePalette(pixels, options, *palette, indices.data());
}

} // namespace

int main(int argc, char** argv) {
    orvx::RgbaImage image;
    int colors = 0;
    if (argc == 6 && std::strcmp(argv[1], "--rgba") == 0) {
        image.width = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
        image.height = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
        image.pixels.resize(std::size_t{4} * image.width * image.height);
        std::FILE* file = std::fopen(argv[4], "rb");
        if (file == nullptr ||
            std::fread(image.pixels.data(), 1, image.pixels.size(), file) != image.pixels.size()) {
            return 1;
        }
        std::fclose(file);
        colors = std::atoi(argv[5]);
    } else if (argc == 2 || argc == 3) {
        const Reader reader = readerFor(argv[1]);
        std::FILE* file = std::fopen(argv[1], "rb");
        if (reader == nullptr || file == nullptr || reader(file, nullptr, false, image) != 0) {
            return 1;
        }
        std::fclose(file);
        colors = argc == 3 ? std::atoi(argv[2]) : 0;
    } else {
        std::fprintf(stderr, "usage: photo_decode FILE [COLORS] | --rgba W H FILE COLORS\n");
        return 2;
    }
    return colors > 0 && reduce(image, colors) != 0 ? 1 : 0;
}
