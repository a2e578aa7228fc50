#include "Variant.h"

namespace orvane {

std::optional<std::string> stringValue(GVariant* value) {
    if (!value) return std::nullopt;
    if (!g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) && !g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH))
        return std::nullopt;
    return std::string(g_variant_get_string(value, nullptr));
}

std::optional<bool> boolValue(GVariant* value) {
    if (!value || !g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) return std::nullopt;
    return g_variant_get_boolean(value) != FALSE;
}

std::optional<std::int16_t> int16Value(GVariant* value) {
    if (!value || !g_variant_is_of_type(value, G_VARIANT_TYPE_INT16)) return std::nullopt;
    return g_variant_get_int16(value);
}

std::vector<std::string> stringsValue(GVariant* value) {
    std::vector<std::string> out;
    if (!value || (!g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY) &&
                   !g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH_ARRAY)))
        return out;
    const gsize count = g_variant_n_children(value);
    out.reserve(count);
    for (gsize i = 0; i < count; ++i) {
        GVariant* item = g_variant_get_child_value(value, i);
        out.emplace_back(g_variant_get_string(item, nullptr));
        g_variant_unref(item);
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> bytesValue(GVariant* value) {
    if (!value || !g_variant_is_of_type(value, G_VARIANT_TYPE_BYTESTRING)) return std::nullopt;
    gsize size = 0;
    const auto* data = static_cast<const std::uint8_t*>(g_variant_get_fixed_array(value, &size, 1));
    return std::vector<std::uint8_t>(data, data + size);
}

GVariant* newByteArray(const std::vector<std::uint8_t>& bytes) {
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1);
}

}  // namespace orvane
