// The TIFF reader against other tools: one table of files made by Pillow,
// ImageMagick, tiffcp and by hand (tiff_cases.py), each read as RGBA and
// held to Pillow's and ImageMagick's decodes; each palette one converted
// with its indices kept and held, byte for byte, to the daz file of the
// bitmap of the same indices; each cut short refused; headers that claim
// what no one should hold refused before anything is allocated.
#include "convert/bmp/bmp_format.h"
#include "convert/tiff/tiff_format.h"
#include "fuzz_readers.h"
#include "reader_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using orvx::TIFF_READER;

const std::string SOURCE = ORVX_SOURCE_DIR;

enum class Reference { BOTH, MAGICK };

struct TiffCase {
    const char* name;
    int paletteBits; // 0: no palette to keep
    Reference reference;
};

const TiffCase CASES[] = {
    {"pal1-one", 1, Reference::BOTH},
    {"pal1", 1, Reference::BOTH},
    {"pal1-lzw", 1, Reference::BOTH},
    {"pal1-tiled", 1, Reference::BOTH},
    {"pal2", 2, Reference::BOTH},
    {"pal2-packbits", 2, Reference::BOTH},
    {"pal2-tiled", 2, Reference::BOTH},
    {"pal4", 4, Reference::BOTH},
    {"pal4-zip", 4, Reference::BOTH},
    {"pal4-tiled", 4, Reference::BOTH},
    {"pal8-one", 8, Reference::BOTH},
    {"pal8", 8, Reference::BOTH},
    {"pal8-lzw", 8, Reference::BOTH},
    {"pal8-packbits", 8, Reference::BOTH},
    {"pal8-tiled", 8, Reference::BOTH},
    {"pillow-p8-raw", 8, Reference::BOTH},
    {"pillow-p8-tiff_lzw", 8, Reference::BOTH},
    {"pillow-p8-tiff_adobe_deflate", 8, Reference::BOTH},
    {"pillow-p8-packbits", 8, Reference::BOTH},
    {"pillow-rgba", 0, Reference::BOTH},
    {"pillow-grey", 0, Reference::BOTH},
    {"pillow-bilevel", 0, Reference::BOTH},
    {"im-rgb-none", 0, Reference::BOTH},
    {"im-rgb-lzw", 0, Reference::BOTH},
    {"im-rgb-zip", 0, Reference::BOTH},
    {"im-rgb-jpeg", 0, Reference::BOTH},
    {"im-rgb-packbits", 0, Reference::BOTH},
    {"im-rgba", 0, Reference::BOTH},
    {"im-rgba-associated", 0, Reference::BOTH},
    {"im-grey", 0, Reference::BOTH},
    {"im-grey16", 0, Reference::MAGICK}, // Pillow clips 16-bit grey to 255
    {"im-rgb16", 0, Reference::BOTH},
    {"im-rgba16", 0, Reference::BOTH},
    {"im-cmyk", 0, Reference::BOTH},
    {"im-tiled", 0, Reference::BOTH},
    {"im-big-endian", 0, Reference::BOTH},
    {"im-two-pages", 0, Reference::BOTH}, // the first page
    {"tiffcp-separate", 0, Reference::BOTH},
    {"tiffcp-bigtiff", 0, Reference::BOTH},
    // Turned as their orientation tag says, as Pillow does and ImageMagick
    // doesn't: held to Pillow's decode alone.
    {"pal4-tiled-2", 4, Reference::MAGICK},
    {"pal8-3", 8, Reference::MAGICK},
    {"pal2-lzw-4", 2, Reference::MAGICK},
    {"im-rgb-lzw-4", 0, Reference::MAGICK},
};

class TiffFiles : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        const RunResult made = runProgram(
            {"/usr/bin/python3", SOURCE + "/tests/tiff_cases.py", dir->path, ORVX_IMAGEMAGICK});
        ASSERT_EQ(made.status, 0) << made.err;
        std::filesystem::create_directory(dir->file("reference"));
        std::vector<std::string> command{"/usr/bin/python3", SOURCE + "/tests/rgba_reference.py",
                                         dir->file("reference"), ORVX_IMAGEMAGICK};
        for (const TiffCase& row : CASES) {
            command.push_back(dir->file(std::string(row.name) + ".tif"));
        }
        const RunResult reference = runProgram(command);
        ASSERT_EQ(reference.status, 0) << reference.err;
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    static TempDir* dir;
};

TempDir* TiffFiles::dir = nullptr;

// The daz file of the conversion with the indices kept, or the error.
int tiffToDaz(Bytes tiff, const orvx::PlanCheck* check, Bytes& daz) {
    std::FILE* source = streamOver(tiff);
    std::FILE* out = std::tmpfile();
    int result = DAZ_OK;
    {
        orvx::ReaderState state;
        result = TIFF_READER.openIndices(source, orvx::IndexRequest{}, check, state);
        if (result == DAZ_OK) {
            result = TIFF_READER.writeIndices(state, orvx::DazOutput{out, true}, nullptr);
        }
    }
    daz.assign(static_cast<std::size_t>(std::ftell(out)), 0);
    std::rewind(out);
    EXPECT_EQ(std::fread(daz.data(), 1, daz.size(), out), daz.size());
    std::fclose(out);
    std::fclose(source);
    return result;
}

// What orvx -c writes for the bitmap: its reader's steps.
Bytes bmpToDaz(Bytes bmp) {
    std::FILE* source = streamOver(bmp);
    std::FILE* out = std::tmpfile();
    {
        orvx::ReaderState state;
        EXPECT_EQ(orvx::BMP_READER.openIndices(source, orvx::IndexRequest{}, nullptr, state),
                  DAZ_OK);
        EXPECT_EQ(orvx::BMP_READER.writeIndices(state, orvx::DazOutput{out, true}, nullptr),
                  DAZ_OK);
    }
    Bytes daz(static_cast<std::size_t>(std::ftell(out)));
    std::rewind(out);
    EXPECT_EQ(std::fread(daz.data(), 1, daz.size(), out), daz.size());
    std::fclose(out);
    std::fclose(source);
    return daz;
}

TEST_F(TiffFiles, ReadAsTheOtherDecodersKeptAsTheirBitmapsRefusedCut) {
    for (const TiffCase& row : CASES) {
        SCOPED_TRACE(row.name);
        const std::string base = dir->file(row.name);
        const Bytes tiff = readFile(base + ".tif");
        orvx::RgbaImage image;
        ASSERT_EQ(readRgbaOf(TIFF_READER, tiff, image), DAZ_OK);
        // Cut anywhere: refused, or read whole when what is cut lies past
        // the first page.
        for (std::size_t cut = 0; cut < tiff.size(); cut += 1 + tiff.size() / 29) {
            SCOPED_TRACE(std::string(row.name) + " cut at " + std::to_string(cut));
            const Bytes part(tiff.begin(), tiff.begin() + static_cast<std::ptrdiff_t>(cut));
            orvx::RgbaImage cutImage;
            const int read = readRgbaOf(TIFF_READER, part, cutImage);
            if (read == DAZ_OK) {
                EXPECT_EQ(cutImage.pixels, image.pixels);
            } else {
                EXPECT_TRUE(read == DAZ_ERR_READ || read == DAZ_ERR_BAD_IMAGE) << read;
            }
            Bytes daz;
            const int kept = tiffToDaz(part, nullptr, daz);
            EXPECT_TRUE(read == DAZ_OK || kept != DAZ_OK);
        }
        if (row.reference == Reference::BOTH) {
            const std::string both =
                dir->file("reference/" + std::filesystem::path(dir->path).filename().string() +
                          "-" + row.name + ".tif.rgba");
            ASSERT_TRUE(fileExists(both)) << "Pillow and ImageMagick differ";
            expectWithin(both, 2, image, 1, row.name);
        } else {
            expectWithin(base + ".magick", 1, image, 1, row.name);
        }
        Bytes daz;
        const int kept = tiffToDaz(tiff, nullptr, daz);
        if (row.paletteBits == 0) {
            EXPECT_EQ(kept, DAZ_ERR_NOT_INDEXED);
            EXPECT_EQ(image.paletteEntries, 0);
            continue;
        }
        ASSERT_EQ(kept, DAZ_OK);
        const Bytes expected = bmpToDaz(readFile(base + ".bmp"));
        EXPECT_EQ(daz, expected);
        // The palette as the daz file keeps it.
        ASSERT_EQ(image.paletteEntries, 1 << row.paletteBits);
        ASSERT_GE(expected.size(), 24 + 4U * static_cast<unsigned>(image.paletteEntries));
        EXPECT_TRUE(std::equal(image.palette.begin(),
                               image.palette.begin() + 4 * image.paletteEntries,
                               expected.begin() + 24));
    }
}

// Headers made to claim sizes (tiff_cases.py), refused from the header.
TEST_F(TiffFiles, HeadersPastTheLimitsRefused) {
    const std::tuple<const char*, int, int> claims[] = {
        {"60000x60000-im-rgb-none", DAZ_ERR_LIMITS, DAZ_ERR_NOT_INDEXED},
        {"60000x60000-pal8", DAZ_ERR_LIMITS, DAZ_ERR_LIMITS},
        {"60000x30000-pal4", DAZ_ERR_LIMITS, DAZ_ERR_LIMITS},
        {"70000x2-pal8", DAZ_OK, DAZ_ERR_LIMITS}, // past the daz header's width
        {"5x40000-pal8", DAZ_OK, DAZ_ERR_LIMITS}, // and its height
        {"0x5-im-rgb-none", DAZ_ERR_BAD_IMAGE, DAZ_ERR_BAD_IMAGE},
    };
    for (const auto& [name, rgba, indices] : claims) {
        SCOPED_TRACE(name);
        const Bytes file = readFile(dir->file(std::string(name) + ".tif"));
        orvx::RgbaImage image;
        EXPECT_EQ(readRgbaOf(TIFF_READER, file, image, true), rgba);
        Bytes daz;
        EXPECT_EQ(tiffToDaz(file, &LIMITED, daz), indices);
        EXPECT_TRUE(daz.empty());
    }
}

TEST(Tiff, RecognisedByItsFirstFourBytes) {
    const std::pair<const char*, bool> starts[] = {
        {"II*\0", true},  {"MM\0*", true},  {"II+\0", true},  {"MM\0+", true},
        {"II\0*", false}, {"MM*\0", false}, {"IM*\0", false},
    };
    for (const auto& [start, tiff] : starts) {
        EXPECT_EQ(TIFF_READER.recognises(reinterpret_cast<const std::uint8_t*>(start), 4), tiff)
            << start;
        EXPECT_FALSE(TIFF_READER.recognises(reinterpret_cast<const std::uint8_t*>(start), 3));
    }
}

// The fuzzer's saved inputs, through its own entry: a broken rule aborts.
TEST(Tiff, SavedFuzzInputs) {
    int replayed = 0;
    for (const std::string& name : folderEntries(SOURCE + "/fuzz/regressions/tiff")) {
        const Bytes input = readFile(SOURCE + "/fuzz/regressions/tiff/" + name);
        fuzzTiffOne(input.data(), input.size());
        ++replayed;
    }
    EXPECT_GT(replayed, 5);
}

} // namespace
