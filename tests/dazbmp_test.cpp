#include "convert/bmp_to_daz.h"
#include "support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

using namespace orvx;

namespace {

RunResult runDazbmp(const std::vector<std::string>& args) {
    std::vector<std::string> argv{ORVX_DAZBMP};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv);
}

// Pillow's pixel indices of each file, one line per path.
std::vector<std::string> pillowIndices(const std::vector<std::string>& paths) {
    std::vector<std::string> argv{"/usr/bin/python3", ORVX_SOURCE_DIR "/tests/pixel_indices.py"};
    argv.insert(argv.end(), paths.begin(), paths.end());
    const RunResult run = runProgram(argv);
    std::vector<std::string> lines;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::uint32_t u32At(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8U | b[at + 2] << 16U |
           static_cast<std::uint32_t>(b[at + 3]) << 24U;
}

// Indices 0..2 that differ from row to row, so that a wrong pick of rows
// shows; stored as they are under key 0, whose keystream is all zeros.
Bytes varyingPixels(std::size_t size, int bpp) {
    Bytes pixels(size);
    for (std::size_t k = 0; k < size; ++k) {
        const auto high = static_cast<unsigned>(k % 7 % 3);
        pixels[k] = static_cast<std::uint8_t>(bpp == 8 ? high : high << 4U | k % 5 % 3);
    }
    return pixels;
}

} // namespace

// orvx -c, then dazbmp. With the whole palette kept, ImageMagick must see the
// source's colours and Pillow its indices; with a cut palette, Pillow must see
// the same indices as with the whole one. Pillow 9.4 reads RLE4 rows
// differently from ImageMagick, so an RLE4 source is checked by colours
// alone. (No count of 1: Pillow takes a lone black entry for a grey ramp and
// then misreads 4-bit rows.)
TEST(Dazbmp, RoundTripGivesTheSourcePixels) {
    std::vector<std::string> sources{ORVX_SOURCE_DIR "/samples/sample8.bmp",
                                     ORVX_SOURCE_DIR "/samples/sample4.bmp"};
    for (const auto& entry : std::filesystem::directory_iterator(ORVX_BMPSUITE "/g")) {
        sources.push_back(entry.path());
    }
    TempDir dir;
    std::vector<std::pair<std::string, std::string>> sameIndices;
    int n = 0;
    for (const std::string& source : sources) {
        std::string whole;
        for (const auto& [count, key] :
             {std::pair{0, 0x1F2E}, std::pair{9, 0xFFFF}, std::pair{2, 0}}) {
            const std::string daz = dir.file(std::to_string(++n) + ".daz");
            const std::string bmp = dir.file(std::to_string(n) + ".bmp");
            if (convertBmpToDaz(source.c_str(), daz.c_str(), count,
                                static_cast<std::uint16_t>(key)) < 0) {
                break; // not a 4- or 8-bit bitmap
            }
            const RunResult run = runDazbmp({daz, bmp});
            ASSERT_EQ(run.status, 0) << source << ": " << run.out;
            ASSERT_EQ(run.out, "Operazione riuscita\n\n");
            if (count == 0) {
                whole = bmp;
                EXPECT_EQ(renderWithImageMagick(bmp), renderWithImageMagick(source)) << source;
                if (source.find("pal4rle") == std::string::npos) {
                    sameIndices.emplace_back(source, bmp);
                }
            } else {
                sameIndices.emplace_back(whole, bmp);
            }
        }
    }
    ASSERT_GE(sameIndices.size(), 3U * 16U - 1U);
    std::vector<std::string> paths;
    for (const auto& [expected, actual] : sameIndices) {
        paths.insert(paths.end(), {expected, actual});
    }
    const std::vector<std::string> indices = pillowIndices(paths);
    ASSERT_EQ(indices.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); i += 2) {
        EXPECT_EQ(indices[i + 1], indices[i]) << paths[i] << " -> " << paths[i + 1];
        EXPECT_EQ(indices[i].rfind("ERROR", 0), std::string::npos) << paths[i] << indices[i];
    }
}

TEST(Dazbmp, HeaderStatesRowsPaletteAndDirection) {
    struct Case {
        std::uint16_t width;
        std::int16_t height;
        int bpp;
        std::size_t pixelBytes;
        std::int32_t biHeight;
    };
    // The rows are the first |height| stored ones, whichever way they run; a
    // pixel area that holds fewer gives its whole rows. Bytes past them, a
    // partial row or a tail such as an ICC profile, are not part of the image.
    // dazpng must give the same picture.
    for (const Case& c :
         {Case{5, 3, 8, 8 * 3, 3}, Case{5, -3, 8, 8 * 3 + 7, -3}, Case{9, 100, 4, 8 * 2, 2},
          Case{3, 1, 4, 4, 1}, Case{12, 5, 8, 12 * 5 + 300, 5}, Case{9, -4, 4, 8 * 4 + 300, -4},
          Case{5, 3, 8, 8 * 5, 3}, Case{9, 2, 4, 8 * 3, 2}, Case{3, -32768, 8, 4 * 2 + 1, -2}}) {
        const std::string name = std::to_string(c.width) + "x" + std::to_string(c.height) + " in " +
                                 std::to_string(c.pixelBytes) + " bytes";
        TempDir dir;
        const Bytes daz =
            dazFile(c.width, c.height, c.bpp, 3, 0, varyingPixels(c.pixelBytes, c.bpp));
        writeFile(dir.file("in.daz"), daz);
        ASSERT_EQ(runDazbmp({dir.file("in.daz"), dir.file("out.bmp")}).status, 0) << name;
        const Bytes bmp = readFile(dir.file("out.bmp"));
        const std::size_t rowSize = (c.width * c.bpp + 31) / 32 * 4;
        const std::size_t rows = static_cast<std::size_t>(std::abs(c.biHeight));
        ASSERT_EQ(bmp.size(), 54 + 12 + rows * rowSize) << name;
        EXPECT_EQ(u32At(bmp, 2), bmp.size());
        EXPECT_EQ(u32At(bmp, 10), 66U);
        EXPECT_EQ(u32At(bmp, 18), c.width);
        EXPECT_EQ(static_cast<std::int32_t>(u32At(bmp, 22)), c.biHeight) << name;
        EXPECT_EQ(u32At(bmp, 46), 3U); // biClrUsed
        EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.begin() + 58), (Bytes{3, 2, 0, 4}));
        EXPECT_EQ(Bytes(bmp.begin() + 62, bmp.begin() + 66), (Bytes{3, 2, 2, 4}));
        const Picture expected = renderDaz(daz);
        ASSERT_EQ(expected.height, std::abs(c.biHeight)) << name;
        EXPECT_EQ(renderWithImageMagick(dir.file("out.bmp")), expected) << name;
        const RunResult png = runProgram({ORVX_DAZPNG, dir.file("in.daz"), dir.file("out.png")});
        ASSERT_EQ(png.status, 0) << name << ": " << png.out;
        EXPECT_EQ(renderWithImageMagick(dir.file("out.png")), expected) << name;
    }
    // A sparse daz file of 5 GiB with a height of 2: two rows, the rest dropped.
    TempDir dir;
    writeFile(dir.file("huge.daz"), dazFile(4, 2, 8, 2, 0, Bytes(4, 1)));
    std::filesystem::resize_file(dir.file("huge.daz"), std::uintmax_t{5} << 30U);
    ASSERT_EQ(runDazbmp({dir.file("huge.daz"), dir.file("out.bmp")}).status, 0);
    EXPECT_EQ(std::filesystem::file_size(dir.file("out.bmp")), 54U + 8U + 2U * 4U);
}

// dazbmp, dazpng and dazgif refuse the same files with the same messages.
TEST(Dazbmp, ErrorsPrintOneLineAndLeaveNoImage) {
    const Bytes good = dazFile(4, 1, 8, 2, 0, Bytes(4, 0));
    Bytes wrongMagic = good;
    wrongMagic[0] = 'B';
    const char* const notDaz = "Il file non sembra un'immagine daz";
    const char* const badDepth = "L'immagine daz non ha 4 o 8 bit per pixel";
    const char* const badColors = "Il numero di colori dell'immagine daz non e' valido";
    const char* const cut = "Il file e' piu' corto dell'intestazione e della tavolozza";
    const char* const noRows = "L'immagine daz non ha nemmeno una riga intera di pixel";
    struct Case {
        const char* name;
        Bytes daz;
        const char* message;
    };
    const std::vector<Case> cases{
        {"not daz", wrongMagic, notDaz},
        {"not daz, short", Bytes{'B', 'M', 0}, notDaz},
        {"5 bpp", dazFile(4, 1, 5, 2, 0, {}), badDepth},
        {"0 colours", dazFile(4, 1, 8, 0, 0, {}), badColors},
        {"17 colours, 4 bpp", dazFile(4, 1, 4, 17, 0, {}), badColors},
        {"-1 colours", dazFile(4, 1, 8, -1, 0, {}), badColors},
        {"short header", Bytes(good.begin(), good.begin() + 23), cut},
        {"short palette", Bytes(good.begin(), good.begin() + 31), cut},
        {"width 0", dazFile(0, 4, 8, 2, 0, Bytes(10, 0)), noRows},
        {"height 0", dazFile(4, 0, 8, 2, 0, Bytes(10, 0)), noRows},
        {"part of a row", dazFile(3, 1, 4, 2, 0, Bytes(3, 0)), noRows},
        {"header and palette only", dazFile(1, 1, 8, 2, 0, {}), noRows},
    };
    std::vector<const char*> commands{ORVX_DAZBMP, ORVX_DAZPNG};
#ifdef ORVX_DAZGIF
    commands.push_back(ORVX_DAZGIF);
#endif
    TempDir dir;
    for (const Case& c : cases) {
        writeFile(dir.file("in.daz"), c.daz);
        for (const char* command : commands) {
            SCOPED_TRACE(std::string(c.name) + ", " + command);
            writeFile(dir.file("old"), {'o', 'l', 'd'});
            const RunResult run = runProgram({command, dir.file("in.daz"), dir.file("old")});
            EXPECT_EQ(run.status, 255);
            EXPECT_EQ(run.out, std::string(c.message) + " - Operazione non riuscita\n\n");
            EXPECT_EQ(readFile(dir.file("old")), (Bytes{'o', 'l', 'd'}));
            EXPECT_EQ(folderEntries(dir.path), (std::vector<std::string>{"in.daz", "old"}));
        }
    }
    writeFile(dir.file("in.daz"), good);
    const auto outOf = [](const RunResult& run) {
        return std::to_string(run.status) + " " + run.out;
    };
    EXPECT_EQ(outOf(runDazbmp({dir.file("none.daz"), dir.file("x.bmp")})),
              "255 Impossibile aprire il file - Operazione non riuscita\n\n");
    EXPECT_EQ(outOf(runDazbmp({dir.path, dir.file("x.bmp")})),
              "255 Errore di lettura - Operazione non riuscita\n\n");
    EXPECT_EQ(outOf(runDazbmp({dir.file("in.daz"), dir.file("no/x.bmp")})),
              "255 Impossibile creare il file - Operazione non riuscita\n\n");
    EXPECT_EQ(outOf(runDazbmp({dir.file("in.daz"), dir.file("./in.daz")})),
              "255 Impossibile creare il file - Operazione non riuscita\n\n");
    EXPECT_EQ(readFile(dir.file("in.daz")), good);
    EXPECT_FALSE(fileExists(dir.file("x.bmp")));
    EXPECT_EQ(outOf(runDazbmp({dir.file("in.daz")})),
              "255 Uso: dazbmp immagine.daz destinazione.bmp\n\n");
#ifdef ORVX_DAZGIF
    EXPECT_EQ(outOf(runProgram({ORVX_DAZGIF, dir.file("in.daz")})),
              "255 Uso: dazgif immagine.daz destinazione.gif\n\n");
    EXPECT_EQ(outOf(runProgram({ORVX_DAZGIF, dir.file("in.daz"), dir.file("x.gif")})),
              "0 Operazione riuscita\n\n");
#endif
    if (fileExists("/dev/full")) {
        EXPECT_EQ(outOf(runDazbmp({dir.file("in.daz"), "/dev/full"})),
                  "255 Errore di scrittura - Operazione non riuscita\n\n");
        EXPECT_TRUE(fileExists("/dev/full"));
    }
}
