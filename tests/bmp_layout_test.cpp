#include "convert/bmp/bmp_source.h"
#include "convert/bmp_to_daz.h"
#include "support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>

using namespace orvx;

namespace {

const std::string SUITE = ORVX_BMPSUITE;

struct SuiteCase {
    const char* file;
    ConvertResult result;
    int colorCount;
    std::size_t pixelBytes;
};

class BmpSuiteTest : public ::testing::TestWithParam<SuiteCase> {};

Bytes convertFile(const std::string& path, int count, std::uint16_t key, ConvertResult& result) {
    TempDir dir;
    result = convertBmpToDaz(path.c_str(), dir.file("out.daz").c_str(), count, key);
    return readFile(dir.file("out.daz"));
}

std::string caseName(const ::testing::TestParamInfo<SuiteCase>& info) {
    std::string name = info.param.file;
    for (char& c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
            c = '_';
        }
    }
    return name;
}

} // namespace

TEST_P(BmpSuiteTest, GivesTheExpectedResultPaletteAndPixelArea) {
    const SuiteCase& c = GetParam();
    ConvertResult result = 0;
    const Bytes daz = convertFile(SUITE + "/" + c.file, 0, 0, result);
    EXPECT_EQ(result, c.result);
    if (c.result < 0) {
        EXPECT_TRUE(daz.empty());
        return;
    }
    ASSERT_GE(daz.size(), 24U);
    const int colors = daz[10] | (daz[11] << 8);
    EXPECT_EQ(colors, c.colorCount);
    EXPECT_EQ(daz.size() - 24 - 4 * static_cast<std::size_t>(colors), c.pixelBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BmpSuiteTest,
    ::testing::Values(
        SuiteCase{"g/pal4.bmp", 0, 12, 4096}, SuiteCase{"g/pal4gs.bmp", 0, 12, 4096},
        SuiteCase{"g/pal4rle.bmp", 0, 12, 4096}, SuiteCase{"g/pal8.bmp", 0, 252, 8192},
        SuiteCase{"g/pal8v4.bmp", 0, 252, 8192}, SuiteCase{"g/pal8v5.bmp", 0, 252, 8192},
        SuiteCase{"g/pal8topdown.bmp", 0, 252, 8192}, SuiteCase{"g/pal8rle.bmp", 0, 252, 8192},
        SuiteCase{"g/pal8-0.bmp", 0, 256, 8192}, SuiteCase{"g/pal8os2.bmp", 0, 256, 8192},
        SuiteCase{"q/pal8os2v2-16.bmp", 0, 256, 8192},
        SuiteCase{"q/pal8oversizepal.bmp", 0, 256, 8192}, SuiteCase{"g/pal8w124.bmp", 0, 252, 7564},
        SuiteCase{"g/pal8w125.bmp", 0, 252, 7936}, SuiteCase{"g/pal8w126.bmp", 0, 252, 8064},
        SuiteCase{"q/pal8offs.bmp", 0, 252, 8192}, SuiteCase{"q/pal8os2sp.bmp", 0, 252, 8192},
        SuiteCase{"q/pal8os2v2.bmp", 0, 252, 8192}, SuiteCase{"q/pal8rletrns.bmp", 0, 253, 8192},
        SuiteCase{"q/pal8rlecut.bmp", 0, 253, 8192}, SuiteCase{"q/pal4rletrns.bmp", 0, 13, 4096},
        SuiteCase{"q/pal4rlecut.bmp", 0, 13, 4096},
        SuiteCase{"b/pal8badindex.bmp", 4793, 101, 8192},
        SuiteCase{"b/rletopdown.bmp", ERR_NOT_BMP, 0, 0},
        SuiteCase{"g/pal1.bmp", ERR_BAD_DEPTH, 0, 0}, SuiteCase{"g/rgb24.bmp", ERR_BAD_DEPTH, 0, 0},
        SuiteCase{"b/badbitcount.bmp", ERR_BAD_DEPTH, 0, 0}),
    caseName);

// The same picture in many layouts: rendered through the daz palette, with a
// key that must come off again, every pixel has the same colour.
TEST(BmpLayouts, SamePictureInEveryLayout) {
    ConvertResult result = 0;
    const Picture reference = renderDaz(convertFile(SUITE + "/g/pal8.bmp", 0, 0x3A7C, result));
    ASSERT_EQ(reference.rgb.size(), 127U * 64 * 3);
    for (const char* file :
         {"g/pal8-0.bmp", "g/pal8topdown.bmp", "g/pal8os2.bmp", "g/pal8v4.bmp", "g/pal8v5.bmp",
          "q/pal8offs.bmp", "g/pal8rle.bmp", "q/pal8oversizepal.bmp", "q/pal8os2v2.bmp",
          "q/pal8os2v2-16.bmp", "q/pal8os2sp.bmp"}) {
        EXPECT_EQ(renderDaz(convertFile(SUITE + "/" + file, 0, 0x3A7C, result)), reference) << file;
    }
    const Picture reference4 = renderDaz(convertFile(SUITE + "/g/pal4.bmp", 0, 0x0101, result));
    EXPECT_EQ(renderDaz(convertFile(SUITE + "/g/pal4rle.bmp", 0, 0x0101, result)), reference4);
}

// RLE files that skip pixels or stop early: each pixel is the picture's own
// colour or index 0's, and skipping happened.
TEST(BmpLayouts, SkippedRlePixelsAreIndexZero) {
    struct Case {
        const char* reference;
        const char* file;
    };
    for (const Case& c :
         {Case{"g/pal8.bmp", "q/pal8rletrns.bmp"}, Case{"g/pal8.bmp", "q/pal8rlecut.bmp"},
          Case{"g/pal4.bmp", "q/pal4rletrns.bmp"}, Case{"g/pal4.bmp", "q/pal4rlecut.bmp"}}) {
        ConvertResult result = 0;
        const Picture full = renderDaz(convertFile(SUITE + "/" + c.reference, 0, 0, result));
        const Bytes daz = convertFile(SUITE + "/" + c.file, 0, 0x7711, result);
        const Picture cut = renderDaz(daz);
        ASSERT_EQ(cut.rgb.size(), full.rgb.size()) << c.file;
        std::size_t skipped = 0;
        for (std::size_t i = 0; i < cut.rgb.size(); i += 3) {
            const bool same = std::equal(cut.rgb.begin() + static_cast<long>(i),
                                         cut.rgb.begin() + static_cast<long>(i) + 3,
                                         full.rgb.begin() + static_cast<long>(i));
            const bool zero =
                cut.rgb[i] == daz[24] && cut.rgb[i + 1] == daz[25] && cut.rgb[i + 2] == daz[26];
            ASSERT_TRUE(same || zero) << c.file << " pixel " << i / 3;
            skipped += same ? 0 : 1;
        }
        EXPECT_GT(skipped, 100U) << c.file;
    }
}

// Bitmaps as real encoders write them, checked against ImageMagick's decoding.
TEST(BmpLayouts, EncodersOutputMatchesImageMagick) {
    TempDir dir;
    const std::string im = std::string("'") + ORVX_IMAGEMAGICK + "'";
    ASSERT_EQ(
        runProgram({"sh", "-c", im + " -seed 7 -size 37x23 plasma:fractal " + dir.file("p.png")})
            .status,
        0);
    const std::string pillow =
        "/usr/bin/python3 -c \"import sys; from PIL import Image; "
        "Image.open('p.png').convert('RGB').quantize(int(sys.argv[2])).save(sys.argv[1])\" ";
    const std::string quantize = "pngtopnm p.png | pnmquant ";
    struct Encoder {
        const char* output;
        std::string command;
    };
    const std::vector<Encoder> encoders{
        // ImageMagick's default: 124-byte header, RLE8 with rows padded past the width.
        {"im-rle8.bmp", im + " p.png -colors 200 -type Palette im-rle8.bmp"},
        {"im-bmp3-8.bmp",
         im + " p.png -colors 200 -type Palette -compress none BMP3:im-bmp3-8.bmp"},
        {"im-bmp3-4.bmp", im + " p.png -colors 11 -type Palette BMP3:im-bmp3-4.bmp"},
        {"im-v5-4.bmp", im + " p.png -colors 16 -type Palette im-v5-4.bmp"},
        {"im-v5-8.bmp", im + " p.png -colors 60 -type Palette -compress none im-v5-8.bmp"},
        {"pil-8.bmp", pillow + "pil-8.bmp 77"},
        {"pil-4.bmp", pillow + "pil-4.bmp 13"},
        {"ppm-win.bmp", quantize + "40 2>/dev/null | ppmtobmp -windows > ppm-win.bmp"},
        {"ppm-os2.bmp", quantize + "12 2>/dev/null | ppmtobmp -os2 > ppm-os2.bmp"},
    };
    for (const Encoder& e : encoders) {
        const RunResult made = runProgram({"sh", "-c", "cd '" + dir.path + "' && " + e.command});
        const std::string bmp = dir.file(e.output);
        ASSERT_TRUE(fileExists(bmp)) << e.output << ": " << made.err;
        ConvertResult result = 0;
        const Picture ours = renderDaz(convertFile(bmp, 0, 0xC0DE, result));
        EXPECT_GE(result, 0) << e.output;
        const Picture theirs = renderWithImageMagick(bmp);
        ASSERT_GT(theirs.rgb.size(), 0U) << e.output;
        EXPECT_EQ(ours, theirs) << e.output;
    }
}

namespace {

// An info-header bitmap: 14 + headerSize bytes of headers, entries palette
// entries of 4 bytes, then data.
Bytes makeInfoBmp(std::uint32_t headerSize, std::int32_t width, std::int32_t height, int bpp,
                  std::uint32_t compression, std::uint32_t clrUsed, std::size_t entries,
                  const Bytes& data) {
    const std::size_t offset = 14 + headerSize + 4 * entries;
    Bytes bmp(offset, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    putU32(bmp, 10, static_cast<std::uint32_t>(offset));
    putU32(bmp, 14, headerSize);
    putU32(bmp, 18, static_cast<std::uint32_t>(width));
    putU32(bmp, 22, static_cast<std::uint32_t>(height));
    putU16(bmp, 26, 1);
    putU16(bmp, 28, static_cast<std::uint16_t>(bpp));
    if (headerSize >= 20) {
        putU32(bmp, 30, compression);
    }
    if (headerSize >= 36) {
        putU32(bmp, 46, clrUsed);
    }
    for (std::size_t i = 0; i < entries; ++i) {
        bmp[14 + headerSize + 4 * i] = static_cast<std::uint8_t>(i + 1);
    }
    bmp.insert(bmp.end(), data.begin(), data.end());
    return bmp;
}

// An OS/2 core bitmap, 4 bits per pixel, 16 entries of 3 bytes.
Bytes makeCoreBmp(std::uint16_t width, std::uint16_t height) {
    Bytes bmp(14 + 12 + 48, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    putU32(bmp, 10, static_cast<std::uint32_t>(bmp.size()));
    putU32(bmp, 14, 12);
    putU16(bmp, 18, width);
    putU16(bmp, 20, height);
    putU16(bmp, 22, 1);
    putU16(bmp, 24, 4);
    return bmp;
}

} // namespace

TEST(BmpLayouts, RejectsWhatCannotBeRead) {
    struct Case {
        const char* name;
        Bytes bmp;
        int count;
        ConvertResult expected;
    };
    const Bytes rle{0, 1};
    const std::vector<Case> cases{
        {"bitfields", makeInfoBmp(40, 4, 4, 8, 3, 0, 256, {}), 0, ERR_NOT_BMP},
        {"RLE8 on 4 bits", makeInfoBmp(40, 4, 4, 4, 1, 0, 16, rle), 0, ERR_NOT_BMP},
        {"RLE4 on 8 bits", makeInfoBmp(40, 4, 4, 8, 2, 0, 256, rle), 0, ERR_NOT_BMP},
        {"RLE top-down", makeInfoBmp(40, 4, -4, 8, 1, 0, 256, rle), 0, ERR_NOT_BMP},
        {"width 0", makeInfoBmp(40, 0, 4, 8, 0, 0, 256, {}), 0, ERR_NOT_BMP},
        {"negative width", makeInfoBmp(124, -5, 4, 8, 0, 0, 256, {}), 0, ERR_NOT_BMP},
        {"width past 16 bits", makeInfoBmp(40, 65536, 1, 8, 0, 0, 256, {}), 0, ERR_NOT_BMP},
        {"height past 15 bits", makeInfoBmp(124, 4, 32768, 8, 0, 0, 256, {}), 0, ERR_NOT_BMP},
        {"top-down past 15 bits", makeInfoBmp(40, 4, -32769, 4, 0, 0, 16, {}), 0, ERR_NOT_BMP},
        {"core height past 15 bits", makeCoreBmp(4, 40000), 0, ERR_NOT_BMP},
        {"largest RLE", makeInfoBmp(40, 65535, 32767, 8, 1, 0, 256, {0, 1}), 300, ERR_BAD_COLORS},
        {"largest top-down", makeInfoBmp(40, 65535, -32768, 4, 0, 0, 16, {}), 17, ERR_BAD_COLORS},
        {"depth wins over layout", makeInfoBmp(40, 0, 4, 24, 3, 0, 0, {}), 0, ERR_BAD_DEPTH},
        {"layout wins over count", makeInfoBmp(40, 0, 4, 8, 0, 0, 256, {}), 999, ERR_NOT_BMP},
        {"more than the file holds", makeInfoBmp(40, 4, 1, 8, 0, 10, 10, {0, 0, 0, 0}), 11,
         ERR_BAD_COLORS},
        {"all that it holds", makeInfoBmp(40, 4, 1, 8, 0, 10, 10, {0, 0, 0, 0}), 10, 0},
        {"no entries", makeInfoBmp(40, 4, 1, 8, 0, 0, 0, {0, 0, 0, 0}), 0, ERR_BAD_COLORS},
        {"unknown header size: fixed layout", makeInfoBmp(66, 4, 1, 8, 0, 0, 256, {}), 0, 0},
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeFile(dir.file("in.bmp"), c.bmp);
        EXPECT_EQ(
            convertBmpToDaz(dir.file("in.bmp").c_str(), dir.file("o.daz").c_str(), c.count, 0),
            c.expected)
            << c.name;
        EXPECT_EQ(fileExists(dir.file("o.daz")), c.expected >= 0) << c.name;
    }
}

TEST(BmpLayouts, TruncatedInfoHeaderFieldsReadAsZero) {
    // Cut inside biClrUsed: compression reads, clrUsed is 0, and the palette
    // that should follow is missing.
    Bytes bmp = makeInfoBmp(40, 4, 1, 8, 0, 7, 256, {});
    bmp.resize(48);
    TempDir dir;
    writeFile(dir.file("in.bmp"), bmp);
    EXPECT_EQ(convertBmpToDaz(dir.file("in.bmp").c_str(), dir.file("o.daz").c_str(), 0, 0),
              ERR_READ);
}

TEST(BmpLayouts, OddWidthRleRowsKeepTheirPadding) {
    // 3 pixels wide, 3 rows, RLE4: a run that spills past the row, end of
    // row, a literal of 3 pixels, end of row, then the data ends.
    const Bytes rle{5, 0x12, 0, 0, 0, 3, 0x45, 0x60, 0, 0};
    TempDir dir;
    writeFile(dir.file("in.bmp"), makeInfoBmp(40, 3, 3, 4, 2, 0, 16, rle));
    ASSERT_EQ(convertBmpToDaz(dir.file("in.bmp").c_str(), dir.file("o.daz").c_str(), 0, 0), 0);
    const Bytes daz = readFile(dir.file("o.daz"));
    const Bytes pixels(daz.begin() + 24 + 64, daz.end());
    EXPECT_EQ(pixels, (Bytes{0x12, 0x10, 0, 0, 0x45, 0x60, 0, 0, 0, 0, 0, 0}));
}

// A tiny RLE file that claims a 16384 x 16384 image decodes into 256 MiB of
// zeros without holding them: the child's peak memory is that of a 16 x 16
// image, give or take (sanitizer builds start larger, but don't grow either).
TEST(BmpLayouts, LargeRleImageStreamsInConstantMemory) {
    if (underEmulator()) {
        GTEST_SKIP() << "the emulator's own memory would be measured";
    }
    TempDir dir;
    const auto peakKiB = [&dir](int side) {
        const std::string path = dir.file("rle.bmp");
        writeFile(path, makeInfoBmp(40, side, side, 8, 1, 0, 256, {0, 2, 5, 5, 1, 9, 0, 1}));
        const pid_t pid = fork();
        if (pid == 0) {
            execl(ORVX_BINARY, ORVX_BINARY, "-c", path.c_str(), "/dev/null", "1", "ff", nullptr);
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        EXPECT_EQ(wait4(pid, &status, 0, &usage), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << side;
        return usage.ru_maxrss;
    };
    const long small = peakKiB(16);
    EXPECT_LT(peakKiB(16384), small + 4 * 1024) << "KiB, against " << small << " KiB";
}

// Every bad, questionable or good file ends in a result code: under the
// sanitizer build this is also the check for overruns.
TEST(BmpLayouts, EverySuiteFileEndsWithAResult) {
    for (const char* folder : {"/b", "/q", "/g"}) {
        for (const auto& entry : std::filesystem::directory_iterator(SUITE + folder)) {
            for (const int count : {0, 1, 16, 256}) {
                TempDir dir;
                const ConvertResult result =
                    convertBmpToDaz(entry.path().c_str(), dir.file("o.daz").c_str(), count, 0xA5A5);
                EXPECT_GE(result, ERR_BAD_COLORS) << entry.path();
                EXPECT_EQ(fileExists(dir.file("o.daz")), result >= 0) << entry.path();
            }
        }
    }
}

namespace {

Bytes cut(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

Bytes with16(Bytes bytes, std::size_t at, std::uint16_t value) {
    putU16(bytes, at, value);
    return bytes;
}

} // namespace

// The headers parsed from the file's first bytes alone: the code, and on
// success where the palette and pixels are and how many entries count.
TEST(BmpLayouts, ParsesTheHeadersFromMemory) {
    struct Case {
        const char* name;
        Bytes bmp;
        ConvertResult expected;
        BmpLayoutKind kind;
        int entries;
        std::int64_t paletteOffset;
        std::int64_t pixelOffset;
        std::int64_t height;
    };
    using K = BmpLayoutKind;
    const Bytes info = makeInfoBmp(40, 5, -3, 8, 0, 0, 256, {});
    const Bytes v5 = makeInfoBmp(124, 5, 3, 4, 2, 7, 16, {});
    const std::vector<Case> cases{
        {"empty", {}, ERR_READ, K::FIXED, 0, 0, 0, 0},
        {"one byte", {'B'}, ERR_READ, K::FIXED, 0, 0, 0, 0},
        {"not BM", {'B', 'A', 0}, ERR_NOT_BMP, K::FIXED, 0, 0, 0, 0},
        {"cut before the header size", cut(info, 17), ERR_READ, K::FIXED, 0, 0, 0, 0},
        {"cut inside the depth", cut(info, 29), ERR_READ, K::FIXED, 0, 0, 0, 0},
        {"bad depth, the file ending after it", with16(cut(info, 30), 28, 24), ERR_BAD_DEPTH,
         K::INFO, 0, 0, 0, 0},
        {"info header", info, 0, K::INFO, 256, 54, 54 + 1024, -3},
        {"cut after the height: no compression or count", cut(v5, 30), 0, K::INFO, 16, 138,
         138 + 64, 3},
        {"RLE8 on 4 bits, cut a byte into the compression",
         cut(makeInfoBmp(40, 5, 3, 4, 1, 0, 16, {}), 33), 0, K::INFO, 16, 54, 54 + 64, 3},
        {"version 5, RLE4, 7 colours", v5, 0, K::INFO, 7, 138, 138 + 64, 3},
        {"core header", makeCoreBmp(4, 2), 0, K::CORE, 16, 26, 74, 2},
        {"core, cut before the depth", cut(makeCoreBmp(4, 2), 21), ERR_READ, K::CORE, 0, 0, 0, 0},
        {"offbits inside the headers: fixed", with16(info, 10, 53), 0, K::FIXED, 256, 54, 54 + 1024,
         -3},
        {"offbits cuts the palette", with16(info, 10, 54 + 4 * 9 + 3), 0, K::INFO, 9, 54,
         54 + 4 * 9 + 3, -3},
        {"unknown header size: fixed", makeInfoBmp(66, 4, 1, 4, 0, 0, 16, {}), 0, K::FIXED, 16, 54,
         54 + 64, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BmpLayout layout;
        ASSERT_EQ(resultCodeOf(parseBmpLayout(c.bmp.data(), c.bmp.size(), layout), 0), c.expected);
        if (c.expected < 0) {
            continue;
        }
        EXPECT_EQ(layout.kind, c.kind);
        EXPECT_EQ(layout.paletteEntries, c.entries);
        EXPECT_EQ(layout.paletteOffset, c.paletteOffset);
        EXPECT_EQ(layout.pixelOffset, c.pixelOffset);
        EXPECT_EQ(layout.height, c.height);
    }
}

// The palette comes from the same bytes: swapped into daz order, a core
// header's 3-byte entries given a zero fourth byte, and a start that ends
// before the kept entries do is a short read.
TEST(BmpLayouts, TakesThePaletteFromMemory) {
    Bytes core = makeCoreBmp(4, 2);
    core[26] = 1; // blue, green, red of entry 0, then entry 1's blue
    core[27] = 2;
    core[28] = 3;
    core[29] = 9;
    Bytes info = makeBmp(4, 1, 8, {});
    BmpLayout layout;
    ASSERT_EQ(parseBmpLayout(core.data(), core.size(), layout), 0);
    std::array<std::uint8_t, 8> out{};
    ASSERT_EQ(parseDazPalette(core.data(), core.size(), layout, 2, out.data()), 0);
    EXPECT_EQ(out, (std::array<std::uint8_t, 8>{3, 2, 1, 0, 0, 0, 9, 0}));
    ASSERT_EQ(parseBmpLayout(info.data(), info.size(), layout), 0);
    ASSERT_EQ(parseDazPalette(info.data(), info.size(), layout, 2, out.data()), 0);
    EXPECT_EQ(out, (std::array<std::uint8_t, 8>{0, 0, 0, 0x80, 3, 2, 1, 0x80}));
    EXPECT_EQ(parseDazPalette(info.data(), 54 + 7, layout, 2, out.data()), DAZ_ERR_READ);
    EXPECT_EQ(parseDazPalette(info.data(), 54 + 8, layout, 2, out.data()), 0);
}
