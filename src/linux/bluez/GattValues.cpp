#include "GattValues.h"

#include <array>
#include <utility>

#include "Hex.h"
#include "Peripheral.h"

namespace orvane {
namespace {

constexpr std::array<std::pair<std::string_view, CharacteristicProperty>, 8> flagBits = {{
    {"broadcast", CharacteristicProperty::broadcast},
    {"read", CharacteristicProperty::read},
    {"write-without-response", CharacteristicProperty::writeWithoutResponse},
    {"write", CharacteristicProperty::write},
    {"notify", CharacteristicProperty::notify},
    {"indicate", CharacteristicProperty::indicate},
    {"authenticated-signed-writes", CharacteristicProperty::authenticatedSignedWrites},
    {"extended-properties", CharacteristicProperty::extendedProperties},
}};

}  // namespace

std::uint32_t propertiesFromFlags(const std::vector<std::string>& flags) {
    std::uint32_t bits = 0;
    for (const std::string& flag : flags)
        for (const auto& [name, bit] : flagBits)
            if (flag == name) bits |= static_cast<std::uint32_t>(bit);
    return bits;
}

long handleOfPath(std::string_view path) {
    const auto slash = path.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (last.size() < 5) return -1;
    long handle = 0;
    for (const char c : last.substr(last.size() - 4)) {
        const int digit = hexDigit(c);
        if (digit < 0) return -1;
        handle = handle * 16 + digit;
    }
    return handle;
}

}  // namespace orvane
