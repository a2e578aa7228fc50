#pragma once
#include <string_view>

namespace orvane {
// Writes one line to standard error exactly as given: nothing in it is taken
// as a format.
void logLine(std::string_view line);
}  // namespace orvane
