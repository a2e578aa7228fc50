#pragma once
// What a simulated remote device does with the bytes a central writes to it.
// Plain C++: the device's behaviour knows nothing of D-Bus.

#include <cstdint>
#include <string>
#include <vector>

namespace bluezsim {

using Bytes = std::vector<std::uint8_t>;

// A value the device sends on one of its characteristics.
struct Notification {
    std::string uuid;
    Bytes value;
};

class Peripheral {
public:
    virtual ~Peripheral() = default;
    // A write reached the characteristic `uuid`; returns what the device sends back.
    virtual std::vector<Notification> written(const std::string& uuid, const Bytes& value) = 0;
    // One line for a person watching the simulator; empty when there is nothing to show.
    virtual std::string describe(bool colour) const {
        (void)colour;
        return {};
    }
};

}  // namespace bluezsim
