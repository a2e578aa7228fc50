#pragma once
// SHA-256 through OpenSSL's EVP interface, which uses the CPU's SHA
// instructions where they exist.

#include <array>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "Hex.h"

struct evp_md_ctx_st;

namespace orvane {

class Sha256 {
public:
    using Digest = std::array<unsigned char, 32>;

    Sha256();
    void update(std::span<const unsigned char> bytes);
    Digest finish();

    static Digest of(std::span<const unsigned char> bytes);

private:
    struct Free {
        void operator()(evp_md_ctx_st* ctx) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> ctx_;
};

// The SHA-256 of `bytes` as 64 lower-case hexadecimal digits.
std::string sha256Text(std::string_view bytes);

}  // namespace orvane
