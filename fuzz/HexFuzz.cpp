// Hexadecimal text from the page ("data" of a write) and its inverse.
#include "Bytes.h"
#include "FuzzInput.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::text(data, size);
    if (const auto bytes = fromHex(input)) {
        fuzz::require(bytes->size() * 2 == input.size(), "two characters per byte");
    }
    for (const char c : input) {
        const int digit = hexDigit(c);
        fuzz::require(digit >= -1 && digit < 16, "a digit is 0 to 15 or -1");
    }
    // Any bytes come back unchanged through their text.
    const std::span<const std::uint8_t> raw(data, size);
    const auto written = hex(raw);
    const auto back = fromHex(written);
    fuzz::require(back && std::equal(back->begin(), back->end(), raw.begin(), raw.end()),
                  "bytes survive their hexadecimal text");
    return 0;
}
