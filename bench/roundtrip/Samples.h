#pragma once
// Round-trip samples in milliseconds and the figures the report prints.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace orvane::bench {

struct Figures {
    double median = 0, p90 = 0, p99 = 0;
    std::size_t count = 0;
};

inline double percentile(std::vector<double> sorted, double p) {
    if (sorted.empty()) return NAN;
    std::sort(sorted.begin(), sorted.end());
    // Nearest rank: the smallest sample at or above p of them.
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

inline Figures figures(const std::vector<double>& samples) {
    return {percentile(samples, 0.5), percentile(samples, 0.9), percentile(samples, 0.99), samples.size()};
}

}  // namespace orvane::bench
