#include "cli/commands.h"
#include "daz/daz.h"
#include "support.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>

using namespace orvx;

namespace {

const std::string BANNER = "Operazione riuscita\n\n";

std::string errorLine(const std::string& message) {
    return message + " - Operazione non riuscita\n\n";
}

// Copies a shipped sample into dir: some cases name the input as the output
// too, and a broken guard must not get to overwrite the checked-in file.
std::string copySample(const TempDir& dir, const std::string& name) {
    std::filesystem::copy_file(std::string(ORVX_SOURCE_DIR) + "/samples/" + name, dir.file(name));
    return dir.file(name);
}

class CliTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string bmp8 = copySample(dir, "sample8.bmp");
    std::string bmp4 = copySample(dir, "sample4.bmp");
    std::string daz = dir.file("out.daz");

    void expectRun(const std::vector<std::string>& args, int status, const std::string& out) {
        const RunResult run = runOrvxBinary(args);
        EXPECT_EQ(run.status, status);
        EXPECT_EQ(run.out, out);
        EXPECT_EQ(run.err, "");
    }
};

} // namespace

TEST(ParseColorCount, ReadsAsPercentHdWithoutWrapping) {
    struct Case {
        const char* text;
        int value;
    };
    for (const Case& c :
         {Case{"12", 12}, Case{"  +7", 7}, Case{"-3", -3}, Case{"200abc", 200}, Case{"0x10", 0},
          Case{"abc", 0}, Case{"", 0}, Case{"-", 0}, Case{"\t 256", 256}, Case{"32767", 32767},
          Case{"-32768", -32768}, Case{"65536", 65536}, Case{"65537", 65537},
          Case{"99999999999999999999", INT_MAX}, Case{"-99999999999999999999", INT_MIN}}) {
        EXPECT_EQ(parseColorCount(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(ParseKey, ReadsAsPercentHx) {
    EXPECT_EQ(parseKey("1f2e"), 0x1F2E);
    EXPECT_EQ(parseKey("0xBEEF"), 0xBEEF);
    EXPECT_EQ(parseKey("zz"), 0);
    EXPECT_EQ(parseKey("12345"), 0x2345); // the low 16 bits
}

TEST_F(CliTest, WrongCommandLinesPrintUsage) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"-c"},
                                               {"-r"},
                                               {"-x", "a", "b"},
                                               {"-c", "a"},
                                               {"-r", daz, "x"},
                                               {"-cc", bmp8, daz},
                                               {"-rr", daz},
                                               {"c", bmp8, daz},
                                               {"-c", bmp8, daz, "1", "2", "3"}}) {
        expectRun(args, 255, usageText());
    }
    EXPECT_FALSE(fileExists(daz));
}

TEST_F(CliTest, ConvertsAndReadsBackInAnyCase) {
    expectRun({"-C", bmp8, daz, "256", "1f2e"}, 0, BANNER);
    expectRun({"-R", daz}, 0, "Il numero di colori e':256\nLa chiave in Hex e': 1F2E\n\n" + BANNER);
    expectRun({"-c", bmp4, daz}, 0, BANNER);
    expectRun({"-r", daz}, 0, "Il numero di colori e':16\nLa chiave in Hex e': 0\n\n" + BANNER);
    expectRun({"-c", bmp4, daz, "junk", "junk"}, 0, BANNER);
    expectRun({"-r", daz}, 0, "Il numero di colori e':16\nLa chiave in Hex e': 0\n\n" + BANNER);
    expectRun({"-c", bmp8, daz, "300abc"}, 255,
              errorLine("Il numero di colori non e' adatto per quest'immagine") + usageText());
}

TEST_F(CliTest, ReportsUndefinedPixels) {
    // sample4 uses all 16 indices; count them past 9 by hand.
    const Bytes bmp = readFile(bmp4);
    long long expected = 0;
    for (std::size_t i = 118; i < bmp.size(); ++i) {
        expected += (bmp[i] & 0x0F) >= 9;
        expected += (bmp[i] >> 4) >= 9;
    }
    ASSERT_GT(expected, 0);
    expectRun({"-c", bmp4, daz, "9", "ab"}, 0,
              "Nell'immagine ci sono " + std::to_string(expected) + " pixel non definiti\n\n" +
                  BANNER);
    expectRun({"-r", daz}, 0, "Il numero di colori e':9\nLa chiave in Hex e': AB\n\n" + BANNER);
}

TEST_F(CliTest, ConversionErrorsPrintTheirLineAndUsage) {
    writeFile(dir.file("text.bmp"), {'h', 'e', 'l', 'l', 'o'});
    Bytes rgb24 = makeBmp(4, 1, 8, Bytes(12, 0));
    rgb24[28] = 24;
    writeFile(dir.file("rgb24.bmp"), rgb24);
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases{
        {{"-c", dir.file("none.bmp"), daz}, "Impossibile aprire il file"},
        {{"-c", dir.file("text.bmp"), daz}, "Il file non sembra un BMP valido"},
        {{"-c", dir.file("rgb24.bmp"), daz}, "Puoi convertire solo BMP a 16 o 256 colori"},
        {{"-c", bmp4, daz, "17"}, "Il numero di colori non e' adatto per quest'immagine"},
        {{"-c", bmp8, daz, "-1"}, "Il numero di colori non e' adatto per quest'immagine"},
        {{"-c", bmp8, daz, "65537"}, "Il numero di colori non e' adatto per quest'immagine"},
        {{"-c", bmp8, bmp8}, "Impossibile creare il file"},
        {{"-c", bmp8, dir.path}, "Impossibile creare il file"},
        {{"-c", bmp8, dir.file("missing/out.daz")}, "Impossibile creare il file"},
        {{"-c", dir.path, daz}, "Errore di lettura"},
        {{"-c", bmp8, "/dev/full"}, "Errore di scrittura"},
    };
    const Bytes sample = readFile(bmp8);
    for (const Case& c : cases) {
        expectRun(c.args, 255, errorLine(c.message) + usageText());
        EXPECT_FALSE(fileExists(daz));
    }
    EXPECT_EQ(readFile(bmp8), sample);
}

// imgdaz keeps the indices of any palette image, as orvx -c does a
// bitmap's: each source's daz file equals orvx -c's of the canonical bitmap
// (for a bitmap, of itself); a failure prints its line and the usage text.
TEST_F(CliTest, ImgdazConvertsEveryPaletteFormat) {
    const std::string usage = "Uso: imgdaz origine destinazione [colore] [chiave]\n"
                              " origine  un'immagine con tavolozza (BMP, PNG, GIF, TIFF, ...)\n\n";
    writeFile(dir.file("text.txt"), {'h', 'e', 'l', 'l', 'o'});
    ASSERT_EQ(runProgram({ORVX_RGBDAZ, bmp8, dir.file("photo.daz"), "255"}).status, 0);
    struct Case {
        std::vector<std::string> args; // after imgdaz
        std::string bitmap;            // the canonical bitmap; empty: a failure
        std::string out;
    };
    const std::string undefined = "Nell'immagine ci sono 1437 pixel non definiti\n\n";
    const std::vector<Case> cases{
        {{bmp8, daz, "200", "1f2e"}, bmp8, undefined + BANNER},
        {{bmp4, daz}, bmp4, BANNER},
        {{dir.file("text.txt"), daz},
         "",
         errorLine("Il file non e' un'immagine di un formato conosciuto") + usage},
        {{dir.file("photo.daz"), daz},
         "",
         errorLine("Il file non e' un'immagine di un formato conosciuto") + usage},
        {{dir.file("none.gif"), daz}, "", errorLine("Impossibile aprire il file") + usage},
        {{bmp8, daz, "300"},
         "",
         errorLine("Il numero di colori non e' adatto per quest'immagine") + usage},
        {{bmp8}, "", usage},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(daz);
        std::vector<std::string> argv{ORVX_IMGDAZ};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const RunResult run = runProgram(argv);
        EXPECT_EQ(run.out, c.out) << c.args[0];
        EXPECT_EQ(run.status, c.bitmap.empty() ? 255 : 0) << c.args[0];
        if (c.bitmap.empty()) {
            EXPECT_FALSE(fileExists(daz)) << c.args[0];
            continue;
        }
        std::vector<std::string> orvx{"-c", c.bitmap, dir.file("expected.daz")};
        orvx.insert(orvx.end(), c.args.begin() + 2, c.args.end());
        ASSERT_EQ(runOrvxBinary(orvx).status, 0);
        EXPECT_EQ(readFile(daz), readFile(dir.file("expected.daz"))) << c.args[0];
    }
}

TEST_F(CliTest, InspectionOfOtherFiles) {
    writeFile(dir.file("13"), Bytes(13, 'E'));
    Bytes fourteen{'E', 'W', 1, 0, 0, 0, 0, 0, 8, 0, 0xFF, 0xFF, 0x34, 0x00};
    writeFile(dir.file("14"), fourteen);
    expectRun({"-r", dir.file("13")}, 255,
              "Impossibile leggere la chiave dal file - Operazione non riuscita\n\n" + usageText());
    expectRun({"-r", dir.file("none")}, 255,
              "Impossibile aprire il file - Operazione non riuscita\n\n" + usageText());
    expectRun({"-r", dir.path}, 255,
              "Impossibile leggere la chiave dal file - Operazione non riuscita\n\n" + usageText());
    expectRun({"-r", dir.file("14")}, 0,
              "Il numero di colori e':-1\nLa chiave in Hex e': 34\n\n" + BANNER);
    // A bitmap: bytes 10..13 of sample8 are bfOffBits, 1078 = 0x00000436.
    expectRun({"-r", bmp8}, 0,
              "Il file non sembra un'immagine daz, comunque:\nIl numero di colori e':1078\n"
              "La chiave in Hex e': 0\n\n" +
                  BANNER);
}

namespace {

const std::string RGBDAZ_USAGE =
    "Uso: rgbdaz [-d] [-p tavolozza] [-t indice] [-s rrggbb] origine destinazione [colori] "
    "[chiave]\n"
    " origine      un'immagine PNG, BMP, PGM o daz\n"
    " colori       quanti colori al massimo (2..256, predefinito 256); con -p, quanti\n"
    "              colori della tavolozza (predefinito tutti)\n"
    " chiave       la chiave in esadecimale\n"
    " -d           retinatura (diffusione dell'errore)\n"
    " -p tavolozza usa la tavolozza di un'immagine daz, BMP o PNG\n"
    " -t indice    l'indice dei pixel trasparenti\n"
    " -s rrggbb    il colore di sfondo dei pixel trasparenti (predefinito 000000)\n\n";

// The RGBA a daz file shows, top row first.
Bytes dazRgba(const Bytes& daz) {
    daz_info info;
    if (daz_inspect(daz.data(), daz.size(), &info) != DAZ_OK) {
        return {};
    }
    Bytes rgba(std::size_t{4} * info.width * info.rows);
    return daz_decode_rgba(daz.data(), daz.size(), nullptr, nullptr, rgba.data(), rgba.size()) ==
                   DAZ_OK
               ? rgba
               : Bytes{};
}

class RgbdazTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string out = dir.file("out.daz");
    std::vector<std::uint32_t> gradient;
    std::vector<std::uint32_t> few{0xFF102030, 0xFFFFFFFF, 0xFF000000,
                                   0xFF102030, 0xFF808000, 0xFF000000};
    std::vector<std::uint32_t> halfClear;

    void SetUp() override {
        for (std::uint32_t y = 0; y < 24; ++y) {
            for (std::uint32_t x = 0; x < 32; ++x) {
                gradient.push_back(0xFF000000U | x * 8 << 16U | y * 10 << 8U | (x + y) * 4);
                halfClear.push_back(x % 2 == 0 ? 0x00123456U : 0xFF000000U | y * 10 << 8U);
            }
        }
        writeFile(dir.file("gradient.bmp"), argbBmp(32, 24, gradient));
        writeFile(dir.file("few.bmp"), argbBmp(3, 2, few));
        writeFile(dir.file("clear.bmp"), argbBmp(32, 24, halfClear));
        writeFile(dir.file("palette.daz"), dazFile(4, 2, 8, 7, 0, Bytes(8, 1)));
        const Bytes daz = readFile(dir.file("palette.daz"));
        Bytes png(4096);
        size_t size = 0;
        ASSERT_EQ(daz_export(daz.data(), daz.size(), nullptr, DAZ_FORMAT_PNG, png.data(),
                             png.size(), &size),
                  DAZ_OK);
        png.resize(size);
        writeFile(dir.file("palette.png"), png);
        std::filesystem::copy_file(std::string(ORVX_SOURCE_DIR) + "/samples/sample4.bmp",
                                   dir.file("sample4.bmp"));
        std::vector<std::uint32_t> many;
        for (std::uint32_t i = 0; i < 300; ++i) {
            many.push_back(0xFF000000U | i * 0x010203U);
        }
        writeFile(dir.file("many.bmp"), argbBmp(20, 15, many));
        writeFile(dir.file("text.png"), {'h', 'e', 'l', 'l', 'o'});
        Bytes cut = argbBmp(32, 24, gradient);
        cut.resize(cut.size() / 2);
        writeFile(dir.file("cut.bmp"), cut);
        Bytes deep = argbBmp(3, 2, few);
        putU16(deep, 28, 64);
        writeFile(dir.file("deep.bmp"), deep);
    }

    // The arguments with @NAME for the file NAME in the folder, @out the
    // output.
    RunResult run(const std::vector<std::string>& args) {
        std::vector<std::string> argv{ORVX_RGBDAZ};
        for (const std::string& arg : args) {
            argv.push_back(arg == "@out" ? out : arg[0] == '@' ? dir.file(arg.substr(1)) : arg);
        }
        return runProgram(argv);
    }

    // The stored palette of the daz file at path: colors entries of 4 bytes.
    static Bytes paletteOf(const std::string& path) {
        const Bytes daz = readFile(path);
        daz_info info;
        if (daz_inspect(daz.data(), daz.size(), &info) != DAZ_OK) {
            return {};
        }
        return Bytes(info.palette, info.palette + 4 * info.colors);
    }
};

} // namespace

TEST_F(RgbdazTest, ReducesAndMapsAnyImage) {
    const Bytes sample4 = readFile(dir.file("sample4.bmp"));
    Bytes bmpPalette;
    for (std::size_t i = 0; i < 16; ++i) {
        bmpPalette.insert(bmpPalette.end(), {sample4[54 + 4 * i + 2], sample4[54 + 4 * i + 1],
                                             sample4[54 + 4 * i], 0});
    }
    const Bytes dazPalette = paletteOf(dir.file("palette.daz"));
    Bytes pngPalette = dazPalette;
    for (std::size_t i = 3; i < pngPalette.size(); i += 4) {
        pngPalette[i] = 0;
    }
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"reduced to 16 colours, with a key",
         {"@gradient.bmp", "@out", "16", "1f2e"},
         [&] {
             daz_info info;
             const Bytes daz = readFile(out);
             ASSERT_EQ(daz_inspect(daz.data(), daz.size(), &info), DAZ_OK);
             EXPECT_EQ(info.bits, 4);
             EXPECT_LE(info.colors, 16);
             EXPECT_EQ(info.key, 0x1F2E);
             EXPECT_EQ(info.height, 24);
         }},
        {"few colours kept exactly",
         {"@few.bmp", "@out"},
         [&] {
             EXPECT_EQ(dazRgba(readFile(out)), rgbaOf(few));
             EXPECT_EQ(paletteOf(out).size(), 4U * 4);
         }},
        {"a daz image read and kept",
         {"@palette.daz", "@out", "0", "0"},
         [&] { EXPECT_EQ(dazRgba(readFile(out)), dazRgba(readFile(dir.file("palette.daz")))); }},
        {"mapped onto a daz palette",
         {"-p", "@palette.daz", "@gradient.bmp", "@out"},
         [&] { EXPECT_EQ(paletteOf(out), dazPalette); }},
        {"mapped onto a bitmap's palette",
         {"-p", "@sample4.bmp", "@gradient.bmp", "@out"},
         [&] { EXPECT_EQ(paletteOf(out), bmpPalette); }},
        {"mapped onto a PNG's palette",
         {"-p", "@palette.png", "@gradient.bmp", "@out"},
         [&] { EXPECT_EQ(paletteOf(out), pngPalette); }},
        {"onto a palette's first 5 entries",
         {"-p", "@palette.daz", "@gradient.bmp", "@out", "5"},
         [&] { EXPECT_EQ(paletteOf(out), Bytes(dazPalette.begin(), dazPalette.begin() + 20)); }},
        {"clear pixels take index 3",
         {"-t", "3", "@clear.bmp", "@out", "8"},
         [&] {
             const Bytes daz = readFile(out);
             Bytes indices(32 * 24);
             ASSERT_EQ(daz_decode(daz.data(), daz.size(), nullptr, nullptr, nullptr, indices.data(),
                                  indices.size()),
                       DAZ_OK);
             for (std::size_t i = 0; i < indices.size(); ++i) {
                 ASSERT_EQ(indices[i] == 3, halfClear[i] >> 24U == 0) << "pixel " << i;
             }
         }},
        {"clear pixels over the background",
         {"-s", "FF8000", "@clear.bmp", "@out"},
         [&] {
             const Bytes rgba = dazRgba(readFile(out));
             ASSERT_EQ(rgba.size(), 4U * 32 * 24);
             for (std::size_t i = 0; i < halfClear.size(); i += 2) {
                 ASSERT_EQ(Bytes(rgba.begin() + 4 * i, rgba.begin() + 4 * i + 4),
                           (Bytes{0xFF, 0x80, 0x00, 0xFF}))
                     << "pixel " << i;
             }
         }},
        {"dithered",
         {"-d", "@gradient.bmp", "@out", "4"},
         [&] {
             ASSERT_EQ(run({"@gradient.bmp", "@plain.daz", "4"}).status, 0);
             EXPECT_EQ(paletteOf(out).size(), 16U);
             EXPECT_NE(readFile(out), readFile(dir.file("plain.daz")));
         }},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(out);
        const RunResult result = run(c.args);
        EXPECT_EQ(result.status, 0) << c.name;
        EXPECT_EQ(result.out, BANNER) << c.name;
        EXPECT_EQ(result.err, "") << c.name;
        c.check();
    }
}

TEST_F(RgbdazTest, FailuresPrintTheirLineAndLeaveNoFile) {
    const std::vector<std::vector<std::string>> usageOnly{
        {},
        {"@gradient.bmp"},
        {"-x", "@gradient.bmp", "@out"},
        {"-p"},
        {"-t", "3"},
        {"-d", "-d", "@gradient.bmp", "@out"},
        {"-p", "@palette.daz", "-p", "@palette.daz", "@gradient.bmp", "@out"},
        {"@gradient.bmp", "@out", "16", "1f", "extra"},
    };
    for (const std::vector<std::string>& args : usageOnly) {
        const RunResult result = run(args);
        EXPECT_EQ(result.status, 255);
        EXPECT_EQ(result.out, RGBDAZ_USAGE) << args.size() << " arguments";
    }
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const std::string colours = "Il numero di colori non e' adatto per quest'immagine";
    const std::string index = "L'indice trasparente non e' adatto per questa tavolozza";
    const std::string background = "Il colore di sfondo non e' valido";
    const Case cases[] = {
        {{"@none.png", "@out"}, errorLine("Impossibile aprire il file")},
        {{"@text.png", "@out"}, errorLine("Il file non sembra un'immagine PNG, BMP, PGM o daz")},
        {{"@cut.bmp", "@out"}, errorLine("Errore di lettura")},
        {{"@deep.bmp", "@out"}, errorLine("Il BMP non ha 1, 2, 4, 8, 16, 24 o 32 bit per pixel")},
        {{"@gradient.bmp", "@out", "1"}, errorLine(colours)},
        {{"@gradient.bmp", "@out", "257"}, errorLine(colours)},
        {{"-p", "@palette.daz", "@gradient.bmp", "@out", "8"}, errorLine(colours)},
        {{"-t", "300", "@gradient.bmp", "@out"}, errorLine(index)},
        {{"-t", "x", "@gradient.bmp", "@out"}, errorLine(index)},
        {{"-t", "8", "@gradient.bmp", "@out", "8"}, errorLine(index)},
        {{"-t", "7", "-p", "@palette.daz", "@gradient.bmp", "@out"}, errorLine(index)},
        {{"-s", "12345", "@gradient.bmp", "@out"}, errorLine(background)},
        {{"-s", "gg0000", "@gradient.bmp", "@out"}, errorLine(background)},
        {{"-p", "@none.daz", "@gradient.bmp", "@out"},
         "Tavolozza: Impossibile aprire il file - Operazione non riuscita\n\n"},
        {{"-p", "@many.bmp", "@gradient.bmp", "@out"},
         "Tavolozza: L'immagine ha piu' di 256 colori e nessuna tavolozza - Operazione non "
         "riuscita\n\n"},
        {{"@gradient.bmp", "@gradient.bmp"}, errorLine("Impossibile creare il file")},
        {{"@gradient.bmp", "/dev/full"}, errorLine("Errore di scrittura")},
    };
    const Bytes source = readFile(dir.file("gradient.bmp"));
    const std::vector<std::string> before = folderEntries(dir.path);
    for (const Case& c : cases) {
        const RunResult result = run(c.args);
        EXPECT_EQ(result.status, 255) << c.line;
        EXPECT_EQ(result.out, c.line + RGBDAZ_USAGE);
        EXPECT_EQ(result.err, "");
    }
    EXPECT_EQ(folderEntries(dir.path), before);
    EXPECT_EQ(readFile(dir.file("gradient.bmp")), source);
}
