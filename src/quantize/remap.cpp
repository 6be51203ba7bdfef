// remap.cpp - pixels to palette indices: the nearest entry of each colour
// (through a small cache of recent answers, which changes no answer), or the
// nearest entry of the colour plus the error carried from its neighbours:
// serpentine Floyd-Steinberg diffusion in fixed point (1/256 of a level),
// the carried error attenuated and clamped so that it never runs away. A
// pixel that is exactly an entry's colour keeps it and carries nothing on,
// so flat areas of palette colours stay clean.
#include "quantize/quantize_internal.h"

#include <algorithm>
#include <new>

namespace orvx::quantize::detail {
namespace {

// Dither strength: the carried error is scaled by kCarry/16 and clamped to
// kMaxCarry levels a channel.
constexpr int kCarry = 14;
constexpr int kMaxCarry = 64;

// Exact colour to the lowest entry of that colour, the transparent index
// left out.
class ExactColors {
  public:
    ExactColors(const Rgb* palette, int entries, int skip) {
        for (int i = 0; i < entries; ++i) {
            if (i != skip) {
                index_.add(packRgb(palette[i]), i);
            }
        }
    }
    // The entry, or -1.
    int find(uint32_t key) const { return index_.find(key); }

  private:
    ColourIndex index_;
};

// Recent answers of the nearest search, by colour.
class NearestCache {
  public:
    explicit NearestCache(const Nearest& nearest)
        : nearest_(nearest), tag_(kSlots, kEmpty), index_(kSlots, 0) {}
    static constexpr uint64_t bytes() { return kSlots * (sizeof(uint32_t) + sizeof(uint8_t)); }

    int find(uint32_t key) {
        const size_t s = (key * 2654435761u) >> (32 - kBits);
        if (tag_[s] != key) {
            tag_[s] = key;
            index_[s] = static_cast<uint8_t>(nearest_.find(unpackRgb(key)));
        }
        return index_[s];
    }

  private:
    static constexpr int kBits = 15;
    static constexpr size_t kSlots = size_t{1} << kBits;
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
    const Nearest& nearest_;
    std::vector<uint32_t> tag_;
    std::vector<uint8_t> index_;
};

void mapPlain(const PixelSource& source, uint8_t transparent, NearestCache& cache,
              uint8_t* indices) {
    const size_t width = source.width();
    for (uint32_t y = 0; y < source.height(); ++y) {
        const uint8_t* row = source.row(y);
        uint8_t* out = indices + y * width;
        uint32_t last = PixelSource::kTransparent;
        uint8_t lastIndex = transparent;
        for (uint32_t x = 0; x < source.width(); ++x) {
            const uint32_t c = source.at(row, x);
            if (c != last) {
                last = c;
                lastIndex = c == PixelSource::kTransparent ? transparent
                                                           : static_cast<uint8_t>(cache.find(c));
            }
            out[x] = lastIndex;
        }
    }
}

void mapDiffused(const PixelSource& source, uint8_t transparent, const Rgb* palette,
                 const ExactColors& exact, NearestCache& cache, uint8_t* indices, uint32_t rowStep,
                 MatchedSums* sums) {
    const size_t width = source.width();
    // Carried error of this row and the next, 3 channels, one pixel of
    // margin at each end, in 1/256 of a level.
    std::vector<int32_t> thisRow((width + 2) * 3, 0);
    std::vector<int32_t> nextRow((width + 2) * 3, 0);
    bool forward = true;
    for (uint32_t y = 0; y < source.height(); y += rowStep, forward = !forward) {
        const uint8_t* row = source.row(y);
        uint8_t* out = indices + y * width;
        const ptrdiff_t step = forward ? 1 : -1;
        for (size_t i = 0; i < width; ++i) {
            const size_t x = forward ? i : width - 1 - i;
            const uint32_t c = source.at(row, static_cast<uint32_t>(x));
            int32_t* here = &thisRow[(x + 1) * 3];
            if (c == PixelSource::kTransparent) {
                out[x] = transparent;
                continue;
            }
            const int exactIndex = exact.find(c);
            const int value[3] = {static_cast<int>(c >> 16), static_cast<int>(c >> 8 & 0xFF),
                                  static_cast<int>(c & 0xFF)};
            if (exactIndex >= 0) {
                out[x] = static_cast<uint8_t>(exactIndex);
                if (sums != nullptr) {
                    int64_t* s = sums->by[exactIndex];
                    for (int ch = 0; ch < 3; ++ch) {
                        s[ch] += int64_t{value[ch]} * 16;
                    }
                    ++s[3];
                }
                continue;
            }
            int target16[3];
            int target[3];
            for (int ch = 0; ch < 3; ++ch) {
                int carried = ((here[ch] >> 4) * kCarry) >> 4; // 1/16 of a level
                carried = std::clamp(carried, -kMaxCarry * 16, kMaxCarry * 16);
                target16[ch] = std::clamp(value[ch] * 16 + carried, 0, 255 * 16);
                target[ch] = (target16[ch] + 8) >> 4;
            }
            const int index = cache.find(packRgb(target[0], target[1], target[2]));
            out[x] = static_cast<uint8_t>(index);
            if (sums != nullptr) {
                int64_t* s = sums->by[index];
                for (int ch = 0; ch < 3; ++ch) {
                    s[ch] += target16[ch];
                }
                ++s[3];
            }
            const Rgb& p = palette[index];
            const int chosen[3] = {p.r, p.g, p.b};
            int32_t* ahead =
                &thisRow[static_cast<size_t>(static_cast<ptrdiff_t>(x + 1) + step) * 3];
            int32_t* belowBehind =
                &nextRow[static_cast<size_t>(static_cast<ptrdiff_t>(x + 1) - step) * 3];
            int32_t* below = &nextRow[(x + 1) * 3];
            int32_t* belowAhead =
                &nextRow[static_cast<size_t>(static_cast<ptrdiff_t>(x + 1) + step) * 3];
            for (int ch = 0; ch < 3; ++ch) {
                const int32_t e = target16[ch] - chosen[ch] * 16;
                ahead[ch] += e * 7;
                belowBehind[ch] += e * 3;
                below[ch] += e * 5;
                belowAhead[ch] += e;
            }
        }
        thisRow.swap(nextRow);
        std::fill(nextRow.begin(), nextRow.end(), 0);
    }
}

} // namespace

uint64_t mapBytes(uint32_t width, Dither dither) {
    const uint64_t cache = NearestCache::bytes();
    const uint64_t rows = dither == Dither::Diffusion ? 2 * (uint64_t{width} + 2) * 3 * 4 : 0;
    return cache + rows;
}

bool mapPixels(const PixelSource& source, const Options& options, const Rgb* palette, int entries,
               uint8_t* indices) {
    try {
        const Nearest nearest(palette, entries, options.transparentIndex, kMetric);
        NearestCache cache(nearest);
        const uint8_t transparent =
            static_cast<uint8_t>(options.transparentIndex >= 0 ? options.transparentIndex : 0);
        if (options.dither == Dither::Diffusion) {
            const ExactColors exact(palette, entries, options.transparentIndex);
            mapDiffused(source, transparent, palette, exact, cache, indices, 1, nullptr);
        } else {
            mapPlain(source, transparent, cache, indices);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool sumDiffused(const PixelSource& source, const Options& options, const Rgb* palette, int entries,
                 uint8_t* indices, MatchedSums& sums) {
    try {
        const Nearest nearest(palette, entries, options.transparentIndex, kMetric);
        NearestCache cache(nearest);
        const uint8_t transparent =
            static_cast<uint8_t>(options.transparentIndex >= 0 ? options.transparentIndex : 0);
        const ExactColors exact(palette, entries, options.transparentIndex);
        mapDiffused(source, transparent, palette, exact, cache, indices, 4, &sums);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

} // namespace orvx::quantize::detail
