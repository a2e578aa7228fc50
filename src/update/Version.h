#pragma once
// Dotted version numbers as the update check compares them.

#include <string_view>

namespace orvane {

// True when version `a` is strictly newer than `b`. Components are split at
// "." (empty ones dropped) and read as signed 64-bit decimal numbers; anything
// else in a component ("3b", "beta", out of range) counts as 0, and a missing
// component counts as 0, so 1.2 and 1.2.0 are equal.
bool newer(std::string_view a, std::string_view b);

}  // namespace orvane
