#include "DeviceIdentifier.h"

#include <glib.h>

#include <string>

namespace orvane {
namespace {

// The namespace of Orvane's BlueZ device ids (a random UUID, fixed for good:
// changing it changes every id the page has stored).
constexpr Uuid::Bytes idNamespace = {0xd1, 0x60, 0xa0, 0x35, 0xd3, 0xe4, 0x4a, 0x2c,
                                     0xa9, 0x3b, 0xdb, 0x75, 0xf4, 0xd9, 0x74, 0x9e};

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = g_ascii_toupper(c);
    return out;
}

}  // namespace

Uuid deviceIdentifier(std::string_view adapterAddress, std::string_view deviceAddress) {
    const std::string name = upper(adapterAddress) + "/" + upper(deviceAddress);
    GChecksum* sha1 = g_checksum_new(G_CHECKSUM_SHA1);
    g_checksum_update(sha1, idNamespace.data(), idNamespace.size());
    g_checksum_update(sha1, reinterpret_cast<const guchar*>(name.data()), static_cast<gssize>(name.size()));
    guint8 digest[20];
    gsize length = sizeof digest;
    g_checksum_get_digest(sha1, digest, &length);
    g_checksum_free(sha1);

    Uuid::Bytes bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = digest[i];
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x50);  // version 5
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
    return Uuid(bytes);
}

}  // namespace orvane
