#include "cli/commands.h"
#include "support.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

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
