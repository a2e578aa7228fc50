#include "Minisign.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace orvane {
namespace {

constexpr std::string_view UNTRUSTED = "untrusted comment: ";
constexpr std::string_view TRUSTED = "trusted comment: ";
// minisign reads a trusted comment line into 8192 bytes, prefix included.
constexpr std::size_t MAX_TRUSTED_LINE = 8192;

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

bool ed25519Verify(const MinisignKey& key, std::span<const unsigned char> signature,
                   std::span<const unsigned char> message) {
    std::unique_ptr<EVP_PKEY, PkeyFree> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.key.data(), key.key.size()));
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!pkey || !ctx) return false;
    if (EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) return false;
    return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
}

std::optional<std::array<unsigned char, 64>> blake2b512(std::span<const unsigned char> data) {
    std::array<unsigned char, 64> digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_blake2b512(), nullptr) != 1 ||
        length != digest.size())
        return std::nullopt;
    return digest;
}

// Printable UTF-8 without control characters other than tab, as minisign
// itself now demands of a trusted comment.
bool printableUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if ((byte < 0x20 && byte != '\t') || byte == 0x7f) return false;
            ++i;
            continue;
        }
        std::size_t extra = 0;
        char32_t point = 0;
        if ((byte & 0xe0) == 0xc0) extra = 1, point = byte & 0x1f;
        else if ((byte & 0xf0) == 0xe0) extra = 2, point = byte & 0x0f;
        else if ((byte & 0xf8) == 0xf0) extra = 3, point = byte & 0x07;
        else return false;
        if (i + extra >= text.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80) return false;
            point = (point << 6) | (next & 0x3f);
        }
        static constexpr char32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (point < least[extra] || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff)) return false;
        if (point >= 0x80 && point < 0xa0) return false;  // C1 controls
        i += extra + 1;
    }
    return true;
}

// Splits into lines ending in "\n"; the last line may lack it. Nothing when a
// carriage return appears anywhere.
std::optional<std::vector<std::string_view>> lines(std::string_view text) {
    if (text.find('\r') != std::string_view::npos) return std::nullopt;
    std::vector<std::string_view> result;
    while (!text.empty()) {
        auto end = text.find('\n');
        if (end == std::string_view::npos) {
            result.push_back(text);
            break;
        }
        result.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    return result;
}

SignatureCheck refuse(std::string problem) { return {false, std::move(problem), {}}; }

std::span<const unsigned char> bytes(std::string_view text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int v[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            if (c == '=' && last && k >= 2) {
                v[k] = 0;
                ++padding;
                continue;
            }
            if (padding > 0) return std::nullopt;  // data after padding
            v[k] = base64Value(c);
            if (v[k] < 0) return std::nullopt;
        }
        unsigned bits = (unsigned(v[0]) << 18) | (unsigned(v[1]) << 12) | (unsigned(v[2]) << 6) | unsigned(v[3]);
        // Unused bits must be zero, so each byte string has one encoding.
        if (padding == 2 && (bits & 0xffff) != 0) return std::nullopt;
        if (padding == 1 && (bits & 0xff) != 0) return std::nullopt;
        out.push_back(static_cast<char>(bits >> 16));
        if (padding < 2) out.push_back(static_cast<char>((bits >> 8) & 0xff));
        if (padding < 1) out.push_back(static_cast<char>(bits & 0xff));
    }
    return out;
}

std::optional<MinisignKey> MinisignKey::parse(std::string_view text) {
    auto split = lines(text);
    if (!split) return std::nullopt;
    std::string_view line;
    if (split->size() == 1) line = (*split)[0];
    else if (split->size() == 2 && (*split)[0].starts_with(UNTRUSTED)) line = (*split)[1];
    else return std::nullopt;
    auto blob = decodeBase64(line);
    if (!blob || blob->size() != 42 || blob->substr(0, 2) != "Ed") return std::nullopt;
    MinisignKey key;
    std::copy(blob->begin() + 2, blob->begin() + 10, key.id.begin());
    std::copy(blob->begin() + 10, blob->end(), key.key.begin());
    return key;
}

SignatureCheck verifyMinisign(const MinisignKey& key, std::span<const unsigned char> data,
                              std::string_view signatureFile) {
    if (signatureFile.size() > MINISIGN_MAX_SIGNATURE) return refuse("the signature file is too large");
    auto split = lines(signatureFile);
    if (!split) return refuse("the signature file contains a carriage return");
    if (split->size() != 4) return refuse("the signature file does not have four lines");
    const auto& l = *split;
    if (!l[0].starts_with(UNTRUSTED)) return refuse("the signature file has no untrusted comment line");

    auto blob = decodeBase64(l[1]);
    if (!blob || blob->size() != 74) return refuse("the signature line is malformed");
    if (blob->substr(0, 2) == "Ed") return refuse("legacy (not prehashed) signatures are refused");
    if (blob->substr(0, 2) != "ED") return refuse("unknown signature algorithm");
    if (std::memcmp(key.id.data(), blob->data() + 2, key.id.size()) != 0) return refuse("signed with another key");
    auto signature = bytes(*blob).subspan(10, 64);

    if (!l[2].starts_with(TRUSTED) || l[2].size() + 1 > MAX_TRUSTED_LINE)
        return refuse("the trusted comment line is malformed");
    auto comment = l[2].substr(TRUSTED.size());
    if (!printableUtf8(comment)) return refuse("the trusted comment is not printable text");

    auto global = decodeBase64(l[3]);
    if (!global || global->size() != 64) return refuse("the global signature line is malformed");

    auto digest = blake2b512(data);
    if (!digest || !ed25519Verify(key, signature, *digest)) return refuse("the signature does not match");

    std::string globalMessage(reinterpret_cast<const char*>(signature.data()), signature.size());
    globalMessage.append(comment);
    if (!ed25519Verify(key, bytes(*global), bytes(globalMessage)))
        return refuse("the global signature does not match the trusted comment");
    return {true, {}, std::string(comment)};
}

}  // namespace orvane
