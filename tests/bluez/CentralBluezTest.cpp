// CentralBluez against bluez-sim: adapter state, scanning, identifiers and
// connections.

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string_view>

#include "BluezTesting.h"
#include "DeviceIdentifier.h"
#include "SignalLog.h"

namespace orvane::test {
namespace {

using S = ManagerState;
using Sim = BluezSimProcess;

GVariant* address(const char* device) { return g_variant_new("(s)", device); }

class CentralBluezTest : public BluezTest {};

// Counts the Connect calls on the bus and the ones BlueZ aborted, as a
// D-Bus monitor sees them: a failed attempt that the backend tries again
// tells its delegate nothing.
class ConnectAttempts {
public:
    explicit ConnectAttempts(const PrivateBus& bus) : connection_(bus.connect()) {
        // Runs on GDBus's worker thread; a monitor must not answer, so nothing goes further.
        filter_ = g_dbus_connection_add_filter(
            connection_.get(),
            [](GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data) -> GDBusMessage* {
                auto& self = *static_cast<ConnectAttempts*>(data);
                const char* sender = g_dbus_message_get_sender(message);
                // The bus's own answers, BecomeMonitor's among them, are for us.
                if (!incoming || (sender && std::string_view(sender) == "org.freedesktop.DBus")) return message;
                const char* member = g_dbus_message_get_member(message);
                const char* error = g_dbus_message_get_error_name(message);
                GVariant* body = g_dbus_message_get_body(message);
                const char* text = nullptr;
                if (body && g_variant_is_of_type(body, G_VARIANT_TYPE("(s)"))) g_variant_get(body, "(&s)", &text);
                if (member && std::string_view(member) == "Connect") ++self.calls_;
                if (error && text && std::string_view(error) == "org.bluez.Error.Failed" &&
                    std::string_view(text) == "le-connection-abort-by-local")
                    ++self.aborted_;
                g_object_unref(message);
                return nullptr;
            },
            this, nullptr);
        const char* rules[] = {"type='method_call',interface='org.bluez.Device1',member='Connect'", "type='error'",
                               nullptr};
        const CallResult r =
            callSync(connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                     "org.freedesktop.DBus.Monitoring", "BecomeMonitor", g_variant_new("(^asu)", rules, 0u));
        EXPECT_TRUE(r.ok()) << r.error << " " << r.text;
    }
    ~ConnectAttempts() { g_dbus_connection_remove_filter(connection_.get(), filter_); }
    ConnectAttempts(const ConnectAttempts&) = delete;
    ConnectAttempts& operator=(const ConnectAttempts&) = delete;

    int calls() const { return calls_; }
    int aborted() const { return aborted_; }

private:
    GPtr<GDBusConnection> connection_;
    guint filter_ = 0;
    std::atomic<int> calls_{0};
    std::atomic<int> aborted_{0};
};

TEST_F(CentralBluezTest, StateFollowsTheAdapterAndAChangeOfAdapterGoesThroughResetting) {
    makeCentral();
    EXPECT_EQ(central->state(), S::unknown);  // until the first callback
    ASSERT_TRUE(waitForState(S::poweredOn));

    sim.controlOk("SetPowered", g_variant_new("(b)", FALSE));
    ASSERT_TRUE(waitForState(S::poweredOff));
    sim.controlOk("SetPowered", g_variant_new("(b)", TRUE));
    ASSERT_TRUE(waitForState(S::poweredOn));
    sim.controlOk("RemoveAdapter");
    ASSERT_TRUE(waitForState(S::unsupported));
    sim.controlOk("AddAdapter", g_variant_new("(s)", "hci1"));
    ASSERT_TRUE(waitForState(S::poweredOn));

    EXPECT_EQ(recorder->states,
              (std::vector<S>{S::poweredOn, S::poweredOff, S::poweredOn, S::unsupported, S::resetting, S::poweredOn}));
}

TEST_F(CentralBluezTest, BluetoothdRestartingGoesThroughResettingAndStayingAwayIsUnsupported) {
    makeCentral();
    ASSERT_TRUE(waitForState(S::poweredOn));
    sim.crash();
    ASSERT_TRUE(waitForState(S::resetting));
    sim.start();
    ASSERT_TRUE(waitForState(S::poweredOn));
    EXPECT_EQ(recorder->states, (std::vector<S>{S::poweredOn, S::resetting, S::poweredOn}));

    sim.crash();
    ASSERT_TRUE(waitForState(S::resetting));
    ASSERT_TRUE(waitForState(S::unsupported, options().restartGrace + 2));
    EXPECT_EQ(central->absence(), Absence::noService);
}

TEST_F(CentralBluezTest, ARestartedServiceStaysResettingUntilItsAdapterIsBackOrTheGraceEnds) {
    makeCentral();
    ASSERT_TRUE(waitForState(S::poweredOn));
    const auto serviceBack = [&] { return central->objects().has("/org/bluez", "org.bluez.AgentManager1"); };
    for (bool adapterComes : {true, false}) {
        recorder->states.clear();
        sim.controlOk("StopService", g_variant_new("(b)", FALSE));  // as in a crash
        ASSERT_TRUE(waitForState(S::resetting));
        sim.controlOk("StartServiceWithoutAdapter");
        // The name is back and its objects are read, but there is no adapter yet.
        ASSERT_TRUE(waitFor(serviceBack));
        EXPECT_EQ(central->state(), S::resetting);
        if (adapterComes) {
            sim.controlOk("AddAdapter", g_variant_new("(s)", ""));
            ASSERT_TRUE(waitForState(S::poweredOn));
            EXPECT_EQ(recorder->states, (std::vector<S>{S::resetting, S::poweredOn}));
        } else {
            ASSERT_TRUE(waitForState(S::unsupported, options().restartGrace + 2));
            EXPECT_EQ(recorder->states, (std::vector<S>{S::resetting, S::unsupported}));
            // The service runs: what is missing is the adapter.
            EXPECT_EQ(central->absence(), Absence::noAdapter);
        }
    }
}

TEST_F(CentralBluezTest, TheProductsFactoryFindsBluezWhereTheSystemBusAddressSays) {
    const char* before = g_getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string saved = before ? before : "";
    g_setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), TRUE);
    auto made = call([&] { return makeCentralBluez(queue)(recorder); });
    if (before) g_setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), TRUE);
    else g_unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    ASSERT_TRUE(made);
    EXPECT_TRUE(waitForState(S::poweredOn));
    made.reset();
}

TEST_F(CentralBluezTest, NoBluezIsUnsupportedUntilItAppears) {
    sim.stop();
    makeCentral();
    ASSERT_TRUE(waitForState(S::unsupported));
    EXPECT_EQ(central->absence(), Absence::noService);
    sim.start();
    ASSERT_TRUE(waitForState(S::poweredOn));
    EXPECT_EQ(recorder->states, (std::vector<S>{S::unsupported, S::poweredOn}));
}

TEST_F(CentralBluezTest, AnObjectListingOfAnotherTypeIsUnsupported) {
    // Whatever owns org.bluez may answer in any shape; this owner lists a string.
    sim.stop();
    const auto impostor = bus.connect();
    const std::unique_ptr<GDBusNodeInfo, decltype(&g_dbus_node_info_unref)> node(
        g_dbus_node_info_new_for_xml(R"(<node><interface name="org.freedesktop.DBus.ObjectManager">
            <method name="GetManagedObjects"><arg type="s" direction="out"/></method>
            </interface></node>)",
                                     nullptr),
        g_dbus_node_info_unref);
    ASSERT_TRUE(node);
    int calls = 0;
    GDBusInterfaceVTable vtable{};
    vtable.method_call = [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                            GDBusMethodInvocation* invocation, gpointer data) {
        ++*static_cast<int*>(data);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", "not a listing"));
    };
    const guint registration =
        g_dbus_connection_register_object(impostor.get(), "/", node->interfaces[0], &vtable, &calls, nullptr, nullptr);
    ASSERT_NE(registration, 0u);
    const CallResult owned = callSync(impostor.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                      "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", "org.bluez", 0u));
    ASSERT_TRUE(owned.ok());

    makeCentral();
    ASSERT_TRUE(waitForState(S::unsupported));
    EXPECT_GE(calls, 1);
    EXPECT_EQ(recorder->states, (std::vector<S>{S::unsupported}));
    central.reset();
    g_dbus_connection_unregister_object(impostor.get(), registration);
}

TEST_F(CentralBluezTest, ScanningReportsEveryAdvertisementWithNameUuidsAndRssi) {
    makeCentral();
    ASSERT_TRUE(waitForState(S::poweredOn));
    EXPECT_FALSE(central->isScanning());
    call([&] { central->scanForPeripherals({.allowDuplicates = true}); });
    EXPECT_TRUE(central->isScanning());

    const Uuid light = idOf(Sim::LIGHT), sensor = idOf(Sim::SENSOR), beacon = idOf(Sim::BEACON);
    ASSERT_TRUE(waitFor([&] {
        return recorder->seen[light].reports >= 5 && recorder->seen[sensor].reports >= 5 &&
               recorder->seen.contains(beacon);
    }));
    const auto& l = recorder->seen[light];
    EXPECT_EQ(l.advertisement.localName, std::optional<std::string>(Sim::LIGHT_NAME));
    EXPECT_EQ(l.peripheral->identifier(), light);
    EXPECT_EQ(l.peripheral->name(), std::optional<std::string>(Sim::LIGHT_NAME));
    EXPECT_GE(l.rssi, -70);
    EXPECT_LE(l.rssi, -50);
    // Service UUIDs on the base UUID in their short form.
    const auto& s = recorder->seen[sensor];
    ASSERT_EQ(s.advertisement.serviceUuids.size(), 2u);
    EXPECT_EQ(s.advertisement.serviceUuids[0].string(), "180D");
    EXPECT_EQ(s.advertisement.serviceUuids[1].string(), "180F");
    // The beacon is not discoverable: only a scan with a filter hears it.
    EXPECT_FALSE(recorder->seen[beacon].advertisement.localName);

    call([&] { central->stopScan(); });
    EXPECT_FALSE(central->isScanning());
    // Another program scans on: BlueZ signals the light's next ten
    // advertisements, which this central no longer asked for.
    afterPendingSignals();
    const int reports = recorder->seen[light].reports;
    auto other = bus.connect();
    SignalLog log(other.get());
    ASSERT_TRUE(callSync(other.get(), "org.bluez", Sim::ADAPTER, "org.bluez.Adapter1", "SetDiscoveryFilter",
                         g_variant_new_parsed("({'DuplicateData': <true>},)"))
                    .ok());
    ASSERT_TRUE(callSync(other.get(), "org.bluez", Sim::ADAPTER, "org.bluez.Adapter1", "StartDiscovery").ok());
    ASSERT_TRUE(waitFor([&] {
        return log.count(SignalLog::property(Sim::devicePath(Sim::LIGHT), "org.bluez.Device1", "RSSI")) >= 10;
    }));
    afterPendingSignals();
    EXPECT_EQ(recorder->seen[light].reports, reports);
}

TEST_F(CentralBluezTest, ScanningReportsEveryDeviceOfAFloodOfAdvertisers) {
    makeCentral();
    ASSERT_TRUE(waitForState(S::poweredOn));
    constexpr std::size_t flood = 500;
    sim.controlOk("Flood", g_variant_new("(uu)", guint32(flood), 100u));  // 5,000 reports a second
    call([&] { central->scanForPeripherals({.allowDuplicates = true}); });
    const auto flooded = [&] {
        std::size_t named = 0;
        for (const auto& [id, seen] : recorder->seen)
            named += seen.advertisement.localName && seen.advertisement.localName->starts_with("Flood ");
        return named;
    };
    // The limit only keeps a broken backend from hanging the test.
    ASSERT_TRUE(waitFor([&] { return flooded() == flood; }, 120)) << flooded() << " of " << flood;
    call([&] { central->stopScan(); });
}

TEST_F(CentralBluezTest, WithoutDuplicatesEachDeviceIsReportedOncePerScan) {
    makeCentral();
    ASSERT_TRUE(waitForState(S::poweredOn));
    // The beacon comes into range last: its first report follows every advertisement before it.
    sim.controlOk("SetAdvertising", g_variant_new("(sb)", Sim::BEACON, FALSE));
    auto probe = bus.connect();
    SignalLog log(probe.get());
    call([&] { central->scanForPeripherals({.allowDuplicates = false}); });
    ASSERT_TRUE(waitFor(
        [&] { return recorder->seen.contains(idOf(Sim::LIGHT)) && recorder->seen.contains(idOf(Sim::SENSOR)); }));

    // A mark in BlueZ's signals after both first reports, then three more
    // advertisements of the light and the sensor each.
    const std::string light = Sim::devicePath(Sim::LIGHT), sensor = Sim::devicePath(Sim::SENSOR);
    ASSERT_TRUE(callSync(probe.get(), "org.bluez", light, "org.freedesktop.DBus.Properties", "Set",
                         g_variant_new("(ssv)", "org.bluez.Device1", "Trusted", g_variant_new_boolean(TRUE)))
                    .ok());
    const auto afterMark = [&](const std::string& path) {
        std::size_t n = 0;
        bool marked = false;
        for (const Signal& signal : log.all()) {
            marked = marked || SignalLog::property(light, "org.bluez.Device1", "Trusted")(signal);
            n += marked && SignalLog::property(path, "org.bluez.Device1", "RSSI")(signal);
        }
        return n;
    };
    ASSERT_TRUE(waitFor([&] { return afterMark(light) >= 3 && afterMark(sensor) >= 3; }));
    sim.controlOk("SetAdvertising", g_variant_new("(sb)", Sim::BEACON, TRUE));
    ASSERT_TRUE(waitFor([&] { return recorder->seen.contains(idOf(Sim::BEACON)); }));
    call([&] { central->stopScan(); });
    for (const auto& [id, seen] : recorder->seen) EXPECT_EQ(seen.reports, 1) << id.text();
}

TEST_F(CentralBluezTest, ChangesOfLinkAndTrustAreNotAdvertisements) {
    // The beacon comes into range at the end: its first report follows every change before it.
    sim.controlOk("SetAdvertising", g_variant_new("(sb)", Sim::BEACON, FALSE));
    const auto light = connected(Sim::LIGHT);
    ASSERT_TRUE(light);
    // Out of range: whatever is reported of the light from now on is not something it sent.
    sim.controlOk("SetAdvertising", g_variant_new("(sb)", Sim::LIGHT, FALSE));
    recorder->seen.clear();
    call([&] { central->scanForPeripherals({.allowDuplicates = true}); });
    ASSERT_TRUE(waitFor([&] { return recorder->seen.contains(idOf(Sim::SENSOR)); }));

    call([&] { central->cancelPeripheralConnection(light); });
    ASSERT_TRUE(waitFor([&] { return light->state() == PeripheralState::disconnected; }));
    auto probe = bus.connect();
    ASSERT_TRUE(callSync(probe.get(), "org.bluez", Sim::devicePath(Sim::LIGHT), "org.freedesktop.DBus.Properties",
                         "Set", g_variant_new("(ssv)", "org.bluez.Device1", "Trusted", g_variant_new_boolean(TRUE)))
                    .ok());
    sim.controlOk("SetAdvertising", g_variant_new("(sb)", Sim::BEACON, TRUE));
    ASSERT_TRUE(waitFor([&] { return recorder->seen.contains(idOf(Sim::BEACON)); }));
    EXPECT_FALSE(recorder->seen.contains(idOf(Sim::LIGHT)));
}

TEST_F(CentralBluezTest, ConnectsAndCancelsWithOneCallbackEach) {
    const auto light = connected(Sim::LIGHT);
    ASSERT_TRUE(light);
    EXPECT_EQ(light->state(), PeripheralState::connected);

    call([&] { central->cancelPeripheralConnection(light); });
    ASSERT_TRUE(waitForEvent("disconnect ok"));
    ASSERT_TRUE(waitFor([&] { return light->state() == PeripheralState::disconnected; }));
    afterPendingSignals();
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"state poweredOn", "connect", "disconnect ok"}));

    // A connect while BlueZ is still taking the link down waits for it.
    call([&] { central->connect(light); });
    call([&] { central->cancelPeripheralConnection(light); });
    call([&] { central->connect(light); });
    ASSERT_TRUE(waitForEvent("connect", 2));
    afterPendingSignals();
    EXPECT_EQ(recorder->count("disconnect ok"), 2u);
    EXPECT_EQ(recorder->count("connect"), 2u);
    EXPECT_EQ(light->state(), PeripheralState::connected);
}

TEST_F(CentralBluezTest, RefusedConnectionFailsWithBluezReason) {
    const auto light = find(Sim::LIGHT);
    ASSERT_TRUE(light);
    sim.controlOk("RefuseConnections",
                  g_variant_new("(sss)", Sim::LIGHT, "org.bluez.Error.Failed", "le-connection-abort-by-local"));
    call([&] { central->connect(light); });
    ASSERT_TRUE(waitForEvent("fail le-connection-abort-by-local"));
    afterPendingSignals();
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"state poweredOn", "fail le-connection-abort-by-local"}));
    EXPECT_EQ(light->state(), PeripheralState::disconnected);
}

TEST_F(CentralBluezTest, AnAbortedAttemptIsTriedAgain) {
    const auto light = find(Sim::LIGHT);
    ASSERT_TRUE(light);
    sim.controlOk("RefuseConnections",
                  g_variant_new("(sss)", Sim::LIGHT, "org.bluez.Error.Failed", "le-connection-abort-by-local"));
    ConnectAttempts attempts(bus);
    call([&] { central->connect(light); });
    // The first try has failed; the next comes after the pause.
    ASSERT_TRUE(waitFor([&] { return attempts.aborted() >= 1; }));
    sim.controlOk("RefuseConnections", g_variant_new("(sss)", Sim::LIGHT, "", ""));
    ASSERT_TRUE(waitForEvent("connect"));
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"state poweredOn", "connect"}));
    EXPECT_GE(attempts.calls(), 2);
}

TEST_F(CentralBluezTest, CancelledAttemptEndsInOneDisconnectionAndLeavesBluezReady) {
    const auto light = find(Sim::LIGHT);
    ASSERT_TRUE(light);
    sim.controlOk("DelayConnections", g_variant_new("(su)", Sim::LIGHT, 5000u));
    call([&] { central->connect(light); });
    afterPendingSignals();  // BlueZ has the attempt
    EXPECT_EQ(light->state(), PeripheralState::connecting);
    call([&] { central->cancelPeripheralConnection(light); });
    ASSERT_TRUE(waitForEvent("disconnect ok"));
    ASSERT_TRUE(waitFor([&] { return light->state() == PeripheralState::disconnected; }));
    afterPendingSignals();
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"state poweredOn", "disconnect ok"}));

    // BlueZ no longer tries: a new attempt is not "already in progress".
    sim.controlOk("DelayConnections", g_variant_new("(su)", Sim::LIGHT, 0u));
    call([&] { central->connect(light); });
    ASSERT_TRUE(waitForEvent("connect"));
}

TEST_F(CentralBluezTest, LostLinkIsReportedOnce) {
    const auto light = connected(Sim::LIGHT);
    ASSERT_TRUE(light);
    sim.controlOk("DropLink", address(Sim::LIGHT));
    ASSERT_TRUE(waitForEvent("disconnect The connection was lost."));
    afterPendingSignals();
    EXPECT_EQ(recorder->count("disconnect The connection was lost."), 1u);
    EXPECT_EQ(light->state(), PeripheralState::disconnected);

    // The adapter going off ends the next link too, without a callback of its
    // own: BlueZ takes the link down just before it says the adapter is off.
    call([&] { central->connect(light); });
    ASSERT_TRUE(waitForEvent("connect", 2));
    recorder->clear();
    sim.controlOk("SetPowered", g_variant_new("(b)", FALSE));
    ASSERT_TRUE(waitForState(S::poweredOff));
    afterPendingSignals();
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"state poweredOff"}));
    EXPECT_EQ(light->state(), PeripheralState::disconnected);
}

TEST_F(CentralBluezTest, CallbacksStopWhenTheCentralGoesAndItsLinksAreTakenDown) {
    const auto light = connected(Sim::LIGHT);
    ASSERT_TRUE(light);
    discoverAll(light);
    const auto control = characteristic(light, Sim::LIGHT_CONTROL);
    sim.controlOk("DelayReplies", g_variant_new("(su)", Sim::LIGHT, 200u));
    call([&] { light->writeValue({0xaa, 0x01}, control, WriteType::withResponse); });
    const std::size_t events = recorder->events.size();
    central.reset();

    // BlueZ took the link down: a new program connects afresh. With the link,
    // the delayed write was answered, to a connection that is closed now.
    auto probe = bus.connect();
    ASSERT_TRUE(waitFor([&] {
        const CallResult r =
            callSync(probe.get(), "org.bluez", Sim::devicePath(Sim::LIGHT), "org.freedesktop.DBus.Properties", "Get",
                     g_variant_new("(ss)", "org.bluez.Device1", "Connected"));
        return r.ok() && !g_variant_get_boolean(g_variant_get_variant(r.value.child(0).get()));
    }));
    drainQueue();
    drainQueue();
    EXPECT_EQ(recorder->events.size(), events);
}

// A stricter bus policy than Debian's refuses calls to BlueZ.
struct Refusal {
    const char* label;
    const char* rule;
    bool scan;  // the refused call is only made when scanning starts
};

class RefusedTest : public BluezTest, public ::testing::WithParamInterface<Refusal> {
protected:
    RefusedTest() : BluezTest(Sim::fastTiming(), GetParam().rule) {}
};

TEST_P(RefusedTest, ARefusedCallMeansUnauthorized) {
    makeCentral();
    if (GetParam().scan) {
        ASSERT_TRUE(waitForState(S::poweredOn));
        call([&] { central->scanForPeripherals({.allowDuplicates = true}); });
    }
    ASSERT_TRUE(waitForState(S::unauthorized));
    afterPendingSignals();
    EXPECT_EQ(recorder->states.back(), S::unauthorized);
    EXPECT_FALSE(central->isScanning());
}

INSTANTIATE_TEST_SUITE_P(
    Policies, RefusedTest,
    ::testing::Values(
        Refusal{"objects",
                R"(<deny send_destination="org.bluez" send_interface="org.freedesktop.DBus.ObjectManager"/>)", false},
        Refusal{
            "discovery",
            R"(<deny send_destination="org.bluez" send_interface="org.bluez.Adapter1" send_member="StartDiscovery"/>)",
            true}),
    [](const auto& row) { return std::string(row.param.label); });

// Devices connected once are remembered by bluetoothd (a file here).
class StoredDevicesTest : public BluezTest {
protected:
    StoredDevicesTest() : BluezTest(withStorage()) {}
    ~StoredDevicesTest() override { std::remove(storage().c_str()); }
    static std::string storage() {
        return std::string(g_get_tmp_dir()) + "/orvane-bluez-test-" + std::to_string(getpid());
    }
    static std::vector<std::string> withStorage() {
        auto args = Sim::fastTiming();
        args.insert(args.end(), {"--storage", storage()});
        return args;
    }
};

TEST_F(StoredDevicesTest, IdentifiersStayTheSameAndRetrieveFindsRememberedDevices) {
    const auto light = connected(Sim::LIGHT);
    ASSERT_TRUE(light);
    EXPECT_EQ(light->identifier(), deviceIdentifier(Sim::ADAPTER_ADDRESS, Sim::LIGHT));
    const Uuid unknown = *Uuid::parse("00000000-0000-5000-8000-000000000001");
    EXPECT_TRUE(call([&] { return central->retrievePeripherals({unknown}); }).empty());

    // bluetoothd restarts: the light is the same object, found without a scan.
    sim.crash();
    ASSERT_TRUE(waitForState(S::resetting));
    sim.start();
    ASSERT_TRUE(waitForState(S::poweredOn));
    auto found = call([&] { return central->retrievePeripherals({light->identifier(), unknown}); });
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], light);
    EXPECT_EQ(light->state(), PeripheralState::disconnected);
    call([&] { central->connect(light); });
    ASSERT_TRUE(waitForEvent("connect", 2));

    // The next run of the program finds it by the same id.
    central.reset();
    recorder = std::make_shared<Recorder>();
    makeCentral();
    ASSERT_TRUE(waitForState(S::poweredOn));
    found = call([&] { return central->retrievePeripherals({deviceIdentifier(Sim::ADAPTER_ADDRESS, Sim::LIGHT)}); });
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->name(), std::optional<std::string>(Sim::LIGHT_NAME));
}

}  // namespace
}  // namespace orvane::test
