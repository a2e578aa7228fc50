#pragma once
// A failure reported by the Bluetooth stack. The description is shown to the
// page unchanged, so backends write it as a short sentence for a person.

#include <string>

namespace orvane {

struct BluetoothError {
    std::string description;
};

}  // namespace orvane
