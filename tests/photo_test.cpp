// The photo readers (JPEG, WebP, HEIF, AVIF) against other programs' decodes
// of files made at test time (photo_cases.py): each recognised by its own
// row alone and by daz_guess_format, its size read alone first, its pixels
// equal byte for byte, through its reader and daz_load_rgba; each cut short
// at many lengths a read error; headers claiming what no file should make
// us hold refused from the check, before the pixels.
#include "convert/reader.h"
#include "support.h"

#if ORVX_HAVE_JPEG
#include "convert/jpeg/jpeg_format.h"
#endif
#if ORVX_HAVE_WEBP
#include "convert/webp/webp_format.h"
#endif
#if ORVX_HAVE_HEIF
#include "convert/heif/heif_format.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace orvx {
namespace {

const FormatReader* const PHOTO_READERS[] = {
#if ORVX_HAVE_JPEG
    &JPEG_READER,
#endif
#if ORVX_HAVE_WEBP
    &WEBP_READER,
#endif
#if ORVX_HAVE_HEIF
    &HEIF_READER,
    &AVIF_READER,
#endif
};

// The row whose extensions hold the file name's.
const FormatReader* readerNamed(const std::string& name) {
    const std::string extension = name.substr(name.rfind('.') + 1);
    for (const FormatReader* reader : PHOTO_READERS) {
        std::istringstream words(reader->extensions);
        std::string word;
        while (words >> word) {
            if (word == extension) {
                return reader;
            }
        }
    }
    return nullptr;
}

// The library's default limits, as the driver puts them, and the last plan.
int defaultCheck(void* context, const OutputPlan& plan) {
    *static_cast<OutputPlan*>(context) = plan;
    const bool past = plan.width > DAZ_MAX_WIDTH || plan.rows > DAZ_MAX_ROWS ||
                      plan.width * plan.rows > (std::uint64_t{1} << 28) ||
                      plan.held > (std::uint64_t{1} << 30);
    return past ? DAZ_ERR_LIMITS : DAZ_OK;
}

using CheckCall = int (*)(void* context, const OutputPlan& plan);

int holdNothing(void* /*context*/, const OutputPlan& /*plan*/) {
    return DAZ_ERR_LIMITS;
}

// file through reader as the driver gives it: a stream over memory.
int readRgba(const FormatReader& reader, const Bytes& file, bool sizeOnly, RgbaImage& image,
             OutputPlan* plan = nullptr, CheckCall fn = nullptr) {
    OutputPlan seen;
    const PlanCheck check{fn != nullptr ? fn : defaultCheck, plan != nullptr ? plan : &seen};
    std::FILE* stream = fmemopen(const_cast<std::uint8_t*>(file.data()), file.size(), "rb");
    if (stream == nullptr) {
        return DAZ_ERR_OPEN;
    }
    const int result = reader.readRgba(stream, &check, sizeOnly, image);
    std::fclose(stream);
    return result;
}

std::vector<std::string> madeCases(const TempDir& dir) {
    const RunResult made =
        runProgram({"/usr/bin/python3", ORVX_SOURCE_DIR "/tests/photo_cases.py", dir.path});
    EXPECT_EQ(made.status, 0) << made.err;
    const Bytes names = readFile(dir.file("cases.txt"));
    std::istringstream lines(std::string(names.begin(), names.end()));
    std::vector<std::string> cases;
    std::string name;
    while (lines >> name) {
        if (readerNamed(name) != nullptr) {
            cases.push_back(name);
        }
    }
    return cases;
}

// A segment-by-segment walk to the frame header: where its height starts.
std::size_t jpegFrameSize(const Bytes& jpeg) {
    std::size_t at = 2;
    while (at + 9 < jpeg.size() && jpeg[at] == 0xFF) {
        const std::uint8_t marker = jpeg[at + 1];
        if (marker == 0xC0 || marker == 0xC2) {
            return at + 5;
        }
        at += 2 + (std::size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
    }
    return 0;
}

std::size_t find(const Bytes& bytes, const char* text) {
    const Bytes wanted(text, text + std::strlen(text));
    const auto at = std::search(bytes.begin(), bytes.end(), wanted.begin(), wanted.end());
    return at == bytes.end() ? 0 : static_cast<std::size_t>(at - bytes.begin());
}

class PhotoReaders : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        cases = new std::vector<std::string>(madeCases(*dir));
    }
    static void TearDownTestSuite() {
        delete cases;
        delete dir;
    }
    static Bytes file(const std::string& name) { return readFile(dir->file(name)); }
    static TempDir* dir;
    static std::vector<std::string>* cases;
};

TempDir* PhotoReaders::dir = nullptr;
std::vector<std::string>* PhotoReaders::cases = nullptr;

TEST_F(PhotoReaders, EqualTheReferenceDecodes) {
    EXPECT_GE(cases->size(), std::size(PHOTO_READERS) == 4 ? 30U : 20U);
    for (const std::string& name : *cases) {
        const FormatReader& reader = *readerNamed(name);
        const Bytes bytes = file(name);
        const std::size_t head = std::min<std::size_t>(bytes.size(), DAZ_GUESS_BYTES);
        for (const FormatReader* other : PHOTO_READERS) {
            EXPECT_EQ(other->recognises(bytes.data(), head), other == &reader)
                << name << " by " << other->name;
        }
        const Bytes reference = file(name + ".rgba");
        const auto newline = std::find(reference.begin(), reference.end(), '\n');
        const std::string size(reference.begin(), newline);
        RgbaImage sized;
        ASSERT_EQ(readRgba(reader, bytes, true, sized), DAZ_OK) << name;
        EXPECT_EQ(std::to_string(sized.width) + " " + std::to_string(sized.height), size) << name;
        EXPECT_TRUE(sized.pixels.empty()) << name;
        RgbaImage image;
        OutputPlan plan;
        ASSERT_EQ(readRgba(reader, bytes, false, image, &plan), DAZ_OK) << name;
        EXPECT_EQ(plan.width, image.width) << name;
        EXPECT_GE(plan.held, image.pixels.size()) << name;
        const Bytes expected(newline + 1, reference.end());
        ASSERT_EQ(image.pixels.size(), expected.size()) << name;
        // The same through the one door: told by content, read by its row.
        EXPECT_EQ(daz_guess_format(bytes.data(), bytes.size()), reader.format) << name;
        Bytes loaded(image.pixels.size());
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        EXPECT_EQ(daz_load_rgba(bytes.data(), bytes.size(), nullptr, &width, &height, loaded.data(),
                                loaded.size()),
                  DAZ_OK)
            << name;
        EXPECT_TRUE(loaded == image.pixels) << name;
        const auto differ =
            std::mismatch(image.pixels.begin(), image.pixels.end(), expected.begin());
        EXPECT_TRUE(differ.first == image.pixels.end())
            << name << ": byte " << differ.first - image.pixels.begin() << " is "
            << int{*differ.first} << ", not " << int{*differ.second};
    }
}

TEST_F(PhotoReaders, CutShortIsAReadError) {
    for (const std::string& name : *cases) {
        const FormatReader& reader = *readerNamed(name);
        const Bytes whole = file(name);
        std::vector<std::size_t> lengths{1, 2, 3, 11, 12, 16, 20, 30, 40, whole.size() - 1};
        for (std::size_t length = 64; length < whole.size(); length += whole.size() / 23 + 1) {
            lengths.push_back(length);
        }
        for (const std::size_t length : lengths) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
            RgbaImage image;
            EXPECT_EQ(readRgba(reader, cut, false, image), DAZ_ERR_READ)
                << name << " cut to " << length;
        }
    }
}

TEST_F(PhotoReaders, RefuseHostileHeaders) {
    struct Case {
        std::string what;
        std::string from; // a made file, patched
        std::size_t at;   // where the patch goes; 0: not found, the case fails
        Bytes patch;
        bool holdNothing;
        int expected;
    };
    std::vector<Case> table;
    const Bytes baseline = file("baseline.jpg");
    table.push_back({"JPEG of 60000 x 60000",
                     "baseline.jpg",
                     jpegFrameSize(baseline),
                     {0xEA, 0x60, 0xEA, 0x60},
                     false,
                     DAZ_ERR_LIMITS});
    table.push_back({"JPEG of 65500 x 100, turned to 65500 rows",
                     "exif-6.jpg",
                     jpegFrameSize(file("exif-6.jpg")),
                     {0x00, 0x64, 0xFF, 0xDC},
                     false,
                     DAZ_ERR_LIMITS});
    table.push_back(
        {"JPEG past a check that holds nothing", "baseline.jpg", 2, {}, true, DAZ_ERR_LIMITS});
    table.push_back({"JPEG of 0 rows",
                     "baseline.jpg",
                     jpegFrameSize(baseline),
                     {0, 0},
                     false,
                     DAZ_ERR_BAD_IMAGE});
    table.push_back({"JPEG of 5 components",
                     "baseline.jpg",
                     jpegFrameSize(baseline) + 4,
                     {5},
                     false,
                     DAZ_ERR_BAD_IMAGE});
    table.push_back({"JPEG with a Huffman table of no class",
                     "baseline.jpg",
                     find(baseline, "\xFF\xC4") + 4,
                     {0x77},
                     false,
                     DAZ_ERR_BAD_IMAGE});
    if (std::find(cases->begin(), cases->end(), "lossy-alpha.webp") != cases->end()) {
        table.push_back({"WebP canvas of 60000 x 60000",
                         "lossy-alpha.webp",
                         24,
                         {0x5F, 0xEA, 0x00, 0x5F, 0xEA, 0x00},
                         false,
                         DAZ_ERR_LIMITS});
        table.push_back({"WebP past a check that holds nothing",
                         "lossless.webp",
                         0 + 2,
                         {},
                         true,
                         DAZ_ERR_LIMITS});
        table.push_back({"WebP whose frame header is junk",
                         "lossy.webp",
                         20,
                         {0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77},
                         false,
                         DAZ_ERR_BAD_IMAGE});
    }
    if (std::find(cases->begin(), cases->end(), "plain.heic") != cases->end()) {
        table.push_back({"HEIF of 60000 x 60000",
                         "plain.heic",
                         find(file("plain.heic"), "ispe") + 8,
                         {0, 0, 0xEA, 0x60, 0, 0, 0xEA, 0x60},
                         false,
                         DAZ_ERR_LIMITS});
        table.push_back({"AVIF of 60000 x 60000",
                         "plain.avif",
                         find(file("plain.avif"), "ispe") + 8,
                         {0, 0, 0xEA, 0x60, 0, 0, 0xEA, 0x60},
                         false,
                         DAZ_ERR_LIMITS});
        table.push_back(
            {"HEIF past a check that holds nothing", "alpha.heic", 2, {}, true, DAZ_ERR_LIMITS});
        table.push_back({"HEIF without its meta box",
                         "plain.heic",
                         find(file("plain.heic"), "meta"),
                         {'j', 'u', 'n', 'k'},
                         false,
                         DAZ_ERR_BAD_IMAGE});
    }
    for (const Case& c : table) {
        Bytes bytes = file(c.from);
        ASSERT_GT(c.at, 1U) << c.what;
        ASSERT_LE(c.at + c.patch.size(), bytes.size()) << c.what;
        std::copy(c.patch.begin(), c.patch.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(c.at));
        for (const bool sizeOnly : {true, false}) {
            RgbaImage image;
            EXPECT_EQ(readRgba(*readerNamed(c.from), bytes, sizeOnly, image, nullptr,
                               c.holdNothing ? holdNothing : nullptr),
                      c.expected)
                << c.what << (sizeOnly ? ", its size" : "");
            EXPECT_TRUE(image.pixels.empty()) << c.what;
        }
    }
}

} // namespace
} // namespace orvx
