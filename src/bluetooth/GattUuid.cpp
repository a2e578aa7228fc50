#include "GattUuid.h"

#include <algorithm>
#include <cctype>

namespace orvane {
namespace {

constexpr std::string_view baseSuffix = "-0000-1000-8000-00805f9b34fb";

bool allHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

bool isLongForm(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? text[i] != '-' : std::isxdigit(static_cast<unsigned char>(text[i])) == 0) return false;
    }
    return true;
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// A 32-bit value that fits in 16 bits is written in the 16-bit form, so that
// "0000FFE0" and "FFE0" (and their 128-bit form) are one UUID with one text.
std::string shortest(const std::string& digits8) { return digits8.starts_with("0000") ? digits8.substr(4) : digits8; }

}  // namespace

std::optional<GattUuid> GattUuid::parse(std::string_view text) {
    if (text.size() == 4 && allHex(text)) return GattUuid(upper(text));
    if (text.size() == 8 && allHex(text)) return GattUuid(shortest(upper(text)));
    if (!isLongForm(text)) return std::nullopt;
    std::string canonical = upper(text);
    if (canonical.ends_with(upper(baseSuffix))) return GattUuid(shortest(canonical.substr(0, 8)));
    return GattUuid(std::move(canonical));
}

std::string full(const GattUuid& uuid) {
    std::string text = uuid.string();
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (text.size() == 4) return "0000" + text + std::string(baseSuffix);
    if (text.size() == 8) return text + std::string(baseSuffix);
    return text;
}

}  // namespace orvane
