#pragma once
// Reading members of a page message. A missing or ill-typed member takes its
// default (0, empty text, false) instead of rejecting the message.

#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orvane {

// The member's text, or "" when absent or not a string. The view lives as
// long as the message.
std::string_view textField(const nlohmann::json& message, std::string_view name);

// The member's value when it is a boolean, else false.
bool flagField(const nlohmann::json& message, std::string_view name);

// A JSON number as a signed 64-bit integer, a fraction cut toward zero. A
// value that is not finite or does not fit counts as absent: 0.
std::int64_t integerValue(const nlohmann::json& value);

}  // namespace orvane
