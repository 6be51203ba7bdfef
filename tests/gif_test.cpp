// The GIF reader on one table of files (tests/gif_cases.py: made with
// Pillow, ImageMagick, giflib's gifbuild and by hand): each good one into
// daz byte for byte as orvx -c writes its canonical bitmap, to a stream that
// seeks and to one that doesn't; as RGBA as a browser shows it; back out to
// a GIF that Pillow reads with the same indices and palette; and cut at many
// lengths, giving DAZ_ERR_READ exactly when the cut falls inside the first
// frame. The refused ones give their own error on both paths.
#include "convert/gif/gif_format.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

using orvx::GIF_READER;

struct GifCase {
    std::string name;
    bool good = false;
    std::size_t frameEnd = 0;
    int indicesError = 0;
    int rgbaError = 0;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File memoryFile(const Bytes& bytes) {
    // fmemopen refuses a size of 0: an empty file is a temporary one.
    if (bytes.empty()) {
        return File(std::tmpfile());
    }
    return File(fmemopen(const_cast<std::uint8_t*>(bytes.data()), bytes.size(), "rb"));
}

Bytes contentOf(std::FILE* file) {
    Bytes bytes;
    std::rewind(file);
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        bytes.push_back(static_cast<std::uint8_t>(c));
    }
    return bytes;
}

// The library's default limits, as a plan check that also keeps the plan.
struct Limits {
    orvx::OutputPlan seen;
    orvx::PlanCheck check{[](void* context, const orvx::OutputPlan& plan) {
                              auto& limits = *static_cast<Limits*>(context);
                              limits.seen = plan;
                              return plan.width * plan.rows > (std::uint64_t{1} << 28U) ||
                                             plan.held > (std::uint64_t{1} << 30U)
                                         ? int{DAZ_ERR_LIMITS}
                                         : int{DAZ_OK};
                          },
                          this};
};

// The GIF into daz through the reader's two steps: DAZ_OK and out, or the error.
int toDaz(const Bytes& gif, bool seekable, Bytes& out, orvx::IndexRequest request = {}) {
    File source = memoryFile(gif);
    orvx::ReaderState state;
    Limits limits;
    int result = GIF_READER.openIndices(source.get(), request, &limits.check, state);
    if (result != DAZ_OK) {
        return result;
    }
    File written(std::tmpfile());
    result = GIF_READER.writeIndices(state, orvx::DazOutput{written.get(), seekable}, nullptr);
    out = contentOf(written.get());
    return result;
}

int toRgba(const Bytes& gif, orvx::RgbaImage& image) {
    File source = memoryFile(gif);
    Limits limits;
    return GIF_READER.readRgba(source.get(), &limits.check, false, image);
}

int toGif(const Bytes& daz, Bytes& out) {
    File source = memoryFile(daz);
    orvx::ReaderState state;
    int result = GIF_READER.openExport(source.get(), nullptr, state);
    if (result != DAZ_OK) {
        return result;
    }
    File written(std::tmpfile());
    result = GIF_READER.writeExport(state, written.get());
    out = contentOf(written.get());
    return result;
}

class GifTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder = std::make_unique<TempDir>();
        const RunResult made =
            runProgram({"/usr/bin/python3", ORVX_SOURCE_DIR "/tests/gif_cases.py", folder->path,
                        ORVX_IMAGEMAGICK});
        ASSERT_EQ(made.status, 0) << made.out << made.err;
        std::ifstream lines(folder->file("cases.txt"));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            GifCase entry;
            std::string kind;
            words >> entry.name >> kind;
            entry.good = kind == "good";
            if (entry.good) {
                words >> entry.frameEnd;
            } else {
                words >> entry.indicesError >> entry.rgbaError;
            }
            cases.push_back(entry);
        }
    }
    static void TearDownTestSuite() { folder.reset(); }

    static std::unique_ptr<TempDir> folder;
    static std::vector<GifCase> cases;
};

std::unique_ptr<TempDir> GifTest::folder;
std::vector<GifCase> GifTest::cases;

TEST_F(GifTest, EachFileReadsAsItsBitmapAndBack) {
    ASSERT_GE(cases.size(), 20U);
    for (const GifCase& entry : cases) {
        if (!entry.good) {
            continue;
        }
        SCOPED_TRACE(entry.name);
        const Bytes gif = readFile(folder->file(entry.name + ".gif"));
        const std::string bmp = folder->file(entry.name + ".bmp");
        const std::string reference = folder->file(entry.name + ".daz");
        ASSERT_EQ(runProgram({ORVX_BINARY, "-c", bmp, reference}).status, 0);
        const Bytes want = readFile(reference);
        for (const bool seekable : {true, false}) {
            Bytes daz;
            ASSERT_EQ(toDaz(gif, seekable, daz), DAZ_OK);
            EXPECT_EQ(daz, want) << "seekable " << seekable;
        }

        orvx::RgbaImage image;
        ASSERT_EQ(toRgba(gif, image), DAZ_OK);
        EXPECT_EQ(image.paletteEntries, want[10] | want[11] << 8); // the palette's entry count
        if (fileExists(folder->file(entry.name + ".rgba"))) {
            const Bytes rgba = readFile(folder->file(entry.name + ".rgba"));
            const std::string size =
                std::to_string(image.width) + " " + std::to_string(image.height) + "\n";
            EXPECT_EQ(Bytes(rgba.begin(), rgba.begin() + static_cast<long>(size.size())),
                      Bytes(size.begin(), size.end()));
            EXPECT_TRUE(Bytes(rgba.begin() + static_cast<long>(size.size()), rgba.end()) ==
                        image.pixels);
        }

        // Back out, from a daz file with a key and half the palette kept:
        // the rest of the indices show in the undefined colour.
        const int entries = want[10] | want[11] << 8;
        const int kept = std::max(1, entries / 2);
        Bytes keyed;
        ASSERT_EQ(toDaz(gif, true, keyed, orvx::IndexRequest{kept, 0x1f2e}), DAZ_OK);
        Bytes exported;
        ASSERT_EQ(toGif(keyed, exported), DAZ_OK);
        writeFile(folder->file(entry.name + ".out.gif"), exported);
        const RunResult checked =
            runProgram({"/usr/bin/python3", ORVX_SOURCE_DIR "/tests/gif_cases.py", "--check",
                        folder->file(entry.name + ".out.gif"), folder->file(entry.name + ".gif"),
                        std::to_string(kept)});
        EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
        // The same image stored top-down (key 0: the bytes are the indices)
        // is the same GIF.
        Bytes topDown = want;
        const std::size_t start = 24 + std::size_t{4} * static_cast<std::size_t>(entries);
        const std::size_t rowSize = (want.size() - start) / image.height;
        for (std::uint32_t y = 0; y < image.height; ++y) {
            std::copy_n(want.begin() + static_cast<long>(start + (image.height - 1 - y) * rowSize),
                        rowSize, topDown.begin() + static_cast<long>(start + y * rowSize));
        }
        putU16(topDown, 6, static_cast<std::uint16_t>(-static_cast<int>(image.height)));
        Bytes fromBottomUp;
        Bytes fromTopDown;
        ASSERT_EQ(toGif(want, fromBottomUp), DAZ_OK);
        ASSERT_EQ(toGif(topDown, fromTopDown), DAZ_OK);
        EXPECT_TRUE(fromTopDown == fromBottomUp);

        // Cut short: every length up to 300 bytes, then 40 more spread.
        for (std::size_t length = 0; length < gif.size();
             length += length < 300 ? 1 : std::max<std::size_t>(1, gif.size() / 40)) {
            const Bytes cut(gif.begin(), gif.begin() + static_cast<long>(length));
            const int want_result = length < entry.frameEnd ? DAZ_ERR_READ : DAZ_OK;
            Bytes daz;
            EXPECT_EQ(toDaz(cut, true, daz), want_result) << "cut at " << length;
            orvx::RgbaImage cutImage;
            EXPECT_EQ(toRgba(cut, cutImage), want_result) << "cut at " << length;
        }
    }
}

TEST_F(GifTest, RefusedFilesGiveTheirErrors) {
    std::size_t refused = 0;
    for (const GifCase& entry : cases) {
        if (entry.good) {
            continue;
        }
        SCOPED_TRACE(entry.name);
        ++refused;
        const Bytes gif = readFile(folder->file(entry.name + ".gif"));
        Bytes daz;
        EXPECT_EQ(toDaz(gif, true, daz), entry.indicesError);
        orvx::RgbaImage image;
        EXPECT_EQ(toRgba(gif, image), entry.rgbaError);
        EXPECT_EQ(image.pixels.empty(), entry.rgbaError != DAZ_OK);
    }
    EXPECT_GE(refused, 8U);
    // Recognised by the signature alone.
    const auto recognises = [](const std::string& start) {
        return GIF_READER.recognises(reinterpret_cast<const std::uint8_t*>(start.data()),
                                     start.size());
    };
    EXPECT_TRUE(recognises("GIF87a"));
    EXPECT_TRUE(recognises("GIF89a\x01"));
    EXPECT_FALSE(recognises("GIF88a"));
    EXPECT_FALSE(recognises("GIF89"));
}

} // namespace
