// wu.cpp - Wu's colour quantizer (X. Wu, "Efficient statistical computations
// for optimal color quantization", Graphics Gems II, 1991): the colour cube
// at 5 bits a channel, cumulative moments of each cell, and boxes cut in
// turn, always the one of largest weighted variance, at the plane that
// leaves the least variance in its two halves. Integer moments throughout;
// the squares of sums need 128 bits.
#include "quantize/quantize_internal.h"

#include <array>

namespace orvx::quantize::detail {
namespace {

__extension__ typedef __int128 Int128;

constexpr int kBits = 5;
constexpr int kSide = (1 << kBits) + 1; // index 0: the empty prefix

struct Moments {
    int64_t w = 0;
    int64_t r = 0;
    int64_t g = 0;
    int64_t b = 0;
    int64_t r2 = 0;
    int64_t g2 = 0;
    int64_t b2 = 0;
    Moments& operator+=(const Moments& o) {
        w += o.w, r += o.r, g += o.g, b += o.b, r2 += o.r2, g2 += o.g2, b2 += o.b2;
        return *this;
    }
    Moments& operator-=(const Moments& o) {
        w -= o.w, r -= o.r, g -= o.g, b -= o.b, r2 -= o.r2, g2 -= o.g2, b2 -= o.b2;
        return *this;
    }
};
Moments operator-(Moments a, const Moments& b) { return a -= b; }

inline size_t at(int r, int g, int b) {
    return (static_cast<size_t>(r) * kSide + static_cast<size_t>(g)) * kSide +
           static_cast<size_t>(b);
}

// (r0, r1] x (g0, g1] x (b0, b1] in cell coordinates 0..32.
struct Box {
    std::array<int, 3> lo{};
    std::array<int, 3> hi{};
};

class Cube {
  public:
    explicit Cube(const std::vector<HistEntry>& histogram, const Weights& w)
        : m_(static_cast<size_t>(kSide) * kSide * kSide), w_(w) {
        for (const HistEntry& e : histogram) {
            Moments& m = m_[at((e.color.r >> (8 - kBits)) + 1, (e.color.g >> (8 - kBits)) + 1,
                               (e.color.b >> (8 - kBits)) + 1)];
            const int64_t n = e.count;
            m.w += n;
            m.r += n * e.color.r;
            m.g += n * e.color.g;
            m.b += n * e.color.b;
            m.r2 += n * e.color.r * e.color.r;
            m.g2 += n * e.color.g * e.color.g;
            m.b2 += n * e.color.b * e.color.b;
        }
        // Cumulative along each axis in turn.
        for (int r = 1; r < kSide; ++r) {
            for (int g = 1; g < kSide; ++g) {
                for (int b = 1; b < kSide; ++b) {
                    m_[at(r, g, b)] += m_[at(r, g, b - 1)];
                }
            }
        }
        for (int r = 1; r < kSide; ++r) {
            for (int g = 1; g < kSide; ++g) {
                for (int b = 1; b < kSide; ++b) {
                    m_[at(r, g, b)] += m_[at(r, g - 1, b)];
                }
            }
        }
        for (int r = 1; r < kSide; ++r) {
            for (int g = 1; g < kSide; ++g) {
                for (int b = 1; b < kSide; ++b) {
                    m_[at(r, g, b)] += m_[at(r - 1, g, b)];
                }
            }
        }
    }

    Moments volume(const Box& x) const {
        const auto& l = x.lo;
        const auto& h = x.hi;
        Moments s = m_[at(h[0], h[1], h[2])];
        s -= m_[at(h[0], h[1], l[2])];
        s -= m_[at(h[0], l[1], h[2])];
        s += m_[at(h[0], l[1], l[2])];
        s -= m_[at(l[0], h[1], h[2])];
        s += m_[at(l[0], h[1], l[2])];
        s += m_[at(l[0], l[1], h[2])];
        s -= m_[at(l[0], l[1], l[2])];
        return s;
    }

    // Sum over channels of weight x (sum of the channel)^2 / count: the
    // part of the variance that a cut changes (larger is better).
    Int128 spread(const Moments& m) const {
        if (m.w <= 0) {
            return 0;
        }
        const Int128 s = static_cast<Int128>(w_.r) * m.r * m.r +
                         static_cast<Int128>(w_.g) * m.g * m.g +
                         static_cast<Int128>(w_.b) * m.b * m.b;
        return s / m.w;
    }

    // The weighted sum of squared deviations from the mean.
    Int128 variance(const Box& x) const {
        const Moments m = volume(x);
        if (m.w <= 0) {
            return 0;
        }
        const Int128 squares = static_cast<Int128>(w_.r) * m.r2 +
                               static_cast<Int128>(w_.g) * m.g2 +
                               static_cast<Int128>(w_.b) * m.b2;
        return squares - spread(m);
    }

    // Cuts box in two at the best plane; false when no plane leaves both
    // halves with pixels.
    bool cut(Box& box, Box& other) const {
        const Moments whole = volume(box);
        Int128 best = -1;
        size_t bestAxis = 3;
        int bestAt = 0;
        for (size_t axis = 0; axis < 3; ++axis) {
            for (int c = box.lo[axis] + 1; c < box.hi[axis]; ++c) {
                Box half = box;
                half.hi[axis] = c;
                const Moments a = volume(half);
                const Moments b = whole - a;
                if (a.w == 0 || b.w == 0) {
                    continue;
                }
                const Int128 value = spread(a) + spread(b);
                if (value > best) {
                    best = value;
                    bestAxis = axis;
                    bestAt = c;
                }
            }
        }
        if (bestAxis == 3) {
            return false;
        }
        other = box;
        box.hi[bestAxis] = bestAt;
        other.lo[bestAxis] = bestAt;
        return true;
    }

  private:
    std::vector<Moments> m_;
    Weights w_;
};

} // namespace

std::vector<Rgb> wuCut(const std::vector<HistEntry>& histogram, int count, const Weights& w) {
    std::vector<Rgb> means;
    if (histogram.empty() || count <= 0) {
        return means;
    }
    const Cube cube(histogram, w);
    std::vector<Box> boxes(1);
    boxes[0].hi = {kSide - 1, kSide - 1, kSide - 1};
    std::vector<Int128> variance(1, cube.variance(boxes[0]));
    while (static_cast<int>(boxes.size()) < count) {
        // The box of largest variance, the first of equals.
        int next = -1;
        for (int i = 0; i < static_cast<int>(boxes.size()); ++i) {
            if (variance[static_cast<size_t>(i)] > 0 &&
                (next < 0 || variance[static_cast<size_t>(i)] > variance[static_cast<size_t>(next)])) {
                next = i;
            }
        }
        if (next < 0) {
            break;
        }
        Box other;
        if (!cube.cut(boxes[static_cast<size_t>(next)], other)) {
            variance[static_cast<size_t>(next)] = 0;
            continue;
        }
        boxes.push_back(other);
        variance[static_cast<size_t>(next)] = cube.variance(boxes[static_cast<size_t>(next)]);
        variance.push_back(cube.variance(other));
    }
    for (const Box& box : boxes) {
        const Moments m = cube.volume(box);
        if (m.w <= 0) {
            continue;
        }
        means.push_back({static_cast<int>((m.r + m.w / 2) / m.w),
                         static_cast<int>((m.g + m.w / 2) / m.w),
                         static_cast<int>((m.b + m.w / 2) / m.w)});
    }
    return means;
}

} // namespace orvx::quantize::detail
