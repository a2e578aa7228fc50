#pragma once
// Helpers shared by the fuzz targets: the input as text, split in two, and a
// check that stops the run with a message when a property does not hold.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace orvane::fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The text before the first newline and the text after it (empty when none).
inline std::pair<std::string_view, std::string_view> splitLine(std::string_view input) {
    const auto newline = input.find('\n');
    if (newline == std::string_view::npos) return {input, {}};
    return {input.substr(0, newline), input.substr(newline + 1)};
}

// A property that does not hold is a finding like a crash: abort so that the
// fuzzer keeps the input.
inline void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "property does not hold: %s\n", what);
    std::abort();
}

}  // namespace orvane::fuzz
