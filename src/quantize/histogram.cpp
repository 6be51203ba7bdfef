// histogram.cpp - the image's distinct colours and their counts.
//
// No hash table: the colours are sorted (a radix sort of 24-bit keys, two
// passes of 12 bits) and counted in runs, so the order is the keys' and the
// same everywhere. The key puts the top 6 bits of each channel first, so
// that a cell of 6 bits a channel is one run, for merging a huge histogram.
#include "quantize/quantize_internal.h"

#include <new>

namespace orvx::quantize::detail {
namespace {

uint32_t keyOf(uint32_t rgb) {
    const uint32_t r = rgb >> 16 & 0xFF;
    const uint32_t g = rgb >> 8 & 0xFF;
    const uint32_t b = rgb & 0xFF;
    return (r >> 2) << 18 | (g >> 2) << 12 | (b >> 2) << 6 | (r & 3) << 4 | (g & 3) << 2 | (b & 3);
}

Rgb colorOfKey(uint32_t key) {
    const int r = static_cast<int>((key >> 18 & 0x3F) << 2 | (key >> 4 & 3));
    const int g = static_cast<int>((key >> 12 & 0x3F) << 2 | (key >> 2 & 3));
    const int b = static_cast<int>((key >> 6 & 0x3F) << 2 | (key & 3));
    return {r, g, b};
}

void radixPass(const uint32_t* in, uint32_t* out, size_t n, int shift) {
    std::vector<size_t> start(4097, 0);
    for (size_t i = 0; i < n; ++i) {
        ++start[(in[i] >> shift & 0xFFF) + 1];
    }
    for (size_t i = 1; i <= 4096; ++i) {
        start[i] += start[i - 1];
    }
    for (size_t i = 0; i < n; ++i) {
        out[start[in[i] >> shift & 0xFFF]++] = in[i];
    }
}

} // namespace

bool buildHistogram(const PixelSource& source, size_t maxEntries, std::vector<HistEntry>& out) {
    out.clear();
    try {
        std::vector<uint32_t> keys;
        keys.reserve(static_cast<size_t>(source.width()) * source.height());
        for (uint32_t y = 0; y < source.height(); ++y) {
            const uint8_t* row = source.row(y);
            for (uint32_t x = 0; x < source.width(); ++x) {
                const uint32_t c = source.at(row, x);
                if (c != PixelSource::kTransparent) {
                    keys.push_back(keyOf(c));
                }
            }
        }
        if (keys.empty()) {
            return true;
        }
        {
            std::vector<uint32_t> scratch(keys.size());
            radixPass(keys.data(), scratch.data(), keys.size(), 0);
            radixPass(scratch.data(), keys.data(), keys.size(), 12);
        }
        size_t distinct = 1;
        for (size_t i = 1; i < keys.size(); ++i) {
            distinct += keys[i] != keys[i - 1] ? 1U : 0U;
        }
        const bool merge = distinct > maxEntries;
        const uint32_t mask = merge ? 0xFFFFC0u : 0xFFFFFFu;
        size_t i = 0;
        while (i < keys.size()) {
            const uint32_t run = keys[i] & mask;
            int64_t sr = 0;
            int64_t sg = 0;
            int64_t sb = 0;
            // The run has keys[i] at least.
            size_t j = i;
            int64_t n = 0;
            do {
                const Rgb c = colorOfKey(keys[j]);
                sr += c.r;
                sg += c.g;
                sb += c.b;
                ++j;
                ++n;
            } while (j < keys.size() && (keys[j] & mask) == run);
            HistEntry e;
            e.color = {static_cast<int>((sr + n / 2) / n), static_cast<int>((sg + n / 2) / n),
                       static_cast<int>((sb + n / 2) / n)};
            e.count = static_cast<uint32_t>(n);
            out.push_back(e);
            i = j;
        }
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    return true;
}

} // namespace orvx::quantize::detail
