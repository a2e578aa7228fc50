#pragma once
// Round-trip samples in milliseconds and the figures the report prints.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace orvane::bench {

struct Figures {
    double median = 0, p90 = 0, p99 = 0;
    // The mean of the fastest 90 %: the page's clock steps by 20 µs, so a
    // median moves in steps of a tenth of a round trip, while the error of
    // a mean shrinks with the count (each sample is off by up to one step
    // either way). The slowest tenth is left out, as a median leaves it.
    double typical = 0;
    std::size_t count = 0;
};

inline double percentile(std::vector<double> sorted, double p) {
    if (sorted.empty()) return NAN;
    std::sort(sorted.begin(), sorted.end());
    // Nearest rank: the smallest sample at or above p of them.
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

inline double typical(std::vector<double> samples) {
    if (samples.empty()) return NAN;
    std::sort(samples.begin(), samples.end());
    const std::size_t kept = std::max<std::size_t>(1, samples.size() * 9 / 10);
    double sum = 0;
    for (std::size_t i = 0; i < kept; ++i) sum += samples[i];
    return sum / static_cast<double>(kept);
}

inline Figures figures(const std::vector<double>& samples) {
    return {percentile(samples, 0.5), percentile(samples, 0.9), percentile(samples, 0.99), typical(samples),
            samples.size()};
}

}  // namespace orvane::bench
