// The control interface's main switches, and what BlueZ clients see when
// they are pulled.

#include <sys/socket.h>
#include <unistd.h>

#include <gio/gunixfdlist.h>

#include "BluezSimClient.h"

namespace orvane::test {
namespace {

constexpr const char* ADAPTER1 = "org.bluez.Adapter1";
constexpr const char* DEVICE1 = "org.bluez.Device1";
constexpr const char* CHARACTERISTIC1 = "org.bluez.GattCharacteristic1";

bool isTrue(const VariantPtr& v) { return v && g_variant_get_boolean(v.get()); }
bool isFalse(const VariantPtr& v) { return v && !g_variant_get_boolean(v.get()); }

TEST_F(BluezSimTest, PoweringOffDropsLinksAndRefusesWorkUntilOnAgain) {
    connectLight();
    log.clear();
    sim.controlOk("SetPowered", g_variant_new("(b)", FALSE));
    EXPECT_TRUE(
        log.waitFor([&](const Signal& s) { return s.path == light && isFalse(s.changed(DEVICE1, "Connected")); }));
    EXPECT_TRUE(log.waitFor([](const Signal& s) { return isFalse(s.changed(ADAPTER1, "Powered")); }));
    EXPECT_TRUE(log.waitFor([](const Signal& s) { return isFalse(s.changed(ADAPTER1, "Discovering")); }));
    // The light was connected once, so BlueZ keeps it; the sensor it only saw goes.
    EXPECT_EQ(log.count(SignalLog::removed(light)), 0u);

    CallResult scan = call(BluezSimProcess::ADAPTER, ADAPTER1, "StartDiscovery");
    EXPECT_EQ(scan.error, "org.bluez.Error.NotReady");
    EXPECT_EQ(scan.text, "Resource Not Ready");
    EXPECT_EQ(call(light, DEVICE1, "Connect").error, "org.bluez.Error.NotReady");

    // Clients may also power it on themselves, through the property.
    ASSERT_TRUE(call(BluezSimProcess::ADAPTER, "org.freedesktop.DBus.Properties", "Set",
                     g_variant_new("(ssv)", ADAPTER1, "Powered", g_variant_new_boolean(TRUE)))
                    .ok());
    EXPECT_TRUE(isTrue(get(BluezSimProcess::ADAPTER, ADAPTER1, "Powered")));
    EXPECT_TRUE(call(light, DEVICE1, "Connect").ok());
}

TEST_F(BluezSimTest, AdapterRemovalTakesItsObjectsAndComesBackEmpty) {
    connectLight();
    log.clear();
    sim.controlOk("RemoveAdapter");
    EXPECT_TRUE(log.waitFor(SignalLog::removed(BluezSimProcess::lightControlPath())));
    EXPECT_TRUE(log.waitFor(SignalLog::removed(light)));
    EXPECT_TRUE(log.waitFor(SignalLog::removed(BluezSimProcess::ADAPTER)));
    EXPECT_FALSE(managedObjects().lookup(BluezSimProcess::ADAPTER));

    sim.controlOk("AddAdapter", g_variant_new("(s)", "hci1"));
    EXPECT_TRUE(log.waitFor(SignalLog::added("/org/bluez/hci1")));
    // Known devices are exported again under the new adapter, without a signal strength.
    const std::string again = BluezSimProcess::devicePath(BluezSimProcess::LIGHT, "/org/bluez/hci1");
    EXPECT_TRUE(log.waitFor(SignalLog::added(again)));
    EXPECT_FALSE(get(again, DEVICE1, "RSSI"));
    EXPECT_TRUE(isFalse(get(again, DEVICE1, "Connected")));
}

TEST_F(BluezSimTest, ServiceStopsAndReturnsUnderTheSameName) {
    GPtr<GDBusConnection> watcher = bus.connect();
    auto owned = [&] {
        CallResult r = callSync(watcher.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                "NameHasOwner", g_variant_new("(s)", "org.bluez"));
        return r.ok() && g_variant_get_boolean(r.value.child(0).get());
    };
    connectLight();
    log.clear();
    sim.controlOk("StopService", g_variant_new("(b)", TRUE));
    // Gracefully: the adapter powers down before the name goes.
    EXPECT_TRUE(
        log.waitFor([&](const Signal& s) { return s.path == light && isFalse(s.changed(DEVICE1, "Connected")); }));
    EXPECT_TRUE(spinUntil([&] { return !owned(); }));

    sim.controlOk("StartService");
    EXPECT_TRUE(spinUntil(owned));
    EXPECT_TRUE(isTrue(get(BluezSimProcess::ADAPTER, ADAPTER1, "Powered")));
    EXPECT_TRUE(get(light, DEVICE1, "Address"));  // stored, so exported at start
}

TEST_F(BluezSimTest, FloodAddsManyAdvertisingDevices) {
    sim.controlOk("Flood", g_variant_new("(uu)", 200u, 20u));
    discover(BluezSimProcess::LIGHT);
    auto floods = [&] {
        return log.count([](const Signal& s) {
            return s.member == "InterfacesAdded" &&
                   std::string(g_variant_get_string(s.args.child(0).get(), nullptr)).find("dev_C0_0D_00") !=
                       std::string::npos;
        });
    };
    EXPECT_TRUE(spinUntil([&] { return floods() == 200u; })) << floods();
    EXPECT_TRUE(get(BluezSimProcess::devicePath("C0:0D:00:00:00:C8"), DEVICE1, "Name"));
}

TEST_F(BluezSimTest, AcquiredWriteTakesOneCommandPerDatagram) {
    connectLight();
    GUnixFDList* fds = nullptr;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        client.get(), "org.bluez", BluezSimProcess::lightControlPath().c_str(), CHARACTERISTIC1, "AcquireWrite",
        g_variant_new_parsed("(@a{sv} {},)"), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &fds, nullptr, &error);
    ASSERT_TRUE(reply) << error->message;
    VariantPtr result = VariantPtr::adopt(reply);
    EXPECT_EQ(g_variant_get_uint16(result.child(1).get()), 23);
    const int fd = g_unix_fd_list_get(fds, 0, nullptr);
    g_object_unref(fds);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(isTrue(get(BluezSimProcess::lightControlPath(), CHARACTERISTIC1, "WriteAcquired")));
    EXPECT_EQ(writeLight(frame({0x33, 0x01, 0x00}), "command").error, "org.bluez.Error.NotPermitted");

    for (std::uint8_t b : {10, 20, 30}) {
        auto f = frame({0x33, 0x04, b});
        ASSERT_EQ(send(fd, f.data(), f.size(), 0), 20);
    }
    EXPECT_TRUE(
        spinUntil([&] { return sim.writes(BluezSimProcess::LIGHT, BluezSimProcess::LIGHT_CONTROL).size() == 3; }));
    EXPECT_EQ(print(lightState().lookup("brightness")), "byte 0x1e");

    close(fd);  // releases it
    EXPECT_TRUE(log.waitFor([](const Signal& s) { return isFalse(s.changed(CHARACTERISTIC1, "WriteAcquired")); }));
    EXPECT_TRUE(writeLight(frame({0x33, 0x01, 0x00}), "command").ok());
}

// Remembers the light across runs and prints its state for a person watching.
class StoredSim : public BluezSimTest {
protected:
    StoredSim() : BluezSimTest(withStorage()) {}
    static std::vector<std::string> withStorage() {
        auto args = BluezSimProcess::fastTiming();
        args.emplace_back("--storage");
        args.push_back(g_get_tmp_dir() + std::string("/orvane-bluezsim-storage-") + std::to_string(getpid()));
        return args;
    }
    ~StoredSim() override { unlink(withStorage().back().c_str()); }
};

TEST_F(StoredSim, KnownDevicesKeepTheirPathsAcrossRestartsAndTheLightIsShown) {
    connectLight();
    ASSERT_TRUE(writeLight(frame({0x33, 0x01, 0x01})).ok());
    ASSERT_TRUE(writeLight(frame({0x33, 0x05, 0x15, 0x01, 0x00, 0x80, 0xff, 0, 0, 0, 0, 0, 0xff, 0x7f})).ok());
    EXPECT_EQ(sim.stop(), 0) << sim.output();  // a clean exit (and no leaks in a sanitizer build)
    EXPECT_EQ(sim.output().find("CRITICAL"), std::string::npos) << sim.output();
    EXPECT_NE(sim.output().find("ihoment_H617C_1C7A: on, brightness 100%, #0080ff on all segments"), std::string::npos)
        << sim.output();

    sim.start();
    VariantPtr objects = managedObjects();
    VariantPtr device = objects.lookup(light.c_str()).lookup(DEVICE1);
    ASSERT_TRUE(device) << print(objects);
    EXPECT_FALSE(device.lookup("RSSI"));
    EXPECT_TRUE(isFalse(device.lookup("Paired")));
    EXPECT_TRUE(call(light, DEVICE1, "Connect").ok());
}

}  // namespace
}  // namespace orvane::test
