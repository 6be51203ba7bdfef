// Labelled slow: a 1.1 GiB bitmap through the built tool.
#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/statvfs.h>

namespace {

// The header states the largest image a daz file can hold; the pixel area,
// which runs to the end of the file, is longer still.
constexpr int WIDTH = 65535; // 4-bit: rows of 32768 bytes
constexpr std::uint64_t ROW_BYTES = 32768;
constexpr int ROWS = 36045;
constexpr std::uint64_t PIXEL_BYTES = ROW_BYTES * ROWS; // 1.1 GiB

std::uint64_t freeBytes(const std::string& path) {
    struct statvfs fs {};
    return statvfs(path.c_str(), &fs) == 0 ? std::uint64_t{fs.f_bavail} * fs.f_frsize : 0;
}

} // namespace

// Every nibble is 15 and only index 0 is kept: 2 undefined values a byte, a
// count past 2^31 that must print whole.
TEST(BigFile, UndefinedCountPast2To31PrintsExactly) {
    TempDir dir;
    if (freeBytes(dir.path) < 2 * PIXEL_BYTES + (std::uint64_t{256} << 20U)) {
        GTEST_SKIP() << "needs " << 2 * PIXEL_BYTES / (1U << 20U) << " MiB free in " << dir.path;
    }
    const std::string source = dir.file("big.bmp");
    {
        const Bytes header = makeBmp(WIDTH, 32767, 4, {});
        std::FILE* out = std::fopen(source.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        const Bytes row(ROW_BYTES, 0xFF);
        bool written = std::fwrite(header.data(), 1, header.size(), out) == header.size();
        for (int y = 0; y < ROWS && written; ++y) {
            written = std::fwrite(row.data(), 1, row.size(), out) == row.size();
        }
        ASSERT_EQ(std::fclose(out), 0);
        ASSERT_TRUE(written);
    }
    const RunResult run = runOrvxBinary({"-c", source, dir.file("big.daz"), "1", "1f2e"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Nell'immagine ci sono " + std::to_string(2 * PIXEL_BYTES) +
                           " pixel non definiti\n\nOperazione riuscita\n\n");
    EXPECT_GT(2 * PIXEL_BYTES, std::uint64_t{1} << 31U);
}
