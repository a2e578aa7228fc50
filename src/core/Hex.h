#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace orvane {
// Two lower-case hexadecimal digits per byte, no separator; "" for no bytes.
std::string hex(std::span<const std::uint8_t> bytes);
}  // namespace orvane
