#include "Version.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane {
namespace {

std::int64_t component(std::string_view text) {
    // An optional sign, then digits only; from_chars takes neither a "+" nor
    // anything but digits for an unsigned number.
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return 0;
    std::uint64_t magnitude = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, magnitude);
    if (error != std::errc() || stop != end) return 0;
    constexpr auto kLimit = std::uint64_t(INT64_MAX);
    if (!negative) return magnitude > kLimit ? 0 : static_cast<std::int64_t>(magnitude);
    if (magnitude > kLimit + 1) return 0;
    return magnitude == kLimit + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
}

std::vector<std::int64_t> components(std::string_view version) {
    std::vector<std::int64_t> out;
    while (!version.empty()) {
        const auto dot = version.find('.');
        const auto part = version.substr(0, dot);
        if (!part.empty()) out.push_back(component(part));
        if (dot == std::string_view::npos) break;
        version.remove_prefix(dot + 1);
    }
    return out;
}

}  // namespace

bool newer(std::string_view a, std::string_view b) {
    const auto left = components(a), right = components(b);
    for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const std::int64_t x = i < left.size() ? left[i] : 0;
        const std::int64_t y = i < right.size() ? right[i] : 0;
        if (x != y) return x > y;
    }
    return false;
}

}  // namespace orvane
