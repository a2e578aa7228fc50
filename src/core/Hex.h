#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace orvane {
// Two lower-case hexadecimal digits per byte, no separator; "" for no bytes.
std::string hex(std::span<const std::uint8_t> bytes);
// The value of one hexadecimal digit, either case; -1 for any other character.
int hexDigit(char c);
}  // namespace orvane
