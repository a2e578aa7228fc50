#include "BluezCall.h"

#include <memory>

#include "GRef.h"

namespace orvane {
namespace {

struct Context {
    CallDone done;
    GPtr<GCancellable> cancellable;
};

}  // namespace

BluezError errorOf(const GError* error) {
    if (!error) return bluezError("", "");
    GCharPtr remote(g_dbus_error_get_remote_error(error));
    if (remote) return bluezError(remote.get(), error->message);
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT))
        return bluezError("org.freedesktop.DBus.Error.Timeout", error->message);
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED))
        return bluezError("org.freedesktop.DBus.Error.Disconnected", error->message);
    return bluezError("", error->message);
}

namespace {

void call(GDBusConnection* connection, const char* path, const char* iface, const char* method, GVariant* params,
          const GVariantType* replyType, GCancellable* cancellable, CallDone done, int timeoutMs) {
    if (!done) {
        g_dbus_connection_call(connection, bluezName, path, iface, method, params, nullptr,
                               G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs, nullptr, nullptr, nullptr);
        return;
    }
    // With a reply type, GDBus turns a reply of another type into an error.
    g_dbus_connection_call(
        connection, bluezName, path, iface, method, params, replyType, G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs,
        cancellable,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            const std::unique_ptr<Context> context(static_cast<Context*>(data));
            GErrorPtr error;
            CallReply reply;
            reply.value =
                VariantPtr::adopt(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, ErrorOut(error)));
            // Cancelled, even if the reply came first: the owner is gone or has
            // moved on, and nothing may touch it.
            if (context->cancellable && g_cancellable_is_cancelled(context->cancellable.get())) return;
            if (g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
            if (!reply.value) reply.error = errorOf(error.get());
            context->done(reply);
        },
        new Context{std::move(done), retain(cancellable)});
}

}  // namespace

void callBluez(GDBusConnection* connection, const char* path, const char* iface, const char* method, GVariant* params,
               GCancellable* cancellable, CallDone done, int timeoutMs) {
    call(connection, path, iface, method, params, nullptr, cancellable, std::move(done), timeoutMs);
}

void listBluezObjects(GDBusConnection* connection, GCancellable* cancellable, CallDone done) {
    call(connection, "/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", nullptr,
         G_VARIANT_TYPE("(a{oa{sa{sv}}})"), cancellable, std::move(done), -1);
}

}  // namespace orvane
