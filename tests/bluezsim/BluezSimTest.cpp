// The simulated BlueZ as a client sees it: the object tree, discovery,
// connections and GATT objects.

#include <cstring>

#include "BluezSimClient.h"
#include "CaseName.h"

namespace orvane::test {
namespace {

constexpr const char* ADAPTER1 = "org.bluez.Adapter1";
constexpr const char* DEVICE1 = "org.bluez.Device1";
const std::string SERVICE = std::string(BluezSimProcess::devicePath(BluezSimProcess::LIGHT)) + "/service000e";

bool isTrue(const VariantPtr& v) { return v && g_variant_get_boolean(v.get()); }
bool isFalse(const VariantPtr& v) { return v && !g_variant_get_boolean(v.get()); }

TEST_F(BluezSimTest, ExportsThePoweredAdapterAndNoDeviceBeforeDiscovery) {
    VariantPtr objects = managedObjects();
    VariantPtr adapter = objects.lookup(BluezSimProcess::ADAPTER);
    ASSERT_TRUE(adapter) << print(objects);
    VariantPtr props = adapter.lookup(ADAPTER1);
    ASSERT_TRUE(props);
    EXPECT_STREQ(g_variant_get_string(props.lookup("Address").get(), nullptr), BluezSimProcess::ADAPTER_ADDRESS);
    EXPECT_TRUE(isTrue(props.lookup("Powered")));
    EXPECT_TRUE(isFalse(props.lookup("Discovering")));
    // Interfaces a client must skip when it looks for the adapter.
    EXPECT_TRUE(adapter.lookup("org.freedesktop.DBus.Properties"));
    EXPECT_TRUE(adapter.lookup("org.bluez.GattManager1"));
    EXPECT_EQ(g_variant_n_children(objects.get()), 2u) << print(objects);  // /org/bluez and hci0
    EXPECT_TRUE(isTrue(get(BluezSimProcess::ADAPTER, ADAPTER1, "Powered")));
}

TEST_F(BluezSimTest, FilteredDiscoveryReportsEveryAdvertisementUntilStopped) {
    discover(BluezSimProcess::LIGHT);
    ASSERT_TRUE(log.waitFor(SignalLog::property(BluezSimProcess::ADAPTER, ADAPTER1, "Discovering")));

    // The object comes with what the advertisement carried.
    const Signal* added = nullptr;
    for (auto& s : log.all())
        if (SignalLog::added(light)(s)) added = &s;
    ASSERT_TRUE(added);
    VariantPtr props = added->args.child(1).lookup(DEVICE1);
    EXPECT_STREQ(g_variant_get_string(props.lookup("Name").get(), nullptr), BluezSimProcess::LIGHT_NAME);
    EXPECT_STREQ(g_variant_get_string(props.lookup("AddressType").get(), nullptr), "public");
    EXPECT_TRUE(props.lookup("RSSI"));
    EXPECT_TRUE(props.lookup("ManufacturerData"));

    // With a filter every report is a signal: RSSI always, data with DuplicateData.
    ASSERT_TRUE(spinUntil([&] {
        return log.count([&](const Signal& s) {
            return s.path == light && s.changed(DEVICE1, "RSSI") && s.changed(DEVICE1, "ManufacturerData");
        }) >= 3;
    }));
    // A filtered discovery also creates objects for non-discoverable advertisers.
    EXPECT_TRUE(log.waitFor(SignalLog::added(BluezSimProcess::devicePath(BluezSimProcess::BEACON))));

    CallResult again = call(BluezSimProcess::ADAPTER, ADAPTER1, "StartDiscovery");
    EXPECT_EQ(again.error, "org.bluez.Error.InProgress");
    EXPECT_EQ(again.text, "Operation already in progress");

    log.clear();
    ASSERT_TRUE(call(BluezSimProcess::ADAPTER, ADAPTER1, "StopDiscovery").ok());
    ASSERT_TRUE(log.waitFor([&](const Signal& s) { return s.invalidated(DEVICE1, "RSSI") && s.path == light; }));
    EXPECT_TRUE(isFalse(get(BluezSimProcess::ADAPTER, ADAPTER1, "Discovering")));
    EXPECT_FALSE(get(light, DEVICE1, "RSSI"));  // gone, not zero
    // The beacon can never be connected: BlueZ forgets it when discovery stops.
    EXPECT_TRUE(log.waitFor(SignalLog::removed(BluezSimProcess::devicePath(BluezSimProcess::BEACON))));

    CallResult stopAgain = call(BluezSimProcess::ADAPTER, ADAPTER1, "StopDiscovery");
    EXPECT_EQ(stopAgain.error, "org.bluez.Error.Failed");
    EXPECT_EQ(stopAgain.text, "No discovery started");
}

TEST_F(BluezSimTest, UnfilteredDiscoveryReportsOnlyDiscoverableDevicesAndLargeRssiChanges) {
    ASSERT_TRUE(call(BluezSimProcess::ADAPTER, ADAPTER1, "StartDiscovery").ok());
    ASSERT_TRUE(log.waitFor(SignalLog::added(light)));
    // Ten more advertisements of each, counted by the simulator; the answer
    // comes on the client's connection after every signal sent before it.
    const auto advertisements = [&](const char* address) {
        const CallResult r = callAsync(client.get(), "org.orvane.BluezSim", "/org/orvane/sim", "org.orvane.BluezSim",
                                       "Advertisements", g_variant_new("(s)", address));
        return r.ok() ? g_variant_get_uint32(r.value.child(0).get()) : 0u;
    };
    const guint32 light0 = advertisements(BluezSimProcess::LIGHT), beacon0 = advertisements(BluezSimProcess::BEACON);
    ASSERT_TRUE(spinUntil([&] {
        return advertisements(BluezSimProcess::LIGHT) >= light0 + 10 &&
               advertisements(BluezSimProcess::BEACON) >= beacon0 + 10;
    }));
    EXPECT_EQ(log.count(SignalLog::added(BluezSimProcess::devicePath(BluezSimProcess::BEACON))), 0u);
    // The light's RSSI wanders by a few dBm, below BlueZ's threshold of 8.
    EXPECT_EQ(log.count([&](const Signal& s) { return s.path == light && s.changed(DEVICE1, "RSSI"); }), 0u);
}

TEST_F(BluezSimTest, DiscoveryEndsWhenItsClientLeavesTheBus) {
    {
        GPtr<GDBusConnection> other = bus.connect();
        ASSERT_TRUE(callSync(other.get(), "org.bluez", BluezSimProcess::ADAPTER, ADAPTER1, "StartDiscovery").ok());
        ASSERT_TRUE(log.waitFor([](const Signal& s) { return isTrue(s.changed(ADAPTER1, "Discovering")); }));
        g_dbus_connection_close_sync(other.get(), nullptr, nullptr);
    }
    EXPECT_TRUE(log.waitFor([](const Signal& s) { return isFalse(s.changed(ADAPTER1, "Discovering")); }));
}

struct BadFilter {
    const char* name;
    const char* filter;  // GVariant text of the a{sv}
};

class BadDiscoveryFilter : public BluezSimTest, public ::testing::WithParamInterface<BadFilter> {};

TEST_P(BadDiscoveryFilter, IsRefusedAsInvalidArguments) {
    GVariant* filter = g_variant_new_parsed(GetParam().filter);
    CallResult r = call(BluezSimProcess::ADAPTER, ADAPTER1, "SetDiscoveryFilter", g_variant_new_tuple(&filter, 1));
    EXPECT_EQ(r.error, "org.bluez.Error.InvalidArguments");
    EXPECT_EQ(r.text, "Invalid arguments in method call");
}

INSTANTIATE_TEST_SUITE_P(Filters, BadDiscoveryFilter,
                         ::testing::Values(BadFilter{"RssiWithPathloss",
                                                     "{'RSSI': <int16 -70>, 'Pathloss': <uint16 5>}"},
                                           BadFilter{"UnknownTransport", "{'Transport': <'usb'>}"},
                                           BadFilter{"UnknownKey", "{'Colour': <'red'>}"},
                                           BadFilter{"WrongType", "{'DuplicateData': <'yes'>}"},
                                           BadFilter{"NotAUuid", "{'UUIDs': <['heart']>}"}),
                         CaseName());

TEST_F(BluezSimTest, ConnectBringsTheLinkUpThenResolvesServicesThatOutliveTheLink) {
    connectLight();
    auto index = [&](const std::function<bool(const Signal&)>& match) {
        for (std::size_t i = 0; i < log.all().size(); ++i)
            if (match(log.all()[i])) return i;
        return log.all().size();
    };
    const auto connected =
        index([&](const Signal& s) { return s.path == light && isTrue(s.changed(DEVICE1, "Connected")); });
    const auto service = index(SignalLog::added(SERVICE));
    const auto control = index(SignalLog::added(BluezSimProcess::lightControlPath()));
    const auto resolved =
        index([&](const Signal& s) { return s.path == light && isTrue(s.changed(DEVICE1, "ServicesResolved")); });
    EXPECT_LT(connected, service);
    EXPECT_LT(service, control);
    EXPECT_LT(control, resolved);
    EXPECT_LT(resolved, log.all().size());

    VariantPtr chr =
        managedObjects().lookup(BluezSimProcess::lightControlPath().c_str()).lookup("org.bluez.GattCharacteristic1");
    ASSERT_TRUE(chr);
    EXPECT_STREQ(g_variant_get_string(chr.lookup("UUID").get(), nullptr), BluezSimProcess::LIGHT_CONTROL);
    EXPECT_EQ(print(chr.lookup("Flags")), "['read', 'write-without-response', 'write']");
    EXPECT_STREQ(g_variant_get_string(chr.lookup("Service").get(), nullptr), SERVICE.c_str());

    log.clear();
    ASSERT_TRUE(call(light, DEVICE1, "Disconnect").ok());
    // One signal for both, as BlueZ sends it when the last bearer goes.
    EXPECT_EQ(log.count([&](const Signal& s) {
        return s.path == light && isFalse(s.changed(DEVICE1, "Connected")) &&
               isFalse(s.changed(DEVICE1, "ServicesResolved"));
    }),
              1u);
    EXPECT_TRUE(managedObjects().lookup(BluezSimProcess::lightControlPath().c_str()));  // the GATT cache

    log.clear();
    ASSERT_TRUE(call(light, DEVICE1, "Connect").ok());
    ASSERT_TRUE(log.waitFor(
        [&](const Signal& s) { return s.path == light && isTrue(s.changed(DEVICE1, "ServicesResolved")); }));
    EXPECT_EQ(log.count([](const Signal& s) { return s.member == "InterfacesAdded"; }), 0u);
    EXPECT_TRUE(call(light, DEVICE1, "Connect").ok());  // already connected
}

TEST_F(BluezSimTest, ResolveEarlyExportsTheServicesAfterServicesResolved) {
    sim.controlOk("ResolveEarly", g_variant_new("(sb)", BluezSimProcess::LIGHT, TRUE));
    connectLight();
    EXPECT_EQ(log.count(SignalLog::added(SERVICE)), 0u);
    EXPECT_TRUE(log.waitFor(SignalLog::added(BluezSimProcess::lightControlPath())));
}

TEST_F(BluezSimTest, DisconnectCancelsAPendingConnect) {
    discover(BluezSimProcess::LIGHT);
    sim.controlOk("DelayConnections", g_variant_new("(su)", BluezSimProcess::LIGHT, 5000u));
    PendingCall connect(client.get(), light, DEVICE1, "Connect");  // calls on one connection arrive in order
    CallResult second = call(light, DEVICE1, "Connect");
    EXPECT_EQ(second.error, "org.bluez.Error.Failed");
    EXPECT_EQ(second.text, "Operation already in progress");

    EXPECT_TRUE(call(light, DEVICE1, "Disconnect").ok());
    EXPECT_EQ(connect.result().error, "org.bluez.Error.Failed");
    EXPECT_EQ(connect.result().text, "br-connection-canceled");
    EXPECT_EQ(log.count([&](const Signal& s) { return s.path == light && s.changed(DEVICE1, "Connected"); }), 0u);
}

TEST_F(BluezSimTest, RefusedConnectionsFailWithTheGivenErrorUntilAllowedAgain) {
    discover(BluezSimProcess::LIGHT);
    sim.controlOk("RefuseConnections", g_variant_new("(sss)", BluezSimProcess::LIGHT, "org.bluez.Error.Failed",
                                                     "le-connection-abort-by-remote"));
    CallResult refused = call(light, DEVICE1, "Connect");
    EXPECT_EQ(refused.error, "org.bluez.Error.Failed");
    EXPECT_EQ(refused.text, "le-connection-abort-by-remote");
    EXPECT_TRUE(isFalse(get(light, DEVICE1, "Connected")));

    sim.controlOk("RefuseConnections", g_variant_new("(sss)", BluezSimProcess::LIGHT, "", ""));
    EXPECT_TRUE(call(light, DEVICE1, "Connect").ok());
}

TEST_F(BluezSimTest, DeviceOutOfRangeCannotBeConnected) {
    discover(BluezSimProcess::LIGHT);
    sim.controlOk("SetAdvertising", g_variant_new("(sb)", BluezSimProcess::LIGHT, FALSE));
    CallResult r = call(light, DEVICE1, "Connect");
    EXPECT_EQ(r.error, "org.bluez.Error.Failed");
    EXPECT_EQ(r.text, "le-connection-abort-by-local");
}

}  // namespace
}  // namespace orvane::test
