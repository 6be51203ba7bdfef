// nearest.cpp - the exact nearest palette entry.
//
// The entries are sorted along the metric's projection where they spread
// most; a search
// starts where the colour falls on that axis and walks both ways, stopping a
// side once the distance along the axis alone passes the best found. A
// guess (the previous answer) settles it at once when it lies closer than
// half the way to its own nearest neighbour (the triangle inequality).
// Ties go to the lowest index, so the answer never depends on the search
// order.
#include "quantize/quantize_internal.h"

#include <algorithm>
#include <climits>

namespace orvx::quantize::detail {
namespace {} // namespace

Nearest::Nearest(const Rgb* entries, int count, int skip, const Metric& m)
    : m_(m), color_(entries, entries + count), usable_(static_cast<size_t>(count), true),
      isolation_(static_cast<size_t>(count), INT_MAX) {
    if (skip >= 0 && skip < count) {
        usable_[static_cast<size_t>(skip)] = false;
    }
    // The axis of largest weighted spread (sum of squared deviations).
    int64_t n = 0;
    int64_t sum[3] = {0, 0, 0};
    int64_t sum2[3] = {0, 0, 0};
    for (int i = 0; i < count; ++i) {
        if (!usable_[static_cast<size_t>(i)]) {
            continue;
        }
        ++n;
        for (int a = 0; a < 3; ++a) {
            const int64_t v = m.project(a, color_[static_cast<size_t>(i)]);
            sum[a] += v;
            sum2[a] += v * v;
        }
    }
    int64_t bestSpread = -1;
    for (int a : {0, 1, 2}) {
        const int64_t spread = n > 0 ? m.w[a] * (sum2[a] * n - sum[a] * sum[a]) : 0;
        if (spread > bestSpread) {
            bestSpread = spread;
            axis_ = a;
        }
    }
    axisWeight_ = m.w[axis_];
    std::vector<int> order;
    for (int i = 0; i < count; ++i) {
        if (usable_[static_cast<size_t>(i)]) {
            order.push_back(i);
        }
    }
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        const int ka = m.project(axis_, color_[static_cast<size_t>(a)]);
        const int kb = m.project(axis_, color_[static_cast<size_t>(b)]);
        return ka != kb ? ka < kb : a < b;
    });
    for (int i : order) {
        sortedKey_.push_back(m.project(axis_, color_[static_cast<size_t>(i)]));
        sortedIndex_.push_back(i);
        sortedColor_.push_back(color_[static_cast<size_t>(i)]);
    }
    for (size_t i = 0; i < order.size(); ++i) {
        for (size_t j = i + 1; j < order.size(); ++j) {
            const int d = distance(m, sortedColor_[i], sortedColor_[j]);
            int& a = isolation_[static_cast<size_t>(sortedIndex_[i])];
            int& b = isolation_[static_cast<size_t>(sortedIndex_[j])];
            a = std::min(a, d);
            b = std::min(b, d);
        }
    }
}

int Nearest::search(const Rgb& c, int best, int bestIndex) const {
    const int key = m_.project(axis_, c);
    const int size = static_cast<int>(sortedKey_.size());
    int hi = static_cast<int>(std::lower_bound(sortedKey_.begin(), sortedKey_.end(), key) -
                              sortedKey_.begin());
    int lo = hi - 1;
    bool goUp = hi < size;
    bool goDown = lo >= 0;
    while (goUp || goDown) {
        if (goUp) {
            const int d = sortedKey_[static_cast<size_t>(hi)] - key;
            if (axisWeight_ * d * d > best) {
                goUp = false;
            } else {
                const int dist = distance(m_, c, sortedColor_[static_cast<size_t>(hi)]);
                const int index = sortedIndex_[static_cast<size_t>(hi)];
                if (dist < best || (dist == best && index < bestIndex)) {
                    best = dist;
                    bestIndex = index;
                }
                goUp = ++hi < size;
            }
        }
        if (goDown) {
            const int d = key - sortedKey_[static_cast<size_t>(lo)];
            if (axisWeight_ * d * d > best) {
                goDown = false;
            } else {
                const int dist = distance(m_, c, sortedColor_[static_cast<size_t>(lo)]);
                const int index = sortedIndex_[static_cast<size_t>(lo)];
                if (dist < best || (dist == best && index < bestIndex)) {
                    best = dist;
                    bestIndex = index;
                }
                goDown = --lo >= 0;
            }
        }
    }
    return bestIndex;
}

int Nearest::find(const Rgb& c) const {
    return search(c, INT_MAX, INT_MAX);
}

int Nearest::findFrom(const Rgb& c, int guess) const {
    if (guess < 0 || guess >= entries() || !usable_[static_cast<size_t>(guess)]) {
        return find(c);
    }
    const int d = distance(m_, c, color_[static_cast<size_t>(guess)]);
    const int iso = isolation_[static_cast<size_t>(guess)];
    // Strictly inside half the way to the guess's nearest neighbour: no other
    // entry can be as close (4d < iso, in squared distances).
    if (iso == INT_MAX || static_cast<int64_t>(d) * 4 < iso) {
        return guess;
    }
    return search(c, d, guess);
}

} // namespace orvx::quantize::detail
