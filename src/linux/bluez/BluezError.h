#pragma once
// What a failed call to BlueZ means to the backend. D-Bus error names are
// compared here and nowhere else; the rest of the backend sees the kind.

#include <string>
#include <string_view>

namespace orvane {

enum class BluezErrorKind {
    accessDenied,      // the bus policy refused the call: no permission
    serviceGone,       // org.bluez has no owner (any more)
    unknownObject,     // the object was removed meanwhile
    inProgress,        // an operation of the same kind is still pending
    notReady,          // the adapter is off
    notConnected,      // the device has no link
    notPermitted,      // the device or BlueZ refuses this operation
    notSupported,      // the characteristic or device cannot do it
    invalidArguments,  // BlueZ did not accept what was sent
    timedOut,          // no answer in time
    aborted,           // the controller gave up on a connection: worth another try
    failed,            // org.bluez.Error.Failed and anything else
};

struct BluezError {
    BluezErrorKind kind = BluezErrorKind::failed;
    // BlueZ's own text without the D-Bus prefix, e.g. "le-connection-abort-by-local".
    std::string text;
};

// `name` is the D-Bus error name (empty for a local failure); `message` the
// text as GDBus gives it, with or without its "GDBus.Error:<name>: " prefix.
BluezError bluezError(std::string_view name, std::string_view message);

}  // namespace orvane
