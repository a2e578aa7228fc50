#pragma once
// Byte buffers and their hexadecimal text, the form bytes take on the page.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Hex.h"

namespace orvane {

using Bytes = std::vector<std::uint8_t>;

// The bytes of a hexadecimal text (either case), or nothing when the text has
// an odd length or a pair that is not a number from 0 to 255 in base 16. A
// pair may carry a sign the way a base-16 integer reader takes it: "+" and one
// digit is that digit, "-0" is 0; any other signed pair fails.
std::optional<Bytes> fromHex(std::string_view text);

}  // namespace orvane
