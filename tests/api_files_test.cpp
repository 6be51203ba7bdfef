// The library's calls on bitmaps in memory and on files: the same bytes, the
// same counts and the codes the commands give.
#include "api_support.h"
#include "support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace {

const std::string SOURCE = ORVX_SOURCE_DIR;
const std::string SUITE = ORVX_BMPSUITE;

using ToMemory = int (*)(const void*, size_t, void*, size_t, size_t*);
using FromDazFile = int (*)(const char*, const char*);

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
// and keys: daz_from_bmp gives the file, the count and the code that
// daz_convert_bmp_file (orvx -c) gives.
TEST(ApiFiles, FromBmpGivesWhatTheCommandWrites) {
    int converted = 0;
    for (const std::string& path : inputs()) {
        const Bytes bmp = readFile(path);
        for (const auto& [colors, key] : {std::pair{0, 0}, std::pair{1, 0x1F2E},
                                          std::pair{12, 0xBEEF}, std::pair{200, 0xFFFF}}) {
            const auto k = static_cast<std::uint16_t>(key);
            const Outcome file = throughFile(daz_convert_bmp_file, path, colors, k);
            EXPECT_EQ(inMemory(daz_from_bmp, bmp, colors, k), file) << path << " " << colors;
            converted += file.error == DAZ_OK ? 1 : 0;
        }
    }
    EXPECT_GE(converted, 8);
}

TEST(ApiFiles, ShortBufferIsRefusedAndNothingGoesPastIt) {
    const Bytes bmp = readFile(SOURCE + "/samples/sample8.bmp");
    // The calls back, each a byte short.
    size_t dazSize = 0;
    ASSERT_EQ(daz_from_bmp(bmp.data(), bmp.size(), 0, 7, nullptr, 0, &dazSize, nullptr), DAZ_OK);
    Bytes daz(dazSize);
    ASSERT_EQ(daz_from_bmp(bmp.data(), bmp.size(), 0, 7, daz.data(), dazSize, &dazSize, nullptr),
              DAZ_OK);
    for (const ToMemory call : {ToMemory{daz_to_bmp}, ToMemory{daz_to_png}}) {
        size_t size = 0;
        ASSERT_EQ(call(daz.data(), daz.size(), nullptr, 0, &size), DAZ_OK);
        Bytes out(size, 0xA5);
        size_t written = 12345;
        EXPECT_EQ(call(daz.data(), daz.size(), out.data(), size - 1, &written), DAZ_ERR_BUFFER);
        EXPECT_EQ(written, 12345U);
        EXPECT_EQ(out.back(), 0xA5);
    }
    // The size query gives the size alone, whatever the capacity says.
    size_t needed = 0;
    std::uint64_t undefined = 99;
    ASSERT_EQ(daz_from_bmp(bmp.data(), bmp.size(), 0, 7, nullptr, 10, &needed, &undefined), DAZ_OK);
    EXPECT_EQ(undefined, 99U);
    ASSERT_GT(needed, 1024U);
    for (const size_t capacity : {size_t{0}, size_t{23}, size_t{1000}, needed - 1}) {
        Bytes out(needed + 16, 0xA5);
        size_t written = 12345;
        EXPECT_EQ(
            daz_from_bmp(bmp.data(), bmp.size(), 0, 7, out.data(), capacity, &written, nullptr),
            DAZ_ERR_BUFFER)
            << capacity;
        EXPECT_EQ(written, 12345U);
        EXPECT_EQ(Bytes(out.begin() + static_cast<long>(capacity), out.end()),
                  Bytes(out.size() - capacity, 0xA5))
            << capacity;
    }
}

// daz_to_bmp and daz_to_png against dazbmp's and dazpng's file calls, on the
// commands' saved hostile inputs and on daz files of the samples (bottom-up,
// top-down, odd 4-bit widths, bytes past the rows): the same code and bytes.
TEST(ApiFiles, ToBmpAndToPngGiveWhatTheCommandsWrite) {
    TempDir dir;
    std::vector<std::string> inputs;
    for (const char* folder : {"/fuzz/regressions/dazbmp", "/fuzz/regressions/dazpng"}) {
        for (const auto& entry : std::filesystem::directory_iterator(SOURCE + folder)) {
            inputs.push_back(entry.path());
        }
    }
    for (const auto& [sample, key] : {std::pair{"sample4", 0}, std::pair{"sample8", 0xBEEF}}) {
        inputs.push_back(dir.file(std::string(sample) + ".daz"));
        ASSERT_EQ(daz_convert_bmp_file((SOURCE + "/samples/" + sample + ".bmp").c_str(),
                                       inputs.back().c_str(), 0, static_cast<uint16_t>(key),
                                       nullptr),
                  DAZ_OK);
    }
    inputs.push_back(dir.file("top-down-odd.daz"));
    writeFile(inputs.back(), dazFile(9, -3, 4, 16, 0x1F2E, Bytes(3 * 8 + 5, 0x37)));
    int converted = 0;
    for (const std::string& path : inputs) {
        const Bytes daz = readFile(path);
        for (const auto& [toMemory, toFile] :
             {std::pair<ToMemory, FromDazFile>{daz_to_bmp, daz_write_bmp_file},
              std::pair<ToMemory, FromDazFile>{daz_to_png, daz_write_png_file}}) {
            Outcome file;
            file.error = toFile(path.c_str(), dir.file("out").c_str());
            if (fileExists(dir.file("out"))) {
                file.daz = readFile(dir.file("out"));
                std::filesystem::remove(dir.file("out"));
            }
            Outcome memory;
            size_t needed = 0;
            memory.error = toMemory(daz.data(), daz.size(), nullptr, 0, &needed);
            if (memory.error == DAZ_OK) {
                Bytes out(needed + 16, 0xA5);
                size_t written = 0;
                memory.error = toMemory(daz.data(), daz.size(), out.data(), needed, &written);
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
    ASSERT_EQ(
        daz_convert_bmp_file(dir.file("ok.bmp").c_str(), dir.file("ok.daz").c_str(), 0, 1, nullptr),
        DAZ_OK);
    const std::string none = dir.file("none");
    const std::string uncreatable = dir.file("no/such/folder/out");
    const std::string out = dir.file("out");
    struct Case {
        const char* name;
        int error;
        int expected;
    };
    auto bmp = [](const std::string& in, const std::string& to, int colors) {
        return daz_convert_bmp_file(in.c_str(), to.c_str(), colors, 0, nullptr);
    };
    auto png = [](const std::string& in, const std::string& to, int colors) {
        return daz_convert_png_file(in.c_str(), to.c_str(), colors, 0, nullptr);
    };
    const std::string ok = dir.file("ok.bmp");
    const std::string daz = dir.file("ok.daz");
    const std::vector<Case> cases{
        {"bmp: missing input", bmp(none, out, 0), DAZ_ERR_OPEN},
        {"bmp: not a bitmap", bmp(dir.file("text"), out, 0), DAZ_ERR_NOT_BMP},
        {"bmp: 24 bits", bmp(dir.file("24.bmp"), out, 0), DAZ_ERR_BMP_BITS},
        {"bmp: 257 colours", bmp(ok, out, 257), DAZ_ERR_COLORS},
        {"bmp: uncreatable output", bmp(ok, uncreatable, 0), DAZ_ERR_CREATE},
        {"bmp: onto itself", bmp(ok, ok, 0), DAZ_ERR_CREATE},
        {"bmp: null path", daz_convert_bmp_file(nullptr, out.c_str(), 0, 0, nullptr),
         DAZ_ERR_ARGUMENT},
        {"png: missing input", png(none, out, 0), DAZ_ERR_OPEN},
        {"png: a bitmap", png(ok, out, 0), DAZ_ERR_NOT_PNG},
        {"png: null path", daz_convert_png_file(ok.c_str(), nullptr, 0, 0, nullptr),
         DAZ_ERR_ARGUMENT},
        {"to bmp: missing", daz_write_bmp_file(none.c_str(), out.c_str()), DAZ_ERR_OPEN},
        {"to bmp: not daz", daz_write_bmp_file(ok.c_str(), out.c_str()), DAZ_ERR_NOT_DAZ},
        {"to bmp: uncreatable", daz_write_bmp_file(daz.c_str(), uncreatable.c_str()),
         DAZ_ERR_CREATE},
        {"to png: not daz", daz_write_png_file(ok.c_str(), out.c_str()), DAZ_ERR_NOT_DAZ},
        {"to png: uncreatable", daz_write_png_file(daz.c_str(), uncreatable.c_str()),
         DAZ_ERR_CREATE},
        {"to png: null path", daz_write_png_file(nullptr, out.c_str()), DAZ_ERR_ARGUMENT},
        {"to bmp", daz_write_bmp_file(daz.c_str(), dir.file("back.bmp").c_str()), DAZ_OK},
        {"to png", daz_write_png_file(daz.c_str(), dir.file("back.png").c_str()), DAZ_OK},
        {"png back", png(dir.file("back.png"), dir.file("again.daz"), 0), DAZ_OK},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.error, c.expected) << c.name;
    }
    EXPECT_FALSE(fileExists(out));
    EXPECT_EQ(readFile(dir.file("again.daz")).size(), readFile(daz).size());
}

TEST(ApiFiles, FromMemoryRefusesNullPointers) {
    const Bytes bmp = makeBmp(4, 1, 8, {1, 2, 3, 4});
    size_t written = 0;
    Bytes out(2000);
    for (const FromMemory call : {FromMemory{daz_from_bmp}, FromMemory{daz_from_png}}) {
        EXPECT_EQ(call(nullptr, 4, 0, 0, nullptr, 0, &written, nullptr), DAZ_ERR_ARGUMENT);
        EXPECT_EQ(call(bmp.data(), bmp.size(), 0, 0, nullptr, 0, nullptr, nullptr),
                  DAZ_ERR_ARGUMENT);
    }
    EXPECT_EQ(daz_from_bmp(nullptr, 0, 0, 0, out.data(), out.size(), &written, nullptr),
              DAZ_ERR_READ);
    for (const ToMemory call : {ToMemory{daz_to_bmp}, ToMemory{daz_to_png}}) {
        EXPECT_EQ(call(nullptr, 4, out.data(), out.size(), &written), DAZ_ERR_ARGUMENT);
        EXPECT_EQ(call(bmp.data(), bmp.size(), out.data(), out.size(), nullptr), DAZ_ERR_ARGUMENT);
        EXPECT_EQ(call(nullptr, 0, out.data(), out.size(), &written), DAZ_ERR_TRUNCATED);
    }
}

// File conversions from several threads at once, as a program linking the
// library may run them: each output whole, and no temporary file left.
TEST(ApiFiles, ThreadsConvertFilesAtOnce) {
    TempDir dir;
    const std::string source = SOURCE + "/samples/sample8.bmp";
    const std::string reference = dir.file("reference.daz");
    ASSERT_EQ(daz_convert_bmp_file(source.c_str(), reference.c_str(), 200, 0x1F2E, nullptr),
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
                    daz_convert_bmp_file(source.c_str(), out.c_str(), 200, 0x1F2E, &undefined);
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
