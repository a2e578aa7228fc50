#include "Sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace orvane {

void Sha256::Free::operator()(evp_md_ctx_st* ctx) const { EVP_MD_CTX_free(ctx); }

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
}

void Sha256::update(std::span<const unsigned char> bytes) {
    if (EVP_DigestUpdate(ctx_.get(), bytes.data(), bytes.size()) != 1) throw std::runtime_error("SHA-256 failed");
}

Sha256::Digest Sha256::finish() {
    Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx_.get(), digest.data(), &length) != 1 || length != digest.size())
        throw std::runtime_error("SHA-256 failed");
    return digest;
}

Sha256::Digest Sha256::of(std::span<const unsigned char> bytes) {
    Sha256 sha;
    sha.update(bytes);
    return sha.finish();
}

std::string sha256Text(std::string_view bytes) {
    return hex(Sha256::of({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}));
}

}  // namespace orvane
