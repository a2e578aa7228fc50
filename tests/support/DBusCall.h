#pragma once
// Plain GDBus helpers for tests and benchmarks that talk to a real bus:
// printing values, a blocking call that keeps the error name, and a way to let
// the main loop run until something has happened.

#include "GRef.h"

#include <gio/gio.h>

#include <string>

namespace orvane::test {

// The text GLib gives for a value, with its type where that is ambiguous;
// "(none)" for an empty one.
std::string print(const VariantPtr& value);

struct CallResult {
    VariantPtr value;   // the reply's tuple when ok
    std::string error;  // the D-Bus error name, e.g. "org.bluez.Error.Failed"
    std::string text;   // its message, without GDBus's prefix
    bool ok() const { return error.empty(); }
};

// A new connection to the bus at `address`, registered with it.
GPtr<GDBusConnection> connectTo(const std::string& address);

// Calls and waits (the default main context does not run meanwhile).
CallResult callSync(GDBusConnection* connection, const std::string& destination, const std::string& path,
                    const std::string& iface, const std::string& method, GVariant* params = nullptr,
                    int timeoutMs = 10000);

// Calls and turns the default main context until the reply is in, so that
// signals arriving meanwhile are dispatched in order with it.
CallResult callAsync(GDBusConnection* connection, const std::string& destination, const std::string& path,
                     const std::string& iface, const std::string& method, GVariant* params = nullptr,
                     int timeoutMs = 10000);

}  // namespace orvane::test
