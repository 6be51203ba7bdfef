// kmeans.cpp - Lloyd's refinement of the palette over the exact histogram:
// each colour goes to its nearest centre, each centre moves to the rounded
// mean of its colours, until nothing moves or the rounds run out. A centre
// left with no colour moves to the colour that costs most where it is.
#include "quantize/quantize_internal.h"

#include <algorithm>

namespace orvx::quantize::detail {

void refineKMeans(const std::vector<HistEntry>& histogram, std::vector<Rgb>& centres,
                  int iterations, const Metric& m) {
    const size_t k = centres.size();
    if (k < 2 || histogram.empty()) {
        return;
    }
    std::vector<int> owner(histogram.size(), -1);
    std::vector<int64_t> sum(k * 4);
    for (int round = 0; round < iterations; ++round) {
        const Nearest nearest(centres.data(), static_cast<int>(k), -1, m);
        std::fill(sum.begin(), sum.end(), 0);
        for (size_t i = 0; i < histogram.size(); ++i) {
            const HistEntry& e = histogram[i];
            const int o = nearest.findFrom(e.color, owner[i]);
            owner[i] = o;
            int64_t* s = &sum[static_cast<size_t>(o) * 4];
            s[0] += e.count;
            s[1] += static_cast<int64_t>(e.count) * e.color.r;
            s[2] += static_cast<int64_t>(e.count) * e.color.g;
            s[3] += static_cast<int64_t>(e.count) * e.color.b;
        }
        bool moved = false;
        std::vector<size_t> empty;
        for (size_t c = 0; c < k; ++c) {
            const int64_t* s = &sum[c * 4];
            if (s[0] == 0) {
                empty.push_back(c);
                continue;
            }
            const Rgb mean{static_cast<int>((s[1] + s[0] / 2) / s[0]),
                           static_cast<int>((s[2] + s[0] / 2) / s[0]),
                           static_cast<int>((s[3] + s[0] / 2) / s[0])};
            if (!(mean == centres[c])) {
                centres[c] = mean;
                moved = true;
            }
        }
        if (!empty.empty()) {
            // The costliest colours (count x distance to their centre), one
            // per empty centre; ties to the first in histogram order.
            std::vector<std::pair<int64_t, size_t>> cost;
            cost.reserve(histogram.size());
            for (size_t i = 0; i < histogram.size(); ++i) {
                const HistEntry& e = histogram[i];
                const int64_t d = distance(m, e.color, centres[static_cast<size_t>(owner[i])]);
                if (d > 0) {
                    cost.emplace_back(-d * e.count, i);
                }
            }
            const size_t take = std::min(empty.size(), cost.size());
            std::partial_sort(cost.begin(), cost.begin() + static_cast<std::ptrdiff_t>(take),
                              cost.end());
            for (size_t j = 0; j < take; ++j) {
                centres[empty[j]] = histogram[cost[j].second].color;
                owner[cost[j].second] = static_cast<int>(empty[j]);
                moved = true;
            }
        }
        if (!moved) {
            break;
        }
    }
}

} // namespace orvx::quantize::detail
