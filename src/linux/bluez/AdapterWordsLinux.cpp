#include "AdapterWords.h"

namespace orvane {

// Access to BlueZ is granted by D-Bus policy, usually through the "bluetooth"
// group, so that is where the user is sent. Without the service running there
// may well be hardware, so the user is sent to the service, not to a shop.
constinit const AdapterRefusals adapterRefusals = {
    .unsupported = "This computer has no Bluetooth LE.",
    .noService = "The Bluetooth service isn’t running (start it with “systemctl start bluetooth”).",
    .unauthorized =
        "Orvane isn’t allowed to use Bluetooth (add your user to the bluetooth group, "
        "or check the system's Bluetooth policy).",
    .poweredOff = "Bluetooth is off.",
    .notReady = "Bluetooth isn’t ready.",
};

}  // namespace orvane
