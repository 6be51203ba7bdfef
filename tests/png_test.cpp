// pngdaz and dazpng against the BMP path, on PNGs from Pillow, ImageMagick and
// by hand (tests/png_cases.py).
#include "api_support.h"
#include "convert/bmp_to_daz.h"
#include "convert/png/png_export.h"
#include "convert/png/png_indices.h"
#include "support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace orvx;

namespace {

const std::string USAGE = "Uso: pngdaz origine.png destinazione [colore] [chiave]\n\n";

class PngTest : public ::testing::Test {
  protected:
    static TempDir* cases;
    TempDir dir;

    static void SetUpTestSuite() {
        cases = new TempDir;
        const RunResult made =
            runProgram({"/usr/bin/python3", ORVX_SOURCE_DIR "/tests/png_cases.py", cases->path,
                        ORVX_IMAGEMAGICK});
        ASSERT_EQ(made.status, 0) << made.err;
    }
    static void TearDownTestSuite() {
        delete cases;
        cases = nullptr;
    }

    static std::vector<std::string> named(const std::string& prefix) {
        std::vector<std::string> names;
        for (const std::string& name : folderEntries(cases->path)) {
            if (name.rfind(prefix, 0) == 0 && name.size() > 4 &&
                name.compare(name.size() - 4, 4, ".png") == 0) {
                names.push_back(name);
            }
        }
        return names;
    }
};

TempDir* PngTest::cases = nullptr;

// "W H DEPTH INDICES PLTE" of each PNG, as Pillow and the chunks say.
std::vector<std::string> describe(const std::vector<std::string>& paths) {
    std::vector<std::string> argv{"/usr/bin/python3", ORVX_SOURCE_DIR "/tests/png_cases.py",
                                  "--describe"};
    argv.insert(argv.end(), paths.begin(), paths.end());
    std::istringstream out(runProgram(argv).out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace

// The daz file and the count are those of orvx -c on the canonical bitmap,
// for every bit depth, interlaced or not, to a regular file or a FIFO.
TEST_F(PngTest, GivesWhatTheCanonicalBitmapGives) {
    const std::vector<std::string> pngs = named("good-");
    ASSERT_GE(pngs.size(), 15U);
    for (const std::string& name : pngs) {
        const std::string png = cases->file(name);
        const std::string bmp = png.substr(0, png.size() - 4) + ".bmp";
        for (const auto& [count, key] : {std::pair{0, 0x1F2E}, std::pair{2, 0xFFFF}}) {
            const auto k = static_cast<std::uint16_t>(key);
            std::uint64_t undefined = 0;
            const int error =
                convertPngToDaz(png.c_str(), dir.file("png.daz").c_str(), count, k, &undefined);
            EXPECT_EQ(resultCodeOf(error, undefined),
                      convertBmpToDaz(bmp.c_str(), dir.file("bmp.daz").c_str(), count, k))
                << name;
            EXPECT_EQ(readFile(dir.file("png.daz")), readFile(dir.file("bmp.daz"))) << name;
        }
    }
    // Through a FIFO the rows can't be placed out of order: held, then written.
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> piping{"sh", "-c", "cat \"$1\" > \"$2\" & shift 2; \"$@\"; wait",
                                    "sh", fifo, dir.file("piped.daz")};
    for (const std::string& word :
         withEmulator({ORVX_PNGDAZ, cases->file("good-pillow-200.png"), fifo, "9", "ab"})) {
        piping.push_back(word);
    }
    const RunResult piped = runProgram(piping);
    EXPECT_EQ(piped.status, 0);
    ASSERT_GE(convertBmpToDaz(cases->file("good-pillow-200.bmp").c_str(),
                              dir.file("bmp.daz").c_str(), 9, 0xAB),
              0);
    EXPECT_EQ(readFile(dir.file("piped.daz")), readFile(dir.file("bmp.daz")));
}

// pngdaz then dazpng gives back the palette and the indices, 1- and 2-bit
// images as 4-bit ones, noisy and flat ones past a block of rows; a top-down
// daz file comes out top row first too.
TEST_F(PngTest, RoundTripThroughDazpngKeepsPaletteAndIndices) {
    std::vector<std::string> paths;
    for (const std::string& name : named("good-")) {
        const std::string back = dir.file(name);
        ASSERT_GE(convertPngToDaz(cases->file(name).c_str(), dir.file("x.daz").c_str(), 0, 0x5A5A),
                  0);
        ASSERT_EQ(convertDazToPng(dir.file("x.daz").c_str(), back.c_str()), DAZ_OK) << name;
        paths.insert(paths.end(), {cases->file(name), back});
    }
    const std::vector<std::string> lines = describe(paths);
    ASSERT_EQ(lines.size(), paths.size());
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        std::istringstream original(lines[i]);
        std::istringstream back(lines[i + 1]);
        std::string width, height, indices, plte, width2, height2, indices2, plte2;
        int depth = 0;
        int depth2 = 0;
        original >> width >> height >> depth >> indices >> plte;
        back >> width2 >> height2 >> depth2 >> indices2 >> plte2;
        EXPECT_EQ(width + height + indices + plte, width2 + height2 + indices2 + plte2) << paths[i];
        EXPECT_EQ(depth2, depth == 8 ? 8 : 4) << paths[i];
    }
    // Five rows of seven pixels, stored top-down (a negative height).
    Bytes topDownRows;
    for (std::uint8_t y = 0; y < 5; ++y) {
        for (std::uint8_t x = 0; x < 8; ++x) {
            topDownRows.push_back(static_cast<std::uint8_t>(x < 7 ? 40 * y + x : 0));
        }
    }
    const std::string topDown = dir.file("top-down.bmp");
    writeFile(topDown, makeBmp(7, -5, 8, topDownRows));
    ASSERT_GE(convertBmpToDaz(topDown.c_str(), dir.file("t.daz").c_str(), 0, 7), 0);
    ASSERT_EQ(convertDazToPng(dir.file("t.daz").c_str(), dir.file("t.png").c_str()), DAZ_OK);
    EXPECT_EQ(renderWithImageMagick(dir.file("t.png")), renderWithImageMagick(topDown));
}

// Every refusal: its message and the usage text, status 255, the old
// destination kept and nothing else left.
TEST_F(PngTest, RefusesWhatItCannotConvert) {
    const std::string notPng = "Il file non sembra un PNG valido";
    const std::string cut = "Errore di lettura";
    const std::string tooBig = "L'immagine e' troppo grande per essere tenuta in memoria";
    const std::vector<std::pair<const char*, std::string>> cases{
        {"bad-grey.png", "Puoi convertire solo PNG con tavolozza"},
        {"bad-rgb.png", "Puoi convertire solo PNG con tavolozza"},
        {"bad-not-png.png", notPng},
        {"bad-ihdr-crc.png", notPng},
        {"bad-idat-crc.png", notPng},
        {"bad-zlib.png", notPng},
        {"bad-no-idat.png", notPng},
        {"bad-no-plte.png", notPng},
        {"bad-long-plte.png", notPng},
        {"bad-empty-plte.png", notPng},
        {"bad-depth-16.png", notPng},
        {"bad-too-wide.png", notPng},
        {"bad-too-high.png", notPng},
        {"bad-interlaced-past-the-cap.png", tooBig},
        {"bad-past-the-cap.png 0 /dev/null", tooBig},
        {"bad-cut-in-signature.png", cut},
        {"bad-cut-in-idat.png", cut},
        {"bad-cut-before-iend.png", cut},
        {"bad-no-iend-after-text.png", cut},
        {"bad-plte-after-idat.png", notPng},
        {"bad-ihdr-after-idat.png", notPng},
        {"bad-critical-after-idat.png", notPng},
        {"bad-idat-after-text.png", notPng},
        {"good-pillow-11.png 12", "Il numero di colori non e' adatto per quest'immagine"},
        // Streamed to a regular file, it is read until its image data runs out.
        {"bad-past-the-cap.png", notPng},
    };
    ASSERT_EQ(named("bad-").size(), cases.size() - 2);
    const std::string out = dir.file("out.daz");
    for (const auto& [what, message] : cases) {
        std::istringstream words(what);
        std::string name;
        std::string count = "0";
        std::string destination = out;
        words >> name >> count >> destination;
        writeFile(out, {'o', 'l', 'd'});
        const RunResult run =
            runProgram({ORVX_PNGDAZ, PngTest::cases->file(name), destination, count});
        EXPECT_EQ(run.status, 255) << name;
        EXPECT_EQ(run.out, message + " - Operazione non riuscita\n\n" + USAGE) << name;
        EXPECT_EQ(readFile(out), (Bytes{'o', 'l', 'd'})) << name;
        EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"out.daz"}) << name;
    }
    EXPECT_EQ(runProgram({ORVX_PNGDAZ, out}).out, USAGE);
    const RunResult noRows = runProgram({ORVX_DAZPNG, ORVX_SOURCE_DIR "/samples/sample8.bmp", out});
    EXPECT_EQ(noRows.out, "Il file non sembra un'immagine daz - Operazione non riuscita\n\n");
    EXPECT_EQ(runProgram({ORVX_DAZPNG, out}).out, "Uso: dazpng immagine.daz destinazione.png\n\n");
}

namespace {

// Peak memory of a run, in KiB.
long peakKiB(const std::vector<std::string>& argv) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    EXPECT_EQ(wait4(pid, &status, 0, &usage), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << argv[0];
    return usage.ru_maxrss;
}

} // namespace

// A 256 MiB image goes both ways in little more memory than a small one.
TEST_F(PngTest, LargeImagesStreamInBoundedMemory) {
    if (underEmulator()) {
        GTEST_SKIP() << "the emulator's own memory would be measured";
    }
    const std::string small = dir.file("small.daz");
    const std::string large = dir.file("large.daz");
    ASSERT_GE(convertBmpToDaz(ORVX_SOURCE_DIR "/samples/sample8.bmp", small.c_str(), 0, 0x0102), 0);
    Bytes daz = readFile(small);
    putU16(daz, 4, 16384);
    putU16(daz, 6, 16384);
    daz.resize(24 + 4 * 256);
    writeFile(large, daz);
    std::filesystem::resize_file(large, daz.size() + (std::uintmax_t{256} << 20U)); // sparse
    const long smallOut = peakKiB({ORVX_DAZPNG, small, dir.file("small.png")});
    const long largeOut = peakKiB({ORVX_DAZPNG, large, dir.file("large.png")});
    const long smallIn = peakKiB({ORVX_PNGDAZ, dir.file("small.png"), dir.file("s.daz")});
    const long largeIn = peakKiB({ORVX_PNGDAZ, dir.file("large.png"), dir.file("l.daz")});
    EXPECT_LT(largeOut, smallOut + 8 * 1024) << "KiB, against " << smallOut << " KiB";
    EXPECT_LT(largeIn, smallIn + 8 * 1024) << "KiB, against " << smallIn << " KiB";
    EXPECT_EQ(std::filesystem::file_size(dir.file("l.daz")), std::filesystem::file_size(large));
}

// Every test PNG, good or bad, and every saved hostile one, with several
// counts and keys: daz_convert in memory and daz_convert_file give the file,
// the count and the code that pngdaz gives, or, for a file that doesn't
// start as a PNG, what its own format's command gives.
TEST_F(PngTest, FromMemoryGivesWhatPngdazWrites) {
    std::vector<std::string> paths;
    for (const std::string& name : named("")) {
        paths.push_back(cases->file(name));
    }
    for (const auto& entry :
         std::filesystem::directory_iterator(ORVX_SOURCE_DIR "/fuzz/regressions/pngdaz")) {
        paths.push_back(entry.path());
    }
    ASSERT_GE(paths.size(), 40U);
    int converted = 0;
    for (const std::string& path : paths) {
        const Bytes png = readFile(path);
        for (const auto& [colors, key] :
             {std::pair{0, 0x1F2E}, std::pair{2, 0xFFFF}, std::pair{300, 1}}) {
            const auto k = static_cast<std::uint16_t>(key);
            const Outcome file = throughCommand(png, path, colors, k);
            EXPECT_EQ(inMemory(png, colors, k), file) << path << " " << colors;
            EXPECT_EQ(throughFile(convertFileUnlimited, path, colors, k), file) << path;
            converted += file.error == DAZ_OK ? 1 : 0;
        }
    }
    EXPECT_GE(converted, 20);
}
