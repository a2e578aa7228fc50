#pragma once
// Checks minisign signatures, more strictly than the minisign tool does:
// only the prehashed "ED" form (Ed25519 over BLAKE2b-512 of the data), exactly
// four lines, no carriage returns, a capped size, and both the signature of the
// data and the global signature over the trusted comment must hold. The
// trusted comment is handed out only once both have been checked.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orvane {

struct MinisignKey {
    std::array<unsigned char, 8> id{};
    std::array<unsigned char, 32> key{};

    // A public key file's text (comment line and key line) or the key line
    // alone; nothing when it is not an Ed25519 minisign public key.
    static std::optional<MinisignKey> parse(std::string_view text);
};

struct SignatureCheck {
    bool valid = false;
    std::string problem;         // why it is not valid, for people
    std::string trustedComment;  // set only when valid
};

// Signature files larger than this are refused before they are read further.
inline constexpr std::size_t MINISIGN_MAX_SIGNATURE = std::size_t{16} * 1024;

SignatureCheck verifyMinisign(const MinisignKey& key, std::span<const unsigned char> data,
                              std::string_view signatureFile);

// Strict standard base64 with padding; nothing on any deviation.
std::optional<std::string> decodeBase64(std::string_view text);

}  // namespace orvane
