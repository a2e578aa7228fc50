#pragma once
// Readers for the property types BlueZ uses, and the owning VariantPtr they
// are read from.

#include "GRef.h"

#include <glib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// Readers that give nothing when the value is missing or of another type.
std::optional<std::string> stringValue(GVariant* value);  // s or o
std::optional<bool> boolValue(GVariant* value);
std::optional<std::int16_t> int16Value(GVariant* value);
std::vector<std::string> stringsValue(GVariant* value);  // as or ao; empty otherwise
std::optional<std::vector<std::uint8_t>> bytesValue(GVariant* value);

// A new floating `ay`.
GVariant* newByteArray(const std::vector<std::uint8_t>& bytes);

}  // namespace orvane
