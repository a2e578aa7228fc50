#include "SignalLog.h"

#include <algorithm>
#include <cstring>

#include "Spin.h"

namespace orvane::test {

VariantPtr Signal::changed(const char* iface_, const char* property) const {
    if (member != "PropertiesChanged") return {};
    if (std::strcmp(g_variant_get_string(args.child(0).get(), nullptr), iface_) != 0) return {};
    return args.child(1).lookup(property);
}

bool Signal::invalidated(const char* iface_, const char* property) const {
    if (member != "PropertiesChanged") return false;
    if (std::strcmp(g_variant_get_string(args.child(0).get(), nullptr), iface_) != 0) return false;
    gsize n = 0;
    g_autofree const gchar** names = g_variant_get_strv(args.child(2).get(), &n);
    for (gsize i = 0; i < n; ++i)
        if (std::strcmp(names[i], property) == 0) return true;
    return false;
}

SignalLog::SignalLog(GDBusConnection* connection, const std::string& sender) : connection_(connection) {
    id_ = g_dbus_connection_signal_subscribe(
        connection_, sender.c_str(), nullptr, nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar* path, const gchar* iface, const gchar* member, GVariant* args,
           gpointer data) {
            static_cast<SignalLog*>(data)->signals_.push_back(Signal{path, iface, member, VariantPtr::retain(args)});
        },
        this, nullptr);
    // The match rule reaches the bus with the next message; a round trip
    // makes sure nothing sent after this constructor is missed.
    callSync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId");
}

SignalLog::~SignalLog() { g_dbus_connection_signal_unsubscribe(connection_, id_); }

std::size_t SignalLog::count(const std::function<bool(const Signal&)>& match) const {
    return std::size_t(std::count_if(signals_.begin(), signals_.end(), match));
}

bool SignalLog::waitFor(const std::function<bool(const Signal&)>& match, double seconds) {
    return spinUntil([&] { return count(match) > 0; }, seconds);
}

std::function<bool(const Signal&)> SignalLog::added(const std::string& path) {
    return [path](const Signal& s) {
        return s.member == "InterfacesAdded" && g_variant_get_string(s.args.child(0).get(), nullptr) == path;
    };
}

std::function<bool(const Signal&)> SignalLog::removed(const std::string& path) {
    return [path](const Signal& s) {
        return s.member == "InterfacesRemoved" && g_variant_get_string(s.args.child(0).get(), nullptr) == path;
    };
}

std::function<bool(const Signal&)> SignalLog::property(const std::string& path, const char* iface, const char* name) {
    return [path, iface, name](const Signal& s) {
        return s.path == path && (s.changed(iface, name) || s.invalidated(iface, name));
    };
}

}  // namespace orvane::test
