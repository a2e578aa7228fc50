#pragma once
// The archive's digest text: SHA-256 (OpenSSL), 64 lower-case hex digits.

#include <string>
#include <string_view>

namespace orvane {

std::string sha256Text(std::string_view bytes);

}  // namespace orvane
