// reader_support.h - a format's reader (reader.h) called on bytes in
// memory, as libdaz calls it, and its RGBA held to reference decodes.
#pragma once

#include "convert/reader.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

// The plan check of a caller whose limit is 64 MiB held: DAZ_ERR_LIMITS past it.
// and 2^26 pixels.
inline int refuseBigPlans(void* /*context*/, const orvx::OutputPlan& plan) {
    return plan.held > (std::uint64_t{64} << 20U) || plan.width * plan.rows > (1U << 26U)
               ? DAZ_ERR_LIMITS
               : DAZ_OK;
}
inline const orvx::PlanCheck LIMITED{refuseBigPlans, nullptr};

// A memory stream over bytes (an empty file: a temporary one).
inline std::FILE* streamOver(Bytes& bytes) {
    return bytes.empty() ? std::tmpfile() : fmemopen(bytes.data(), bytes.size(), "rb");
}

// reader.readRgba on a memory stream over bytes, under LIMITED.
inline int readRgbaOf(const orvx::FormatReader& reader, Bytes bytes, orvx::RgbaImage& image,
                      bool sizeOnly = false) {
    std::FILE* stream = streamOver(bytes);
    const int result = reader.readRgba(stream, &LIMITED, sizeOnly, image);
    std::fclose(stream);
    return result;
}

// A reference file: "WIDTH HEIGHT\n" then count decodes of 4 x WIDTH x
// HEIGHT bytes. Each byte of rgba must lie within tolerance of the span
// the decodes make.
inline void expectWithin(const std::string& referencePath, int count, const orvx::RgbaImage& image,
                         int tolerance, const std::string& what) {
    const Bytes reference = readFile(referencePath);
    const auto newline = std::find(reference.begin(), reference.end(), '\n');
    ASSERT_NE(newline, reference.end()) << what;
    unsigned width = 0;
    unsigned height = 0;
    ASSERT_EQ(
        std::sscanf(std::string(reference.begin(), newline).c_str(), "%u %u", &width, &height), 2)
        << what;
    EXPECT_EQ(image.width, width) << what;
    EXPECT_EQ(image.height, height) << what;
    const std::size_t size = image.pixels.size();
    const auto* first = &*(newline + 1);
    ASSERT_EQ(static_cast<std::size_t>(reference.end() - newline - 1), count * size) << what;
    int wrong = 0;
    for (std::size_t i = 0; i < size && wrong < 5; ++i) {
        int low = 255;
        int high = 0;
        for (int k = 0; k < count; ++k) {
            low = std::min<int>(low, first[k * size + i]);
            high = std::max<int>(high, first[k * size + i]);
        }
        const int got = image.pixels[i];
        if (got < low - tolerance || got > high + tolerance) {
            ADD_FAILURE() << what << ": byte " << i << " (pixel " << i / 4 << ") is " << got
                          << ", the references " << low << ".." << high;
            ++wrong;
        }
    }
}
