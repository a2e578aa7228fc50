#pragma once
// Writing a whole buffer to a file descriptor.

#include <string_view>

namespace orvane {

// Writes all of `bytes`, through short writes and interruptions. False on
// the first error (errno tells which).
bool writeAll(int fd, std::string_view bytes);

}  // namespace orvane
