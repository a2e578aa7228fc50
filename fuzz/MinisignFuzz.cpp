// Minisign public keys and signature files. The first byte picks the reader;
// a signature is checked against a fixed key and fixed data (those of the
// seed corpus), so that a mutated valid signature reaches every check.
#include <array>
#include <string>

#include "FuzzInput.h"
#include "Minisign.h"

using namespace orvane;

namespace {

constexpr std::string_view KEY_LINE = "RWTcL3NyTCDuEHjLTvuQSzByPYS9SgF1N2/tEchZsTvmNFUjlTAPWMhi";
constexpr std::string_view SIGNED_DATA = "orvane fuzz data\n";

void signature(std::string_view file) {
    static const auto key = MinisignKey::parse(KEY_LINE);
    fuzz::require(key.has_value(), "the fixed key parses");
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(SIGNED_DATA.data()),
                                               SIGNED_DATA.size());
    const auto check = verifyMinisign(*key, bytes, file);
    fuzz::require(check.valid || check.trustedComment.empty(), "no trusted comment from a bad signature");
    fuzz::require(check.valid || !check.problem.empty(), "a bad signature says why");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto input = fuzz::text(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0: (void)MinisignKey::parse(input); break;
    case 1: signature(input); break;
    default:
        if (const auto decoded = decodeBase64(input)) {
            fuzz::require(decoded->size() * 4 <= input.size() * 3, "base64 decodes to at most 3/4 of its size");
        }
        break;
    }
    return 0;
}
