#pragma once
// Property values in the D-Bus types BlueZ uses.

#include <cstdint>
#include <map>
#include <string>

#include "Glib.h"
#include "Peripheral.h"

namespace bluezsim {

inline VariantPtr text(const std::string& s) { return VariantPtr::adopt(g_variant_new_string(s.c_str())); }
inline VariantPtr objectPath(const std::string& s) { return VariantPtr::adopt(g_variant_new_object_path(s.c_str())); }
inline VariantPtr boolean(bool b) { return VariantPtr::adopt(g_variant_new_boolean(b)); }
inline VariantPtr int16(std::int16_t n) { return VariantPtr::adopt(g_variant_new_int16(n)); }
inline VariantPtr uint16(std::uint16_t n) { return VariantPtr::adopt(g_variant_new_uint16(n)); }
inline VariantPtr uint32(std::uint32_t n) { return VariantPtr::adopt(g_variant_new_uint32(n)); }
inline VariantPtr byte(std::uint8_t n) { return VariantPtr::adopt(g_variant_new_byte(n)); }

inline GVariant* newBytes(const Bytes& b) {
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, b.data(), b.size(), 1);
}
inline VariantPtr bytes(const Bytes& b) { return VariantPtr::adopt(newBytes(b)); }

template <typename Strings>
VariantPtr strings(const Strings& list) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("as"));
    for (auto& s : list) g_variant_builder_add(&b, "s", s.c_str());
    return VariantPtr::adopt(g_variant_builder_end(&b));
}
inline VariantPtr paths(const std::vector<std::string>& list) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("ao"));
    for (auto& s : list) g_variant_builder_add(&b, "o", s.c_str());
    return VariantPtr::adopt(g_variant_builder_end(&b));
}
inline VariantPtr manufacturerData(const std::map<std::uint16_t, Bytes>& data) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{qv}"));
    for (auto& [id, value] : data) g_variant_builder_add(&b, "{qv}", id, newBytes(value));
    return VariantPtr::adopt(g_variant_builder_end(&b));
}
inline VariantPtr serviceData(const std::map<std::string, Bytes>& data) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    for (auto& [uuid, value] : data) g_variant_builder_add(&b, "{sv}", uuid.c_str(), newBytes(value));
    return VariantPtr::adopt(g_variant_builder_end(&b));
}

inline Bytes bytesOf(GVariant* ay) {
    gsize n = 0;
    auto* data = static_cast<const std::uint8_t*>(g_variant_get_fixed_array(ay, &n, 1));
    return {data, data + n};
}

}  // namespace bluezsim
