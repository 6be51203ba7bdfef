// The netpbm readers of PPM (P6) and PAM (P7), and PGM's on the raster code
// they share: one table of files made by netpbm's tools and by hand
// (netpbm_cases.py), each read as RGBA and held to ImageMagick's decode and
// Pillow's where it reads the file; each cut short refused; one table of
// hostile headers.
#include "convert/pam/pam_format.h"
#include "convert/pgm/pgm_format.h"
#include "convert/ppm/ppm_format.h"
#include "fuzz_readers.h"
#include "reader_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

const std::string SOURCE = ORVX_SOURCE_DIR;

const orvx::FormatReader& PGM = orvx::PGM_READER;

struct NetpbmCase {
    const char* name;
    const orvx::FormatReader& reader;
    bool pillowReads;
};

const NetpbmCase CASES[] = {
    {"pat.ppm", orvx::PPM_READER, true},         {"pat100.ppm", orvx::PPM_READER, true},
    {"pat65535.ppm", orvx::PPM_READER, true},    {"comments.ppm", orvx::PPM_READER, true},
    {"past-maxval.ppm", orvx::PPM_READER, true}, {"ramp.pgm", PGM, true},
    {"rgb.pam", orvx::PAM_READER, false},        {"rgba.pam", orvx::PAM_READER, false},
    {"rgba1000.pam", orvx::PAM_READER, false},   {"grey.pam", orvx::PAM_READER, false},
    {"grey-alpha.pam", orvx::PAM_READER, false}, {"grey16-alpha.pam", orvx::PAM_READER, false},
    {"bw.pam", orvx::PAM_READER, false},         {"commented.pam", orvx::PAM_READER, false},
};

TEST(Netpbm, ReadAsTheOtherDecodersAndRefusedCut) {
    TempDir dir;
    const RunResult made = runProgram(
        {"/usr/bin/python3", SOURCE + "/tests/netpbm_cases.py", dir.path, ORVX_IMAGEMAGICK});
    ASSERT_EQ(made.status, 0) << made.err;
    std::filesystem::create_directory(dir.file("reference"));
    std::vector<std::string> command{"/usr/bin/python3", SOURCE + "/tests/rgba_reference.py",
                                     dir.file("reference"), ORVX_IMAGEMAGICK};
    for (const NetpbmCase& row : CASES) {
        command.push_back(dir.file(row.name));
    }
    const RunResult reference = runProgram(command);
    ASSERT_EQ(reference.status, 0) << reference.err;
    const std::string folder = std::filesystem::path(dir.path).filename().string();
    for (const NetpbmCase& row : CASES) {
        SCOPED_TRACE(row.name);
        const Bytes file = readFile(dir.file(row.name));
        orvx::RgbaImage image;
        ASSERT_EQ(readRgbaOf(row.reader, file, image), DAZ_OK);
        expectWithin(dir.file(std::string(row.name) + ".magick"), 1, image, 1, row.name);
        const std::string both = dir.file("reference/" + folder + "-" + row.name + ".rgba");
        ASSERT_EQ(fileExists(both), row.pillowReads);
        if (row.pillowReads) { // which cuts sample * 255 / maxval down where this rounds
            expectWithin(both, 2, image, 1, row.name);
        }
        for (std::size_t cut = 0; cut < file.size(); cut += 1 + file.size() / 41) {
            const Bytes part(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
            orvx::RgbaImage none;
            EXPECT_EQ(readRgbaOf(row.reader, part, none), DAZ_ERR_READ) << "cut at " << cut;
            EXPECT_TRUE(none.pixels.empty());
        }
    }
}

TEST(Netpbm, HostileHeadersRefused) {
    const std::string rgb = "WIDTH 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\n";
    struct Hostile {
        const orvx::FormatReader& reader;
        std::string header;
        int result; // with the size asked alone
    };
    const Hostile hostile[] = {
        {orvx::PPM_READER, "P6 60000 60000 255\n", DAZ_ERR_LIMITS},
        {orvx::PPM_READER, "P6 2000000 1 255\n", DAZ_ERR_LIMITS},
        {orvx::PPM_READER, "P6 0 5 255\n", DAZ_ERR_BAD_IMAGE},
        {orvx::PPM_READER, "P6 5 5 0\n", DAZ_ERR_BAD_IMAGE},
        {orvx::PPM_READER, "P6 5 5 65536\n", DAZ_ERR_BAD_IMAGE},
        {orvx::PPM_READER, "P6 5 x5 255\n", DAZ_ERR_BAD_IMAGE},
        {orvx::PPM_READER, "P6 5 5 255", DAZ_ERR_READ},
        {orvx::PPM_READER, "P5 5 5 255\n", DAZ_ERR_BAD_IMAGE},
        {orvx::PPM_READER, "P6 5 5 65535\n", DAZ_OK},
        {orvx::PAM_READER,
         "P7\nWIDTH 60000\nHEIGHT 60000\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n",
         DAZ_ERR_LIMITS},
        {orvx::PAM_READER, "P7\n" + rgb + "TUPLTYPE RGB\n", DAZ_ERR_READ}, // no ENDHDR
        {orvx::PAM_READER, "P7\n" + rgb + "TUPLTYPE RGB\nENDHDR", DAZ_ERR_READ},
        {orvx::PAM_READER, "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 0\nTUPLTYPE RGB\nENDHDR\n",
         DAZ_ERR_BAD_IMAGE},
        {orvx::PAM_READER, "P7\n" + rgb + "ENDHDR\n", DAZ_ERR_BAD_IMAGE}, // no TUPLTYPE
        {orvx::PAM_READER, "P7\n" + rgb + "TUPLTYPE CMYK\nENDHDR\n", DAZ_ERR_BAD_IMAGE},
        {orvx::PAM_READER, "P7\n" + rgb + "TUPLTYPE RGB_ALPHA\nENDHDR\n", DAZ_ERR_BAD_IMAGE},
        {orvx::PAM_READER, "P7\n" + rgb + "WIDTH 2\nTUPLTYPE RGB\nENDHDR\n", DAZ_ERR_BAD_IMAGE},
        {orvx::PAM_READER, "P7\n" + rgb + "COLOUR 1\nTUPLTYPE RGB\nENDHDR\n", DAZ_ERR_BAD_IMAGE},
        {orvx::PAM_READER, "P7\n" + rgb + "TUPLTYPE RGB\n#\n\n  ENDHDR  \n", DAZ_OK},
        {orvx::PAM_READER,
         "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 1\nMAXVAL 3\nTUPLTYPE BLACKANDWHITE\nENDHDR\n",
         DAZ_ERR_BAD_IMAGE},
        {orvx::PAM_READER, "P7 332\n", DAZ_ERR_BAD_IMAGE}, // xv's thumbnails
        {orvx::PAM_READER, "P7\nWIDTH " + std::string(300, '1') + "\n", DAZ_ERR_BAD_IMAGE},
    };
    for (const Hostile& row : hostile) {
        SCOPED_TRACE(row.header);
        orvx::RgbaImage image;
        EXPECT_EQ(readRgbaOf(row.reader, Bytes(row.header.begin(), row.header.end()), image, true),
                  row.result);
        EXPECT_TRUE(image.pixels.empty());
    }
}

TEST(Netpbm, RecognisedByTheirMagic) {
    const std::pair<std::string, daz_format> starts[] = {
        {"P6\n", DAZ_FORMAT_PPM}, {"P6#", DAZ_FORMAT_PPM},     {"P6x", DAZ_FORMAT_UNKNOWN},
        {"P7\n", DAZ_FORMAT_PAM}, {"P7 ", DAZ_FORMAT_UNKNOWN}, {"P5 ", DAZ_FORMAT_UNKNOWN},
    };
    for (const auto& [start, format] : starts) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(start.data());
        EXPECT_EQ(orvx::PPM_READER.recognises(bytes, 3), format == DAZ_FORMAT_PPM) << start;
        EXPECT_EQ(orvx::PAM_READER.recognises(bytes, 3), format == DAZ_FORMAT_PAM) << start;
    }
}

// The fuzzer's saved inputs, through its own entry: a broken rule aborts.
TEST(Netpbm, SavedFuzzInputs) {
    int replayed = 0;
    for (const std::string& name : folderEntries(SOURCE + "/fuzz/regressions/netpbm")) {
        const Bytes input = readFile(SOURCE + "/fuzz/regressions/netpbm/" + name);
        fuzzNetpbmOne(input.data(), input.size());
        ++replayed;
    }
    EXPECT_GT(replayed, 5);
}

} // namespace
