#pragma once
// A device id: the 128-bit identifier the Bluetooth stack gives a peripheral.
// Maps and sets are keyed by the value; messages carry its canonical text.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

class Uuid {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    Uuid() = default;  // the nil UUID
    explicit Uuid(const Bytes& bytes) : bytes_(bytes) {}

    // The 8-4-4-4-12 form, hexadecimal digits in either case; nothing else.
    static std::optional<Uuid> parse(std::string_view text);

    // 36 characters, upper-case digits, hyphens in the 8-4-4-4-12 layout.
    std::string text() const;
    const Bytes& bytes() const { return bytes_; }

    // NOLINTNEXTLINE(modernize-use-nullptr): the check reads the 0 of the comparison the compiler makes up
    auto operator<=>(const Uuid&) const = default;

private:
    Bytes bytes_{};
};

// For the maps that every advertisement report touches.
struct UuidHash {
    std::size_t operator()(const Uuid& uuid) const noexcept {
        std::uint64_t high = 0;
        std::uint64_t low = 0;
        std::memcpy(&high, uuid.bytes().data(), 8);
        std::memcpy(&low, uuid.bytes().data() + 8, 8);
        return static_cast<std::size_t>(high ^ (low * 0x9E3779B97F4A7C15ull));
    }
};

}  // namespace orvane
