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
inline uint32_t packRgb(const Rgb& c) { return packRgb(c.r, c.g, c.b); }
inline Rgb unpackRgb(uint32_t v) {
    return {static_cast<int>(v >> 16 & 0xFF), static_cast<int>(v >> 8 & 0xFF),
            static_cast<int>(v & 0xFF)};
}

// The distance between colours: a weighted sum of squared channel
// differences. The weights are small integers (their sum at most 64, so a
// distance fits an int32).
struct Weights {
    int r;
    int g;
    int b;
};
inline constexpr Weights kWeights{3, 4, 2};

inline int distance(const Weights& w, const Rgb& a, const Rgb& b) {
    const int dr = a.r - b.r;
    const int dg = a.g - b.g;
    const int db = a.b - b.b;
    return w.r * dr * dr + w.g * dg * dg + w.b * db * db;
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
    const uint8_t* row(uint32_t y) const { return image_.pixels + static_cast<size_t>(y) * image_.stride; }
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

// The image's distinct colours with their counts, transparent pixels left
// out, in a fixed order (sorted). With more than maxEntries distinct
// colours, colours are merged by cells of 6 bits a channel (their
// count-weighted mean). Returns false when memory fails.
bool buildHistogram(const PixelSource& source, size_t maxEntries, std::vector<HistEntry>& out);

// Wu's variance-minimising cut of the histogram into at most count boxes;
// their means, in box order.
std::vector<Rgb> wuCut(const std::vector<HistEntry>& histogram, int count, const Weights& w);

// The exact nearest palette entry: least distance, ties to the lowest index.
class Nearest {
  public:
    // entries[i] for i in [0, count); the entry `skip` (or -1) never chosen.
    // At least one entry must be left.
    Nearest(const Rgb* entries, int count, int skip, const Weights& w);
    int find(const Rgb& c) const;
    // The same answer as find, faster when guess is likely the answer.
    int findFrom(const Rgb& c, int guess) const;
    int entries() const { return static_cast<int>(color_.size()); }

  private:
    int search(const Rgb& c, int best, int bestIndex) const;
    Weights w_;
    std::vector<Rgb> color_;       // by index
    std::vector<bool> usable_;     // by index
    std::vector<int> isolation_;   // by index: least distance to another usable entry
    int axis_ = 1;                 // 0 red, 1 green, 2 blue: the sorted one
    int axisWeight_ = 1;
    std::vector<int> sortedKey_;   // axis value, ascending
    std::vector<int> sortedIndex_; // entry index, ties by index
    std::vector<Rgb> sortedColor_;
};

// Lloyd's k-means from the given centres over the histogram, at most
// iterations rounds; centres are replaced by the refined ones.
void refineKMeans(const std::vector<HistEntry>& histogram, std::vector<Rgb>& centres,
                  int iterations, const Weights& w);

// Maps every pixel to an entry of palette (entries of them): transparent
// pixels to transparentIndex, the others to the nearest entry other than it,
// with or without error diffusion. Returns false when memory fails.
bool mapPixels(const PixelSource& source, const Options& options, const Rgb* palette,
               int entries, uint8_t* indices);

} // namespace orvx::quantize::detail
