#include "DBusCall.h"

#include <stdexcept>

#include "Spin.h"

namespace orvane::test {
namespace {

CallResult finish(GVariant* value, GError* error) {
    CallResult result;
    if (value) {
        result.value = VariantPtr::adopt(value);
        return result;
    }
    gchar* remote = g_dbus_error_get_remote_error(error);
    result.error = remote ? remote : "org.freedesktop.DBus.Error.Failed";
    g_free(remote);
    g_dbus_error_strip_remote_error(error);
    result.text = error->message;
    g_error_free(error);
    return result;
}

}  // namespace

std::string print(const VariantPtr& value) {
    if (!value) return "(none)";
    GCharPtr text(g_variant_print(value.get(), TRUE));
    return text.get();
}

GPtr<GDBusConnection> connectTo(const std::string& address) {
    GError* error = nullptr;
    GDBusConnection* c =
        g_dbus_connection_new_for_address_sync(address.c_str(),
                                               GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                    G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                               nullptr, nullptr, &error);
    if (!c) {
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("cannot connect to " + address + ": " + message);
    }
    g_dbus_connection_set_exit_on_close(c, FALSE);
    return GPtr<GDBusConnection>(c);
}

CallResult callSync(GDBusConnection* connection, const std::string& destination, const std::string& path,
                    const std::string& iface, const std::string& method, GVariant* params, int timeoutMs) {
    GError* error = nullptr;
    GVariant* value =
        g_dbus_connection_call_sync(connection, destination.c_str(), path.c_str(), iface.c_str(), method.c_str(),
                                    params, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs, nullptr, &error);
    return finish(value, error);
}

CallResult callAsync(GDBusConnection* connection, const std::string& destination, const std::string& path,
                     const std::string& iface, const std::string& method, GVariant* params, int timeoutMs) {
    struct State {
        bool done = false;
        CallResult result;
    };
    auto state = std::make_shared<State>();
    auto* keep = new std::shared_ptr<State>(state);
    g_dbus_connection_call(
        connection, destination.c_str(), path.c_str(), iface.c_str(), method.c_str(), params, nullptr,
        G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
            std::unique_ptr<std::shared_ptr<State>> s(static_cast<std::shared_ptr<State>*>(data));
            GError* error = nullptr;
            GVariant* value = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, &error);
            (*s)->result = finish(value, error);
            (*s)->done = true;
        },
        keep);
    spinUntil([&] { return state->done; }, timeoutMs / 1000.0 + 1);
    if (!state->done) throw std::runtime_error("no reply to " + method);
    return state->result;
}

}  // namespace orvane::test
