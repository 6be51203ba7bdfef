// libdaz's daz side, in memory and as streams, on images built byte by byte
// here and checked against renderDaz and orvx -c.
#include "convert/bmp_to_daz.h"
#include "daz/daz.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <memory>
#include <random>
#include <thread>

namespace {

Bytes randomBytes(std::size_t size, unsigned seed, unsigned below = 256) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(random() % below);
    }
    return bytes;
}

std::size_t rowSizeOf(int width, int bits) {
    return static_cast<std::size_t>((width * bits + 31) / 32 * 4);
}

// The bytes on the heap, exactly size of them: a read past the end is a
// fault the sanitizer build reports.
std::unique_ptr<std::uint8_t[]> exactCopy(const Bytes& bytes) {
    auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get()); // an empty one included
    return copy;
}

struct InspectCase {
    const char* name;
    Bytes bytes;
    int expected;
    std::uint32_t rows;
    std::uint64_t trailing;
};

TEST(ApiInspect, RefusesEachFaultAndCountsRowsAndTrailingBytes) {
    const Bytes row8(4, 9);
    Bytes header23 = dazFile(4, 1, 8, 1, 0, row8);
    header23.resize(23);
    Bytes cutPalette = dazFile(4, 1, 8, 3, 0, {});
    cutPalette.resize(24 + 11);
    Bytes trailing = dazFile(4, 2, 8, 1, 0, Bytes(8 + 5, 0));
    const InspectCase cases[] = {
        {"empty", {}, DAZ_ERR_TRUNCATED, 0, 0},
        {"one byte", {'E'}, DAZ_ERR_TRUNCATED, 0, 0},
        {"wrong magic", {'B', 'M', 0, 0}, DAZ_ERR_NOT_DAZ, 0, 0},
        {"header cut", header23, DAZ_ERR_TRUNCATED, 0, 0},
        {"bits 5", dazFile(4, 1, 5, 1, 0, row8), DAZ_ERR_DAZ_BITS, 0, 0},
        {"colours 0", dazFile(4, 1, 8, 0, 0, row8), DAZ_ERR_DAZ_COLORS, 0, 0},
        {"colours 17 at 4 bits", dazFile(8, 1, 4, 17, 0, row8), DAZ_ERR_DAZ_COLORS, 0, 0},
        {"colours 257", dazFile(4, 1, 8, 257, 0, row8), DAZ_ERR_DAZ_COLORS, 0, 0},
        {"colours -1", dazFile(4, 1, 8, -1, 0, row8), DAZ_ERR_DAZ_COLORS, 0, 0},
        {"palette cut", cutPalette, DAZ_ERR_TRUNCATED, 0, 0},
        {"no whole row", dazFile(5, 1, 8, 1, 0, Bytes(7, 0)), DAZ_ERR_NO_ROWS, 0, 0},
        {"height 0", dazFile(4, 0, 8, 1, 0, row8), DAZ_ERR_NO_ROWS, 0, 0},
        {"width 0", dazFile(0, 1, 8, 1, 0, row8), DAZ_ERR_NO_ROWS, 0, 0},
        {"height -32768, one row", dazFile(4, -32768, 8, 1, 0, row8), DAZ_OK, 1, 0},
        {"two rows of 4, 5 more bytes", trailing, DAZ_OK, 2, 5},
        {"4-bit odd width", dazFile(9, -3, 4, 16, 0, Bytes(3 * 8 + 1, 0)), DAZ_OK, 3, 1},
    };
    for (const InspectCase& c : cases) {
        const auto data = exactCopy(c.bytes);
        daz_info info{};
        const std::uint8_t nothing = 0;
        ASSERT_EQ(daz_inspect(c.bytes.empty() ? &nothing : data.get(), c.bytes.size(), &info),
                  c.expected)
            << c.name;
        if (c.expected == DAZ_OK) {
            EXPECT_EQ(info.rows, c.rows) << c.name;
            EXPECT_EQ(info.trailing, c.trailing) << c.name;
            EXPECT_EQ(info.pixel_offset, 24 + 4 * std::uint64_t(info.colors)) << c.name;
        }
    }
}

struct DecodeCase {
    int width;
    int height;
    int bits;
    int colors;
    int key;
    int extraBytes; // negative: that many bytes short of |height| rows
};

const DecodeCase DECODE_CASES[] = {
    {1, 1, 8, 256, 0, 0},       {5, -3, 4, 16, 0x1234, 0},  {7, 4, 4, 3, 0xBEEF, 0},
    {3, -2, 8, 2, 0xFFFF, 7},   {17, 5, 8, 200, 0x0101, 0}, {400, 3, 8, 10, 0x1F2E, 0},
    {801, -4, 4, 5, 0xA5, 0},   {6, 9, 8, 1, 0x00FF, -10},  {33, 40, 4, 16, 0x3C5A, 0},
    {2, -5, 4, 16, 0x8001, -3},
};

Bytes decodeCaseBytes(const DecodeCase& c, unsigned seed) {
    const std::size_t rows = static_cast<std::size_t>(std::abs(c.height));
    const auto size = static_cast<std::ptrdiff_t>(rows * rowSizeOf(c.width, c.bits)) + c.extraBytes;
    return dazFile(c.width, c.height, c.bits, c.colors, c.key,
                   randomBytes(static_cast<std::size_t>(size), seed));
}

// Memory reader for the streaming decoder, giving at most step bytes a call.
struct Reader {
    const Bytes* bytes;
    std::size_t at = 0;
    std::size_t step = 1000;
};

int readBytes(void* user, void* buffer, std::size_t size, std::size_t* got) {
    auto& reader = *static_cast<Reader*>(user);
    *got = std::min({size, reader.step, reader.bytes->size() - reader.at});
    std::memcpy(buffer, reader.bytes->data() + reader.at, *got);
    reader.at += *got;
    return 0;
}

int appendBytes(void* user, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    static_cast<Bytes*>(user)->insert(static_cast<Bytes*>(user)->end(), bytes, bytes + size);
    return 0;
}

TEST(ApiDecode, EqualsTheFormatsOwnDecodingInMemoryAndAsAStream) {
    unsigned seed = 1;
    for (const DecodeCase& c : DECODE_CASES) {
        const Bytes daz = decodeCaseBytes(c, seed++);
        const auto data = exactCopy(daz);
        const Picture expected = renderDaz(daz);
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << c.bits << "-bit");

        daz_info info{};
        std::size_t indicesSize = 0;
        std::size_t rgbaSize = 0;
        ASSERT_EQ(daz_inspect(data.get(), daz.size(), &info), DAZ_OK);
        ASSERT_EQ(daz_decoded_size(&info, nullptr, &indicesSize, &rgbaSize), DAZ_OK);
        ASSERT_EQ(info.rows, static_cast<std::uint32_t>(expected.height));
        Bytes indices(indicesSize);
        Bytes palette(DAZ_PALETTE_BYTES);
        ASSERT_EQ(daz_decode(data.get(), daz.size(), nullptr, &info, palette.data(), indices.data(),
                             indices.size()),
                  DAZ_OK);
        Bytes rgba(rgbaSize);
        ASSERT_EQ(daz_decode_rgba(data.get(), daz.size(), nullptr, &info, rgba.data(), rgba.size()),
                  DAZ_OK);
        Picture fromIndices{c.width, expected.height, {}};
        for (std::size_t i = 0; i < indices.size(); ++i) {
            const std::size_t index = indices[i];
            const bool defined = index < static_cast<std::size_t>(c.colors);
            const Bytes rgb = defined ? Bytes(palette.begin() + 4 * static_cast<long>(index),
                                              palette.begin() + 4 * static_cast<long>(index) + 3)
                                      : Bytes{1, 2, 3};
            fromIndices.rgb.insert(fromIndices.rgb.end(), rgb.begin(), rgb.end());
            const Bytes want =
                defined ? Bytes{rgb[0], rgb[1], rgb[2], 0xFF} : Bytes{0xFF, 0x00, 0xFF, 0xFF};
            ASSERT_EQ(Bytes(rgba.begin() + 4 * static_cast<long>(i),
                            rgba.begin() + 4 * static_cast<long>(i) + 4),
                      want)
                << "pixel " << i;
        }
        EXPECT_EQ(fromIndices, expected);

        // The stream, a row at a time, read in pieces of every size, on the
        // whole images (a stream can't know it is cut short before its end).
        if (info.rows != static_cast<std::uint32_t>(std::abs(c.height))) {
            continue;
        }
        for (std::size_t step : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
            Reader reader{&daz, 0, step};
            daz_decoder* decoder = nullptr;
            daz_info streamed{};
            ASSERT_EQ(daz_decoder_create(readBytes, &reader, nullptr, &decoder, &streamed), DAZ_OK);
            Bytes rows(indices.size(), 0xEE);
            Bytes row(info.width);
            for (std::uint32_t r = 0; r < info.rows; ++r) {
                std::uint32_t at = 0;
                ASSERT_EQ(daz_decoder_read_row(decoder, row.data(), row.size(), &at), DAZ_OK);
                // Rows come in stored order; at says where each belongs.
                ASSERT_LT(at, info.rows);
                std::memcpy(rows.data() + std::size_t{at} * info.width, row.data(), row.size());
            }
            daz_decoder_destroy(decoder);
            EXPECT_EQ(rows, indices) << "step " << step;
        }
    }
}

// Outputs past the caches take another path to memory; the streaming
// decoder, a row at a time, doesn't.
TEST(ApiDecode, LargeImagesEqualTheStreamingDecoder) {
    const DecodeCase cases[] = {{4097, 4100, 8, 200, 0x1F2E, 0}, {8195, -4100, 4, 9, 0x0102, 0}};
    unsigned seed = 50;
    for (const DecodeCase& c : cases) {
        const Bytes daz = decodeCaseBytes(c, seed++);
        daz_info info{};
        Bytes indices(std::size_t{4100} * static_cast<std::size_t>(c.width) + 3, 0xAA);
        ASSERT_EQ(daz_decode(daz.data(), daz.size(), nullptr, &info, nullptr, indices.data() + 3,
                             indices.size() - 3),
                  DAZ_OK);
        Reader reader{&daz, 0, 1 << 20};
        daz_decoder* decoder = nullptr;
        ASSERT_EQ(daz_decoder_create(readBytes, &reader, nullptr, &decoder, nullptr), DAZ_OK);
        Bytes rows(indices.size(), 0xAA);
        for (std::uint32_t r = 0; r < info.rows; ++r) {
            std::uint32_t at = 0;
            Bytes row(info.width);
            ASSERT_EQ(daz_decoder_read_row(decoder, row.data(), row.size(), &at), DAZ_OK);
            std::memcpy(rows.data() + 3 + std::size_t{at} * info.width, row.data(), row.size());
        }
        daz_decoder_destroy(decoder);
        EXPECT_TRUE(rows == indices) << c.width << "x" << c.height;
    }
}

TEST(ApiDecode, RefusesPastLimitsAndShortBuffersWritingNothing) {
    const Bytes daz = decodeCaseBytes({10, -6, 8, 4, 0x77, 0}, 3);
    const auto data = exactCopy(daz);
    const std::uint64_t pixels = 60;
    daz_limits exact{10, 6, pixels, pixels};
    struct LimitCase {
        const char* name;
        daz_limits limits;
        std::size_t bufferSize;
        int expected;
    };
    const LimitCase cases[] = {
        {"exactly at every limit", exact, pixels, DAZ_OK},
        {"width", {9, 6, pixels, pixels}, pixels, DAZ_ERR_LIMITS},
        {"height", {10, 5, pixels, pixels}, pixels, DAZ_ERR_LIMITS},
        {"pixels", {10, 6, pixels - 1, pixels}, pixels, DAZ_ERR_LIMITS},
        {"bytes", {10, 6, pixels, pixels - 1}, pixels, DAZ_ERR_LIMITS},
        {"buffer a byte short", exact, pixels - 1, DAZ_ERR_BUFFER},
    };
    for (const LimitCase& c : cases) {
        Bytes out(pixels + 16, 0xAA);
        Bytes palette(DAZ_PALETTE_BYTES, 0xAA);
        daz_info info{};
        EXPECT_EQ(daz_decode(data.get(), daz.size(), &c.limits, &info, palette.data(), out.data(),
                             c.bufferSize),
                  c.expected)
            << c.name;
        if (c.expected != DAZ_OK) {
            EXPECT_EQ(out, Bytes(pixels + 16, 0xAA)) << c.name;
            EXPECT_EQ(palette, Bytes(DAZ_PALETTE_BYTES, 0xAA)) << c.name;
        }
        Reader reader{&daz};
        daz_decoder* decoder = nullptr;
        const int streamed = daz_decoder_create(readBytes, &reader, &c.limits, &decoder, nullptr);
        // A decoder fills a row at a time: only the image's size counts.
        EXPECT_EQ(streamed, c.expected == DAZ_ERR_LIMITS && std::strcmp(c.name, "bytes") != 0
                                ? DAZ_ERR_LIMITS
                                : DAZ_OK)
            << c.name;
        daz_decoder_destroy(decoder);
    }
    // A 24-byte file that claims 65535 x 32768 pixels asks for nothing.
    const Bytes claim = dazFile(65535, -32768, 8, 1, 0, Bytes(65536, 0));
    daz_info info{};
    std::uint8_t one = 0;
    EXPECT_EQ(daz_decode(claim.data(), claim.size(), nullptr, &info, nullptr, &one, 1),
              DAZ_ERR_BUFFER);
}

struct EncodeCase {
    int width;
    int height;
    int bits;
    int kept; // 0: all
    std::uint16_t key;
};

// A negative height stores the rows top-down; -32768 is the tallest image.
const EncodeCase ENCODE_CASES[] = {
    {1, 1, 8, 0, 0},        {5, 3, 4, 0, 0x1234},      {7, 4, 4, 3, 0xBEEF},
    {3, 2, 8, 2, 0xFFFF},   {17, 5, 8, 200, 0x0101},   {400, 3, 8, 10, 0x1F2E},
    {801, 4, 4, 5, 0xA5},   {96, 40, 8, 1, 7},         {5, -3, 4, 0, 0x4321},
    {33, -7, 8, 9, 0x0F0F}, {1, -32768, 8, 0, 0x1F2E},
};

// makeBmp's palette in daz order: red 3i, green 2i, blue i, fourth 0x80.
Bytes bmpPalette(int bits) {
    Bytes palette;
    for (int i = 0; i < (1 << bits); ++i) {
        palette.insert(palette.end(),
                       {static_cast<std::uint8_t>(3 * i), static_cast<std::uint8_t>(2 * i),
                        static_cast<std::uint8_t>(i), 0x80});
    }
    return palette;
}

// The bitmap's pixel rows for top-down indices, packed, padded with zeros:
// bottom row first for a positive height (the canonical bitmap), top row
// first for a negative one.
Bytes bmpRows(const Bytes& indices, int width, int height, int bits) {
    const std::size_t rowSize = rowSizeOf(width, bits);
    const int rows = std::abs(height);
    Bytes out(rowSize * static_cast<std::size_t>(rows), 0);
    for (int y = 0; y < rows; ++y) {
        const int stored = height < 0 ? y : rows - 1 - y;
        std::uint8_t* row = out.data() + static_cast<std::size_t>(stored) * rowSize;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t index = indices[static_cast<std::size_t>(y * width + x)];
            if (bits == 8) {
                row[x] = index;
            } else {
                row[x / 2] =
                    static_cast<std::uint8_t>(row[x / 2] | (x % 2 == 0 ? index << 4 : index));
            }
        }
    }
    return out;
}

TEST(ApiEncode, EqualsOrvxOnTheCanonicalBitmapAndDecodesBack) {
    TempDir dir;
    unsigned seed = 100;
    for (const EncodeCase& c : ENCODE_CASES) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << c.bits << "-bit");
        const int rows = std::abs(c.height);
        const Bytes indices = randomBytes(static_cast<std::size_t>(c.width * rows), seed++,
                                          1U << static_cast<unsigned>(c.bits));
        const Bytes palette = bmpPalette(c.bits);
        writeFile(dir.file("in.bmp"),
                  makeBmp(c.width, c.height, c.bits, bmpRows(indices, c.width, c.height, c.bits)));
        const auto undefinedByOrvx = orvx::convertBmpToDaz(
            dir.file("in.bmp").c_str(), dir.file("out.daz").c_str(), c.kept, c.key);
        ASSERT_GE(undefinedByOrvx, 0);
        const Bytes byOrvx = readFile(dir.file("out.daz"));

        std::size_t size = 0;
        ASSERT_EQ(daz_encoded_size(static_cast<std::uint32_t>(c.width), c.height, c.bits,
                                   1 << c.bits, c.kept, &size),
                  DAZ_OK);
        ASSERT_EQ(size, byOrvx.size());
        std::size_t written = 0;
        std::uint64_t undefined = 7;
        ASSERT_EQ(daz_encode(indices.data(), static_cast<std::size_t>(c.width),
                             static_cast<std::uint32_t>(c.width), c.height, c.bits, palette.data(),
                             1 << c.bits, c.kept, c.key, nullptr, 0, &written, &undefined),
                  DAZ_OK);
        EXPECT_EQ(written, size) << "size query";
        EXPECT_EQ(undefined, 7U) << "size query";
        Bytes out(size + 8, 0xAA);
        ASSERT_EQ(daz_encode(indices.data(), static_cast<std::size_t>(c.width),
                             static_cast<std::uint32_t>(c.width), c.height, c.bits, palette.data(),
                             1 << c.bits, c.kept, c.key, out.data(), size, &written, &undefined),
                  DAZ_OK);
        ASSERT_EQ(written, size);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(size)), byOrvx);
        EXPECT_EQ(Bytes(out.begin() + static_cast<long>(size), out.end()), Bytes(8, 0xAA));
        EXPECT_EQ(undefined, static_cast<std::uint64_t>(undefinedByOrvx));

        daz_info info{};
        Bytes back(indices.size());
        ASSERT_EQ(daz_decode(out.data(), size, nullptr, &info, nullptr, back.data(), back.size()),
                  DAZ_OK);
        EXPECT_EQ(back, indices);

        // The streaming encoder, rows in stored order, writes the same file.
        Bytes streamed;
        daz_encoder* encoder = nullptr;
        ASSERT_EQ(daz_encoder_create(appendBytes, &streamed, static_cast<std::uint32_t>(c.width),
                                     c.height, c.bits, palette.data(), 1 << c.bits, c.kept, c.key,
                                     &encoder),
                  DAZ_OK);
        for (int r = 0; r < rows; ++r) {
            const int y = c.height < 0 ? r : rows - 1 - r;
            ASSERT_EQ(daz_encoder_write_row(encoder, indices.data() + y * c.width,
                                            static_cast<std::size_t>(c.width)),
                      DAZ_OK);
        }
        std::uint64_t streamedUndefined = 0;
        ASSERT_EQ(daz_encoder_finish(encoder, &streamedUndefined), DAZ_OK);
        daz_encoder_destroy(encoder);
        EXPECT_EQ(streamed, byOrvx);
        EXPECT_EQ(streamedUndefined, undefined);
    }
}

TEST(ApiEncode, RefusesBadArgumentsWritingNothing) {
    const Bytes palette = bmpPalette(8);
    Bytes indices(4 * 3, 1);
    struct RefusalCase {
        const char* name;
        int bits;
        int entries;
        int kept;
        std::uint8_t lastIndex;
        std::size_t capacityShort;
        int expected;
        std::size_t stride = 4;
        std::int32_t height = 3;
    };
    const RefusalCase cases[] = {
        {"index 16 at 4 bits", 4, 16, 0, 16, 0, DAZ_ERR_ARGUMENT},
        {"bits 5", 5, 16, 0, 1, 0, DAZ_ERR_ARGUMENT},
        {"17 entries at 4 bits", 4, 17, 0, 1, 0, DAZ_ERR_ARGUMENT},
        {"kept past entries", 8, 10, 11, 1, 0, DAZ_ERR_COLORS},
        {"kept -1", 8, 10, -1, 1, 0, DAZ_ERR_COLORS},
        {"a byte short", 8, 256, 0, 1, 1, DAZ_ERR_BUFFER},
        // Rows that no address space holds: refused before any is reached.
        {"stride SIZE_MAX/2+2", 8, 256, 0, 1, 0, DAZ_ERR_ARGUMENT, SIZE_MAX / 2 + 2},
        {"stride SIZE_MAX", 8, 256, 0, 1, 0, DAZ_ERR_ARGUMENT, SIZE_MAX},
        {"stride SIZE_MAX/2+2, rows top-down", 4, 16, 0, 1, 0, DAZ_ERR_ARGUMENT, SIZE_MAX / 2 + 2,
         -3},
        {"height -32769", 8, 256, 0, 1, 0, DAZ_ERR_ARGUMENT, 4, -32769},
        {"height 32768", 8, 256, 0, 1, 0, DAZ_ERR_ARGUMENT, 4, 32768},
    };
    for (const RefusalCase& c : cases) {
        indices.back() = c.lastIndex;
        std::size_t size = 0;
        daz_encoded_size(4, 3, 8, 256, 0, &size);
        Bytes out(size, 0xAA);
        std::size_t written = 99;
        EXPECT_EQ(daz_encode(indices.data(), c.stride, 4, c.height, c.bits, palette.data(),
                             c.entries, c.kept, 1, out.data(), size - c.capacityShort, &written,
                             nullptr),
                  c.expected)
            << c.name;
        EXPECT_EQ(out, Bytes(size, 0xAA)) << c.name;
        EXPECT_EQ(written, 99U) << c.name;
    }
}

int failingWrite(void* /*user*/, const void* /*data*/, std::size_t /*size*/) {
    return 1;
}

TEST(ApiStream, AFailureLeavesOnlyStateErrors) {
    // A pixel area a row short: the last row is a read error, then the
    // decoder is done for.
    const Bytes daz = decodeCaseBytes({4, 3, 8, 2, 5, -4}, 9);
    Reader reader{&daz};
    daz_decoder* decoder = nullptr;
    ASSERT_EQ(daz_decoder_create(readBytes, &reader, nullptr, &decoder, nullptr), DAZ_OK);
    Bytes row(4);
    EXPECT_EQ(daz_decoder_read_row(decoder, row.data(), 4, nullptr), DAZ_OK);
    EXPECT_EQ(daz_decoder_read_row(decoder, row.data(), 4, nullptr), DAZ_OK);
    EXPECT_EQ(daz_decoder_read_row(decoder, row.data(), 4, nullptr), DAZ_ERR_READ);
    EXPECT_EQ(daz_decoder_read_row(decoder, row.data(), 4, nullptr), DAZ_ERR_STATE);
    daz_decoder_destroy(decoder);

    const Bytes palette = bmpPalette(4);
    Bytes out;
    daz_encoder* encoder = nullptr;
    ASSERT_EQ(daz_encoder_create(appendBytes, &out, 4, -2, 4, palette.data(), 16, 0, 1, &encoder),
              DAZ_OK);
    EXPECT_EQ(daz_encoder_finish(encoder, nullptr), DAZ_ERR_STATE); // no row yet
    EXPECT_EQ(daz_encoder_write_row(encoder, row.data(), 4), DAZ_ERR_STATE);
    daz_encoder_destroy(encoder);

    ASSERT_EQ(daz_encoder_create(appendBytes, &out, 4, 2, 4, palette.data(), 16, 0, 1, &encoder),
              DAZ_OK);
    row.assign(4, 3);
    EXPECT_EQ(daz_encoder_write_row(encoder, row.data(), 4), DAZ_OK);
    EXPECT_EQ(daz_encoder_finish(encoder, nullptr), DAZ_ERR_STATE); // a row short
    EXPECT_EQ(daz_encoder_write_row(encoder, row.data(), 4), DAZ_ERR_STATE);
    daz_encoder_destroy(encoder);

    EXPECT_EQ(
        daz_encoder_create(failingWrite, nullptr, 4, 2, 4, palette.data(), 16, 0, 1, &encoder),
        DAZ_ERR_CALLBACK);
}

// A caller's slip (no buffer, one too short, an index the bits can't hold)
// is refused and changes nothing: the next good call goes on as if it had
// not happened, and the image comes out whole.
TEST(ApiStream, CallerSlipsLeaveTheStreamUsable) {
    struct Slip {
        const char* name;
        bool noBuffer;
        std::size_t size; // of the 6 pixels a row takes
        std::uint8_t index;
        int expected;
    };
    const Slip slips[] = {
        {"no buffer", true, 6, 1, DAZ_ERR_ARGUMENT},
        {"a byte short", false, 5, 1, DAZ_ERR_BUFFER},
        {"empty", false, 0, 1, DAZ_ERR_BUFFER},
        {"index 16 at 4 bits", false, 6, 16, DAZ_ERR_ARGUMENT}, // the encoder's alone
    };
    const Bytes daz = decodeCaseBytes({6, -3, 4, 16, 0x1F2E, 0}, 21);
    Bytes indices(18);
    Bytes palette(DAZ_PALETTE_BYTES);
    ASSERT_EQ(daz_decode(daz.data(), daz.size(), nullptr, nullptr, palette.data(), indices.data(),
                         indices.size()),
              DAZ_OK);
    Bytes clean(24 + 64 + 3 * 4);
    std::size_t written = 0;
    ASSERT_EQ(daz_encode(indices.data(), 6, 6, -3, 4, palette.data(), 16, 0, 0x1F2E, clean.data(),
                         clean.size(), &written, nullptr),
              DAZ_OK);
    for (const Slip& slip : slips) {
        Bytes bad(6, slip.index);
        std::uint8_t* badRow = slip.noBuffer ? nullptr : bad.data();
        if (slip.index < 16) {
            Reader reader{&daz};
            daz_decoder* decoder = nullptr;
            ASSERT_EQ(daz_decoder_create(readBytes, &reader, nullptr, &decoder, nullptr), DAZ_OK);
            for (std::uint32_t r = 0; r < 3; ++r) {
                EXPECT_EQ(daz_decoder_read_row(decoder, badRow, slip.size, nullptr), slip.expected)
                    << slip.name;
                Bytes row(6);
                std::uint32_t at = 99;
                ASSERT_EQ(daz_decoder_read_row(decoder, row.data(), row.size(), &at), DAZ_OK)
                    << slip.name << ", row " << r;
                EXPECT_EQ(at, r) << slip.name;
                EXPECT_EQ(row, Bytes(indices.begin() + 6 * r, indices.begin() + 6 * (r + 1)))
                    << slip.name << ", row " << r;
            }
            daz_decoder_destroy(decoder);
        }
        Bytes out;
        daz_encoder* encoder = nullptr;
        ASSERT_EQ(daz_encoder_create(appendBytes, &out, 6, -3, 4, palette.data(), 16, 0, 0x1F2E,
                                     &encoder),
                  DAZ_OK);
        for (std::size_t r = 0; r < 3; ++r) {
            EXPECT_EQ(daz_encoder_write_row(encoder, badRow, slip.size), slip.expected)
                << slip.name;
            ASSERT_EQ(daz_encoder_write_row(encoder, indices.data() + 6 * r, 6), DAZ_OK)
                << slip.name << ", row " << r;
        }
        EXPECT_EQ(daz_encoder_finish(encoder, nullptr), DAZ_OK) << slip.name;
        daz_encoder_destroy(encoder);
        EXPECT_EQ(out, clean) << slip.name;
    }
}

TEST(ApiThreads, EncodeAndDecodeFromSeveralThreadsAtOnce) {
    const Bytes palette = bmpPalette(8);
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (unsigned n = 0; n < 60; ++n) {
                const int bits = n % 2 == 0 ? 8 : 4;
                const auto width = static_cast<std::uint32_t>(1 + (t * 37 + n * 11) % 300);
                const auto height = static_cast<std::int32_t>(1 + n % 17);
                const Bytes indices =
                    randomBytes(std::size_t{width} * static_cast<std::size_t>(height), t * 1000 + n,
                                1U << static_cast<unsigned>(bits));
                std::size_t size = 0;
                daz_encoded_size(width, height, bits, 1 << bits, 3, &size);
                Bytes daz(size);
                std::size_t written = 0;
                Bytes back(indices.size());
                daz_info info{};
                const bool same =
                    daz_encode(indices.data(), width, width, height, bits, palette.data(),
                               1 << bits, 3, static_cast<std::uint16_t>(n * 997), daz.data(), size,
                               &written, nullptr) == DAZ_OK &&
                    daz_decode(daz.data(), size, nullptr, &info, nullptr, back.data(),
                               back.size()) == DAZ_OK &&
                    back == indices;
                failures[t] += same ? 0 : 1;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

} // namespace
