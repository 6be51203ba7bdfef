#include "convert/bmp/bmp_export.h"
#include "convert/bmp_to_daz.h"
#include "convert/png/png_export.h"
#include "convert/png/png_indices.h"
#include "faulty_stream.h"
#include "output/file_ops.h"
#include "support.h"

#include <gtest/gtest.h>

#include <climits>
#include <csetjmp>
#include <filesystem>
#include <functional>
#include <png.h>
#include <tuple>
#include <unistd.h>

using namespace orvx;

namespace {

// The daz file a common-layout bitmap should give, built from the format's
// definition: header, swapped palette, pixels plus the Fibonacci offsets.
Bytes expectedDaz(const Bytes& bmp, int colorCount, std::uint16_t key) {
    const int bpp = bmp[28];
    const std::size_t pixelOffset = 54 + (std::size_t{4} << bpp);
    Bytes daz{'E', 'W', 1, 0, bmp[18], bmp[19], bmp[22], bmp[23], bmp[28], bmp[29]};
    daz.push_back(static_cast<std::uint8_t>(colorCount));
    daz.push_back(static_cast<std::uint8_t>(colorCount >> 8));
    daz.push_back(static_cast<std::uint8_t>(key));
    daz.push_back(static_cast<std::uint8_t>(key >> 8));
    daz.resize(24, 0);
    for (int i = 0; i < colorCount; ++i) {
        const std::size_t at = 54 + 4 * static_cast<std::size_t>(i);
        daz.insert(daz.end(), {bmp[at + 2], bmp[at + 1], bmp[at], bmp[at + 3]});
    }
    unsigned a = key & 0xFFU;
    unsigned b = key >> 8U;
    for (std::size_t i = pixelOffset; i < bmp.size(); ++i) {
        const unsigned next = (a + b) % 256;
        a = b;
        b = next;
        daz.push_back(static_cast<std::uint8_t>(bmp[i] + next));
    }
    return daz;
}

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 37) ^ (i >> 5));
    }
    return bytes;
}

// An 8-bit RLE8 bitmap, 256 by 400: each row a literal of 200 pixels and a
// run of 56, the run first from row 192 on. Three chunks of data (82402
// bytes) and four of decoded rows (102400 bytes), so that reads and writes
// come in mid-decode, a write after a failed one too. A full chunk of rows is
// handed on when a literal (row 128) or a run (rows 256 and 384) goes past it.
Bytes longRle8() {
    constexpr std::size_t ROWS = 400;
    const Bytes literals = pattern(200 * ROWS);
    Bytes data;
    for (std::size_t row = 0; row < ROWS; ++row) {
        const Bytes run{56, static_cast<std::uint8_t>(row)};
        if (row >= 192) {
            data.insert(data.end(), run.begin(), run.end());
        }
        data.insert(data.end(), {0, 200});
        data.insert(data.end(), literals.begin() + static_cast<long>(200 * row),
                    literals.begin() + static_cast<long>(200 * (row + 1)));
        if (row < 192) {
            data.insert(data.end(), run.begin(), run.end());
        }
        data.insert(data.end(), {0, 0});
    }
    data.insert(data.end(), {0, 1});
    Bytes bmp = makeBmp(256, ROWS, 8, data);
    putU32(bmp, 30, 1);
    return bmp;
}

// Writes an interlaced indexed 8-bit image through libpng; false if libpng
// fails.
bool encodePng(png_structp png, png_infop info, std::FILE* file, std::uint32_t width,
               std::uint32_t height, const std::vector<png_color>& palette,
               std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_ADAM7,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    return true;
}

// An Adam7-interlaced 8-bit indexed PNG with a palette of 256 entries, each
// row width indices: pngdaz holds such an image whole before writing it.
bool writeInterlacedPng(const std::string& path, std::uint32_t width, std::uint32_t height,
                        const Bytes& indices) {
    std::vector<png_color> palette(256);
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const auto v = static_cast<png_byte>(i);
        palette[i] = png_color{v, static_cast<png_byte>(255 - v), static_cast<png_byte>(v / 2)};
    }
    std::vector<png_bytep> rows(height);
    for (std::uint32_t r = 0; r < height; ++r) {
        rows[r] = const_cast<png_bytep>(indices.data()) + std::size_t{r} * width;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const bool written = encodePng(png, info, file, width, height, palette, rows);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && written;
}

class ConvertTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string src = dir.file("in.bmp");
    std::string dst = dir.file("out.daz");
    const Bytes oldDestination{'o', 'l', 'd'};
    static constexpr auto DESTINATION_MODE = std::filesystem::perms(0640);
};

} // namespace

TEST_F(ConvertTest, WritesTheExpectedBytesAcrossChunks) {
    struct Case {
        int bpp;
        int width;
        int height;
        int count;
        std::uint16_t key;
    };
    for (const Case& c : {Case{8, 300, 250, 0, 0x1F2E}, Case{8, 17, 3, 200, 0xFFFF},
                          Case{4, 301, 400, 9, 0x0102}, Case{4, 1, 1, 16, 0}}) {
        const std::size_t rowSize = static_cast<std::size_t>((c.width * c.bpp + 31) / 32 * 4);
        const Bytes bmp = makeBmp(c.width, c.height, c.bpp,
                                  pattern(rowSize * static_cast<std::size_t>(c.height)));
        writeFile(src, bmp);
        const ConvertResult result = convertBmpToDaz(src.c_str(), dst.c_str(), c.count, c.key);
        ASSERT_GE(result, 0);
        const int kept = c.count == 0 ? 1 << c.bpp : c.count;
        EXPECT_EQ(readFile(dst), expectedDaz(bmp, kept, c.key)) << c.bpp << " " << c.width;
        EXPECT_EQ(readFile(src), bmp);
    }
}

// Pixel areas around the keystream period, the chunk size and the vector
// width: the chunked, table-driven conversion must give the bytes and the
// count that the definition gives.
TEST_F(ConvertTest, AnyPixelAreaSizeGivesTheDefinedBytesAndCount) {
    for (const std::size_t area : {1U, 383U, 384U, 385U, 32767U, 32768U, 32769U, 100000U}) {
        for (const auto& [bpp, count, key] :
             {std::tuple{8, 200, 0x1F2E}, std::tuple{4, 9, 0xFFFF}, std::tuple{8, 1, 0x0100},
              std::tuple{4, 16, 0x8001}}) {
            const Bytes pixels = pattern(area);
            const Bytes bmp = makeBmp(1, 1, bpp, pixels);
            writeFile(src, bmp);
            ConvertResult undefined = 0;
            for (const std::uint8_t value : pixels) {
                undefined +=
                    bpp == 8 ? value >= count : ((value & 0x0F) >= count) + ((value >> 4) >= count);
            }
            const auto k = static_cast<std::uint16_t>(key);
            ASSERT_EQ(convertBmpToDaz(src.c_str(), dst.c_str(), count, k), undefined)
                << area << " bytes, " << bpp << " bpp";
            ASSERT_EQ(readFile(dst), expectedDaz(bmp, count, k))
                << area << " bytes, " << bpp << " bpp";
        }
    }
}

// The header and palette take 24 + 3 * count bytes, so the kept colour count
// moves the daz file's pixels against the bitmap's, and against the cache
// lines the conversion lines them up with: every offset of 0 to 63 bytes.
TEST_F(ConvertTest, EveryKeptColourCountGivesTheDefinedBytes) {
    const Bytes bmp = makeBmp(1, 1, 8, pattern(2 * CHUNK_SIZE + 4321));
    writeFile(src, bmp);
    for (int count = 1; count <= 256; ++count) {
        ASSERT_GE(convertBmpToDaz(src.c_str(), dst.c_str(), count, 0x5A3C), 0) << count;
        ASSERT_EQ(readFile(dst), expectedDaz(bmp, count, 0x5A3C)) << count << " colours";
    }
}

TEST_F(ConvertTest, CountZeroAndFullPaletteGiveTheSameFile) {
    writeFile(src, makeBmp(16, 16, 8, pattern(256)));
    ASSERT_EQ(convertBmpToDaz(src.c_str(), dst.c_str(), 0, 0x42), 0);
    const Bytes all = readFile(dst);
    ASSERT_EQ(convertBmpToDaz(src.c_str(), dst.c_str(), 256, 0x42), 0);
    EXPECT_EQ(readFile(dst), all);
}

TEST_F(ConvertTest, CountsValuesPastTheKeptPalette) {
    struct Case {
        int bpp;
        Bytes pixels;
        int count;
        ConvertResult undefined;
    };
    const std::vector<Case> cases{
        {4, {0xF0, 0x00, 0x00, 0x00}, 8, 1}, {4, {0xFF, 0x00, 0x00, 0x00}, 8, 2},
        {4, {0x77, 0x77, 0x77, 0x77}, 8, 0}, {4, {0x88, 0x08, 0x80, 0x00}, 8, 4},
        {8, {0, 1, 2, 255}, 1, 3},           {8, {0, 0, 0, 0}, 1, 0},
        {8, {9, 10, 11, 0}, 10, 2},          {8, {255, 255, 255, 255}, 256, 0},
    };
    for (const Case& c : cases) {
        writeFile(src, makeBmp(c.bpp == 4 ? 8 : 4, 1, c.bpp, c.pixels));
        EXPECT_EQ(convertBmpToDaz(src.c_str(), dst.c_str(), c.count, 0), c.undefined)
            << c.bpp << " bpp, count " << c.count;
    }
    // One kept entry: header and palette are 28 bytes.
    EXPECT_EQ(readFile(dst).size(), 24 + 4 * 256 + 4);
    writeFile(src, makeBmp(4, 1, 8, {0, 1, 2, 255}));
    ASSERT_EQ(convertBmpToDaz(src.c_str(), dst.c_str(), 1, 0), 3);
    EXPECT_EQ(readFile(dst).size(), 28 + 4);
}

TEST_F(ConvertTest, SourceEndingAtThePixelsGivesHeaderAndPaletteOnly) {
    writeFile(src, makeBmp(4, 1, 4, {}));
    ASSERT_EQ(convertBmpToDaz(src.c_str(), dst.c_str(), 0, 7), 0);
    EXPECT_EQ(readFile(dst).size(), 24 + 64);
}

// Failures that come before the destination is opened leave an existing one
// as it was and never create one.
TEST_F(ConvertTest, EarlyFailuresLeaveTheDestinationAlone) {
    Bytes bm2{'B', 'M'};
    Bytes bm29 = makeBmp(4, 1, 8, {});
    bm29.resize(29);
    Bytes shortPalette = makeBmp(4, 1, 8, {});
    shortPalette.resize(54 + 4 * 100);
    Bytes depth24 = makeBmp(4, 1, 8, {});
    depth24[28] = 24;
    Bytes depth1 = makeBmp(4, 1, 8, {});
    depth1[28] = 1;
    struct Case {
        const char* name;
        Bytes source;
        int count;
        ConvertResult expected;
    };
    const std::vector<Case> cases{
        {"empty", {}, 0, ERR_READ},
        {"BM only", bm2, 0, ERR_READ},
        {"29 bytes", bm29, 0, ERR_READ},
        {"palette cut short", shortPalette, 0, ERR_READ},
        {"palette long enough for the kept part", shortPalette, 100, 0},
        {"not BM", {'M', 'B', 0, 0}, 0, ERR_NOT_BMP},
        {"24 bits", depth24, 0, ERR_BAD_DEPTH},
        {"1 bit", depth1, 0, ERR_BAD_DEPTH},
        {"17 colours, 4 bits", makeBmp(4, 1, 4, {0, 0, 0, 0}), 17, ERR_BAD_COLORS},
        {"257 colours", makeBmp(4, 1, 8, {0, 0, 0, 0}), 257, ERR_BAD_COLORS},
        {"negative", makeBmp(4, 1, 8, {0, 0, 0, 0}), -1, ERR_BAD_COLORS},
        {"past 16 bits", makeBmp(4, 1, 8, {0, 0, 0, 0}), 65537, ERR_BAD_COLORS},
        {"far below", makeBmp(4, 1, 8, {0, 0, 0, 0}), INT_MIN, ERR_BAD_COLORS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(src, c.source);
        std::filesystem::remove(dst);
        EXPECT_EQ(convertBmpToDaz(src.c_str(), dst.c_str(), c.count, 1), c.expected);
        EXPECT_EQ(fileExists(dst), c.expected >= 0);
        if (c.expected < 0) {
            writeFile(dst, oldDestination);
            EXPECT_EQ(convertBmpToDaz(src.c_str(), dst.c_str(), c.count, 1), c.expected);
            EXPECT_EQ(readFile(dst), oldDestination);
        }
        EXPECT_EQ(readFile(src), c.source);
    }
}

TEST_F(ConvertTest, MissingSourceIsAnOpenFailure) {
    writeFile(dst, oldDestination);
    EXPECT_EQ(convertBmpToDaz(dir.file("none.bmp").c_str(), dst.c_str(), 0, 0), ERR_OPEN);
    EXPECT_EQ(readFile(dst), oldDestination);
}

TEST_F(ConvertTest, DirectorySourceIsAReadFailure) {
    EXPECT_EQ(convertBmpToDaz(dir.path.c_str(), dst.c_str(), 0, 0), ERR_READ);
    EXPECT_FALSE(fileExists(dst));
}

TEST_F(ConvertTest, DestinationThatCannotBeCreated) {
    writeFile(src, makeBmp(4, 1, 8, {1, 2, 3, 4}));
    std::filesystem::create_directory(dir.file("sub"));
    EXPECT_EQ(convertBmpToDaz(src.c_str(), dir.file("sub").c_str(), 0, 0), ERR_CREATE);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("sub")));
    EXPECT_EQ(convertBmpToDaz(src.c_str(), dir.file("no/such/dir.daz").c_str(), 0, 0), ERR_CREATE);
    EXPECT_FALSE(fileExists(dir.file("no")));
}

TEST_F(ConvertTest, RefusesToWriteOntoTheSource) {
    const Bytes bmp = makeBmp(4, 1, 8, {1, 2, 3, 4});
    writeFile(src, bmp);
    std::filesystem::create_hard_link(src, dir.file("hard.bmp"));
    std::filesystem::create_symlink(src, dir.file("soft.bmp"));
    std::filesystem::create_directory(dir.file("sub"));
    for (const std::string& target : {src, dir.path + "/./in.bmp", dir.path + "/sub/../in.bmp",
                                      dir.file("hard.bmp"), dir.file("soft.bmp")}) {
        EXPECT_EQ(convertBmpToDaz(src.c_str(), target.c_str(), 0, 0x1234), ERR_CREATE) << target;
        EXPECT_EQ(readFile(src), bmp);
    }
    // The check sits where the destination would be opened: earlier codes win.
    EXPECT_EQ(convertBmpToDaz(src.c_str(), src.c_str(), 300, 0), ERR_BAD_COLORS);
    EXPECT_EQ(readFile(src), bmp);
}

TEST_F(ConvertTest, FullDeviceIsAWriteErrorAndIsNotRemoved) {
    if (!fileExists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    writeFile(src, makeBmp(4, 1, 8, {1, 2, 3, 4}));
    EXPECT_EQ(convertBmpToDaz(src.c_str(), "/dev/full", 0, 0), ERR_WRITE);
    EXPECT_TRUE(fileExists("/dev/full"));
}

TEST_F(ConvertTest, NullDeviceTakesTheOutput) {
    writeFile(src, makeBmp(4, 1, 8, {1, 2, 3, 4}));
    EXPECT_EQ(convertBmpToDaz(src.c_str(), "/dev/null", 2, 0), 3);
    EXPECT_TRUE(fileExists("/dev/null"));
}

TEST_F(ConvertTest, FifoDestinationIsWrittenAndNeverRemoved) {
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    writeFile(src, makeBmp(4, 1, 8, {1, 2, 3, 4}));
    // Reader that takes a few bytes and goes away: the writer then fails.
    runProgram({"sh", "-c",
                "head -c 10 " + fifo + " >/dev/null & " +
                    shellWords(withEmulator({ORVX_BINARY, "-c", src, fifo})) + "; wait"});
    EXPECT_TRUE(fileExists(fifo));
}

// Every open, read, seek, write and close, and every call that makes, finishes
// and places the output, made to fail in turn, for small files of each kind
// and both directions, with and without a folder that takes a temporary file.
// Each failure gives the code its call calls for and leaves the files as the
// rules say: the source as it was, no stray file (in the destination's folder
// or in the temporary folder a staged output goes to), and the
// destination's old bytes and mode.
TEST_F(ConvertTest, EveryIoCallCanFail) {
    struct Codes {
        long long open, read, create, write;
    };
    using Run = std::function<long long(const FileOps&, const std::string&, const std::string&)>;
    const Run toDaz = [](const FileOps& ops, const std::string& in, const std::string& out) {
        return convertBmpToDazWith(ops, in.c_str(), out.c_str(), 3, 0x5A5A);
    };
    const Run toBmp = [](const FileOps& ops, const std::string& in, const std::string& out) {
        return convertDazToBmpWith(ops, in.c_str(), out.c_str());
    };
    const Run pngToDaz = [](const FileOps& ops, const std::string& in, const std::string& out) {
        return convertPngToDazWith(ops, in.c_str(), out.c_str(), 3, 0x5A5A);
    };
    const Run toPng = [](const FileOps& ops, const std::string& in, const std::string& out) {
        return convertDazToPngWith(ops, in.c_str(), out.c_str());
    };
    const Codes dazCodes{ERR_OPEN, ERR_READ, ERR_CREATE, ERR_WRITE};
    const Codes bmpCodes{DAZ_ERR_OPEN, DAZ_ERR_READ, DAZ_ERR_CREATE, DAZ_ERR_WRITE};
    Bytes rle = makeBmp(9, 4, 8, {3, 7, 0, 0, 2, 9, 0, 1});
    putU32(rle, 30, 1);
    const Bytes twoChunks = makeBmp(100, 400, 8, pattern(40000));
    writeFile(src, twoChunks);
    ASSERT_GE(convertBmpToDaz(src.c_str(), dst.c_str(), 0, 0x0102), 0);
    const Bytes twoChunksDaz = readFile(dst);
    writeFile(src, makeBmp(9, 4, 8, pattern(48)));
    ASSERT_GE(convertBmpToDaz(src.c_str(), dst.c_str(), 0, 0x0102), 0);
    const Bytes smallDaz = readFile(dst);
    // PNGs: dazpng's of the daz files above, and interlaced ones.
    ASSERT_EQ(convertDazToPng(dst.c_str(), dir.file("small.png").c_str()), DAZ_OK);
    writeFile(dst, twoChunksDaz);
    ASSERT_EQ(convertDazToPng(dst.c_str(), dir.file("large.png").c_str()), DAZ_OK);
    ASSERT_TRUE(writeInterlacedPng(dir.file("small-interlaced.png"), 9, 4, pattern(36)));
    ASSERT_TRUE(writeInterlacedPng(dir.file("large-interlaced.png"), 100, 400, pattern(40000)));
    Bytes smallPng = readFile(dir.file("small.png"));
    Bytes largePng = readFile(dir.file("large.png"));
    Bytes smallInterlaced = readFile(dir.file("small-interlaced.png"));
    Bytes largeInterlaced = readFile(dir.file("large-interlaced.png"));
    for (const char* name :
         {"small.png", "large.png", "small-interlaced.png", "large-interlaced.png"}) {
        std::filesystem::remove(dir.file(name));
    }
    struct Job {
        const char* name;
        Bytes source;
        Run run;
        Codes codes;
    };
    const std::vector<Job> jobs{
        {"4-bit", makeBmp(7, 5, 4, pattern(20)), toDaz, dazCodes},
        {"8-bit", makeBmp(9, 4, 8, pattern(48)), toDaz, dazCodes},
        {"8-bit over two chunks", twoChunks, toDaz, dazCodes},
        {"RLE8", rle, toDaz, dazCodes},
        {"RLE8 over two chunks", longRle8(), toDaz, dazCodes},
        {"daz to bitmap", twoChunksDaz, toBmp, bmpCodes},
        {"PNG", smallPng, pngToDaz, bmpCodes},
        {"PNG of several reads", largePng, pngToDaz, bmpCodes},
        {"interlaced PNG", smallInterlaced, pngToDaz, bmpCodes},
        {"interlaced PNG of several reads", largeInterlaced, pngToDaz, bmpCodes},
        {"daz to PNG", smallDaz, toPng, bmpCodes},
        {"daz to PNG of several writes", twoChunksDaz, toPng, bmpCodes},
    };
    // How the output gets into place: renamed over the destination, staged in
    // the temporary folder when the destination's folder takes no new file,
    // or copied in when the rename is refused.
    enum class Placing { RENAME, STAGED_ELSEWHERE, COPIED_AFTER_RENAME };
    const TempDir staging;
    const ScopedEnvironment tmpdir("TMPDIR", staging.path.c_str());
    for (const Placing placing :
         {Placing::RENAME, Placing::STAGED_ELSEWHERE, Placing::COPIED_AFTER_RENAME})
        for (const bool unbuffered : {false, true})
            for (const Job& job : jobs) {
                if (unbuffered && job.source.size() > 10000) {
                    continue; // a call per byte: the small files cover it
                }
                SCOPED_TRACE(std::string(job.name) + (unbuffered ? ", unbuffered" : ", buffered") +
                             ", placing " + std::to_string(static_cast<int>(placing)));
                writeFile(src, job.source);
                const auto runWith = [&](FaultPlan& plan) {
                    writeFile(dst, oldDestination);
                    std::filesystem::permissions(dst, DESTINATION_MODE);
                    plan.unbuffered = unbuffered;
                    plan.folderNotWritable = placing == Placing::STAGED_ELSEWHERE;
                    plan.replaceRefused = placing == Placing::COPIED_AFTER_RENAME;
                    return job.run(faultyFileOps(plan), src, dst);
                };
                FaultPlan clean;
                ASSERT_GE(runWith(clean), 0);
                const Bytes whole = readFile(dst);
                EXPECT_EQ(std::filesystem::status(dst).permissions(), DESTINATION_MODE);
                int readErrors = 0;
                for (long n = 1; n <= clean.calls; ++n) {
                    FaultPlan plan;
                    plan.failAt = n;
                    const long long result = runWith(plan);
                    SCOPED_TRACE("call " + std::to_string(n));
                    EXPECT_EQ(readFile(src), job.source);
                    EXPECT_EQ(folderEntries(dir.path),
                              (std::vector<std::string>{"in.bmp", "out.daz"}));
                    EXPECT_EQ(folderEntries(staging.path), std::vector<std::string>{});
                    switch (plan.failed) {
                    case CallKind::OPEN_SOURCE:
                        EXPECT_EQ(result, job.codes.open);
                        break;
                    case CallKind::OPEN_DESTINATION:
                    case CallKind::CREATE_TEMPORARY:
                        EXPECT_EQ(result, job.codes.create);
                        break;
                    case CallKind::READ:
                    case CallKind::SEEK:
                        // Inside fseek, stdio gets past a failed seek or block read
                        // on its own; then the output must be whole (checked below).
                        EXPECT_TRUE(result == job.codes.read || result >= 0) << result;
                        readErrors += result == job.codes.read ? 1 : 0;
                        break;
                    case CallKind::WRITE:
                    case CallKind::SEEK_DESTINATION:
                    case CallKind::CLOSE_DESTINATION:
                    case CallKind::SET_MODE:
                    case CallKind::REPLACE:
                        EXPECT_EQ(result, job.codes.write);
                        break;
                    case CallKind::CLOSE_SOURCE:
                        EXPECT_GE(result, 0); // the source was read whole
                        break;
                    case CallKind::NONE:
                        ADD_FAILURE() << "no call failed";
                    }
                    if (result >= 0) {
                        EXPECT_EQ(readFile(dst), whole);
                    } else {
                        EXPECT_EQ(readFile(dst), oldDestination);
                        EXPECT_EQ(std::filesystem::status(dst).permissions(), DESTINATION_MODE);
                    }
                }
                EXPECT_GT(readErrors, 0);
            }
}
