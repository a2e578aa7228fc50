#pragma once
// One owned reference to a GVariant (floating references are sunk), and
// readers for the property types BlueZ uses.

#include <glib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvane {

class VariantPtr {
public:
    VariantPtr() = default;
    // Takes over `owned` (transfer full), sinking a floating reference.
    static VariantPtr adopt(GVariant* owned) { return VariantPtr(owned ? g_variant_take_ref(owned) : nullptr); }
    // Adds a reference to a borrowed value.
    static VariantPtr retain(GVariant* borrowed) { return VariantPtr(borrowed ? g_variant_ref_sink(borrowed) : nullptr); }
    VariantPtr(const VariantPtr& other) : v_(other.v_ ? g_variant_ref(other.v_) : nullptr) {}
    VariantPtr(VariantPtr&& other) noexcept : v_(std::exchange(other.v_, nullptr)) {}
    VariantPtr& operator=(VariantPtr other) noexcept {
        std::swap(v_, other.v_);
        return *this;
    }
    ~VariantPtr() {
        if (v_) g_variant_unref(v_);
    }
    GVariant* get() const { return v_; }
    explicit operator bool() const { return v_ != nullptr; }
    // Child `index` of a tuple or container.
    VariantPtr child(gsize index) const { return adopt(g_variant_get_child_value(v_, index)); }

private:
    explicit VariantPtr(GVariant* ref) : v_(ref) {}
    GVariant* v_ = nullptr;
};

// Readers that give nothing when the value is missing or of another type.
std::optional<std::string> stringValue(GVariant* value);  // s or o
std::optional<bool> boolValue(GVariant* value);
std::optional<std::int16_t> int16Value(GVariant* value);
std::vector<std::string> stringsValue(GVariant* value);  // as or ao; empty otherwise
std::optional<std::vector<std::uint8_t>> bytesValue(GVariant* value);

// A new floating `ay`.
GVariant* newByteArray(const std::vector<std::uint8_t>& bytes);

}  // namespace orvane
