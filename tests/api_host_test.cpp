// The calls hosts take their facts from: rows present in a file cut short,
// the colour table shown, the bits written, the key as text.
#include "daz/daz.h"
#include "support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

daz_info infoOf(const Bytes& file) {
    daz_info info{};
    EXPECT_EQ(daz_inspect(file.data(), file.size(), &info), DAZ_OK);
    return info;
}

struct RowsCase {
    const char* name;
    Bytes file;   // whole: |height| rows
    int expected; // at cut
    std::uint64_t cut;
    std::uint32_t rows;
};

TEST(ApiHost, RowsPresentAsInspectCountsThemInAFileCutShort) {
    // 5 x -3 at 8 bits, 3 colours: pixels from 36, rows of 8 bytes.
    const Bytes three = dazFile(5, -3, 8, 3, 0, Bytes(24, 1));
    // 9 x 2 at 4 bits, 16 colours: pixels from 88, rows of 8 bytes.
    const Bytes four = dazFile(9, 2, 4, 16, 0, Bytes(16, 1));
    const RowsCase cases[] = {
        {"empty", three, DAZ_ERR_TRUNCATED, 0, 0},
        {"header only", three, DAZ_ERR_TRUNCATED, 24, 0},
        {"palette short by one", three, DAZ_ERR_TRUNCATED, 35, 0},
        {"no pixels", three, DAZ_ERR_NO_ROWS, 36, 0},
        {"a row short by one", three, DAZ_ERR_NO_ROWS, 43, 0},
        {"one row", three, DAZ_OK, 44, 1},
        {"two rows and 7 bytes", three, DAZ_OK, 59, 2},
        {"whole", three, DAZ_OK, 60, 3},
        {"bytes past the rows", three, DAZ_OK, 1 << 20, 3},
        {"past 4 GiB", three, DAZ_OK, std::uint64_t{1} << 33, 3},
        {"4 bits, one row", four, DAZ_OK, 96, 1},
        {"4 bits, whole", four, DAZ_OK, 104, 2},
    };
    for (const RowsCase& c : cases) {
        // daz_inspect of the whole file gives |height| rows, as a stream does.
        const daz_info info = infoOf(c.file);
        std::uint32_t rows = 77;
        EXPECT_EQ(daz_rows_present(&info, c.cut, &rows), c.expected) << c.name;
        EXPECT_EQ(rows, c.expected == DAZ_OK ? c.rows : 77) << c.name;
        if (c.cut >= DAZ_HEADER_SIZE && c.cut <= c.file.size()) {
            daz_info cut{};
            EXPECT_EQ(daz_inspect(c.file.data(), c.cut, &cut), c.expected) << c.name;
            EXPECT_EQ(cut.rows, c.expected == DAZ_OK ? c.rows : 0) << c.name;
        }
    }
    daz_info odd = infoOf(three);
    std::uint32_t rows = 0;
    odd.width = 0; // no whole row, however long the file
    EXPECT_EQ(daz_rows_present(&odd, 1 << 20, &rows), DAZ_ERR_NO_ROWS);
    odd.width = 5;
    odd.bits = 5;
    EXPECT_EQ(daz_rows_present(&odd, 60, &rows), DAZ_ERR_ARGUMENT);
    odd.bits = 4; // 3 colours fit, so this is a 4-bit header: rows of 4 bytes
    EXPECT_EQ(daz_rows_present(&odd, 60, &rows), DAZ_OK);
    EXPECT_EQ(rows, 3U);
    odd.colors = 17;
    EXPECT_EQ(daz_rows_present(&odd, 60, &rows), DAZ_ERR_ARGUMENT);
    EXPECT_EQ(daz_rows_present(nullptr, 60, &rows), DAZ_ERR_ARGUMENT);
    EXPECT_EQ(daz_rows_present(&odd, 60, nullptr), DAZ_ERR_ARGUMENT);
}

struct PaletteCase {
    const char* name;
    int bits;
    int highest;
    int expected;
    int entries;
};

TEST(ApiHost, DisplayPalettePadsWithTheUndefinedColourAsFarAsTheIndicesReach) {
    // 3 stored entries, each with a fourth byte of 7, which is not shown.
    const PaletteCase cases[] = {
        {"8 bits, highest unknown", 8, -1, DAZ_OK, 256},
        {"8 bits, highest below the colours", 8, 1, DAZ_OK, 3},
        {"8 bits, highest the last colour", 8, 2, DAZ_OK, 3},
        {"8 bits, highest past the colours", 8, 5, DAZ_OK, 6},
        {"8 bits, highest 255", 8, 255, DAZ_OK, 256},
        {"4 bits, highest unknown", 4, -1, DAZ_OK, 16},
        {"4 bits, highest 15", 4, 15, DAZ_OK, 16},
        {"4 bits, highest 16", 4, 16, DAZ_ERR_ARGUMENT, 0},
        {"8 bits, highest 256", 8, 256, DAZ_ERR_ARGUMENT, 0},
        {"highest -2", 8, -2, DAZ_ERR_ARGUMENT, 0},
    };
    Bytes file = dazFile(4, 1, 8, 3, 0, Bytes(4, 0));
    for (int entry = 0; entry < 3; ++entry) {
        for (int k = 0; k < 3; ++k) {
            file[24 + 4 * entry + k] = static_cast<std::uint8_t>(10 * entry + k + 1);
        }
        file[24 + 4 * entry + 3] = 7;
    }
    for (const PaletteCase& c : cases) {
        daz_info info = infoOf(file);
        info.bits = c.bits;
        Bytes palette(DAZ_PALETTE_BYTES, 0xAA);
        int entries = -5;
        ASSERT_EQ(daz_display_palette(&info, c.highest, palette.data(), &entries), c.expected)
            << c.name;
        if (c.expected != DAZ_OK) {
            EXPECT_EQ(entries, -5) << c.name;
            continue;
        }
        EXPECT_EQ(entries, c.entries) << c.name;
        for (int entry = 0; entry < DAZ_MAX_PALETTE; ++entry) {
            const std::uint8_t* got = palette.data() + 4 * entry;
            Bytes want(4, 0);
            if (entry < 3) {
                want = {std::uint8_t(10 * entry + 1), std::uint8_t(10 * entry + 2),
                        std::uint8_t(10 * entry + 3), 255};
            } else if (entry < c.entries) {
                want = {DAZ_UNDEFINED_RED, DAZ_UNDEFINED_GREEN, DAZ_UNDEFINED_BLUE, 255};
            }
            ASSERT_EQ(Bytes(got, got + 4), want) << c.name << ", entry " << entry;
        }
    }
    daz_info info = infoOf(file);
    Bytes palette(DAZ_PALETTE_BYTES);
    int entries = 0;
    EXPECT_EQ(daz_display_palette(nullptr, -1, palette.data(), &entries), DAZ_ERR_ARGUMENT);
    EXPECT_EQ(daz_display_palette(&info, -1, nullptr, &entries), DAZ_ERR_ARGUMENT);
    EXPECT_EQ(daz_display_palette(&info, -1, palette.data(), nullptr), DAZ_ERR_ARGUMENT);
    info.colors = 0;
    EXPECT_EQ(daz_display_palette(&info, -1, palette.data(), &entries), DAZ_ERR_ARGUMENT);
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
    EXPECT_EQ(daz_bits_for(16, 0, nullptr), DAZ_ERR_ARGUMENT);
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
    EXPECT_EQ(std::string(small, sizeof small), "xxxx");
    EXPECT_EQ(daz_key_to_text(1, nullptr, 8), DAZ_ERR_ARGUMENT);

    const struct {
        const char* text;
        int expected;
        std::uint16_t key;
    } cases[] = {
        {"1f2e", DAZ_OK, 0x1f2e},
        {"1F2E", DAZ_OK, 0x1f2e},
        {"0x1f2e", DAZ_OK, 0x1f2e},
        {"0X1F2e", DAZ_OK, 0x1f2e},
        {"7", DAZ_OK, 7},
        {"0", DAZ_OK, 0},
        {"0x0", DAZ_OK, 0},
        {"000f", DAZ_OK, 0xf},
        {"ffff", DAZ_OK, 0xffff},
        {"+1f", DAZ_OK, 0x1f},
        {"+0x1f", DAZ_OK, 0x1f},
        {" \t\n\v\f\r1f2e \t\n\v\f\r", DAZ_OK, 0x1f2e},
        {"  0x7  ", DAZ_OK, 7},
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
        {"++1", DAZ_ERR_ARGUMENT, 0},
        {"1 2", DAZ_ERR_ARGUMENT, 0},
        {"1f2e!", DAZ_ERR_ARGUMENT, 0},
        {"g", DAZ_ERR_ARGUMENT, 0},
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
    std::uint16_t key = 0;
    EXPECT_EQ(daz_key_from_text(nullptr, &key), DAZ_ERR_ARGUMENT);
    EXPECT_EQ(daz_key_from_text("1", nullptr), DAZ_ERR_ARGUMENT);
}

} // namespace
