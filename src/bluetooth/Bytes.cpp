#include "Bytes.h"

namespace orvane {
namespace {

// One pair of characters as a byte, or -1.
int pairValue(char first, char second) {
    const int low = hexDigit(second);
    if (low < 0) return -1;
    if (first == '+') return low;
    if (first == '-') return low == 0 ? 0 : -1;
    const int high = hexDigit(first);
    return high < 0 ? -1 : high * 16 + low;
}

}  // namespace

std::optional<Bytes> fromHex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    Bytes bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int value = pairValue(text[2 * i], text[2 * i + 1]);
        if (value < 0) return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>(value);
    }
    return bytes;
}

}  // namespace orvane
