// The library's calls on bitmaps in memory and on files: the same bytes, the
// same counts and the codes the commands give.
#include "api_support.h"
#include "convert/bmp_to_daz.h"
#include "convert/daz_to_bmp.h"
#include "convert/daz_to_png.h"
#include "support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

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
    if (ORVX_BMPSUITE_FOUND != 0) {
        for (const char* folder : {"/g", "/q", "/b"}) {
            for (const auto& entry : std::filesystem::directory_iterator(SUITE + folder)) {
                paths.push_back(entry.path());
            }
        }
    }
    return paths;
}

} // namespace

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
    EXPECT_GE(converted, 8);
}

TEST(ApiFiles, ShortBufferIsRefusedAndLeftUntouched) {
    const Bytes bmp = readFile(SOURCE + "/samples/sample8.bmp");
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
    // The size query gives the size alone, whatever the capacity says.
    size_t needed = 0;
    std::uint64_t undefined = 99;
    ASSERT_EQ(daz_convert(bmp.data(), bmp.size(), nullptr, 0, 7, nullptr, 10, &needed, &undefined),
              DAZ_OK);
    EXPECT_EQ(undefined, 99U);
    EXPECT_EQ(needed, dazSize);
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
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.error, c.expected) << c.name;
    }
    EXPECT_FALSE(fileExists(out));
    EXPECT_EQ(readFile(dir.file("again.daz")).size(), readFile(daz).size());
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
