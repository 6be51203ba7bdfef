// libdaz's colour reduction calls: options checked, sizes asked first,
// buffers left as they were on every failure, limits before any work, the
// palette of each kind of image, and daz_reduce's file: the palette as
// given, the depth it needs, an image of few colours kept exactly.
#include "api_support.h"
#include "support.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <set>

namespace {

// width x height pixels of a pattern of count colours.
std::vector<std::uint32_t> pattern(std::uint32_t width, std::uint32_t height, std::uint32_t count) {
    std::vector<std::uint32_t> colours(std::size_t{width} * height);
    for (std::size_t i = 0; i < colours.size(); ++i) {
        const std::uint32_t k = static_cast<std::uint32_t>(i * 7 / 3) % count;
        colours[i] = (k * 0x3F1D2BU + 0x102030U) & 0xFFFFFFU;
    }
    return colours;
}

daz_quantize_options defaults() {
    daz_quantize_options options;
    daz_default_quantize_options(&options);
    return options;
}

constexpr std::uint8_t UNTOUCHED = 0xAA;

} // namespace

TEST(ApiQuantize, OptionsOutOfRangeAreRefusedWritingNothing) {
    const std::vector<std::uint32_t> colours = pattern(6, 5, 12);
    const Bytes rgba = rgbaOf(colours);
    const Bytes bmp = rgbBmp(6, 5, colours);
    const std::array<std::uint8_t, 16> given{1, 2, 3, 0, 40, 50, 60, 0, 90, 80, 70, 0, 9, 9, 9, 0};
    // reduce / map: whether a reduction (colors 8 unless changed) and a
    // mapping onto 4 entries take the options.
    struct Case {
        const char* name;
        std::function<void(daz_quantize_options&)> change;
        bool reduce;
        bool map;
    };
    const Case cases[] = {
        {"the defaults", [](daz_quantize_options&) {}, true, true},
        {"1 colour", [](daz_quantize_options& o) { o.colors = 1; }, false, true},
        {"257 colours", [](daz_quantize_options& o) { o.colors = 257; }, false, true},
        {"dither 2", [](daz_quantize_options& o) { o.dither = 2; }, false, false},
        {"dither -1", [](daz_quantize_options& o) { o.dither = -1; }, false, false},
        {"index -2", [](daz_quantize_options& o) { o.transparent_index = -2; }, false, false},
        {"index 3, below both", [](daz_quantize_options& o) { o.transparent_index = 3; }, true,
         true},
        {"index 4, past the palette", [](daz_quantize_options& o) { o.transparent_index = 4; },
         true, false},
        {"index 8, past the colours", [](daz_quantize_options& o) { o.transparent_index = 8; },
         false, false},
        {"index 256", [](daz_quantize_options& o) { o.transparent_index = 256; }, false, false},
        {"reserved byte", [](daz_quantize_options& o) { o.reserved_byte = 1; }, false, false},
        {"reserved word", [](daz_quantize_options& o) { o.reserved[5] = 1; }, false, false},
    };
    for (const Case& c : cases) {
        daz_quantize_options options = defaults();
        options.colors = 8;
        c.change(options);
        const int reduce = c.reduce ? DAZ_OK : DAZ_ERR_ARGUMENT;
        const int map = c.map ? DAZ_OK : DAZ_ERR_ARGUMENT;
        Bytes palette(DAZ_PALETTE_BYTES, UNTOUCHED);
        Bytes indices(30, UNTOUCHED);
        int entries = -5;
        EXPECT_EQ(daz_quantize(rgba.data(), 24, 6, 5, nullptr, &options, palette.data(), &entries,
                               indices.data(), indices.size()),
                  reduce)
            << c.name;
        if (!c.reduce) {
            EXPECT_EQ(palette, Bytes(DAZ_PALETTE_BYTES, UNTOUCHED)) << c.name;
            EXPECT_EQ(indices, Bytes(30, UNTOUCHED)) << c.name;
            EXPECT_EQ(entries, -5) << c.name;
        }
        indices.assign(30, UNTOUCHED);
        EXPECT_EQ(daz_remap(rgba.data(), 24, 6, 5, nullptr, &options, given.data(), 4,
                            indices.data(), indices.size()),
                  map)
            << c.name;
        if (!c.map) {
            EXPECT_EQ(indices, Bytes(30, UNTOUCHED)) << c.name;
        }
        Bytes out(4096, UNTOUCHED);
        size_t written = 7;
        EXPECT_EQ(daz_reduce(bmp.data(), bmp.size(), nullptr, &options, nullptr, 0, 0, out.data(),
                             out.size(), &written),
                  reduce)
            << c.name;
        EXPECT_EQ(daz_reduce(bmp.data(), bmp.size(), nullptr, &options, given.data(), 4, 0,
                             out.data(), out.size(), &written),
                  map)
            << c.name;
        if (!c.reduce && !c.map) {
            EXPECT_EQ(out, Bytes(4096, UNTOUCHED)) << c.name;
            EXPECT_EQ(written, 7U) << c.name;
        }
    }
}

TEST(ApiQuantize, SizesAreAskedFirstAndShortBuffersLeftUntouched) {
    const std::vector<std::uint32_t> colours = pattern(9, 4, 40);
    const Bytes bmp = rgbBmp(9, 4, colours);
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    ASSERT_EQ(daz_load_rgba(bmp.data(), bmp.size(), nullptr, &width, &height, nullptr, 0), DAZ_OK);
    ASSERT_EQ(width * 10 + height, 94U);
    Bytes rgba(4 * 9 * 4 - 1, UNTOUCHED);
    EXPECT_EQ(
        daz_load_rgba(bmp.data(), bmp.size(), nullptr, &width, &height, rgba.data(), rgba.size()),
        DAZ_ERR_BUFFER);
    EXPECT_EQ(rgba, Bytes(rgba.size(), UNTOUCHED));
    rgba.push_back(UNTOUCHED);
    ASSERT_EQ(
        daz_load_rgba(bmp.data(), bmp.size(), nullptr, &width, &height, rgba.data(), rgba.size()),
        DAZ_OK);
    EXPECT_EQ(rgba, rgbaOf(colours));

    size_t size = 0;
    ASSERT_EQ(
        daz_reduce(bmp.data(), bmp.size(), nullptr, nullptr, nullptr, 0, 0, nullptr, 0, &size),
        DAZ_OK);
    const std::size_t distinct = std::set<std::uint32_t>(colours.begin(), colours.end()).size();
    ASSERT_GT(distinct, 16U);
    // The query reads the header alone: the most, a palette of 256; the
    // file has the distinct colours, 8 bits: rows of 12 bytes.
    EXPECT_EQ(size, 24 + 4 * 256 + 12 * 4);
    const Bytes cut(bmp.begin(), bmp.end() - 20);
    std::size_t cutSize = 0;
    EXPECT_EQ(
        daz_reduce(cut.data(), cut.size(), nullptr, nullptr, nullptr, 0, 0, nullptr, 0, &cutSize),
        DAZ_OK);
    EXPECT_EQ(cutSize, size) << "the query reads no pixel";
    size = 24 + 4 * distinct + 12 * 4;
    Bytes out(size - 1, UNTOUCHED);
    EXPECT_EQ(daz_reduce(cut.data(), cut.size(), nullptr, nullptr, nullptr, 0, 0, out.data(),
                         out.size(), &cutSize),
              DAZ_ERR_READ);
    size_t written = 3;
    EXPECT_EQ(daz_reduce(bmp.data(), bmp.size(), nullptr, nullptr, nullptr, 0, 0, out.data(),
                         out.size(), &written),
              DAZ_ERR_BUFFER);
    EXPECT_EQ(out, Bytes(size - 1, UNTOUCHED));
    EXPECT_EQ(written, 3U);
    out.push_back(UNTOUCHED);
    EXPECT_EQ(daz_reduce(bmp.data(), bmp.size(), nullptr, nullptr, nullptr, 0, 0, out.data(),
                         out.size(), &written),
              DAZ_OK);
    EXPECT_EQ(written, size);

    // The pixel calls: indices short of width x height, and the slips.
    const daz_quantize_options options = defaults();
    Bytes palette(DAZ_PALETTE_BYTES, UNTOUCHED);
    Bytes indices(35, UNTOUCHED);
    int entries = 0;
    EXPECT_EQ(daz_quantize(rgba.data(), 36, 9, 4, nullptr, &options, palette.data(), &entries,
                           indices.data(), indices.size()),
              DAZ_ERR_BUFFER);
    EXPECT_EQ(daz_remap(rgba.data(), 36, 9, 4, nullptr, &options, palette.data(), 2, indices.data(),
                        indices.size()),
              DAZ_ERR_BUFFER);
    EXPECT_EQ(palette, Bytes(DAZ_PALETTE_BYTES, UNTOUCHED));
    EXPECT_EQ(indices, Bytes(35, UNTOUCHED));
    struct Slip {
        const char* name;
        std::function<int()> call;
    };
    const Slip slips[] = {
        {"no pixels",
         [&] {
             return daz_quantize(rgba.data(), 36, 0, 4, nullptr, &options, palette.data(), &entries,
                                 indices.data(), 99);
         }},
        {"stride short of a row",
         [&] {
             return daz_quantize(rgba.data(), 35, 9, 4, nullptr, &options, palette.data(), &entries,
                                 indices.data(), 99);
         }},
        {"no entries",
         [&] {
             return daz_quantize(rgba.data(), 36, 9, 4, nullptr, &options, palette.data(), nullptr,
                                 indices.data(), 99);
         }},
        {"no palette",
         [&] {
             return daz_remap(rgba.data(), 36, 9, 4, nullptr, &options, nullptr, 2, indices.data(),
                              99);
         }},
        {"a palette of 0",
         [&] {
             return daz_remap(rgba.data(), 36, 9, 4, nullptr, &options, palette.data(), 0,
                              indices.data(), 99);
         }},
        {"a palette of 257",
         [&] {
             return daz_reduce(bmp.data(), bmp.size(), nullptr, nullptr, palette.data(), 257, 0,
                               nullptr, 0, &size);
         }},
        {"no written",
         [&] {
             return daz_reduce(bmp.data(), bmp.size(), nullptr, nullptr, nullptr, 0, 0, nullptr, 0,
                               nullptr);
         }},
        {"no size",
         [&] {
             return daz_load_rgba(bmp.data(), bmp.size(), nullptr, nullptr, &height, nullptr, 0);
         }},
        {"no palette out",
         [&] { return daz_load_palette(bmp.data(), bmp.size(), nullptr, nullptr, &entries); }},
    };
    for (const Slip& slip : slips) {
        EXPECT_EQ(slip.call(), DAZ_ERR_ARGUMENT) << slip.name;
    }
    EXPECT_EQ(palette, Bytes(DAZ_PALETTE_BYTES, UNTOUCHED));
}

TEST(ApiQuantize, LimitsComeBeforeAnyWork) {
    const std::vector<std::uint32_t> colours = pattern(4, 4, 3);
    const Bytes rgba = rgbaOf(colours);
    const Bytes bmp = rgbBmp(4, 4, colours);
    const daz_limits tenPixels{DAZ_MAX_WIDTH, DAZ_MAX_ROWS, 10, 1U << 30U};
    const daz_limits threeWide{3, DAZ_MAX_ROWS, 1U << 28U, 1U << 30U};
    for (const daz_limits* limits : {&tenPixels, &threeWide}) {
        Bytes palette(DAZ_PALETTE_BYTES, UNTOUCHED);
        Bytes indices(16, UNTOUCHED);
        int entries = 0;
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        size_t size = 0;
        EXPECT_EQ(daz_quantize(rgba.data(), 16, 4, 4, limits, nullptr, palette.data(), &entries,
                               indices.data(), indices.size()),
                  DAZ_ERR_LIMITS);
        EXPECT_EQ(daz_remap(rgba.data(), 16, 4, 4, limits, nullptr, palette.data(), 3,
                            indices.data(), indices.size()),
                  DAZ_ERR_LIMITS);
        EXPECT_EQ(daz_load_rgba(bmp.data(), bmp.size(), limits, &width, &height, nullptr, 0),
                  DAZ_ERR_LIMITS);
        EXPECT_EQ(daz_load_palette(bmp.data(), bmp.size(), limits, palette.data(), &entries),
                  DAZ_ERR_LIMITS);
        EXPECT_EQ(
            daz_reduce(bmp.data(), bmp.size(), limits, nullptr, nullptr, 0, 0, nullptr, 0, &size),
            DAZ_ERR_LIMITS);
        EXPECT_EQ(palette, Bytes(DAZ_PALETTE_BYTES, UNTOUCHED));
        EXPECT_EQ(indices, Bytes(16, UNTOUCHED));
    }
}

TEST(ApiQuantize, ThePaletteOfEachKindOfImage) {
    // A daz image of 3 entries (i, 2, 3, 4: the fourth byte kept) and its PNG.
    const Bytes daz = dazFile(4, 2, 8, 3, 0, Bytes(8, 1));
    size_t size = 0;
    Bytes png(4096);
    ASSERT_EQ(
        daz_export(daz.data(), daz.size(), nullptr, DAZ_FORMAT_PNG, png.data(), png.size(), &size),
        DAZ_OK);
    png.resize(size);
    std::vector<std::uint32_t> many(20 * 15);
    for (std::size_t i = 0; i < many.size(); ++i) {
        many[i] = static_cast<std::uint32_t>(i * 0x010203U);
    }
    const std::string pgm = "P5 3 1 255\n\x40\x10\x40";
    struct Case {
        const char* name;
        Bytes file;
        int result;
        int entries;
        std::vector<std::uint8_t> first; // the first entries' bytes
    };
    const Case cases[] = {
        {"daz", daz, DAZ_OK, 3, {0, 2, 3, 4, 1, 2, 3, 4, 2, 2, 3, 4}},
        {"indexed PNG", png, DAZ_OK, 3, {0, 2, 3, 0, 1, 2, 3, 0, 2, 2, 3, 0}},
        {"8-bit bitmap", makeBmp(2, 2, 8, Bytes(8, 0)), DAZ_OK, 256, {0, 0, 0, 0, 3, 2, 1, 0}},
        {"4-bit bitmap", makeBmp(2, 2, 4, Bytes(8, 0)), DAZ_OK, 16, {0, 0, 0, 0, 3, 2, 1, 0}},
        {"24-bit bitmap of 3 colours, top row first",
         rgbBmp(2, 2, {0x112233, 0x445566, 0x112233, 0x778899}),
         DAZ_OK,
         3,
         {0x11, 0x22, 0x33, 0, 0x44, 0x55, 0x66, 0, 0x77, 0x88, 0x99, 0}},
        {"PGM of 2 greys",
         Bytes(pgm.begin(), pgm.end()),
         DAZ_OK,
         2,
         {0x40, 0x40, 0x40, 0, 0x10, 0x10, 0x10, 0}},
        {"24-bit bitmap of 300 colours", rgbBmp(20, 15, many), DAZ_ERR_NO_PALETTE, -1, {}},
        {"no image", Bytes{'h', 'i'}, DAZ_ERR_FORMAT, -1, {}},
    };
    for (const Case& c : cases) {
        Bytes palette(DAZ_PALETTE_BYTES, UNTOUCHED);
        int entries = -1;
        ASSERT_EQ(daz_load_palette(c.file.data(), c.file.size(), nullptr, palette.data(), &entries),
                  c.result)
            << c.name;
        EXPECT_EQ(entries, c.entries) << c.name;
        if (c.result != DAZ_OK) {
            EXPECT_EQ(palette, Bytes(DAZ_PALETTE_BYTES, UNTOUCHED)) << c.name;
            continue;
        }
        EXPECT_EQ(Bytes(palette.begin(), palette.begin() + static_cast<long>(c.first.size())),
                  c.first)
            << c.name;
        EXPECT_EQ(Bytes(palette.begin() + 4 * entries, palette.end()),
                  Bytes(DAZ_PALETTE_BYTES - 4 * static_cast<std::size_t>(entries), 0))
            << c.name;
    }
}

TEST(ApiQuantize, ReduceWritesItsPaletteAsGivenAndFewColoursExactly) {
    const std::vector<std::uint32_t> colours = pattern(7, 5, 5);
    const Bytes bmp = rgbBmp(7, 5, colours);
    std::array<std::uint8_t, 4 * 20> given{};
    for (std::size_t i = 0; i < given.size(); ++i) {
        given[i] = static_cast<std::uint8_t>(i * 13 + 1); // fourth bytes too
    }
    // palette: null to reduce; bits and colors as the file stores them.
    struct Case {
        const char* name;
        const std::uint8_t* palette;
        int entries;
        int bits;
        int colors;
    };
    const Case cases[] = {
        {"5 colours reduced", nullptr, 0, 4, 5},
        {"mapped onto 3 entries", given.data(), 3, 4, 3},
        {"mapped onto 16 entries", given.data(), 16, 4, 16},
        {"mapped onto 17 entries", given.data(), 17, 8, 17},
        {"mapped onto 20 entries", given.data(), 20, 8, 20},
    };
    TempDir dir;
    writeFile(dir.file("in.bmp"), bmp);
    for (const Case& c : cases) {
        size_t size = 0;
        ASSERT_EQ(daz_reduce(bmp.data(), bmp.size(), nullptr, nullptr, c.palette, c.entries, 0x1F2E,
                             nullptr, 0, &size),
                  DAZ_OK)
            << c.name;
        Bytes daz(size);
        ASSERT_EQ(daz_reduce(bmp.data(), bmp.size(), nullptr, nullptr, c.palette, c.entries, 0x1F2E,
                             daz.data(), daz.size(), &size),
                  DAZ_OK)
            << c.name;
        daz.resize(size);
        daz_info info;
        ASSERT_EQ(daz_inspect(daz.data(), daz.size(), &info), DAZ_OK) << c.name;
        EXPECT_EQ(info.bits, c.bits) << c.name;
        EXPECT_EQ(info.colors, c.colors) << c.name;
        EXPECT_EQ(info.height, 5) << c.name << ": rows bottom-up";
        EXPECT_EQ(info.key, 0x1F2E) << c.name;
        EXPECT_EQ(info.trailing, 0U) << c.name;
        // Byte for byte as daz_encode writes its indices: padding included.
        Bytes indices(7 * 5);
        ASSERT_EQ(daz_decode(daz.data(), daz.size(), nullptr, &info, nullptr, indices.data(),
                             indices.size()),
                  DAZ_OK);
        Bytes encoded(daz.size());
        std::size_t encodedSize = 0;
        ASSERT_EQ(daz_encode(indices.data(), 7, 7, 5, info.bits, info.palette, info.colors, 0,
                             0x1F2E, encoded.data(), encoded.size(), &encodedSize, nullptr),
                  DAZ_OK);
        EXPECT_EQ(encoded, daz) << c.name;
        if (c.palette != nullptr) {
            EXPECT_EQ(Bytes(info.palette, info.palette + 4 * c.entries),
                      Bytes(c.palette, c.palette + 4 * c.entries))
                << c.name;
        } else {
            Bytes rgba(4 * 7 * 5);
            ASSERT_EQ(
                daz_decode_rgba(daz.data(), daz.size(), nullptr, nullptr, rgba.data(), rgba.size()),
                DAZ_OK);
            EXPECT_EQ(rgba, rgbaOf(colours)) << c.name << ": every colour kept";
        }
        // The same file from the file call.
        ASSERT_EQ(daz_reduce_file(dir.file("in.bmp").c_str(), dir.file("out.daz").c_str(), nullptr,
                                  nullptr, c.palette, c.entries, 0x1F2E),
                  DAZ_OK)
            << c.name;
        EXPECT_EQ(readFile(dir.file("out.daz")), daz) << c.name;
    }
    // A failure leaves the destination as it was.
    writeFile(dir.file("bad.bmp"), {'B', 'M', 1});
    const Bytes before = readFile(dir.file("out.daz"));
    EXPECT_EQ(daz_reduce_file(dir.file("bad.bmp").c_str(), dir.file("out.daz").c_str(), nullptr,
                              nullptr, nullptr, 0, 0),
              DAZ_ERR_READ);
    EXPECT_EQ(daz_reduce_file(dir.file("none.bmp").c_str(), dir.file("out.daz").c_str(), nullptr,
                              nullptr, nullptr, 0, 0),
              DAZ_ERR_OPEN);
    EXPECT_EQ(daz_reduce_file(dir.file("in.bmp").c_str(), dir.file("in.bmp").c_str(), nullptr,
                              nullptr, nullptr, 0, 0),
              DAZ_ERR_CREATE);
    EXPECT_EQ(readFile(dir.file("out.daz")), before);
    EXPECT_EQ(readFile(dir.file("in.bmp")), bmp);
    EXPECT_EQ(folderEntries(dir.path), (std::vector<std::string>{"bad.bmp", "in.bmp", "out.daz"}));
}
