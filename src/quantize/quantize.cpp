// quantize.cpp - reducePalette and mapToPalette: the checks, the lossless
// path, and the reduction's steps in order (histogram, Wu's cut, k-means,
// palette order, mapping).
#include "quantize/quantize.h"

#include "daz/daz.h"
#include "quantize/quantize_internal.h"

#include <algorithm>
#include <new>

namespace orvx::quantize {
namespace {

using detail::HistEntry;
using detail::PixelSource;
using detail::Rgb;

// What every reduction and mapping may hold beside what grows with the image
// or its histogram: the nearest-entry search, Wu's boxes, the palettes, the
// first colours' index.
constexpr uint64_t kSmallBytes = uint64_t{256} << 10U;
// Past this many pixels a reduction's histogram could miscount.
constexpr uint64_t kMostPixels = uint64_t{1} << 30U;
constexpr int kKMeansRounds = 12;
// Fewer with dither: refineForDiffusion moves the colours after, and the
// rounds' CPU pays for its trial.
constexpr int kKMeansRoundsDithered = 8;
// How far, in 1/16, a dithered reduction moves its colours (refineForDiffusion).
constexpr int kRefineStep = 5;

bool validImage(const RgbaImage& image) {
    return image.pixels != nullptr && image.width > 0 && image.height > 0 &&
           image.stride / 4 >= image.width;
}

bool validDither(Dither dither) {
    return dither == Dither::None || dither == Dither::Diffusion;
}

// The distinct colours in order of first appearance, as long as there are at
// most `limit` of them.
class FirstColors {
  public:
    explicit FirstColors(int limit) : limit_(limit) {}

    // Scans the image; false when it has more than limit colours.
    bool scan(const PixelSource& source) {
        uint32_t last = PixelSource::kTransparent;
        for (uint32_t y = 0; y < source.height(); ++y) {
            const uint8_t* row = source.row(y);
            for (uint32_t x = 0; x < source.width(); ++x) {
                const uint32_t c = source.at(row, x);
                if (c == last || c == PixelSource::kTransparent) {
                    continue;
                }
                last = c;
                if (find(c) < 0) {
                    if (static_cast<int>(colors.size()) == limit_) {
                        return false;
                    }
                    index_.add(c, static_cast<int>(colors.size()));
                    colors.push_back(c);
                }
            }
        }
        return true;
    }

    int find(uint32_t key) const { return index_.find(key); }

    std::vector<uint32_t> colors;

  private:
    int limit_;
    detail::ColourIndex index_;
};

// Lays colours out in palette slots, skipping the transparent index t (the
// background there); slots below t that no colour fills repeat the
// background. Returns the entry count.
int layOut(const std::vector<Rgb>& colors, const Options& options, Rgb* slots) {
    const int t = options.transparentIndex;
    const Rgb background{options.background[0], options.background[1], options.background[2]};
    int entries = 0;
    for (const Rgb& c : colors) {
        if (entries == t) {
            slots[entries++] = background;
        }
        slots[entries++] = c;
    }
    while (entries <= t) {
        slots[entries++] = background;
    }
    return entries;
}

void storePalette(const Rgb* slots, int entries, Palette& palette) {
    std::fill(std::begin(palette.bytes), std::end(palette.bytes), uint8_t{0});
    for (int i = 0; i < entries; ++i) {
        const size_t at = static_cast<size_t>(i) * 4;
        palette.bytes[at] = static_cast<uint8_t>(slots[i].r);
        palette.bytes[at + 1] = static_cast<uint8_t>(slots[i].g);
        palette.bytes[at + 2] = static_cast<uint8_t>(slots[i].b);
    }
    palette.entries = entries;
}

// The reduced colours, most used first (ties by colour value), unused and
// repeated ones left out.
std::vector<Rgb> orderByUse(const std::vector<HistEntry>& histogram,
                            const std::vector<Rgb>& centres) {
    const detail::Nearest nearest(centres.data(), static_cast<int>(centres.size()), -1,
                                  detail::kMetric);
    std::vector<int64_t> use(centres.size(), 0);
    int guess = -1;
    for (const HistEntry& e : histogram) {
        guess = nearest.findFrom(e.color, guess);
        use[static_cast<size_t>(guess)] += e.count;
    }
    std::vector<size_t> order;
    for (size_t i = 0; i < centres.size(); ++i) {
        if (use[i] > 0) {
            order.push_back(i);
        }
    }
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (use[a] != use[b]) {
            return use[a] > use[b];
        }
        return detail::packRgb(centres[a]) < detail::packRgb(centres[b]);
    });
    std::vector<Rgb> out;
    out.reserve(order.size());
    for (size_t i : order) {
        out.push_back(centres[i]);
    }
    return out;
}

int reduceLossless(const PixelSource& source, const Options& options, const FirstColors& first,
                   Palette& palette, uint8_t* indices) {
    std::vector<Rgb> colors;
    for (uint32_t c : first.colors) {
        colors.push_back(detail::unpackRgb(c));
    }
    Rgb slots[256];
    const int entries = layOut(colors, options, slots);
    storePalette(slots, entries, palette);
    // The slot of the k-th colour: k, or k + 1 from the transparent index on.
    const int t = options.transparentIndex;
    const size_t width = source.width();
    for (uint32_t y = 0; y < source.height(); ++y) {
        const uint8_t* row = source.row(y);
        uint8_t* out = indices + y * width;
        for (uint32_t x = 0; x < source.width(); ++x) {
            const uint32_t c = source.at(row, x);
            if (c == PixelSource::kTransparent) {
                out[x] = static_cast<uint8_t>(t);
                continue;
            }
            const int k = first.find(c);
            out[x] = static_cast<uint8_t>(t >= 0 && k >= t ? k + 1 : k);
        }
    }
    return DAZ_OK;
}

// Moves the reduced colours for a dithered mapping. k-means leaves each
// colour at the middle of its pixels, inside the image's colours, and a
// dither can only make colours between its palette's: the entries move
// kRefineStep/16 of the way to the mean of what a trial diffusion (every
// fourth row) matched to them, so that the palette reaches out where the
// dither needs it. A whole step overshoots (it loses CIEDE2000 at 16 and 4
// colours on the bench's images; a second one loses everywhere): what the
// trial matched was diffused against the old palette.
bool refineForDiffusion(const PixelSource& source, const Options& options, Rgb* slots, int entries,
                        uint8_t* indices) {
    detail::MatchedSums sums;
    if (!detail::sumDiffused(source, options, slots, entries, indices, sums)) {
        return false;
    }
    for (int i = 0; i < entries; ++i) {
        const int64_t* s = sums.by[i];
        if (i == options.transparentIndex || s[3] == 0) {
            continue;
        }
        auto toward = [&](int from, int64_t sum) {
            const int mean = static_cast<int>((sum + s[3] * 8) / (s[3] * 16));
            const int move = (mean - from) * kRefineStep;
            return std::clamp(from + (move + (move >= 0 ? 8 : -8)) / 16, 0, 255);
        };
        slots[i] = {toward(slots[i].r, s[0]), toward(slots[i].g, s[1]), toward(slots[i].b, s[2])};
    }
    return true;
}

} // namespace

int reducePalette(const RgbaImage& image, const Options& options, Palette& palette,
                  uint8_t* indices) {
    if (options.colors < 2 || options.colors > 256 || !validDither(options.dither) ||
        options.transparentIndex < -1 || options.transparentIndex >= options.colors ||
        !validImage(image) || indices == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    if (uint64_t{image.width} * image.height > kMostPixels) {
        return DAZ_ERR_LIMITS;
    }
    try {
        const PixelSource source(image, options);
        const int limit = options.colors - (options.transparentIndex >= 0 ? 1 : 0);
        FirstColors first(limit);
        if (first.scan(source)) {
            return reduceLossless(source, options, first, palette, indices);
        }
        Rgb slots[256];
        int entries = 0;
        {
            std::vector<HistEntry> histogram;
            if (!detail::buildHistogram(source, histogram)) {
                return DAZ_ERR_MEMORY;
            }
            std::vector<Rgb> centres = detail::wuCut(histogram, limit, detail::kMetric);
            detail::refineKMeans(histogram, centres,
                                 options.dither == Dither::Diffusion ? kKMeansRoundsDithered
                                                                     : kKMeansRounds,
                                 detail::kMetric);
            entries = layOut(orderByUse(histogram, centres), options, slots);
        }
        if (options.dither == Dither::Diffusion &&
            !refineForDiffusion(source, options, slots, entries, indices)) {
            return DAZ_ERR_MEMORY;
        }
        storePalette(slots, entries, palette);
        if (!detail::mapPixels(source, options, slots, entries, indices)) {
            return DAZ_ERR_MEMORY;
        }
    } catch (const std::bad_alloc&) {
        return DAZ_ERR_MEMORY;
    }
    return DAZ_OK;
}

int mapToPalette(const RgbaImage& image, const Options& options, const Palette& palette,
                 uint8_t* indices) {
    const int entries = palette.entries;
    if (entries < 1 || entries > 256 || !validDither(options.dither) ||
        options.transparentIndex < -1 || options.transparentIndex >= entries ||
        (options.transparentIndex >= 0 && entries < 2) || !validImage(image) ||
        indices == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    try {
        Rgb slots[256];
        for (int i = 0; i < entries; ++i) {
            const size_t at = static_cast<size_t>(i) * 4;
            slots[i] = {palette.bytes[at], palette.bytes[at + 1], palette.bytes[at + 2]};
        }
        const PixelSource source(image, options);
        if (!detail::mapPixels(source, options, slots, entries, indices)) {
            return DAZ_ERR_MEMORY;
        }
    } catch (const std::bad_alloc&) {
        return DAZ_ERR_MEMORY;
    }
    return DAZ_OK;
}

uint64_t workingBytes(uint32_t width, uint32_t height, bool reduce, Dither dither) {
    const uint64_t mapping = detail::mapBytes(width, dither) + kSmallBytes;
    if (!reduce) {
        return mapping;
    }
    // The histogram is held through Wu's cut (an order of it) and k-means
    // (an owner of each entry and, for an empty centre, a cost of each),
    // and let go before the mapping.
    const uint64_t pixels = uint64_t{width} * height;
    const uint64_t entries = std::min<uint64_t>(pixels, uint64_t{1} << 18U);
    const uint64_t histogram = sizeof(HistEntry) * entries;
    const uint64_t refining = histogram + (sizeof(int) + 2 * sizeof(int64_t)) * entries;
    return std::max({detail::histogramBytes(pixels), refining, mapping}) + kSmallBytes;
}

} // namespace orvx::quantize
