#pragma once
// A stable device id for BlueZ, which itself names a device only by its
// adapter and address: a name-based (version 5) UUID of both addresses, so
// that the same light has the same id across restarts of the program and of
// bluetoothd, and a second adapter sees it as a different device.

#include <string_view>

#include "Uuid.h"

namespace orvane {

// Addresses in the "AA:BB:CC:DD:EE:FF" form, in either case.
Uuid deviceIdentifier(std::string_view adapterAddress, std::string_view deviceAddress);

}  // namespace orvane
