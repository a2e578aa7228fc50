#pragma once
// A failure reported by the Bluetooth stack. The page is shown the bridge's
// own sentence for the kind (AdapterWords.h); the stack's own words stay in
// `detail`, which backends write to the log and the page never sees: they can
// be jargon ("le-connection-abort-by-local") or, from a misbehaving stack,
// kilobytes of anything.

#include <string>

namespace orvane {

enum class BluetoothFailure {
    failed,         // anything not named below
    connectFailed,  // the link could not be made
    linkLost,       // the link went down under the operation
    notConnected,   // the device has no link
    timedOut,       // the device or the stack did not answer in time
    busy,           // the stack is still busy with an earlier operation
    notPermitted,   // the device refuses the operation (rights, pairing)
    notSupported,   // the device or characteristic cannot do it
    invalidValue,   // the device did not accept the bytes
    attributeGone,  // the device's services changed; the service or characteristic is gone
    deviceGone,     // the stack no longer knows the device
    adapterOff,     // the adapter is off
};

struct BluetoothError {
    BluetoothFailure kind = BluetoothFailure::failed;
    // The stack's own words, for the log only.
    std::string detail;
};

}  // namespace orvane
