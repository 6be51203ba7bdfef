// The quantizer (src/quantize) by its promises: lossless images kept exactly
// in order of first appearance, never more entries than asked, mapping onto
// a palette as given, the transparent index and compositing, options out of
// range refused, degenerate sizes, and the same bytes on every platform (the
// digests below, checked on x86-64, arm64 and s390x alike).
#include "daz/daz.h"
#include "quantize/quantize.h"
#include "quantize_digests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace orvx::quantize;

namespace {

struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;
    RgbaImage view() const { return {rgba.data(), size_t{width} * 4, width, height}; }
    uint8_t* at(uint32_t x, uint32_t y) { return &rgba[(size_t{y} * width + x) * 4]; }
};

Image blank(uint32_t width, uint32_t height) {
    Image image;
    image.width = width;
    image.height = height;
    image.rgba.assign(size_t{width} * height * 4, 255);
    return image;
}

void set(Image& image, uint32_t x, uint32_t y, int r, int g, int b, int a = 255) {
    uint8_t* p = image.at(x, y);
    p[0] = static_cast<uint8_t>(r), p[1] = static_cast<uint8_t>(g), p[2] = static_cast<uint8_t>(b);
    p[3] = static_cast<uint8_t>(a);
}

// The images of quantize_digests.h, which the digests are taken on.
Image gradient(uint32_t width, uint32_t height) {
    Image image = blank(width, height);
    digestGradient(image.rgba.data(), width, height);
    return image;
}

Image noise(uint32_t width, uint32_t height, uint32_t seed, bool alpha = false) {
    Image image = blank(width, height);
    digestNoise(image.rgba.data(), width, height, seed, alpha ? 1 : 0);
    return image;
}

Image photoLike(uint32_t width, uint32_t height, uint32_t seed) {
    Image image = blank(width, height);
    digestPhotoLike(image.rgba.data(), width, height, seed);
    return image;
}

// An image of the given colours, each a short run, in a pattern; alpha 255.
Image ofColors(const std::vector<uint32_t>& colors, uint32_t width, uint32_t height) {
    Image image = blank(width, height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t c = colors[(x / 3 + y * 7) % colors.size()];
            set(image, x, y, static_cast<int>(c >> 16), static_cast<int>(c >> 8 & 0xFF),
                static_cast<int>(c & 0xFF));
        }
    }
    return image;
}

Options options(int colors, Dither dither = Dither::None, int transparent = -1,
                uint32_t background = 0) {
    Options o;
    o.colors = colors;
    o.dither = dither;
    o.transparentIndex = transparent;
    o.background[0] = static_cast<uint8_t>(background >> 16);
    o.background[1] = static_cast<uint8_t>(background >> 8);
    o.background[2] = static_cast<uint8_t>(background);
    return o;
}

uint32_t composite(const uint8_t* p, const Options& o) {
    uint32_t c = 0;
    for (int i = 0; i < 3; ++i) {
        c = c << 8 | (p[i] * p[3] + o.background[i] * (255u - p[3]) + 127) / 255;
    }
    return c;
}

uint32_t entry(const Palette& palette, int i) {
    return uint32_t{palette.bytes[i * 4]} << 16 | uint32_t{palette.bytes[i * 4 + 1]} << 8 |
           palette.bytes[i * 4 + 2];
}

// What every result keeps: entries in range, fourth bytes and the bytes past
// the entries zero, indices below entries, the transparent index for alpha 0
// and for nothing else, entry t the background.
void expectWellFormed(const Image& image, const Options& o, const Palette& palette,
                      const std::vector<uint8_t>& indices) {
    ASSERT_GE(palette.entries, 1);
    ASSERT_LE(palette.entries, o.colors);
    for (int i = 0; i < 256 * 4; ++i) {
        if (i % 4 == 3 || i >= palette.entries * 4) {
            ASSERT_EQ(palette.bytes[i], 0) << "byte " << i;
        }
    }
    const int t = o.transparentIndex;
    if (t >= 0) {
        ASSERT_GT(palette.entries, t);
        EXPECT_EQ(entry(palette, t), uint32_t{o.background[0]} << 16 |
                                         uint32_t{o.background[1]} << 8 | o.background[2]);
    }
    for (size_t i = 0; i < indices.size(); ++i) {
        ASSERT_LT(indices[i], palette.entries) << "pixel " << i;
        const bool clear = image.rgba[i * 4 + 3] == 0 && t >= 0;
        ASSERT_EQ(indices[i] == t, clear) << "pixel " << i;
    }
}

struct Result {
    int status = 0;
    Palette palette;
    std::vector<uint8_t> indices;
};

Result reduce(const Image& image, const Options& o) {
    Result result;
    result.indices.assign(size_t{image.width} * image.height, 0xEE);
    result.status = reducePalette(image.view(), o, result.palette, result.indices.data());
    return result;
}

Result map(const Image& image, const Options& o, const Palette& palette) {
    Result result;
    result.palette = palette;
    result.indices.assign(size_t{image.width} * image.height, 0xEE);
    result.status = mapToPalette(image.view(), o, palette, result.indices.data());
    return result;
}

std::vector<uint32_t> someColors(int n, uint32_t seed) {
    std::vector<uint32_t> colors;
    uint32_t state = seed;
    while (static_cast<int>(colors.size()) < n) {
        const uint32_t c = digestRandomNext(&state) & 0xFFFFFF;
        if (std::find(colors.begin(), colors.end(), c) == colors.end()) {
            colors.push_back(c);
        }
    }
    return colors;
}

} // namespace

// N colours or fewer: each kept exactly, in order of first appearance (the
// pattern of ofColors shows colour k first at k), dither or not, around a
// transparent index.
TEST(Quantize, FewColoursAreKeptExactlyInOrderOfFirstAppearance) {
    struct Case {
        int distinct, colors, transparent;
        Dither dither;
    };
    const Case cases[] = {
        {1, 2, -1, Dither::None},     {2, 2, -1, Dither::Diffusion},
        {5, 16, -1, Dither::None},    {16, 16, -1, Dither::Diffusion},
        {100, 256, -1, Dither::None}, {256, 256, -1, Dither::Diffusion},
        {15, 16, 0, Dither::None},    {15, 16, 15, Dither::Diffusion},
        {3, 16, 9, Dither::None},     {255, 256, 200, Dither::Diffusion},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.distinct << " colours to " << c.colors << ", t " << c.transparent);
        const std::vector<uint32_t> colors = someColors(c.distinct, 7 + c.distinct);
        Image image = ofColors(colors, 301, 37);
        if (c.transparent >= 0) {
            set(image, 300, 36, 1, 2, 3, 0);
            set(image, 0, 5, 9, 9, 9, 0);
        }
        const Options o = options(c.colors, c.dither, c.transparent, 0x102030);
        const Result r = reduce(image, o);
        ASSERT_EQ(r.status, DAZ_OK);
        expectWellFormed(image, o, r.palette, r.indices);
        std::vector<uint32_t> order;
        for (int i = 0; i < r.palette.entries; ++i) {
            if (i != c.transparent && static_cast<int>(order.size()) < c.distinct) {
                order.push_back(entry(r.palette, i));
            }
        }
        EXPECT_EQ(order, colors);
        for (size_t i = 0; i < r.indices.size(); ++i) {
            if (image.rgba[i * 4 + 3] != 0) {
                ASSERT_EQ(entry(r.palette, r.indices[i]), composite(&image.rgba[i * 4], o));
            }
        }
    }
}

// More colours than asked: never more entries, whatever the options.
TEST(Quantize, NeverMoreEntriesThanAsked) {
    const Image images[] = {noise(97, 61, 1), gradient(128, 90), photoLike(160, 120, 3),
                            noise(50, 40, 5, true)};
    for (const Image& image : images) {
        for (int colors : {2, 3, 16, 64, 255, 256}) {
            for (int t : {-1, 0, 1}) {
                for (Dither dither : {Dither::None, Dither::Diffusion}) {
                    SCOPED_TRACE(testing::Message() << image.width << "x" << image.height << " to "
                                                    << colors << ", t " << t);
                    const Options o = options(colors, dither, t, 0x808080);
                    const Result r = reduce(image, o);
                    ASSERT_EQ(r.status, DAZ_OK);
                    expectWellFormed(image, o, r.palette, r.indices);
                    EXPECT_GE(r.palette.entries, t >= 0 ? std::min(colors, 3) : 2);
                }
            }
        }
    }
}

// Reduction without dither gives each pixel its nearest entry: mapping the
// image onto the palette it got gives the same indices.
TEST(Quantize, ReductionAgreesWithMappingOntoItsPalette) {
    const Image image = photoLike(120, 80, 11);
    for (int colors : {4, 16, 256}) {
        const Options o = options(colors);
        const Result r = reduce(image, o);
        ASSERT_EQ(r.status, DAZ_OK);
        EXPECT_EQ(map(image, o, r.palette).indices, r.indices) << colors;
    }
}

// A dithered reduction reaches the ends of a ramp: k-means puts the
// colours inside the ramp, which a dither alone cannot get past, and the
// reduction moves them out to what the dither needs. The mean of the
// output over each end's 32 columns, against the ramp's, per channel.
TEST(Quantize, DitheredReductionReachesTheEndsOfARamp) {
    struct Case {
        int colors;
        uint32_t from, to; // the ramp's ends
        int most;          // the largest error of an end's mean, in levels
    } const cases[] = {
        {2, 0x000000, 0xFFFFFF, 46},
        {4, 0x000000, 0xFFFFFF, 15},
        {3, 0x102080, 0xF0C020, 21},
        {8, 0x000000, 0xFF8040, 3},
    };
    for (const Case& c : cases) {
        Image image = blank(256, 32);
        for (uint32_t y = 0; y < 32; ++y) {
            for (uint32_t x = 0; x < 256; ++x) {
                int v[3];
                for (int ch = 0; ch < 3; ++ch) {
                    const int a = static_cast<int>(c.from >> (16 - 8 * ch) & 0xFF);
                    const int b = static_cast<int>(c.to >> (16 - 8 * ch) & 0xFF);
                    v[ch] = a + (b - a) * static_cast<int>(x) / 255;
                }
                set(image, x, y, v[0], v[1], v[2]);
            }
        }
        const Result r = reduce(image, options(c.colors, Dither::Diffusion));
        ASSERT_EQ(r.status, DAZ_OK);
        int worst = 0;
        for (uint32_t x0 : {0u, 224u}) {
            for (int ch = 0; ch < 3; ++ch) {
                int64_t in = 0;
                int64_t out = 0;
                for (uint32_t y = 0; y < 32; ++y) {
                    for (uint32_t x = x0; x < x0 + 32; ++x) {
                        in += image.at(x, y)[ch];
                        out += r.palette.bytes[r.indices[size_t{y} * 256 + x] * 4 + ch];
                    }
                }
                worst = std::max(worst, static_cast<int>(std::abs(out - in) / 1024));
            }
        }
        EXPECT_LE(worst, c.most) << c.colors << " colours";
    }
}

// Mapping keeps the palette as given: exact colours map to their first
// entry even with dither (a repeated colour and the transparent index
// aside), and indices stay below the entries.
TEST(Quantize, MappingKeepsThePaletteAndItsExactColours) {
    Palette palette;
    const uint32_t given[] = {0x000000, 0xFF0000, 0x00FF00, 0xFF0000, 0x0000FF, 0xFFFFFF, 0x808080};
    palette.entries = 7;
    for (int i = 0; i < 7; ++i) {
        palette.bytes[i * 4] = static_cast<uint8_t>(given[i] >> 16);
        palette.bytes[i * 4 + 1] = static_cast<uint8_t>(given[i] >> 8);
        palette.bytes[i * 4 + 2] = static_cast<uint8_t>(given[i]);
        palette.bytes[i * 4 + 3] = static_cast<uint8_t>(i * 10); // kept as it is
    }
    const Image exact = ofColors({0x808080, 0xFF0000, 0x0000FF, 0xFFFFFF}, 64, 32);
    for (Dither dither : {Dither::None, Dither::Diffusion}) {
        for (int t : {-1, 0, 6}) {
            const Options o = options(256, dither, t);
            const Result r = map(exact, o, palette);
            ASSERT_EQ(r.status, DAZ_OK);
            for (size_t i = 0; i < r.indices.size(); ++i) {
                const uint32_t c = composite(&exact.rgba[i * 4], o);
                const int expected = c == 0xFF0000 ? 1 : c == 0x0000FF ? 4 : c == 0xFFFFFF ? 5 : 6;
                ASSERT_EQ(r.indices[i], t == 6 && expected == 6 ? r.indices[i] : expected) << i;
                ASSERT_NE(r.indices[i], t);
            }
        }
    }
    const Image other = noise(80, 50, 9, true);
    for (Dither dither : {Dither::None, Dither::Diffusion}) {
        const Options o = options(256, dither, 3, 0x0000FF);
        const Result r = map(other, o, palette);
        ASSERT_EQ(r.status, DAZ_OK);
        for (size_t i = 0; i < r.indices.size(); ++i) {
            ASSERT_LT(r.indices[i], 7);
            ASSERT_EQ(r.indices[i] == 3, other.rgba[i * 4 + 3] == 0);
        }
    }
    // Without dither: the nearest entry, the lowest of equal ones.
    Image probe = blank(3, 1);
    set(probe, 0, 0, 0xC0, 0, 0);
    set(probe, 1, 0, 0xFE, 1, 1);
    set(probe, 2, 0, 1, 1, 1);
    const Result r = map(probe, options(256), palette);
    ASSERT_EQ(r.status, DAZ_OK);
    EXPECT_EQ(r.indices[0], 1); // nearer pure red than black or grey
    EXPECT_EQ(r.indices[1], 1); // red, the lower of the two equal entries
    EXPECT_EQ(r.indices[2], 0);
}

// Each pixel over the background, rounded: (c a + bg (255 - a) + 127) / 255;
// with a transparent index, alpha 0 gets it and counts for nothing else.
TEST(Quantize, CompositesOverTheBackground) {
    Image image = blank(4, 1);
    set(image, 0, 0, 200, 100, 0, 128);
    set(image, 1, 0, 10, 20, 30, 0);
    set(image, 2, 0, 255, 255, 255, 1);
    set(image, 3, 0, 7, 8, 9, 255);
    const Options plain = options(16, Dither::None, -1, 0x204060);
    const Result r = reduce(image, plain);
    ASSERT_EQ(r.status, DAZ_OK);
    ASSERT_EQ(r.palette.entries, 4);
    EXPECT_EQ(entry(r.palette, 0), uint32_t{(200 * 128 + 0x20 * 127 + 127) / 255} << 16 |
                                       uint32_t{(100 * 128 + 0x40 * 127 + 127) / 255} << 8 |
                                       (0x60 * 127 + 127) / 255);
    EXPECT_EQ(entry(r.palette, 1), 0x204060u);
    EXPECT_EQ(entry(r.palette, 2), 0x214161u);
    EXPECT_EQ(entry(r.palette, 3), 0x070809u);
    const Options clear = options(16, Dither::Diffusion, 2, 0x204060);
    const Result c = reduce(image, clear);
    ASSERT_EQ(c.status, DAZ_OK);
    EXPECT_EQ(c.palette.entries, 4);
    EXPECT_EQ(c.indices, (std::vector<uint8_t>{0, 2, 1, 3}));
    // All transparent: the background at t, slots below it the same.
    Image gone = blank(3, 3);
    for (uint32_t i = 0; i < 9; ++i) {
        gone.rgba[i * 4 + 3] = 0;
    }
    const Result g = reduce(gone, options(16, Dither::None, 5, 0x010203));
    ASSERT_EQ(g.status, DAZ_OK);
    EXPECT_EQ(g.palette.entries, 6);
    EXPECT_EQ(g.indices, std::vector<uint8_t>(9, 5));
}

// The quantizer's own checks, which the API's (api_quantize_test) keep it
// from seeing: entries -1 reduces, else maps onto a palette of that many.
TEST(Quantize, RefusesOptionsOutOfRange) {
    const Image image = gradient(8, 8);
    struct Case {
        Options options;
        int entries;
        int status;
    };
    const Case cases[] = {
        {options(1), -1, DAZ_ERR_ARGUMENT},
        {options(257), -1, DAZ_ERR_ARGUMENT},
        {options(0), -1, DAZ_ERR_ARGUMENT},
        {options(16, Dither::None, 16), -1, DAZ_ERR_ARGUMENT},
        {options(16, Dither::None, -2), -1, DAZ_ERR_ARGUMENT},
        {options(16, static_cast<Dither>(2)), -1, DAZ_ERR_ARGUMENT},
        {options(16, Dither::None, 2), 2, DAZ_ERR_ARGUMENT},
        {options(16, static_cast<Dither>(-1)), 2, DAZ_ERR_ARGUMENT},
        {options(16), 0, DAZ_ERR_ARGUMENT},
        {options(16), 257, DAZ_ERR_ARGUMENT},
        {options(16, Dither::None, 0), 1, DAZ_ERR_ARGUMENT},
        {options(16), 1, DAZ_OK},
    };
    for (const Case& c : cases) {
        Palette palette;
        palette.entries = c.entries;
        const int status =
            c.entries < 0 ? reduce(image, c.options).status : map(image, c.options, palette).status;
        EXPECT_EQ(status, c.status) << c.options.colors << " " << c.options.transparentIndex << ", "
                                    << c.entries << " entries";
    }
    Image empty;
    Palette out;
    uint8_t index = 0;
    EXPECT_EQ(reducePalette(empty.view(), options(16), out, &index), DAZ_ERR_ARGUMENT);
    RgbaImage narrow = image.view();
    narrow.stride = 31;
    EXPECT_EQ(reducePalette(narrow, options(16), out, &index), DAZ_ERR_ARGUMENT);
}

TEST(Quantize, DegenerateImages) {
    const Image one = noise(1, 1, 3);
    for (Dither dither : {Dither::None, Dither::Diffusion}) {
        const Result r = reduce(one, options(2, dither));
        ASSERT_EQ(r.status, DAZ_OK);
        EXPECT_EQ(r.palette.entries, 1);
        EXPECT_EQ(r.indices[0], 0);
    }
    const Image flat = ofColors({0x123456}, 300, 200);
    const Result f = reduce(flat, options(4, Dither::Diffusion));
    EXPECT_EQ(f.palette.entries, 1);
    const Image wide = noise(65535, 1, 17);
    const Image tall = gradient(2, 5000);
    for (const Image* image : {&wide, &tall}) {
        for (Dither dither : {Dither::None, Dither::Diffusion}) {
            const Options o = options(16, dither, 3);
            const Result r = reduce(*image, o);
            ASSERT_EQ(r.status, DAZ_OK);
            expectWellFormed(*image, o, r.palette, r.indices);
        }
    }
}

// The same bytes on every platform: digests of the palette and indices, from
// the one list the WebAssembly check reads too (quantize_digests.h).
TEST(Quantize, SameBytesEverywhere) {
    std::vector<Image> images;
    for (int i = 0; i < DIGEST_IMAGES; ++i) {
        images.push_back(blank(DIGEST_IMAGE_SIZES[i][0], DIGEST_IMAGE_SIZES[i][1]));
        digestImage(i, images.back().rgba.data());
    }
    for (const DigestCase& c : DIGEST_CASES) {
        const Options o = options(c.colors, c.dither != 0 ? Dither::Diffusion : Dither::None,
                                  c.transparent, c.background);
        const Result r = reduce(images[c.image], o);
        ASSERT_EQ(r.status, DAZ_OK) << c.name;
        Result m = map(images[(c.image + 1) % 3], o, r.palette);
        ASSERT_EQ(m.status, DAZ_OK) << c.name;
        const uint64_t found =
            digestOf(r.palette.entries, r.palette.bytes, r.indices.data(), r.indices.size()) ^
            (digestOf(m.palette.entries, m.palette.bytes, m.indices.data(), m.indices.size()) << 1);
        char text[40];
        std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(found));
        EXPECT_EQ(c.digest, found) << c.name << ": " << text;
    }
}
