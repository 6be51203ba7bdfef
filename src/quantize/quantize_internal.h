// quantize_internal.h - the pieces of the quantizer, shared by its files:
// compositing, the colour histogram, Wu's cut, k-means refinement, the exact
// nearest-entry search and the mapping with or without error diffusion.
//
// Everything is integer arithmetic with fixed iteration orders, so that every
// processor gives the same bytes.
#pragma once

#include "quantize/quantize.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvx::quantize::detail {

// A colour of the histogram or palette.
struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline uint32_t packRgb(int r, int g, int b) {
    return static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 |
           static_cast<uint32_t>(b);
}
inline uint32_t packRgb(const Rgb& c) {
    return packRgb(c.r, c.g, c.b);
}
inline Rgb unpackRgb(uint32_t v) {
    return {static_cast<int>(v >> 16 & 0xFF), static_cast<int>(v >> 8 & 0xFF),
            static_cast<int>(v & 0xFF)};
}

// Packed colours to indices, for at most 256 colours: open addressing in
// 1024 slots (over 4 x 256: short probes).
class ColourIndex {
  public:
    ColourIndex() : key_(kSlots, kEmpty), index_(kSlots, 0) {}

    // key's index, or -1.
    int find(uint32_t key) const {
        size_t s = slot(key);
        while (key_[s] != kEmpty) {
            if (key_[s] == key) {
                return index_[s];
            }
            s = (s + 1) & (kSlots - 1);
        }
        return -1;
    }

    // Gives key index, unless key has one already.
    void add(uint32_t key, int index) {
        size_t s = slot(key);
        while (key_[s] != kEmpty && key_[s] != key) {
            s = (s + 1) & (kSlots - 1);
        }
        if (key_[s] == kEmpty) {
            key_[s] = key;
            index_[s] = index;
        }
    }

  private:
    static constexpr size_t kSlots = 1024;
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
    static size_t slot(uint32_t key) { return (key * 2654435761u) >> 22; }
    std::vector<uint32_t> key_;
    std::vector<int> index_;
};

// The distance between colours: a weighted sum of squares of linear
// projections of their difference, sum over k of w[k] (t[k] . delta)^2, a
// quadratic form that can weigh lightness apart from the colour's hue and
// saturation. Under it, the best centre of colours is still their mean.
// Small integers, so that a distance fits an int32 (kMetric's bound below).
struct Metric {
    int t[3][3];
    int w[3];
    int project(int k, int r, int g, int b) const {
        return t[k][0] * r + t[k][1] * g + t[k][2] * b;
    }
    int project(int k, const Rgb& c) const { return project(k, c.r, c.g, c.b); }
};
// Lightness (sum of the channels) apart from the red-green and the
// yellow-blue differences; w {2, 3, 1} would be 6 x the plain RGB distance.
// The colour differences weigh a third more than that: measured on photos
// and screenshots against pngquant, it gains CIEDE2000 everywhere and keeps
// PSNR (more weight on lightness lost both; twice the colour weight lost
// PSNR without dither).
inline constexpr Metric kMetric{{{1, 1, 1}, {1, -1, 0}, {1, 1, -2}}, {3, 6, 2}};

constexpr int64_t largestDistance(const Metric& m) {
    int64_t total = 0;
    for (int k = 0; k < 3; ++k) {
        int64_t span = 0;
        for (int c = 0; c < 3; ++c) {
            span += int64_t{m.t[k][c] < 0 ? -m.t[k][c] : m.t[k][c]} * 255;
        }
        total += m.w[k] * span * span;
    }
    return total;
}
static_assert(largestDistance(kMetric) < (int64_t{1} << 30), "distances must fit an int32");

inline int distance(const Metric& m, const Rgb& a, const Rgb& b) {
    const int dr = a.r - b.r;
    const int dg = a.g - b.g;
    const int db = a.b - b.b;
    int total = 0;
    for (int k = 0; k < 3; ++k) {
        const int p = m.project(k, dr, dg, db);
        total += m.w[k] * p * p;
    }
    return total;
}

// The pixels as they are read: composited over the background, or marked
// transparent (alpha 0 with a transparent index).
class PixelSource {
  public:
    PixelSource(const RgbaImage& image, const Options& options)
        : image_(image), bgR_(options.background[0]), bgG_(options.background[1]),
          bgB_(options.background[2]), keepTransparent_(options.transparentIndex >= 0) {}

    // The colour of pixel x of row y, packed 0xRRGGBB, or kTransparent.
    static constexpr uint32_t kTransparent = 0xFFFFFFFFu;
    uint32_t at(const uint8_t* row, uint32_t x) const {
        const uint8_t* p = row + static_cast<size_t>(x) * 4;
        const unsigned a = p[3];
        if (a == 255) {
            return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
        }
        if (a == 0 && keepTransparent_) {
            return kTransparent;
        }
        return blend(p[0], a, bgR_) << 16 | blend(p[1], a, bgG_) << 8 | blend(p[2], a, bgB_);
    }
    const uint8_t* row(uint32_t y) const {
        return image_.pixels + static_cast<size_t>(y) * image_.stride;
    }
    uint32_t width() const { return image_.width; }
    uint32_t height() const { return image_.height; }

  private:
    static uint32_t blend(unsigned c, unsigned a, unsigned bg) {
        return (c * a + bg * (255 - a) + 127) / 255;
    }
    const RgbaImage& image_;
    unsigned bgR_;
    unsigned bgG_;
    unsigned bgB_;
    bool keepTransparent_;
};

// One distinct colour of the image (or, for a huge histogram, the mean of a
// cell of them) and its pixel count.
struct HistEntry {
    Rgb color;
    uint32_t count = 0;
};

// Past this many distinct colours the histogram holds cells of 6 bits a
// channel (their means), which bounds its memory and the refinement's time.
inline constexpr size_t kMaxHistogram = size_t{1} << 17U;

// The image's distinct colours with their counts, transparent pixels left
// out, in a fixed order (sorted). With more than kMaxHistogram distinct
// colours, colours are merged by cells of 6 bits a channel (their
// count-weighted mean). Returns false when memory fails.
bool buildHistogram(const PixelSource& source, std::vector<HistEntry>& out);

// The most buildHistogram holds for an image of this many pixels, its
// result included.
uint64_t histogramBytes(uint64_t pixels);

// The most the mapping holds for an image this wide.
uint64_t mapBytes(uint32_t width, Dither dither);

// Wu's variance-minimising cut of the histogram into at most count boxes;
// their means, in box order.
std::vector<Rgb> wuCut(const std::vector<HistEntry>& histogram, int count, const Metric& m);

// The exact nearest palette entry: least distance, ties to the lowest index.
class Nearest {
  public:
    // entries[i] for i in [0, count); the entry `skip` (or -1) never chosen.
    // At least one entry must be left.
    Nearest(const Rgb* entries, int count, int skip, const Metric& m);
    int find(const Rgb& c) const;
    // The same answer as find, faster when guess is likely the answer.
    int findFrom(const Rgb& c, int guess) const;
    int entries() const { return static_cast<int>(color_.size()); }

  private:
    int search(const Rgb& c, int best, int bestIndex) const;
    Metric m_;
    std::vector<Rgb> color_;     // by index
    std::vector<bool> usable_;   // by index
    std::vector<int> isolation_; // by index: least distance to another usable entry
    int axis_ = 0;               // the projection the entries are sorted by
    int axisWeight_ = 1;
    std::vector<int> sortedKey_;   // axis value, ascending
    std::vector<int> sortedIndex_; // entry index, ties by index
    std::vector<Rgb> sortedColor_;
};

// Lloyd's k-means from the given centres over the histogram, at most
// iterations rounds; centres are replaced by the refined ones.
void refineKMeans(const std::vector<HistEntry>& histogram, std::vector<Rgb>& centres,
                  int iterations, const Metric& m);

// Maps every pixel to an entry of palette (entries of them): transparent
// pixels to transparentIndex, the others to the nearest entry other than it,
// with or without error diffusion. Returns false when memory fails.
bool mapPixels(const PixelSource& source, const Options& options, const Rgb* palette, int entries,
               uint8_t* indices);

// What a diffused mapping matched to each entry: the sum of the colours it
// matched (each pixel plus its carried error, 1/16 of a level a channel) and
// their count, [entry][r, g, b, count].
struct MatchedSums {
    int64_t by[256][4] = {};
};

// The diffused mapping of every fourth row, scratch written to indices,
// adding up in sums what it matched to each entry. Returns false when
// memory fails.
bool sumDiffused(const PixelSource& source, const Options& options, const Rgb* palette, int entries,
                 uint8_t* indices, MatchedSums& sums);

} // namespace orvx::quantize::detail
