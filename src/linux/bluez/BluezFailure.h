#pragma once
// A failed BlueZ call as the bridge hears of it: the kind of failure, with
// BlueZ's own words written to the log, once, here. The page gets the
// bridge's sentence for the kind, never BlueZ's text.

#include <cstddef>
#include <string>
#include <string_view>

#include "BluetoothError.h"
#include "BluezError.h"

namespace orvane {

// `otherwise` is the kind for a plain org.bluez.Error.Failed and for what has
// no kind of its own (a failed Connect is connectFailed, a failed write is failed).
BluetoothError bluetoothError(const BluezError& error, BluetoothFailure otherwise = BluetoothFailure::failed);

// The kind alone, for tests and for callers that log nothing.
BluetoothFailure failureOf(const BluezError& error, BluetoothFailure otherwise);

// BlueZ's text made fit for one log line: control characters become spaces
// and more than `limit` bytes are cut (at a character boundary) with "…".
std::string logText(std::string_view text, std::size_t limit = 1000);

}  // namespace orvane
