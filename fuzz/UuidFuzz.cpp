// Device ids and GATT UUIDs as the page and the Bluetooth stack write them.
#include <algorithm>
#include <cctype>
#include <string>

#include "FuzzInput.h"
#include "GattUuid.h"
#include "Uuid.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::text(data, size);

    if (const auto id = Uuid::parse(input)) {
        const auto canonical = id->text();
        fuzz::require(canonical.size() == 36, "a device id's text has 36 characters");
        fuzz::require(Uuid::parse(canonical) == id, "a device id survives its text");
        std::string lower(input);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        fuzz::require(Uuid::parse(lower) == id, "letter case does not change a device id");
    }

    if (const auto gatt = GattUuid::parse(input)) {
        const auto again = GattUuid::parse(gatt->string());
        fuzz::require(again && *again == *gatt, "a GATT UUID's text is its own canonical form");
        const auto expanded = full(*gatt);
        fuzz::require(Uuid::parse(expanded).has_value(), "the full form is a 128-bit UUID");
        const auto fromFull = GattUuid::parse(expanded);
        fuzz::require(fromFull && *fromFull == *gatt, "the full form names the same UUID");
    }
    return 0;
}
