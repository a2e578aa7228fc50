#pragma once
// Asynchronous calls to org.bluez on the GLib main loop. The reply reaches
// `done` on a later turn of the loop, never from inside the call, and never
// once `cancellable` has been cancelled: owners cancel in their destructors.

#include <gio/gio.h>

#include <functional>
#include <optional>

#include "BluezError.h"
#include "Variant.h"

namespace orvane {

struct CallReply {
    // The reply's tuple when it succeeded: of the type asked for (listBluezObjects),
    // otherwise of whatever type the owner of org.bluez chose to send.
    VariantPtr value;
    std::optional<BluezError> error;  // why it failed
};

using CallDone = std::function<void(CallReply& reply)>;

inline constexpr const char* bluezName = "org.bluez";
// For calls that end when BlueZ says so (Connect), not after D-Bus's 25 seconds.
inline constexpr int noTimeout = G_MAXINT;

// `params` may be floating (it is consumed). An empty `done` sends the call
// without asking for a reply. The reply's value is not checked: for calls
// whose answer is only success or failure.
void callBluez(GDBusConnection* connection, const char* path, const char* iface, const char* method, GVariant* params,
               GCancellable* cancellable, CallDone done, int timeoutMs = -1);

// GetManagedObjects: the value is (a{oa{sa{sv}}}); a reply of any other type
// is a failed call, whoever owns org.bluez sent it.
void listBluezObjects(GDBusConnection* connection, GCancellable* cancellable, CallDone done);

// The error of a finished GDBus operation, translated.
BluezError errorOf(const GError* error);

}  // namespace orvane
