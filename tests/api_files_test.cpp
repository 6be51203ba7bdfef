// The library's calls on bitmaps in memory and on files: the same bytes, the
// same counts and the codes the commands give.
#include "api_support.h"
#include "convert/bmp/bmp_export.h"
#include "convert/bmp_to_daz.h"
#include "convert/png/png_export.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string SOURCE = ORVX_SOURCE_DIR;
const std::string SUITE = ORVX_BMPSUITE;

using namespace orvx;

// daz_export's and daz_export_file's outputs, and the commands' conversions
// back.
struct Export {
    int format;
    int (*command)(const char*, const char*, const PlanCheck*);
};
constexpr Export EXPORTS[] = {{DAZ_FORMAT_BMP, convertDazToBmp}, {DAZ_FORMAT_PNG, convertDazToPng}};

int exportInMemory(int format, const Bytes& daz, void* out, size_t capacity, size_t* written) {
    return daz_export(daz.data(), daz.size(), nullptr, format, out, capacity, written);
}

std::vector<std::string> inputs() {
    std::vector<std::string> paths{SOURCE + "/samples/sample4.bmp",
                                   SOURCE + "/samples/sample8.bmp"};
    for (const auto& entry :
         std::filesystem::directory_iterator(SOURCE + "/fuzz/regressions/convert")) {
        paths.push_back(entry.path());
    }
    for (const char* folder : {"/g", "/q", "/b"}) {
        for (const auto& entry : std::filesystem::directory_iterator(SUITE + folder)) {
            paths.push_back(entry.path());
        }
    }
    return paths;
}

// A binary PGM: its header as text, then the samples and what follows them.
Bytes pgmFile(const std::string& header, const Bytes& samples, const Bytes& after = {}) {
    Bytes file(header.begin(), header.end());
    file.insert(file.end(), samples.begin(), samples.end());
    file.insert(file.end(), after.begin(), after.end());
    return file;
}

// width x height samples of 0..maxval.
Bytes pgmSamples(std::uint32_t width, std::uint32_t height, std::uint32_t maxval) {
    Bytes samples(std::size_t{width} * height);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::uint8_t>((i % width * 7 + i / width * 13) % (maxval + 1));
    }
    return samples;
}

// The samples netpbm reads from the file (pamtable), none when it refuses it.
std::optional<Bytes> netpbmSamples(const std::string& path) {
    const RunResult table = runProgram({"pamtable", path});
    std::istringstream text(table.out);
    Bytes samples;
    for (unsigned value = 0; text >> value;) {
        samples.push_back(static_cast<std::uint8_t>(value));
    }
    return table.status == 0 ? std::optional{samples} : std::nullopt;
}

// What daz_encode writes for a PGM's samples: 8 bits, maxval + 1 greys,
// rows bottom-up; DAZ_ERR_COLORS for more colours than that.
Outcome encodedPgm(const Bytes& samples, std::uint32_t width, std::uint32_t maxval, int colors,
                   std::uint16_t key) {
    Outcome outcome{DAZ_ERR_COLORS, {}, 0};
    Bytes palette;
    for (std::uint32_t i = 0; i <= maxval; ++i) {
        const auto grey = static_cast<std::uint8_t>(std::lround(i * 255.0 / maxval));
        palette.insert(palette.end(), {grey, grey, grey, 0});
    }
    const auto height = static_cast<std::int32_t>(samples.size() / width);
    size_t size = 0;
    if (colors <= static_cast<int>(maxval + 1) &&
        daz_encoded_size(width, height, 8, static_cast<int>(maxval + 1), colors, &size) == DAZ_OK) {
        outcome.daz.resize(size);
        outcome.error = daz_encode(samples.data(), width, width, height, 8, palette.data(),
                                   static_cast<int>(maxval + 1), colors, key, outcome.daz.data(),
                                   size, &size, &outcome.undefined);
    }
    return outcome;
}

} // namespace

// A binary PGM, an input no command reads: daz_convert and daz_convert_file
// give what daz_encode writes for its samples (as netpbm reads them, when it
// does) with maxval + 1 greys, whatever its header's whitespace and
// comments, its size against the reader's pieces and blocks, and what
// follows its raster.
TEST(ApiFiles, PgmGivesWhatDazEncodeWritesForItsSamples) {
    TempDir dir;
    const RunResult ramp = runProgram({"pgmramp", "-lr", "70", "9"});
    writeFile(dir.file("ramp.pgm"), Bytes(ramp.out.begin(), ramp.out.end()));
    const RunResult deep = runProgram({"pnmdepth", "100", dir.file("ramp.pgm")});
    ASSERT_GT(deep.out.size(), 630U) << deep.err;
    const std::string madeHeader(deep.out.begin(), deep.out.end() - 630); // netpbm's own file
    const Bytes madeSamples(deep.out.end() - 630, deep.out.end());
    const Bytes past{0, 1, 2, 3, 4, 9, 255, 3}; // past maxval: netpbm refuses them
    struct Case {
        std::string header;
        std::uint32_t width, height, maxval;
        Bytes samples; // empty: pgmSamples's
        Bytes after{};
    } cases[] = {
        {"P5 5 3 255\n", 5, 3, 255, {}},
        {"P5#by hand\r4\t# width\n3\r\n 15#maxval\n", 4, 3, 15, {}},
        {"P5 #" + std::string(9000, '=') + "\n9 4 31\n", 9, 4, 31, {}}, // pieces of 4 KiB
        {"P5 6 2 1 ", 6, 2, 1, {}},
        {"P5\n1000 203\n200\n", 1000, 203, 200, {}}, // blocks of 65 rows
        {"P5 65535 2 255\n", 65535, 2, 255, {}},
        {"P5 3 3 7\n", 3, 3, 7, {}, pgmFile("P5 1 1 255\n", {9})}, // an image after it
        {"P5 4 2 3\n", 4, 2, 3, past},
        {madeHeader, 70, 9, 100, madeSamples},
    };
    for (Case& c : cases) {
        const std::string path = dir.file("in.pgm");
        if (c.samples.empty()) {
            c.samples = pgmSamples(c.width, c.height, c.maxval);
        }
        const Bytes file = pgmFile(c.header, c.samples, c.after);
        writeFile(path, file);
        const std::optional<Bytes> netpbm = netpbmSamples(path);
        EXPECT_EQ(daz_guess_format(file.data(), file.size()), DAZ_FORMAT_PGM) << c.header;
        EXPECT_EQ(netpbm.has_value(), c.samples != past) << c.header;
        EXPECT_EQ(netpbm.value_or(c.samples), c.samples) << c.header;
        const int most = static_cast<int>(c.maxval) + 1;
        for (const auto& [colors, key] :
             {std::pair{0, 0}, std::pair{1, 0x1F2E}, std::pair{std::min(12, most), 0xBEEF},
              std::pair{most + 1, 7}}) {
            const auto k = static_cast<std::uint16_t>(key);
            const Outcome expected = encodedPgm(c.samples, c.width, c.maxval, colors, k);
            EXPECT_EQ(inMemory(file, colors, k), expected) << c.header << " " << colors;
            EXPECT_EQ(throughFile(convertFileUnlimited, path, colors, k), expected) << c.header;
        }
    }
    EXPECT_STREQ(daz_format_name(DAZ_FORMAT_PGM), "PGM");
}

// PGM headers that are not a PGM this library reads, or that claim more than
// the file holds, and starts the library tells from a PGM's: refused with
// their code before anything is written, in memory (a size query too) and
// file to file.
TEST(ApiFiles, HostilePgmsAreRefusedWritingNothing) {
    TempDir dir;
    const std::pair<std::string, int> cases[] = {
        {"P5 0 2 255\n", DAZ_ERR_NOT_PGM},
        {"P5 65536 1 255\n", DAZ_ERR_NOT_PGM},
        {"P5 18446744073709551620 1 255\n", DAZ_ERR_NOT_PGM},
        {"P5 4 0 255\n", DAZ_ERR_NOT_PGM},
        {"P5 4 32768 255\n", DAZ_ERR_NOT_PGM}, // bottom-up, 32767 rows at most
        {"P5 4 -2 255\n", DAZ_ERR_NOT_PGM},
        {"P5 4 2 0\n", DAZ_ERR_NOT_PGM},
        {"P5 4 2 256\n" + std::string(16, '\1'), DAZ_ERR_NOT_PGM}, // two bytes a sample
        {"P5 4 2 25x\n", DAZ_ERR_NOT_PGM},
        {"P5 4 2\n", DAZ_ERR_READ},
        {"P5 4 2 255", DAZ_ERR_READ},
        {"P5 4 2 # to the end", DAZ_ERR_READ},
        {"P5 4 2 255\n\x01\x02\x03\x04\x05\x06\x07", DAZ_ERR_READ}, // a sample short
        {"P5 200 300 255\n" + std::string(4000, 'a'), DAZ_ERR_READ},
        {"P53 2 255\n123456", DAZ_ERR_FORMAT},       // whitespace first
        {"P5\f3 2 255\n123456", DAZ_ERR_FORMAT},     // not whitespace to netpbm
        {"P2 3 2 255\n1 2 3 4 5 6", DAZ_ERR_FORMAT}, // plain PGM
    };
    for (const auto& [text, code] : cases) {
        const Bytes pgm(text.begin(), text.end());
        size_t asked = 12345;
        EXPECT_EQ(daz_convert(pgm.data(), pgm.size(), nullptr, 0, 1, nullptr, 0, &asked, nullptr),
                  code)
            << text;
        Bytes out(65536, 0xA5); // room for any of them
        size_t written = 12345;
        EXPECT_EQ(daz_convert(pgm.data(), pgm.size(), nullptr, 0, 1, out.data(), out.size(),
                              &written, nullptr),
                  code)
            << text;
        EXPECT_EQ(asked, 12345U) << text;
        EXPECT_EQ(written, 12345U) << text;
        EXPECT_EQ(out, Bytes(65536, 0xA5)) << text;
        writeFile(dir.file("in.pgm"), pgm);
        EXPECT_EQ(daz_convert_file(dir.file("in.pgm").c_str(), dir.file("out.daz").c_str(), nullptr,
                                   0, 1, nullptr),
                  code)
            << text;
        EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"in.pgm"}) << text;
    }
}

// Every sample, saved hostile input and BMP Suite file, with several counts
// and keys: daz_convert and daz_convert_file give the file, the count and
// the code that orvx -c gives, or, for a file that doesn't start as a
// bitmap, what its own format's command gives (DAZ_ERR_FORMAT: none).
TEST(ApiFiles, ConvertGivesWhatTheCommandWrites) {
    int converted = 0;
    for (const std::string& path : inputs()) {
        const Bytes bmp = readFile(path);
        for (const auto& [colors, key] : {std::pair{0, 0}, std::pair{1, 0x1F2E},
                                          std::pair{12, 0xBEEF}, std::pair{200, 0xFFFF}}) {
            const auto k = static_cast<std::uint16_t>(key);
            const Outcome file = throughCommand(bmp, path, colors, k);
            EXPECT_EQ(inMemory(bmp, colors, k), file) << path << " " << colors;
            EXPECT_EQ(throughFile(convertFileUnlimited, path, colors, k), file) << path;
            converted += file.error == DAZ_OK ? 1 : 0;
        }
    }
    EXPECT_GE(converted, 120); // 142 of the 256 runs, most of them on the suite's files
}

TEST(ApiFiles, ShortBufferIsRefusedAndLeftUntouched) {
    const Bytes bmp = readFile(SOURCE + "/samples/sample8.bmp");
    const Bytes pgm = pgmFile("P5 96 64 255\n", pgmSamples(96, 64, 255));
    size_t dazSize = 0;
    ASSERT_EQ(daz_convert(bmp.data(), bmp.size(), nullptr, 0, 7, nullptr, 0, &dazSize, nullptr),
              DAZ_OK);
    Bytes daz(dazSize);
    ASSERT_EQ(
        daz_convert(bmp.data(), bmp.size(), nullptr, 0, 7, daz.data(), dazSize, &dazSize, nullptr),
        DAZ_OK);
    size_t pngSize = 0;
    ASSERT_EQ(exportInMemory(DAZ_FORMAT_PNG, daz, nullptr, 0, &pngSize), DAZ_OK);
    Bytes png(pngSize);
    ASSERT_EQ(exportInMemory(DAZ_FORMAT_PNG, daz, png.data(), pngSize, &pngSize), DAZ_OK);
    // Each call into a buffer a byte short, and others shorter: refused, and
    // not one byte of the buffer written.
    using Call = std::function<int(void*, size_t, size_t*)>;
    const auto convert = [](const Bytes& input) -> Call {
        return [&input](void* out, size_t capacity, size_t* written) {
            return daz_convert(input.data(), input.size(), nullptr, 0, 7, out, capacity, written,
                               nullptr);
        };
    };
    const auto exporting = [&daz](int format) -> Call {
        return [&daz, format](void* out, size_t capacity, size_t* written) {
            return exportInMemory(format, daz, out, capacity, written);
        };
    };
    const std::pair<const char*, Call> calls[] = {
        {"daz_export to BMP", exporting(DAZ_FORMAT_BMP)},
        {"daz_export to PNG", exporting(DAZ_FORMAT_PNG)},
        {"daz_convert from BMP", convert(bmp)},
        {"daz_convert from PNG", convert(png)},
        {"daz_convert from PGM", convert(pgm)},
    };
    for (const auto& [name, call] : calls) {
        size_t needed = 0;
        ASSERT_EQ(call(nullptr, 0, &needed), DAZ_OK) << name;
        ASSERT_GT(needed, 1024U) << name;
        for (const size_t capacity : {size_t{0}, size_t{23}, size_t{1000}, needed - 1}) {
            Bytes out(needed + 16, 0xA5);
            size_t written = 12345;
            EXPECT_EQ(call(out.data(), capacity, &written), DAZ_ERR_BUFFER) << name << capacity;
            EXPECT_EQ(written, 12345U) << name;
            EXPECT_EQ(out, Bytes(needed + 16, 0xA5)) << name << ", capacity " << capacity;
        }
    }
    // A PNG whose image data is cut short is found out after the first rows
    // are decoded: the buffer, big enough, is still left as it was.
    const Bytes cut(png.begin(), png.end() - 40);
    Bytes out(2 * dazSize, 0xA5);
    size_t written = 12345;
    EXPECT_LT(convert(cut)(out.data(), out.size(), &written), 0);
    EXPECT_EQ(written, 12345U);
    EXPECT_EQ(out, Bytes(2 * dazSize, 0xA5));
    // The size query gives the size alone, whatever the capacity says.
    size_t needed = 0;
    std::uint64_t undefined = 99;
    ASSERT_EQ(daz_convert(bmp.data(), bmp.size(), nullptr, 0, 7, nullptr, 10, &needed, &undefined),
              DAZ_OK);
    EXPECT_EQ(undefined, 99U);
    EXPECT_EQ(needed, dazSize);
}

// A run-length bitmap of 78 bytes that claims 65535 x 32767 pixels of 8
// bits: 2 GiB of daz file from a handful of runs.
Bytes runLengthClaim() {
    Bytes bmp(78, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    putU32(bmp, 2, 78);
    putU32(bmp, 10, 58);
    putU32(bmp, 14, 40);
    putU32(bmp, 18, 65535);
    putU32(bmp, 22, 32767);
    putU16(bmp, 26, 1);
    putU16(bmp, 28, 8);
    putU32(bmp, 30, 1); // RLE8
    putU32(bmp, 46, 1); // one palette entry
    for (std::size_t at = 58; at < 76; at += 2) {
        bmp[at] = 0xFF; // 255 pixels of index 1
        bmp[at + 1] = 1;
    }
    bmp[77] = 1; // end of bitmap
    return bmp;
}

// Every call that converts, in memory, by size query or into a buffer, and
// file to file, refuses an image past the caller's limits before it writes
// anything: no size past them is ever answered, no byte of a buffer or a
// destination written. (max_bytes bounds what a call fills in memory, not a
// file's output.)
TEST(ApiFiles, PastTheLimitsNothingIsAnsweredOrWritten) {
    TempDir dir;
    const Bytes claim = runLengthClaim();
    writeFile(dir.file("claim.bmp"), claim);
    const std::string bmpPath = SOURCE + "/samples/sample8.bmp"; // 96 x 64
    const Bytes bmp = readFile(bmpPath);
    ASSERT_EQ(daz_convert_file(bmpPath.c_str(), dir.file("s.daz").c_str(), nullptr, 0, 1, nullptr),
              DAZ_OK);
    ASSERT_EQ(daz_export_file(dir.file("s.daz").c_str(), dir.file("s.png").c_str(), nullptr,
                              DAZ_FORMAT_PNG),
              DAZ_OK);
    const Bytes daz = readFile(dir.file("s.daz"));
    const Bytes png = readFile(dir.file("s.png"));
    const Bytes pgm = pgmFile("P5 96 64 255\n", pgmSamples(96, 64, 255));
    writeFile(dir.file("s.pgm"), pgm);
    const Bytes pgmClaim = pgmFile("P5 65535 32767 255\n", {});
    writeFile(dir.file("claim.pgm"), pgmClaim);
    daz_limits defaults;
    daz_default_limits(&defaults);
    const auto with = [&defaults](std::uint32_t width, std::uint32_t height, std::uint64_t pixels,
                                  std::uint64_t bytes) {
        return daz_limits{
            width != 0 ? width : defaults.max_width, height != 0 ? height : defaults.max_height,
            pixels != 0 ? pixels : defaults.max_pixels, bytes != 0 ? bytes : defaults.max_bytes};
    };
    size_t bmpSize = 0;
    ASSERT_EQ(exportInMemory(DAZ_FORMAT_BMP, daz, nullptr, 0, &bmpSize), DAZ_OK);
    enum Call { CONVERT, EXPORT_BMP, EXPORT_PNG };
    struct Case {
        const char* name;
        const Bytes* input;
        std::string path;
        Call call;
        daz_limits limits;
        int expected;
        int byFile = expected;
    };
    const Case cases[] = {
        {"78 bytes claiming 65535 x 32767", &claim, dir.file("claim.bmp"), CONVERT, defaults,
         DAZ_ERR_LIMITS},
        {"a column too wide", &bmp, bmpPath, CONVERT, with(95, 0, 0, 0), DAZ_ERR_LIMITS},
        {"a row too tall", &bmp, bmpPath, CONVERT, with(0, 63, 0, 0), DAZ_ERR_LIMITS},
        {"a pixel too many", &bmp, bmpPath, CONVERT, with(0, 0, 96 * 64 - 1, 0), DAZ_ERR_LIMITS},
        {"a byte too many", &bmp, bmpPath, CONVERT, with(0, 0, 0, daz.size() - 1), DAZ_ERR_LIMITS,
         DAZ_OK},
        {"every limit met", &bmp, bmpPath, CONVERT, with(96, 64, 96 * 64, daz.size()), DAZ_OK},
        {"a PNG a byte too many", &png, dir.file("s.png"), CONVERT, with(0, 0, 0, daz.size() - 1),
         DAZ_ERR_LIMITS, DAZ_OK},
        {"a PNG a row too tall", &png, dir.file("s.png"), CONVERT, with(0, 63, 0, 0),
         DAZ_ERR_LIMITS},
        {"19 bytes of PGM claiming 65535 x 32767", &pgmClaim, dir.file("claim.pgm"), CONVERT,
         defaults, DAZ_ERR_LIMITS},
        {"a PGM a column too wide", &pgm, dir.file("s.pgm"), CONVERT, with(95, 0, 0, 0),
         DAZ_ERR_LIMITS},
        {"a PGM a byte too many", &pgm, dir.file("s.pgm"), CONVERT,
         with(0, 0, 0, 24 + 4 * 256 + 96 * 64 - 1), DAZ_ERR_LIMITS, DAZ_OK},
        {"a PGM within every limit", &pgm, dir.file("s.pgm"), CONVERT,
         with(96, 64, 96 * 64, 24 + 4 * 256 + 96 * 64), DAZ_OK},
        {"to BMP, a byte too many", &daz, dir.file("s.daz"), EXPORT_BMP, with(0, 0, 0, bmpSize - 1),
         DAZ_ERR_LIMITS, DAZ_OK},
        {"to BMP, a column too wide", &daz, dir.file("s.daz"), EXPORT_BMP, with(95, 0, 0, 0),
         DAZ_ERR_LIMITS},
        {"to PNG, a byte too many", &daz, dir.file("s.daz"), EXPORT_PNG,
         with(0, 0, 0, png.size() - 1), DAZ_ERR_LIMITS, DAZ_OK},
        {"to PNG, a pixel too many", &daz, dir.file("s.daz"), EXPORT_PNG,
         with(0, 0, 96 * 64 - 1, 0), DAZ_ERR_LIMITS},
        {"to PNG, every limit met", &daz, dir.file("s.daz"), EXPORT_PNG,
         with(96, 64, 96 * 64, png.size()), DAZ_OK},
    };
    for (const Case& c : cases) {
        const Bytes& in = *c.input;
        const auto memory = [&c, &in](void* out, size_t capacity, size_t* written) {
            const int format = c.call == EXPORT_BMP ? DAZ_FORMAT_BMP : DAZ_FORMAT_PNG;
            return c.call == CONVERT ? daz_convert(in.data(), in.size(), &c.limits, 0, 1, out,
                                                   capacity, written, nullptr)
                                     : daz_export(in.data(), in.size(), &c.limits, format, out,
                                                  capacity, written);
        };
        size_t asked = 12345;
        EXPECT_EQ(memory(nullptr, 0, &asked), c.expected) << c.name << ", size query";
        Bytes out(3 * daz.size() + 4096, 0xA5);
        size_t written = 12345;
        EXPECT_EQ(memory(out.data(), out.size(), &written), c.expected) << c.name;
        const std::string to = dir.file("out");
        const int byFile =
            c.call == CONVERT
                ? daz_convert_file(c.path.c_str(), to.c_str(), &c.limits, 0, 1, nullptr)
                : daz_export_file(c.path.c_str(), to.c_str(), &c.limits,
                                  c.call == EXPORT_BMP ? DAZ_FORMAT_BMP : DAZ_FORMAT_PNG);
        EXPECT_EQ(byFile, c.byFile) << c.name << ", file";
        if (c.expected != DAZ_OK) {
            EXPECT_EQ(asked, 12345U) << c.name;
            EXPECT_EQ(written, 12345U) << c.name;
            EXPECT_EQ(out, Bytes(out.size(), 0xA5)) << c.name;
        }
        EXPECT_EQ(fileExists(to), c.byFile == DAZ_OK) << c.name;
        std::filesystem::remove(to);
    }
}

// daz_export and daz_export_file against dazbmp's and dazpng's conversions,
// on the commands' saved hostile inputs and on daz files of the samples (bottom-up,
// top-down, odd 4-bit widths, bytes past the rows): the same code and bytes.
TEST(ApiFiles, ExportGivesWhatTheCommandsWrite) {
    TempDir dir;
    std::vector<std::string> inputs;
    for (const char* folder : {"/fuzz/regressions/dazbmp", "/fuzz/regressions/dazpng"}) {
        for (const auto& entry : std::filesystem::directory_iterator(SOURCE + folder)) {
            inputs.push_back(entry.path());
        }
    }
    for (const auto& [sample, key] : {std::pair{"sample4", 0}, std::pair{"sample8", 0xBEEF}}) {
        inputs.push_back(dir.file(std::string(sample) + ".daz"));
        ASSERT_EQ(daz_convert_file((SOURCE + "/samples/" + sample + ".bmp").c_str(),
                                   inputs.back().c_str(), nullptr, 0, static_cast<uint16_t>(key),
                                   nullptr),
                  DAZ_OK);
    }
    inputs.push_back(dir.file("top-down-odd.daz"));
    writeFile(inputs.back(), dazFile(9, -3, 4, 16, 0x1F2E, Bytes(3 * 8 + 5, 0x37)));
    int converted = 0;
    for (const std::string& path : inputs) {
        const Bytes daz = readFile(path);
        for (const Export& format : EXPORTS) {
            Outcome file;
            file.error = format.command(path.c_str(), dir.file("out").c_str(), nullptr);
            if (fileExists(dir.file("out"))) {
                file.daz = readFile(dir.file("out"));
                std::filesystem::remove(dir.file("out"));
            }
            Outcome library;
            library.error =
                daz_export_file(path.c_str(), dir.file("out").c_str(), nullptr, format.format);
            if (fileExists(dir.file("out"))) {
                library.daz = readFile(dir.file("out"));
                std::filesystem::remove(dir.file("out"));
            }
            EXPECT_EQ(library, file) << path;
            Outcome memory;
            size_t needed = 0;
            memory.error = exportInMemory(format.format, daz, nullptr, 0, &needed);
            if (memory.error == DAZ_OK) {
                Bytes out(needed + 16, 0xA5);
                size_t written = 0;
                memory.error = exportInMemory(format.format, daz, out.data(), needed, &written);
                EXPECT_EQ(written, needed) << path;
                EXPECT_EQ(Bytes(out.begin() + static_cast<long>(needed), out.end()),
                          Bytes(16, 0xA5))
                    << path;
                out.resize(needed);
                memory.daz = out;
            }
            EXPECT_EQ(memory, file) << path;
            converted += file.error == DAZ_OK ? 1 : 0;
        }
    }
    EXPECT_GE(converted, 8);
}

// The file calls' codes, one of each the commands turn into their texts.
TEST(ApiFiles, FileCallsGiveTheirCodes) {
    TempDir dir;
    writeFile(dir.file("ok.bmp"), makeBmp(4, 2, 8, {1, 2, 3, 4, 5, 6, 7, 8}));
    Bytes depth24 = makeBmp(4, 2, 8, {});
    depth24[28] = 24;
    writeFile(dir.file("24.bmp"), depth24);
    writeFile(dir.file("text"), {'h', 'e', 'l', 'l', 'o'});
    writeFile(dir.file("ok.pgm"), pgmFile("P5 3 2 255\n", {1, 2, 3, 4, 5, 6}));
    ASSERT_EQ(daz_convert_file(dir.file("ok.bmp").c_str(), dir.file("ok.daz").c_str(), nullptr, 0,
                               1, nullptr),
              DAZ_OK);
    const std::string none = dir.file("none");
    const std::string uncreatable = dir.file("no/such/folder/out");
    const std::string out = dir.file("out");
    struct Case {
        const char* name;
        int error;
        int expected;
    };
    auto convert = [](const std::string& in, const std::string& to, int colors) {
        return daz_convert_file(in.c_str(), to.c_str(), nullptr, colors, 0, nullptr);
    };
    auto toBmp = [](const std::string& in, const std::string& to) {
        return daz_export_file(in.c_str(), to.c_str(), nullptr, DAZ_FORMAT_BMP);
    };
    auto toPng = [](const std::string& in, const std::string& to) {
        return daz_export_file(in.c_str(), to.c_str(), nullptr, DAZ_FORMAT_PNG);
    };
    // A FIFO can be read once: the format is told from the bytes the
    // conversion then uses.
    auto throughFifo = [&](const std::string& in, const std::string& to) {
        const std::string fifo = dir.file("fifo");
        EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::thread writer([&] { writeFile(fifo, readFile(in)); });
        const int result = convert(fifo, to, 0);
        writer.join();
        ::unlink(fifo.c_str());
        return result;
    };
    Bytes notBmp = readFile(dir.file("ok.bmp"));
    putU32(notBmp, 18, 0); // a width of 0

    writeFile(dir.file("bad.bmp"), notBmp);
    writeFile(dir.file("bad.png"), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13});
    const std::string ok = dir.file("ok.bmp");
    const std::string daz = dir.file("ok.daz");
    const std::vector<Case> cases{
        {"missing input", convert(none, out, 0), DAZ_ERR_OPEN},
        {"text", convert(dir.file("text"), out, 0), DAZ_ERR_FORMAT},
        {"a daz image", convert(daz, out, 0), DAZ_ERR_FORMAT},
        {"bmp: not one we read", convert(dir.file("bad.bmp"), out, 0), DAZ_ERR_NOT_BMP},
        {"bmp: 24 bits", convert(dir.file("24.bmp"), out, 0), DAZ_ERR_BMP_BITS},
        {"bmp: 257 colours", convert(ok, out, 257), DAZ_ERR_COLORS},
        {"bmp: uncreatable output", convert(ok, uncreatable, 0), DAZ_ERR_CREATE},
        {"bmp: onto itself", convert(ok, ok, 0), DAZ_ERR_CREATE},
        {"null source", daz_convert_file(nullptr, out.c_str(), nullptr, 0, 0, nullptr),
         DAZ_ERR_ARGUMENT},
        {"png: cut in its header", convert(dir.file("bad.png"), out, 0), DAZ_ERR_READ},
        {"null destination", daz_convert_file(ok.c_str(), nullptr, nullptr, 0, 0, nullptr),
         DAZ_ERR_ARGUMENT},
        {"to bmp: missing", toBmp(none, out), DAZ_ERR_OPEN},
        {"to bmp: not daz", toBmp(ok, out), DAZ_ERR_NOT_DAZ},
        {"to bmp: uncreatable", toBmp(daz, uncreatable), DAZ_ERR_CREATE},
        {"to png: not daz", toPng(ok, out), DAZ_ERR_NOT_DAZ},
        {"to png: uncreatable", toPng(daz, uncreatable), DAZ_ERR_CREATE},
        {"to png: null path", daz_export_file(nullptr, out.c_str(), nullptr, DAZ_FORMAT_PNG),
         DAZ_ERR_ARGUMENT},
        {"to daz", daz_export_file(daz.c_str(), out.c_str(), nullptr, DAZ_FORMAT_DAZ),
         DAZ_ERR_ARGUMENT},
        {"to bmp", toBmp(daz, dir.file("back.bmp")), DAZ_OK},
        {"to png", toPng(daz, dir.file("back.png")), DAZ_OK},
        {"png back", convert(dir.file("back.png"), dir.file("again.daz"), 0), DAZ_OK},
        {"bmp through a FIFO", throughFifo(ok, dir.file("fifo-bmp.daz")), DAZ_OK},
        {"png through a FIFO", throughFifo(dir.file("back.png"), dir.file("fifo-png.daz")), DAZ_OK},
        {"pgm through a FIFO", throughFifo(dir.file("ok.pgm"), dir.file("fifo-pgm.daz")), DAZ_OK},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.error, c.expected) << c.name;
    }
    EXPECT_FALSE(fileExists(out));
    EXPECT_EQ(readFile(dir.file("again.daz")).size(), readFile(daz).size());
    ASSERT_EQ(convert(ok, dir.file("key0.daz"), 0), DAZ_OK);
    EXPECT_EQ(readFile(dir.file("fifo-bmp.daz")), readFile(dir.file("key0.daz")));
    EXPECT_EQ(readFile(dir.file("fifo-png.daz")), readFile(dir.file("again.daz")));
    ASSERT_EQ(convert(dir.file("ok.pgm"), dir.file("pgm.daz"), 0), DAZ_OK);
    EXPECT_EQ(readFile(dir.file("fifo-pgm.daz")), readFile(dir.file("pgm.daz")));
}

TEST(ApiFiles, InMemoryCallsRefuseNullPointers) {
    const Bytes bmp = makeBmp(4, 1, 8, {1, 2, 3, 4});
    size_t written = 0;
    Bytes out(2000);
    EXPECT_EQ(daz_convert(nullptr, 4, nullptr, 0, 0, nullptr, 0, &written, nullptr),
              DAZ_ERR_ARGUMENT);
    EXPECT_EQ(daz_convert(bmp.data(), bmp.size(), nullptr, 0, 0, nullptr, 0, nullptr, nullptr),
              DAZ_ERR_ARGUMENT);
    EXPECT_EQ(daz_convert(nullptr, 0, nullptr, 0, 0, out.data(), out.size(), &written, nullptr),
              DAZ_ERR_FORMAT);
    for (const Export& format : EXPORTS) {
        EXPECT_EQ(daz_export(nullptr, 4, nullptr, format.format, out.data(), out.size(), &written),
                  DAZ_ERR_ARGUMENT);
        EXPECT_EQ(daz_export(bmp.data(), bmp.size(), nullptr, format.format, out.data(), out.size(),
                             nullptr),
                  DAZ_ERR_ARGUMENT);
        EXPECT_EQ(daz_export(nullptr, 0, nullptr, format.format, out.data(), out.size(), &written),
                  DAZ_ERR_TRUNCATED);
    }
}

// File conversions from several threads at once, as a program linking the
// library may run them: each output whole, and no temporary file left.
TEST(ApiFiles, ThreadsConvertFilesAtOnce) {
    TempDir dir;
    const std::string source = SOURCE + "/samples/sample8.bmp";
    const std::string reference = dir.file("reference.daz");
    ASSERT_EQ(daz_convert_file(source.c_str(), reference.c_str(), nullptr, 200, 0x1F2E, nullptr),
              DAZ_OK);
    const Bytes expected = readFile(reference);
    constexpr int THREADS = 4;
    std::vector<int> failures(THREADS, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            const std::string out = dir.file("out" + std::to_string(t) + ".daz");
            for (int round = 0; round < 20; ++round) {
                std::uint64_t undefined = 0;
                const int code =
                    daz_convert_file(source.c_str(), out.c_str(), nullptr, 200, 0x1F2E, &undefined);
                if (code != DAZ_OK || undefined != 1437 || readFile(out) != expected) {
                    ++failures[static_cast<std::size_t>(t)];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(THREADS, 0));
    EXPECT_EQ(folderEntries(dir.path), (std::vector<std::string>{"out0.daz", "out1.daz", "out2.daz",
                                                                 "out3.daz", "reference.daz"}));
}
