#include "update/Version.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane {
namespace {

std::int64_t component(std::string_view text) {
    // from_chars takes no "+", and would take a "-" with nothing after it for
    // a failure anyway; the sign is read here so that "+5" counts as 5.
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.front() < '0' || digits.front() > '9') return 0;
    // Read with the sign in place so that the most negative number still fits.
    std::string signedDigits = negative ? "-" + std::string(digits) : std::string(digits);
    std::int64_t value = 0;
    const char* end = signedDigits.data() + signedDigits.size();
    auto [stop, error] = std::from_chars(signedDigits.data(), end, value);
    if (error != std::errc() || stop != end) return 0;
    return value;
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
