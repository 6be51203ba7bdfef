// The RGBA readers (daz_load_rgba) against independent decoders: every BMP
// Suite file of g/ and q/, bitmaps of 1 to 32 bits laid out by hand, and
// PNGs of every colour type and depth, each compared with Pillow's and
// ImageMagick's pixels where those two agree; every broken suite file, and
// headers that claim what no file should make us hold, refused.
#include "api_support.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

namespace {

const std::string SOURCE = ORVX_SOURCE_DIR;
const std::string SUITE = ORVX_BMPSUITE;

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// daz_load_rgba, the size asked first.
int loadRgba(const Bytes& file, const daz_limits* limits, std::uint32_t& width,
             std::uint32_t& height, Bytes& rgba) {
    const int query = daz_load_rgba(file.data(), file.size(), limits, &width, &height, nullptr, 0);
    if (query != DAZ_OK) {
        return query;
    }
    rgba.assign(std::size_t{4} * width * height, 0);
    return daz_load_rgba(file.data(), file.size(), limits, &width, &height, rgba.data(),
                         rgba.size());
}

std::uint32_t crc32Of(const Bytes& bytes, std::size_t from) {
    std::uint32_t crc = 0xFFFFFFFFU;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1U) ^ (0xEDB88320U & (0U - (crc & 1U)));
        }
    }
    return ~crc;
}

void putU32BigEndian(Bytes& bytes, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> static_cast<unsigned>(shift)));
    }
}

// A PNG's signature and IHDR, then, with data, an empty IDAT: all a reader
// needs to know the size, and not one pixel.
Bytes pngHeader(std::uint32_t width, std::uint32_t height, std::uint8_t depth,
                std::uint8_t colourType, bool data = true) {
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    putU32BigEndian(png, width);
    putU32BigEndian(png, height);
    for (const std::uint8_t byte :
         {depth, colourType, std::uint8_t{0}, std::uint8_t{0}, std::uint8_t{0}}) {
        png.push_back(byte);
    }
    putU32BigEndian(png, crc32Of(png, 12));
    if (data) {
        const std::size_t start = png.size();
        png.insert(png.end(), {0, 0, 0, 0, 'I', 'D', 'A', 'T'});
        putU32BigEndian(png, crc32Of(png, start + 4));
    }
    return png;
}

Bytes text(const std::string& characters) {
    return Bytes(characters.begin(), characters.end());
}

} // namespace

TEST(RgbaReaders, EqualPillowAndImageMagickWhereTheyAgree) {
    if (std::string(ORVX_IMAGEMAGICK).empty()) {
        GTEST_SKIP() << "no ImageMagick";
    }
    TempDir dir;
    for (const char* script : {"bmp_cases.py", "png_rgba_cases.py"}) {
        const RunResult made = runProgram(
            {"/usr/bin/python3", SOURCE + "/tests/" + script, dir.path, ORVX_IMAGEMAGICK});
        ASSERT_EQ(made.status, 0) << script << ": " << made.err;
    }
    std::vector<std::string> images = filesIn(dir.path);
    for (const char* folder : {"/g", "/q"}) {
        const std::vector<std::string> suite = filesIn(SUITE + folder);
        images.insert(images.end(), suite.begin(), suite.end());
    }
    std::filesystem::create_directory(dir.file("reference"));
    std::vector<std::string> command{"/usr/bin/python3", SOURCE + "/tests/rgba_reference.py",
                                     dir.file("reference"), ORVX_IMAGEMAGICK};
    command.insert(command.end(), images.begin(), images.end());
    const RunResult reference = runProgram(command);
    ASSERT_EQ(reference.status, 0) << reference.err;
    int compared = 0;
    for (const std::string& path : images) {
        const std::filesystem::path image(path);
        const std::string name =
            image.parent_path().filename().string() + "-" + image.filename().string() + ".rgba";
        if (!fileExists(dir.file("reference/" + name))) {
            continue; // they don't agree, or don't both read it
        }
        const Bytes expected = readFile(dir.file("reference/" + name));
        const auto newline = std::find(expected.begin(), expected.end(), '\n');
        const std::string size(expected.begin(), newline);
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        Bytes rgba;
        ASSERT_EQ(loadRgba(readFile(path), nullptr, width, height, rgba), DAZ_OK) << path;
        EXPECT_EQ(std::to_string(width) + " " + std::to_string(height), size) << path;
        ASSERT_EQ(static_cast<std::size_t>(expected.end() - newline - 1), 2 * rgba.size()) << path;
        const std::uint8_t* pillow = &*newline + 1;
        const std::uint8_t* magick = pillow + rgba.size();
        for (std::size_t i = 0; i < rgba.size(); ++i) {
            ASSERT_GE(rgba[i], std::min(pillow[i], magick[i])) << path << ", byte " << i;
            ASSERT_LE(rgba[i], std::max(pillow[i], magick[i])) << path << ", byte " << i;
        }
        ++compared;
    }
    EXPECT_GE(compared, 40);
}

TEST(RgbaReaders, EveryBrokenSuiteFileIsAnError) {
    for (const std::string& path : filesIn(SUITE + "/b")) {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        Bytes rgba;
        EXPECT_LT(loadRgba(readFile(path), nullptr, width, height, rgba), 0) << path;
    }
}

TEST(RgbaReaders, HostileHeadersAreRefusedBeforeAnythingIsHeld) {
    Bytes truncated = bmpHeader(4, 4, 24);
    truncated.resize(truncated.size() + 2 * 12); // two of its four rows
    Bytes fieldsCut = bmpHeader(4, 4, 16, 3);
    fieldsCut.resize(60); // BI_BITFIELDS, the masks cut short
    const Bytes tiny = bmpHeader(10, 10, 24);
    Bytes tinyWhole = tiny;
    tinyWhole.resize(tiny.size() + 10 * 32);
    const daz_limits hundredBytes{DAZ_MAX_WIDTH, DAZ_MAX_ROWS, 1U << 28U, 100};
    // The size asked, then the pixels: the size query stops before a fault
    // in what follows the headers.
    struct Case {
        const char* name;
        Bytes file;
        const daz_limits* limits;
        int query;
        int expected;
    };
    const Case cases[] = {
        {"bitmap of 65535 x 32767 at 32 bits, headers only", bmpHeader(65535, 32767, 32), nullptr,
         DAZ_ERR_LIMITS, DAZ_ERR_LIMITS},
        {"bitmap of 65535 x 32768 top-down", bmpHeader(65535, -32768, 24), nullptr, DAZ_ERR_LIMITS,
         DAZ_ERR_LIMITS},
        {"bitmap of 65536 pixels a row", bmpHeader(65536, 1, 24), nullptr, DAZ_ERR_NOT_BMP,
         DAZ_ERR_NOT_BMP},
        {"bitmap of no rows", bmpHeader(4, 0, 24), nullptr, DAZ_ERR_NOT_BMP, DAZ_ERR_NOT_BMP},
        {"24-bit bitmap cut short", truncated, nullptr, DAZ_OK, DAZ_ERR_READ},
        {"bitmap whose masks are cut short", fieldsCut, nullptr, DAZ_ERR_READ, DAZ_ERR_READ},
        {"bitmap of 64 bits", bmpHeader(4, 4, 64), nullptr, DAZ_ERR_BMP_BITS, DAZ_ERR_BMP_BITS},
        {"24-bit bitmap with bit fields", bmpHeader(4, 4, 24, 3), nullptr, DAZ_ERR_NOT_BMP,
         DAZ_ERR_NOT_BMP},
        {"bitmap of JPEG data", bmpHeader(4, 4, 24, 4), nullptr, DAZ_ERR_NOT_BMP, DAZ_ERR_NOT_BMP},
        {"small bitmap past 100 bytes", tinyWhole, &hundredBytes, DAZ_ERR_LIMITS, DAZ_ERR_LIMITS},
        {"PNG of 65535 x 65535", pngHeader(65535, 65535, 8, 6), nullptr, DAZ_ERR_LIMITS,
         DAZ_ERR_LIMITS},
        {"PNG of 16 x 16 past 100 bytes", pngHeader(16, 16, 8, 2), &hundredBytes, DAZ_ERR_LIMITS,
         DAZ_ERR_LIMITS},
        {"PNG without its image data", pngHeader(16, 16, 8, 2), nullptr, DAZ_OK, DAZ_ERR_READ},
        {"PNG with its header only", pngHeader(16, 16, 8, 2, false), nullptr, DAZ_ERR_READ,
         DAZ_ERR_READ},
        {"PNG of a bad colour type", pngHeader(16, 16, 8, 5), nullptr, DAZ_ERR_NOT_PNG,
         DAZ_ERR_NOT_PNG},
        {"PGM of 65535 x 32767", text("P5 65535 32767 255\n"), nullptr, DAZ_ERR_LIMITS,
         DAZ_ERR_LIMITS},
        {"PGM cut short", text("P5 4 4 255\nabcdef"), nullptr, DAZ_OK, DAZ_ERR_READ},
        {"daz header of 65535 x 32767 and no pixels", dazFile(65535, 32767, 8, 1, 0, {}), nullptr,
         DAZ_ERR_NO_ROWS, DAZ_ERR_NO_ROWS},
        {"garbage", text("not an image at all"), nullptr, DAZ_ERR_FORMAT, DAZ_ERR_FORMAT},
        {"nothing", Bytes{}, nullptr, DAZ_ERR_FORMAT, DAZ_ERR_FORMAT},
    };
    for (const Case& c : cases) {
        std::uint32_t width = 7;
        std::uint32_t height = 7;
        EXPECT_EQ(
            daz_load_rgba(c.file.data(), c.file.size(), c.limits, &width, &height, nullptr, 0),
            c.query)
            << c.name << " (the size asked)";
        Bytes rgba(4096, 0x5A);
        width = 7;
        height = 7;
        EXPECT_EQ(daz_load_rgba(c.file.data(), c.file.size(), c.limits, &width, &height,
                                rgba.data(), rgba.size()),
                  c.expected)
            << c.name;
        EXPECT_EQ(rgba, Bytes(4096, 0x5A)) << c.name;
        if (c.query != DAZ_OK) {
            EXPECT_EQ(width * 10 + height, 77U) << c.name << ": the size is left as it was";
        }
    }
}
