// wu.cpp - Wu's variance-minimising cut (X. Wu, "Efficient statistical
// computations for optimal color quantization", Graphics Gems II, 1991) on
// the exact histogram rather than a coarse colour cube: boxes of colours are
// cut in turn, always the one whose cut removes the most variance (under
// the quantizer's metric), at the plane (one channel value) that leaves the
// least variance in its two halves. A
// box's colours are tallied by value along each channel (256 bins), so a cut
// costs one pass over its colours and 3 x 255 candidate planes, and no cell
// ever merges two colours the cube would not tell apart. Integer moments;
// the squares of sums need 128 bits.
#include "quantize/quantize_internal.h"

#include <array>

namespace orvx::quantize::detail {
namespace {

__extension__ typedef __int128 Int128;

struct Moments {
    int64_t w = 0;
    std::array<int64_t, 3> rgb{}; // sums by channel
    std::array<int64_t, 3> s{};   // sums of the metric's projections
    std::array<int64_t, 3> s2{};  // sums of their squares
};

int value(const Rgb& c, size_t axis) {
    return axis == 0 ? c.r : axis == 1 ? c.g : c.b;
}

// A box: the colours order[begin, end) and their moments.
struct Box {
    size_t begin = 0;
    size_t end = 0;
    Moments m;
    Int128 variance = 0;
    // The best cut: its axis (3: none) and plane, and the variance it removes.
    size_t axis = 3;
    int at = 0;
    Int128 gain = 0;
};

// Which box is cut next: the one of largest variance (Wu's rule), or the one
// whose cut removes the most variance.
constexpr bool kByGain = true;

class Cutter {
  public:
    Cutter(const std::vector<HistEntry>& histogram, const Metric& m)
        : h_(histogram), m_(m), weight_{m.w[0], m.w[1], m.w[2]} {
        order_.resize(h_.size());
        for (size_t i = 0; i < order_.size(); ++i) {
            order_[i] = static_cast<uint32_t>(i);
        }
    }

    // Sum over projections of weight x (projected sum)^2 / count: what a cut
    // maximises over its two halves.
    Int128 spread(int64_t w, const std::array<int64_t, 3>& s) const {
        if (w <= 0) {
            return 0;
        }
        Int128 total = 0;
        for (size_t c = 0; c < 3; ++c) {
            total += static_cast<Int128>(weight_[c]) * s[c] * s[c];
        }
        return total / w;
    }

    Box make(size_t begin, size_t end) const {
        Box box;
        box.begin = begin;
        box.end = end;
        for (size_t i = begin; i < end; ++i) {
            const HistEntry& e = h_[order_[i]];
            const int64_t n = e.count;
            box.m.w += n;
            for (size_t c = 0; c < 3; ++c) {
                box.m.rgb[c] += n * value(e.color, c);
                const int64_t v = m_.project(static_cast<int>(c), e.color);
                box.m.s[c] += n * v;
                box.m.s2[c] += n * v * v;
            }
        }
        Int128 squares = 0;
        for (size_t c = 0; c < 3; ++c) {
            squares += static_cast<Int128>(weight_[c]) * box.m.s2[c];
        }
        box.variance = end - begin > 1 ? squares - spread(box.m.w, box.m.s) : 0;
        return box;
    }

    Box whole() const {
        Box box = make(0, order_.size());
        plan(box);
        return box;
    }

    // Finds the best cut of box: the plane (one channel value) where the
    // two halves keep the least variance.
    void plan(Box& box) const {
        box.axis = 3;
        box.gain = 0;
        if (box.end - box.begin < 2) {
            return;
        }
        Int128 best = -1;
        for (size_t axis = 0; axis < 3; ++axis) {
            std::array<int64_t, 256> w{};
            std::array<std::array<int64_t, 3>, 256> s{};
            for (size_t i = box.begin; i < box.end; ++i) {
                const HistEntry& e = h_[order_[i]];
                const size_t v = static_cast<size_t>(value(e.color, axis));
                w[v] += e.count;
                for (size_t c = 0; c < 3; ++c) {
                    s[v][c] +=
                        static_cast<int64_t>(e.count) * m_.project(static_cast<int>(c), e.color);
                }
            }
            int64_t lowW = 0;
            std::array<int64_t, 3> low{};
            for (int at = 0; at < 255; ++at) {
                const size_t v = static_cast<size_t>(at);
                if (w[v] == 0) {
                    continue;
                }
                lowW += w[v];
                for (size_t c = 0; c < 3; ++c) {
                    low[c] += s[v][c];
                }
                const int64_t highW = box.m.w - lowW;
                if (highW == 0) {
                    break;
                }
                std::array<int64_t, 3> high{};
                for (size_t c = 0; c < 3; ++c) {
                    high[c] = box.m.s[c] - low[c];
                }
                const Int128 kept = spread(lowW, low) + spread(highW, high);
                if (kept > best) {
                    best = kept;
                    box.axis = axis;
                    box.at = at;
                }
            }
        }
        if (box.axis < 3) {
            box.gain = best - spread(box.m.w, box.m.s);
        }
    }

    // Cuts box in two at its planned plane.
    void cut(Box& box, Box& other) {
        // Colours at or below the plane first; the order within each half
        // changes no sum.
        const size_t axis = box.axis;
        const int at = box.at;
        size_t i = box.begin;
        size_t j = box.end;
        while (i < j) {
            if (value(h_[order_[i]].color, axis) <= at) {
                ++i;
            } else {
                std::swap(order_[i], order_[--j]);
            }
        }
        other = make(i, box.end);
        box = make(box.begin, i);
        plan(box);
        plan(other);
    }

  private:
    const std::vector<HistEntry>& h_;
    Metric m_;
    std::array<int64_t, 3> weight_;
    std::vector<uint32_t> order_;
};

} // namespace

std::vector<Rgb> wuCut(const std::vector<HistEntry>& histogram, int count, const Metric& m) {
    std::vector<Rgb> means;
    if (histogram.empty() || count <= 0) {
        return means;
    }
    Cutter cutter(histogram, m);
    std::vector<Box> boxes{cutter.whole()};
    while (static_cast<int>(boxes.size()) < count) {
        // The box to cut, the first of equals.
        size_t next = boxes.size();
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].axis == 3) {
                continue;
            }
            const Int128 v = kByGain ? boxes[i].gain : boxes[i].variance;
            if (next == boxes.size() || v > (kByGain ? boxes[next].gain : boxes[next].variance)) {
                next = i;
            }
        }
        if (next == boxes.size()) {
            break;
        }
        Box other;
        cutter.cut(boxes[next], other);
        boxes.push_back(other);
    }
    for (const Box& box : boxes) {
        const Moments& sums = box.m;
        means.push_back({static_cast<int>((sums.rgb[0] + sums.w / 2) / sums.w),
                         static_cast<int>((sums.rgb[1] + sums.w / 2) / sums.w),
                         static_cast<int>((sums.rgb[2] + sums.w / 2) / sums.w)});
    }
    return means;
}

} // namespace orvx::quantize::detail
