// Every kernel variant against the keystream and the count as the format
// defines them, with no table and no vectors.
#include "convert/pixel_sink.h"

#include <gtest/gtest.h>

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
