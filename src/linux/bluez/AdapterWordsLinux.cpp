#include "AdapterWords.h"

namespace orvane {

// Access to BlueZ is granted by D-Bus policy, usually through the "bluetooth"
// group, so that is where the user is sent.
constinit const AdapterRefusals adapterRefusals = {
    .unsupported = "This computer has no Bluetooth LE.",
    .unauthorized = "Orvane isn’t allowed to use Bluetooth (add your user to the bluetooth group, "
                    "or check the system's Bluetooth policy).",
    .poweredOff = "Bluetooth is off.",
    .notReady = "Bluetooth isn’t ready.",
};

}  // namespace orvane
