#include "format/daz_format.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

using namespace orvx;

TEST(DazHeader, SerialisesEveryFieldLittleEndian) {
    DazHeader header;
    header.width = 0x1234;
    header.height = 0xFFC0; // a top-down bitmap's -64, bit for bit
    header.bitsPerPixel = 8;
    header.colorCount = 256;
    header.key = 0xBEEF;
    std::array<std::uint8_t, DAZ_HEADER_SIZE> bytes{};
    bytes.fill(0xAA);
    writeDazHeader(header, bytes.data());
    const std::array<std::uint8_t, DAZ_HEADER_SIZE> expected{
        'E',  'W',  1, 0, 0x34, 0x12, 0xC0, 0xFF, 8, 0, 0x00, 0x01,
        0xEF, 0xBE, 0, 0, 0,    0,    0,    0,    0, 0, 0,    0};
    EXPECT_EQ(bytes, expected);

    DazHeader back;
    EXPECT_EQ(readDazHeader(bytes.data(), back), DAZ_MAGIC);
    EXPECT_EQ(back.width, header.width);
    EXPECT_EQ(back.height, header.height);
    EXPECT_EQ(back.colorCount, 256);
    EXPECT_EQ(back.key, 0xBEEF);
}

TEST(PaletteEntry, ExchangesBlueAndRedKeepsFourthByte) {
    std::vector<std::uint8_t> entries{1, 2, 3, 4, 10, 20, 30, 40};
    swapPaletteEntries(entries.data(), 2);
    EXPECT_EQ(entries, (std::vector<std::uint8_t>{3, 2, 1, 4, 30, 20, 10, 40}));
}

// The offsets the recurrence F(n+2) = F(n) + F(n+1) mod 256 gives, written
// out from its definition rather than from the generator's state.
std::vector<std::uint8_t> fibonacciOffsets(std::uint16_t key, std::size_t count) {
    std::vector<unsigned> f{key & 0xFFU, static_cast<unsigned>(key >> 8U)};
    while (f.size() < count + 2) {
        f.push_back((f[f.size() - 2] + f[f.size() - 1]) % 256);
    }
    return std::vector<std::uint8_t>(f.begin() + 2, f.end());
}

class KeystreamTest : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(KeystreamTest, FollowsTheRecurrenceFromThePairAfterTheSeed) {
    const std::uint16_t key = GetParam();
    const std::vector<std::uint8_t> expected = fibonacciOffsets(key, 1000);
    PixelKeystream stream = makeKeystream(key);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(nextOffset(stream), expected[i]) << "offset " << i;
    }
}

TEST_P(KeystreamTest, RunsOnAcrossChunks) {
    const std::uint16_t key = GetParam();
    std::vector<std::uint8_t> whole(3 * 32768 + 17);
    for (std::size_t i = 0; i < whole.size(); ++i) {
        whole[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    std::vector<std::uint8_t> pieces = whole;
    PixelKeystream one = makeKeystream(key);
    encodePixels(whole.data(), whole.size(), one);
    PixelKeystream many = makeKeystream(key);
    for (std::size_t at = 0; at < pieces.size(); at += 32768) {
        encodePixels(pieces.data() + at, std::min<std::size_t>(32768, pieces.size() - at), many);
    }
    EXPECT_EQ(whole, pieces);
}

INSTANTIATE_TEST_SUITE_P(Keys, KeystreamTest,
                         ::testing::Values(0x0000, 0x0001, 0x0100, 0x1F2E, 0xFFFF, 0x8001));

TEST(Keystream, FirstTwoOffsetsComeFromBothKeyBytes) {
    PixelKeystream stream = makeKeystream(0x1F2E); // low 0x2E, high 0x1F
    EXPECT_EQ(nextOffset(stream), 0x4D);           // low + high
    EXPECT_EQ(nextOffset(stream), 0x6C);           // low + 2 * high
}

TEST(Keystream, KeyZeroLeavesBytesAsTheyAre) {
    std::vector<std::uint8_t> bytes{0, 1, 2, 250, 255};
    const std::vector<std::uint8_t> before = bytes;
    PixelKeystream stream = makeKeystream(0);
    encodePixels(bytes.data(), bytes.size(), stream);
    EXPECT_EQ(bytes, before);
}
