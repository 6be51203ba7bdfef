// Every kernel variant against the keystream and the count as the format
// defines them, with no table and no vectors.
#include "convert/pixel_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace orvx;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Encoded {
    Bytes bytes;
    std::uint64_t undefined = 0;
};

Encoded byDefinition(Bytes bytes, std::uint16_t key, std::size_t phase, int bpp, int colors) {
    Encoded out;
    for (const std::uint8_t value : bytes) {
        out.undefined +=
            bpp == 8 ? value >= colors : ((value & 0x0F) >= colors) + ((value >> 4) >= colors);
    }
    PixelKeystream stream = makeKeystream(key);
    for (std::size_t i = 0; i < phase; ++i) {
        nextOffset(stream);
    }
    encodePixels(bytes.data(), bytes.size(), stream);
    out.bytes = std::move(bytes);
    return out;
}

Bytes randomBytes(std::mt19937& random, std::size_t size) {
    Bytes bytes(size);
    for (std::uint8_t& value : bytes) {
        value = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

std::vector<std::string> variantNames() {
    std::vector<std::string> names;
    for (const KernelVariant& variant : kernelVariants()) {
        names.emplace_back(variant.name);
    }
    return names;
}

class KernelTest : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        for (const KernelVariant& candidate : kernelVariants()) {
            if (candidate.name == GetParam()) {
                variant = &candidate;
            }
        }
        ASSERT_NE(variant, nullptr);
        if (!variant->supported()) {
            GTEST_SKIP() << "this processor can't run the " << GetParam() << " variant";
        }
    }

    void expectDefinedResult(const Bytes& bytes, std::uint16_t key, std::size_t phase, int bpp,
                             int colors) {
        auto coding = std::make_unique<PixelCoding>();
        initPixelCoding(*coding, key, bpp, colors);
        Bytes encoded = bytes;
        const std::uint64_t undefined =
            variant->run(*coding, encoded.data(), encoded.size(), phase);
        const Encoded expected = byDefinition(bytes, key, phase, bpp, colors);
        ASSERT_EQ(undefined, expected.undefined)
            << bytes.size() << " bytes, phase " << phase << ", " << bpp << " bpp, " << colors;
        ASSERT_EQ(encoded, expected.bytes)
            << bytes.size() << " bytes, phase " << phase << ", " << bpp << " bpp, " << colors;
    }

    const KernelVariant* variant = nullptr;
};

} // namespace

// Every byte value against the limits where a compare goes wrong first: the
// ends of both ranges, one past them, and 0 (everything counts).
TEST_P(KernelTest, EveryByteValueAtTheEdgeLimits) {
    Bytes everyValue(4 * 256 + 13);
    for (std::size_t i = 0; i < everyValue.size(); ++i) {
        everyValue[i] = static_cast<std::uint8_t>(i);
    }
    for (const int colors : {0, 1, 2, 127, 128, 255, 256}) {
        expectDefinedResult(everyValue, 0x1F2E, 5, 8, colors);
    }
    for (const int colors : {0, 1, 2, 8, 15, 16}) {
        expectDefinedResult(everyValue, 0x1F2E, 5, 4, colors);
    }
}

// Sizes around every vector width and the period, and pieces long enough for
// the per-lane tallies to fill: all 0xFF counts at every compare.
TEST_P(KernelTest, SizesThatAreNoMultipleOfTheWidth) {
    std::mt19937 random(7);
    for (const std::size_t size :
         {0U, 1U, 15U, 17U, 31U, 33U, 63U, 65U, 383U, 385U, 767U, 769U, 4000U, 32768U, 100001U}) {
        expectDefinedResult(randomBytes(random, size), 0xFFFF, 100, 4, 9);
        expectDefinedResult(randomBytes(random, size), 0x0100, 383, 8, 200);
        expectDefinedResult(Bytes(size, 0xFF), 0x8001, 1, 4, 1);
        expectDefinedResult(Bytes(size, 0xFF), 0x8001, 1, 8, 1);
    }
}

TEST_P(KernelTest, EveryKeystreamPhase) {
    std::mt19937 random(11);
    const Bytes bytes = randomBytes(random, 2 * KEYSTREAM_PERIOD + 77);
    for (std::size_t phase = 0; phase < KEYSTREAM_PERIOD; ++phase) {
        expectDefinedResult(bytes, 0x2E1F, phase, phase % 2 == 0 ? 8 : 4, phase % 2 == 0 ? 97 : 5);
    }
}

TEST_P(KernelTest, RandomPiecesKeysAndLimits) {
    std::mt19937 random(13);
    for (int round = 0; round < 60; ++round) {
        const int bpp = round % 2 == 0 ? 8 : 4;
        const auto colors = static_cast<int>(random() % ((1U << bpp) + 1));
        expectDefinedResult(randomBytes(random, random() % 40000),
                            static_cast<std::uint16_t>(random()), random() % KEYSTREAM_PERIOD, bpp,
                            colors);
    }
}

// The sink with this variant forced: chunks of any size carry the keystream
// and the count on from one to the next.
TEST_P(KernelTest, SinkCarriesThePhaseAcrossChunks) {
    ASSERT_EQ(forceKernel(GetParam().c_str()), 0);
    EXPECT_STREQ(activeKernel().name, GetParam().c_str());
    std::mt19937 random(17);
    const Bytes whole = randomBytes(random, 80000);
    auto sink = std::make_unique<PixelSink>();
    initPixelSink(*sink, nullptr, 0xBEEF, 4, 11);
    Bytes pieces = whole;
    std::size_t at = 0;
    for (const std::size_t size : {1U, 383U, 32768U, 1000U, 0U, 17U, 32768U}) {
        encodeChunk(*sink, pieces.data() + at, size);
        at += size;
    }
    encodeChunk(*sink, pieces.data() + at, pieces.size() - at);
    ASSERT_EQ(forceKernel(nullptr), 0);
    const Encoded expected = byDefinition(whole, 0xBEEF, 0, 4, 11);
    EXPECT_EQ(sink->undefinedCount, expected.undefined);
    EXPECT_EQ(pieces, expected.bytes);
}

// A row of indices as the format stores it: 4-bit pixels two to a byte, high
// nibble first, zeros to rowSize, the keystream added from phase; and the
// indices at or past colors.
Encoded storedRowByDefinition(const Bytes& indices, int bpp, std::size_t rowSize, std::uint16_t key,
                              std::size_t phase, int colors) {
    Bytes packed(rowSize, 0);
    std::uint64_t undefined = 0;
    for (std::size_t i = 0; i < indices.size(); ++i) {
        undefined += static_cast<std::uint64_t>(indices[i] >= colors);
        if (bpp == 8) {
            packed[i] = indices[i];
        } else {
            packed[i / 2] = static_cast<std::uint8_t>(packed[i / 2] |
                                                      (i % 2 == 0 ? indices[i] << 4 : indices[i]));
        }
    }
    Encoded out = byDefinition(packed, key, phase, 8, 256);
    out.undefined = undefined;
    return out;
}

// size bytes at place into a cache line (alignas of a vector would not
// reach the 64 bytes of the widest), guard bytes of fill either side.
struct Guarded {
    static constexpr std::size_t GUARD = 64;
    Bytes buffer;
    std::uint8_t fill;
    std::uint8_t* data;
    Guarded(std::size_t size, std::size_t place, std::uint8_t fillByte)
        : buffer(GUARD + place + size + GUARD + 64, fillByte), fill(fillByte),
          data(buffer.data() + GUARD + 64 -
               reinterpret_cast<std::uintptr_t>(buffer.data() + GUARD) % 64 + place) {}
    // Whether every byte but the size at data is as it was.
    bool guardsKept(std::size_t size) const {
        const auto same = [this](std::uint8_t byte) { return byte == fill; };
        return std::all_of(buffer.data(), static_cast<const std::uint8_t*>(data), same) &&
               std::all_of(static_cast<const std::uint8_t*>(data) + size,
                           buffer.data() + buffer.size(), same);
    }
};

// Rows in memory, both ways, against the definition: widths around every
// vector width and cache line, odd at 4 bits, the output at every kind of
// place in its cache line, streamed and not, every index counted (the
// tallies fill) and none, and rows past 64 KiB. Guard bytes either side of
// the output must stay as they were.
TEST_P(KernelTest, RowsBothWays) {
    struct RowCase {
        std::size_t width;
        int bpp;
        int colors;        // the limit: indices at or past it are counted
        std::uint8_t fill; // 0: random indices, else every index this
        std::size_t phase;
    };
    const RowCase cases[] = {
        {1, 8, 200, 0, 0},     {1, 4, 9, 0, 5},        {2, 4, 9, 0, 383},   {3, 4, 1, 15, 7},
        {15, 8, 97, 0, 1},     {16, 8, 97, 0, 2},      {17, 4, 5, 0, 3},    {31, 4, 16, 0, 100},
        {32, 4, 9, 0, 200},    {33, 4, 9, 0, 300},     {63, 8, 256, 0, 10}, {64, 8, 1, 255, 20},
        {65, 8, 128, 0, 30},   {127, 4, 8, 0, 40},     {128, 4, 8, 0, 50},  {129, 8, 200, 0, 60},
        {191, 4, 2, 0, 70},    {383, 8, 0, 0, 80},     {385, 4, 0, 0, 90},  {1000, 8, 255, 0, 377},
        {4097, 4, 11, 0, 383}, {8192, 8, 1, 255, 0},   {8193, 4, 1, 15, 1}, {40000, 4, 1, 15, 17},
        {65535, 8, 1, 255, 5}, {65535, 4, 10, 0, 381},
    };
    std::mt19937 random(19);
    for (const RowCase& c : cases) {
        const std::size_t rowSize = dazRowSize(c.width, static_cast<unsigned>(c.bpp));
        auto coding = std::make_unique<PixelCoding>();
        initPixelCoding(*coding, 0x5A17, c.bpp, c.colors);
        Bytes indices(c.width, c.fill);
        if (c.fill == 0) {
            for (std::uint8_t& index : indices) {
                index = static_cast<std::uint8_t>(random() % (c.bpp == 8 ? 256U : 16U));
            }
        }
        const Encoded expected =
            storedRowByDefinition(indices, c.bpp, rowSize, 0x5A17, c.phase, c.colors);
        for (const std::size_t place : {0U, 1U, 2U, 13U, 32U, 63U}) {
            for (const bool streaming : {false, true}) {
                const std::string where =
                    std::to_string(c.width) + " pixels at " + std::to_string(c.bpp) + " bits, " +
                    std::to_string(place) + " into a line" + (streaming ? ", streamed" : "");
                Guarded encoded(rowSize, place, 0xA5);
                const std::uint64_t undefined = variant->encodeRow(
                    *coding, indices.data(), c.width, encoded.data, rowSize, c.phase, streaming);
                finishStreaming();
                ASSERT_EQ(undefined, expected.undefined) << where;
                ASSERT_EQ(Bytes(encoded.data, encoded.data + rowSize), expected.bytes) << where;
                ASSERT_TRUE(encoded.guardsKept(rowSize)) << where;

                Guarded decoded(c.width, place, 0x5A);
                // Only the row's stored bytes, so that a read past them is
                // the sanitizers' to see.
                const Bytes stored(expected.bytes.begin(),
                                   expected.bytes.begin() +
                                       static_cast<std::ptrdiff_t>(
                                           (c.width * static_cast<unsigned>(c.bpp) + 7) / 8));
                variant->decodeRow(*coding, stored.data(), c.width, decoded.data, c.phase,
                                   streaming);
                finishStreaming();
                ASSERT_EQ(Bytes(decoded.data, decoded.data + c.width), indices) << where;
                ASSERT_TRUE(decoded.guardsKept(c.width)) << where;
            }
        }
    }
}

// The 4-bit check finds one index past 15 wherever it sits: in the first or
// last vector of any width, in the unrolled loop, or in the plain tail.
TEST_P(KernelTest, NibbleCheckFindsAnIndexPast15) {
    struct CheckCase {
        std::size_t count;
        std::size_t at;
        std::uint8_t index;
    };
    const CheckCase cases[] = {
        {1, 0, 16},     {15, 14, 0x80},  {16, 15, 16},     {17, 16, 0xFF},
        {64, 0, 16},    {64, 63, 31},    {255, 254, 16},   {256, 255, 0x40},
        {257, 256, 16}, {1000, 513, 16}, {8192, 8191, 17}, {8192, 4096, 0xF0},
    };
    for (const CheckCase& c : cases) {
        Bytes indices(c.count, 15);
        EXPECT_TRUE(variant->fitNibbles(indices.data(), indices.size())) << c.count;
        indices[c.at] = c.index;
        EXPECT_FALSE(variant->fitNibbles(indices.data(), indices.size()))
            << c.count << " indices, " << int{c.index} << " at " << c.at;
    }
    EXPECT_TRUE(variant->fitNibbles(nullptr, 0));
}

INSTANTIATE_TEST_SUITE_P(Variants, KernelTest, ::testing::ValuesIn(variantNames()),
                         [](const auto& info) { return info.param; });

TEST(KernelDispatch, PicksASupportedVariantAndRefusesOthers) {
    const KernelVariant& picked = activeKernel();
    EXPECT_TRUE(picked.supported());
    EXPECT_STREQ(kernelVariants().back().name, "scalar");
    EXPECT_EQ(forceKernel("no-such-variant"), -1);
    for (const KernelVariant& variant : kernelVariants()) {
        EXPECT_EQ(forceKernel(variant.name), variant.supported() ? 0 : -1) << variant.name;
    }
    EXPECT_EQ(forceKernel(nullptr), 0);
    EXPECT_EQ(&activeKernel(), &picked);
}

// The way back, for reading daz files: taking the keystream off what the
// definition put on gives the bytes back, from every phase.
TEST(RemoveKeystream, UndoesTheDefinitionFromEveryPhase) {
    std::mt19937 random(17);
    const Bytes bytes = randomBytes(random, 3 * KEYSTREAM_PERIOD + 5);
    PixelCoding coding;
    initPixelCoding(coding, 0xB00C, 8, 256);
    for (std::size_t phase = 0; phase < KEYSTREAM_PERIOD; phase += 7) {
        Bytes encoded = byDefinition(bytes, 0xB00C, phase, 8, 256).bytes;
        removeKeystream(coding, encoded.data(), encoded.size(), phase);
        ASSERT_EQ(encoded, bytes) << "phase " << phase;
    }
}
