#include "BluezSimClient.h"

namespace orvane::test {

PendingCall::PendingCall(GDBusConnection* c, const std::string& path, const char* iface, const char* method,
                         GVariant* params)
    : state_(std::make_shared<State>()) {
    g_dbus_connection_call(
        c, "org.bluez", path.c_str(), iface, method, params, nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
            std::unique_ptr<std::shared_ptr<State>> s(static_cast<std::shared_ptr<State>*>(data));
            GError* error = nullptr;
            GVariant* value = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, &error);
            if (value) {
                (*s)->result.value = VariantPtr::adopt(value);
            } else {
                gchar* remote = g_dbus_error_get_remote_error(error);
                (*s)->result.error = remote ? remote : "?";
                g_free(remote);
                g_dbus_error_strip_remote_error(error);
                (*s)->result.text = error->message;
                g_error_free(error);
            }
            (*s)->done = true;
        },
        new std::shared_ptr<State>(state_));
}

const CallResult& PendingCall::result() {
    EXPECT_TRUE(spinUntil([&] { return done(); }, 10));
    return state_->result;
}

VariantPtr BluezSimTest::get(const std::string& path, const char* iface, const char* name) {
    CallResult r = call(path, "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", iface, name));
    if (!r.ok()) return {};
    VariantPtr boxed = r.value.child(0);
    return VariantPtr::adopt(g_variant_get_variant(boxed.get()));
}

VariantPtr BluezSimTest::managedObjects() {
    CallResult r = call("/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects");
    EXPECT_TRUE(r.ok()) << r.error << ": " << r.text;
    return r.value.child(0);
}

void BluezSimTest::discover(const std::string& address, bool duplicates) {
    GVariantBuilder filter;
    g_variant_builder_init(&filter, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&filter, "{sv}", "Transport", g_variant_new_string("le"));
    g_variant_builder_add(&filter, "{sv}", "DuplicateData", g_variant_new_boolean(duplicates));
    ASSERT_TRUE(
        call(BluezSimProcess::ADAPTER, "org.bluez.Adapter1", "SetDiscoveryFilter", g_variant_new("(a{sv})", &filter))
            .ok());
    ASSERT_TRUE(call(BluezSimProcess::ADAPTER, "org.bluez.Adapter1", "StartDiscovery").ok());
    ASSERT_TRUE(log.waitFor(SignalLog::added(BluezSimProcess::devicePath(address))));
}

void BluezSimTest::connectLight() {
    discover(BluezSimProcess::LIGHT);
    CallResult r = call(light, "org.bluez.Device1", "Connect");
    ASSERT_TRUE(r.ok()) << r.error << ": " << r.text;
    ASSERT_TRUE(log.waitFor([&](const Signal& s) {
        VariantPtr v = s.changed("org.bluez.Device1", "ServicesResolved");
        return s.path == light && v && g_variant_get_boolean(v.get());
    }));
}

CallResult BluezSimTest::writeLight(const std::vector<std::uint8_t>& bytes, const char* type) {
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "type", g_variant_new_string(type));
    return call(BluezSimProcess::lightControlPath(), "org.bluez.GattCharacteristic1", "WriteValue",
                g_variant_new("(@aya{sv})", bytesValue(bytes), &options));
}

GVariant* bytesValue(const std::vector<std::uint8_t>& bytes) {
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1);
}

std::vector<std::uint8_t> bytesOf(const VariantPtr& ay) {
    gsize n = 0;
    auto* data = static_cast<const std::uint8_t*>(g_variant_get_fixed_array(ay.get(), &n, 1));
    return {data, data + n};
}

}  // namespace orvane::test
