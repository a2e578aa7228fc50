#include "MessageFields.h"

#include <cmath>
#include <limits>

namespace orvane {

std::string_view textField(const nlohmann::json& message, std::string_view name) {
    if (!message.is_object()) return {};
    const auto it = message.find(name);
    if (it == message.end() || !it->is_string()) return {};
    return it->get_ref<const std::string&>();
}

bool flagField(const nlohmann::json& message, std::string_view name) {
    if (!message.is_object()) return false;
    const auto it = message.find(name);
    return it != message.end() && it->is_boolean() && it->get<bool>();
}

std::int64_t integerValue(const nlohmann::json& value) {
    constexpr auto largest = std::numeric_limits<std::int64_t>::max();
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        return number <= static_cast<std::uint64_t>(largest) ? static_cast<std::int64_t>(number) : 0;
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (!value.is_number_float()) return 0;
    // Converting a double outside the target range is undefined, so the range
    // is checked first: [-2^63, 2^63) holds exactly the doubles that fit.
    const double number = std::trunc(value.get<double>());
    if (!std::isfinite(number) || number < -0x1p63 || number >= 0x1p63) return 0;
    return static_cast<std::int64_t>(number);
}

}  // namespace orvane
