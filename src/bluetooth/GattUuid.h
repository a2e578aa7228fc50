#pragma once
// The UUID of a GATT service or characteristic, as the Bluetooth stack names
// it: 4 hexadecimal digits for a 16-bit UUID, 8 for a 32-bit one, the
// 36-character form for a 128-bit one, upper-case.

#include <optional>
#include <string>
#include <string_view>

namespace orvane {

class GattUuid {
public:
    // Accepts 4 or 8 hexadecimal digits or the 8-4-4-4-12 form, in either case.
    // A 128-bit text built on the Bluetooth Base UUID is shortened to its 16- or
    // 32-bit form, so that one UUID has one text whichever form the stack used.
    static std::optional<GattUuid> parse(std::string_view text);

    const std::string& string() const { return text_; }

    bool operator==(const GattUuid&) const = default;

private:
    explicit GattUuid(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

// The full form the page sees: lower-case 128-bit text, short forms expanded
// with the Bluetooth Base UUID (FFE0 -> 0000ffe0-0000-1000-8000-00805f9b34fb).
std::string full(const GattUuid& uuid);

}  // namespace orvane
