// A photo reader alone, for bench/photo_compare.py:
//   photo_decode FILE.jpg|FILE.webp
// reads the file as RGBA through its reader (by extension) and holds it.
// Prints nothing; exits 1 on a failure.
#include "convert/reader.h"

#if ORVX_HAVE_JPEG
#include "convert/jpeg/jpeg_format.h"
#endif
#if ORVX_HAVE_WEBP
#include "convert/webp/webp_format.h"
#endif

#include <cstdio>
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

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: photo_decode FILE.jpg|FILE.webp\n");
        return 2;
    }
    const Reader reader = readerFor(argv[1]);
    std::FILE* file = std::fopen(argv[1], "rb");
    orvx::RgbaImage image;
    if (reader == nullptr || file == nullptr || reader(file, nullptr, false, image) != 0) {
        return 1;
    }
    std::fclose(file);
    return image.pixels.empty() ? 1 : 0;
}
