// The calls hosts take their facts from: rows present in a file cut short,
// the colour table shown, the bits written, the key as text.
#include "daz/daz.h"
#include "support.h"

#include <gtest/gtest.h>

namespace {

daz_info infoOf(const Bytes& file) {
    daz_info info{};
    EXPECT_EQ(daz_inspect(file.data(), file.size(), &info), DAZ_OK);
    return info;
}

TEST(ApiHost, RowsPresentAsInspectCountsThemInAFileCutShort) {
    // 5 x -3 at 8 bits, 3 colours: pixels from 36, rows of 8 bytes; 9 x 2 at
    // 4 bits, 16 colours: pixels from 88, rows of 8 bytes.
    const Bytes three = dazFile(5, -3, 8, 3, 0, Bytes(24, 1));
    const Bytes four = dazFile(9, 2, 4, 16, 0, Bytes(16, 1));
    const struct {
        const Bytes& file; // whole: daz_inspect gives |height| rows, as a stream does
        std::uint64_t cut;
        int expected;
        std::uint32_t rows;
    } cases[] = {
        {three, 0, DAZ_ERR_TRUNCATED, 0},
        {three, 35, DAZ_ERR_TRUNCATED, 0},
        {three, 36, DAZ_ERR_NO_ROWS, 0},
        {three, 43, DAZ_ERR_NO_ROWS, 0},
        {three, 44, DAZ_OK, 1},
        {three, 59, DAZ_OK, 2},
        {three, 60, DAZ_OK, 3},
        {three, std::uint64_t{1} << 33, DAZ_OK, 3},
        {four, 96, DAZ_OK, 1},
        {four, 104, DAZ_OK, 2},
    };
    for (const auto& c : cases) {
        const daz_info info = infoOf(c.file);
        std::uint32_t rows = 77;
        EXPECT_EQ(daz_rows_present(&info, c.cut, &rows), c.expected) << c.cut;
        EXPECT_EQ(rows, c.expected == DAZ_OK ? c.rows : 77) << c.cut;
        if (c.cut >= DAZ_HEADER_SIZE && c.cut <= c.file.size()) {
            daz_info cut{};
            EXPECT_EQ(daz_inspect(c.file.data(), c.cut, &cut), c.expected) << c.cut;
            EXPECT_EQ(cut.rows, c.expected == DAZ_OK ? c.rows : 0) << c.cut;
        }
    }
    daz_info odd = infoOf(three);
    std::uint32_t rows = 0;
    odd.width = 0; // no whole row, however long the file
    EXPECT_EQ(daz_rows_present(&odd, 1 << 20, &rows), DAZ_ERR_NO_ROWS);
    odd.width = 5;
    odd.bits = 4; // rows of 4 bytes: the row size comes from the header's fields
    EXPECT_EQ(daz_rows_present(&odd, 60, &rows), DAZ_OK);
    EXPECT_EQ(rows, 3U);
    odd.colors = 17; // no header holds it
    EXPECT_EQ(daz_rows_present(&odd, 60, &rows), DAZ_ERR_ARGUMENT);
}

TEST(ApiHost, DisplayPalettePadsWithTheUndefinedColourAsFarAsTheIndicesReach) {
    // 3 stored entries, each with a fourth byte of 7, which is not shown.
    Bytes file = dazFile(4, 1, 8, 3, 0, Bytes(4, 0));
    for (int i = 0; i < 12; ++i) {
        file[24 + i] = i % 4 == 3 ? 7 : static_cast<std::uint8_t>(i + 1);
    }
    const struct {
        int bits, highest, expected, entries;
    } cases[] = {
        {8, -1, DAZ_OK, 256},
        {8, 1, DAZ_OK, 3},
        {8, 2, DAZ_OK, 3},
        {8, 5, DAZ_OK, 6},
        {8, 255, DAZ_OK, 256},
        {4, -1, DAZ_OK, 16},
        {4, 15, DAZ_OK, 16},
        {4, 16, DAZ_ERR_ARGUMENT, 0},
        {8, 256, DAZ_ERR_ARGUMENT, 0},
        {8, -2, DAZ_ERR_ARGUMENT, 0},
    };
    for (const auto& c : cases) {
        daz_info info = infoOf(file);
        info.bits = c.bits;
        Bytes palette(DAZ_PALETTE_BYTES, 0xAA);
        int entries = -5;
        ASSERT_EQ(daz_display_palette(&info, c.highest, palette.data(), &entries), c.expected)
            << c.bits << " bits, highest " << c.highest;
        EXPECT_EQ(entries, c.expected == DAZ_OK ? c.entries : -5);
        for (int entry = 0; c.expected == DAZ_OK && entry < DAZ_MAX_PALETTE; ++entry) {
            Bytes want(4, 0);
            if (entry < 3) {
                want = {std::uint8_t(4 * entry + 1), std::uint8_t(4 * entry + 2),
                        std::uint8_t(4 * entry + 3), 255};
            } else if (entry < c.entries) {
                want = {DAZ_UNDEFINED_RED, DAZ_UNDEFINED_GREEN, DAZ_UNDEFINED_BLUE, 255};
            }
            ASSERT_EQ(Bytes(&palette[4 * entry], &palette[4 * entry + 4]), want)
                << c.bits << " bits, highest " << c.highest << ", entry " << entry;
        }
    }
}

TEST(ApiHost, BitsAreFourOnlyWhenTheEntriesAndTheHighestIndexFitInFour) {
    const struct {
        int entries, highest, expected, bits;
    } cases[] = {
        {1, -1, DAZ_OK, 4},
        {16, -1, DAZ_OK, 4},
        {16, 15, DAZ_OK, 4},
        {16, 16, DAZ_OK, 8},
        {2, 16, DAZ_OK, 8},
        {17, -1, DAZ_OK, 8},
        {17, 0, DAZ_OK, 8},
        {256, 255, DAZ_OK, 8},
        {0, 0, DAZ_ERR_ARGUMENT, 0},
        {257, 0, DAZ_ERR_ARGUMENT, 0},
        {16, 256, DAZ_ERR_ARGUMENT, 0},
        {16, -2, DAZ_ERR_ARGUMENT, 0},
    };
    for (const auto& c : cases) {
        int bits = 0;
        EXPECT_EQ(daz_bits_for(c.entries, c.highest, &bits), c.expected)
            << c.entries << " entries, highest " << c.highest;
        EXPECT_EQ(bits, c.bits) << c.entries << " entries, highest " << c.highest;
    }
}

TEST(ApiHost, KeyTextRoundTripsAndRefusesAllButOneToFourHexDigits) {
    char text[DAZ_KEY_TEXT_SIZE];
    for (unsigned value = 0; value <= 0xFFFF; ++value) {
        ASSERT_EQ(daz_key_to_text(static_cast<std::uint16_t>(value), text, sizeof text), DAZ_OK);
        char expected[16];
        std::snprintf(expected, sizeof expected, "%04x", value);
        ASSERT_STREQ(text, expected);
        std::uint16_t key = 0;
        ASSERT_EQ(daz_key_from_text(text, &key), DAZ_OK) << text;
        ASSERT_EQ(key, value);
    }
    char small[DAZ_KEY_TEXT_SIZE - 1] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(daz_key_to_text(1, small, sizeof small), DAZ_ERR_BUFFER);
    EXPECT_EQ(small[0], 'x');

    const struct {
        const char* text;
        int expected;
        std::uint16_t key;
    } cases[] = {
        {"1F2E", DAZ_OK, 0x1f2e},
        {"0X1F2e", DAZ_OK, 0x1f2e},
        {"7", DAZ_OK, 7},
        {"0x0", DAZ_OK, 0},
        {"+0x1f", DAZ_OK, 0x1f},
        {" \t\n\v\f\r1f2e \t\n\v\f\r", DAZ_OK, 0x1f2e},
        {"", DAZ_ERR_ARGUMENT, 0},
        {"   ", DAZ_ERR_ARGUMENT, 0},
        {"0x", DAZ_ERR_ARGUMENT, 0},
        {"+", DAZ_ERR_ARGUMENT, 0},
        {"12345", DAZ_ERR_ARGUMENT, 0},
        {"0x00001", DAZ_ERR_ARGUMENT, 0},
        {"-1", DAZ_ERR_ARGUMENT, 0},
        {"0x+1", DAZ_ERR_ARGUMENT, 0},
        {"0x0x1", DAZ_ERR_ARGUMENT, 0},
        {"0x 1", DAZ_ERR_ARGUMENT, 0},
        {"1 2", DAZ_ERR_ARGUMENT, 0},
        {"1f2e!", DAZ_ERR_ARGUMENT, 0},
        {"1h", DAZ_ERR_ARGUMENT, 0},
        {"\xc2\xa0"
         "1",
         DAZ_ERR_ARGUMENT, 0}, // a no-break space is no ASCII blank
    };
    for (const auto& c : cases) {
        std::uint16_t key = 0xABCD;
        EXPECT_EQ(daz_key_from_text(c.text, &key), c.expected) << '"' << c.text << '"';
        EXPECT_EQ(key, c.expected == DAZ_OK ? c.key : 0xABCD) << '"' << c.text << '"';
    }
}

} // namespace
