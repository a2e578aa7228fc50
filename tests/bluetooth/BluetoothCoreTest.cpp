// Dispatch, "hello", scan control and the adapter state.

#include "BridgeTest.h"

namespace orvane {
namespace {

using Messages = std::vector<json>;

class BluetoothCore : public BridgeTest {};

TEST_F(BluetoothCore, DropsMalformedAndUnknownMessagesWithoutCreatingACentral) {
    const json messages[] = {
        json::array({{{"t", "scan"}, {"on", true}}}),
        "scan",
        json::object(),
        {{"t", "Scan"}, {"on", true}},
        {{"t", "CONNECT"}, {"id", lightId}, {"req", 1}},
        {{"t", 5}, {"req", 1}},
        {{"t", nullptr}},
        {{"t", "read"}, {"id", lightId}, {"req", 1}},
    };
    for (const auto& message : messages) page(message);
    queue.runUntilIdle();
    EXPECT_EQ(take(), Messages{});
    EXPECT_EQ(calls(), std::vector<std::string>{});
}

TEST_F(BluetoothCore, RequestNumberIsReadWithItsDefaultsAndRepeatedInTheReply) {
    const std::pair<json, std::int64_t> cases[] = {
        {12, 12}, {12.7, 12}, {-3.5, -3}, {"12", 0}, {1e19, 0}, {nullptr, 0},
    };
    for (const auto& [req, number] : cases) {
        page({{"t", "connect"}, {"id", "not a device"}, {"req", req}});
        EXPECT_EQ(take(), Messages{failed(number, "Unknown device.")}) << req.dump();
    }
    page({{"t", "connect"}, {"id", 42}});
    EXPECT_EQ(take(), Messages{failed(0, "Unknown device.")}) << "no req, and an id that is not text";
}

TEST_F(BluetoothCore, HelloBeforeAnyCentralSendsNothingAndAfterwardsOneState) {
    page({{"t", "hello"}});
    queue.runUntilIdle();
    EXPECT_EQ(take(), Messages{});
    EXPECT_EQ(calls(), std::vector<std::string>{});

    page({{"t", "scan"}, {"on", false}});
    EXPECT_EQ(settle(), Messages{event("state", {{"state", "on"}})});
    page({{"t", "hello"}});
    EXPECT_EQ(settle(), Messages{event("state", {{"state", "on"}})});
}

TEST_F(BluetoothCore, ScanWaitsForTheAdapterAndHelloStopsItForGood) {
    radio.setAdapter(ManagerState::poweredOff);
    page({{"t", "scan"}, {"on", true}});
    EXPECT_EQ(settle(), Messages{event("state", {{"state", "off"}})}) << "no reply to scan";
    EXPECT_EQ(calls(), std::vector<std::string>{"create"});

    radio.setAdapter(ManagerState::poweredOn);
    EXPECT_EQ(settle(), Messages{event("state", {{"state", "on"}})});
    EXPECT_EQ(calls(), std::vector<std::string>{"scan duplicates"});

    page({{"t", "scan"}, {"on", true}});
    EXPECT_EQ(calls(), std::vector<std::string>{}) << "already scanning";

    page({{"t", "hello"}});
    EXPECT_EQ(calls(), std::vector<std::string>{"stopScan"});
    radio.setAdapter(ManagerState::poweredOff);
    radio.setAdapter(ManagerState::poweredOn);
    queue.runUntilIdle();
    EXPECT_EQ(calls(), std::vector<std::string>{}) << "hello forgot the wish to scan";
    EXPECT_EQ(radio.misuses, 0);
}

TEST_F(BluetoothCore, ScanWithoutOnStops) {
    page({{"t", "scan"}, {"on", true}});
    queue.runUntilIdle();
    calls();
    page({{"t", "scan"}, {"on", "yes"}});
    EXPECT_EQ(calls(), std::vector<std::string>{"stopScan"});
    EXPECT_FALSE(radio.central()->isScanning());
}

TEST_F(BluetoothCore, ConnectWaitsWhileTheStateIsUnknownThenGetsTheRefusal) {
    radio.setAdapter(ManagerState::unauthorized);
    page({{"t", "connect"}, {"id", lightId}, {"req", 3}});
    EXPECT_EQ(take(), Messages{}) << "waits for the state";
    EXPECT_EQ(settle(), (Messages{event("state", {{"state", "unauthorized"}}),
                                  failed(3,
                                         "Orvane isn’t allowed to use Bluetooth (add your user to the "
                                         "bluetooth group, or check the system's Bluetooth policy).")}));
}

TEST_F(BluetoothCore, ConnectWhileTheStateIsKnownAndNotOnIsRefusedAtOnce) {
    const std::pair<ManagerState, const char*> cases[] = {
        {ManagerState::poweredOff, "Bluetooth is off."},
        {ManagerState::unsupported, "This computer has no Bluetooth LE."},
    };
    for (const auto& [state, text] : cases) {
        radio.setAdapter(state);
        page({{"t", "scan"}, {"on", false}});
        queue.runUntilIdle();
        take();
        page({{"t", "connect"}, {"id", lightId}, {"req", 4}});
        EXPECT_EQ(take(), Messages{failed(4, text)});
    }
    EXPECT_EQ(calls(), (std::vector<std::string>{"create"})) << "no look-up, no connection attempt";
}

TEST_F(BluetoothCore, DeferredConnectRunsWhenTheAdapterComesOn) {
    radio.setAdapter(ManagerState::resetting);
    page({{"t", "connect"}, {"id", lightId}, {"req", 5}});
    EXPECT_EQ(settle(), Messages{event("state", {{"state", "unknown"}})});
    radio.setAdapter(ManagerState::poweredOn);
    EXPECT_EQ(settle(), (Messages{event("state", {{"state", "on"}}), ok(5, {{"name", "ihoment_H617C"}})}));
}

TEST_F(BluetoothCore, AdapterOffDropsLinkedAndPendingDevices) {
    const auto second = radio.addPeripheral("11111111-2222-3333-4444-555555555555", "second");
    const auto third = radio.addPeripheral("66666666-7777-8888-9999-AAAAAAAAAAAA", "third");
    third->connectOutcome = PeripheralFake::Outcome::hang;
    connectLight();
    page({{"t", "connect"}, {"id", second->identifier().text()}, {"req", 6}});
    page({{"t", "connect"}, {"id", third->identifier().text()}, {"req", 7}});
    EXPECT_EQ(settle(), (Messages{ok(6, {{"name", "second"}})}));

    radio.setAdapter(ManagerState::poweredOff);
    Messages got = settle();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], event("state", {{"state", "off"}}));
    const Messages rest(got.begin() + 1, got.end());
    for (const json& expected : {failed(7, "Disconnected."), event("disconnected", {{"id", lightId}}),
                                 event("disconnected", {{"id", second->identifier().text()}})})
        EXPECT_EQ(std::count(rest.begin(), rest.end(), expected), 1) << expected.dump();
    queue.advance(20);
    EXPECT_EQ(take(), Messages{}) << "the time-out of the dropped connect is gone";
}

TEST_F(BluetoothCore, ResettingAdapterDropsLinksButKeepsDeferredActions) {
    connectLight();
    discoverLight();
    radio.hold(true);
    page(write(8, "01", true));
    radio.setAdapter(ManagerState::resetting);
    ASSERT_EQ(radio.held(), 2u);
    radio.release(1);  // the state change overtakes the write's confirmation
    EXPECT_EQ(settle(), (Messages{event("state", {{"state", "unknown"}}), failed(8, "Disconnected."),
                                  event("disconnected", {{"id", lightId}})}))
        << "the link is gone and its write would never be confirmed";
    radio.releaseAll();
    EXPECT_EQ(settle(), Messages{});
    radio.hold(false);
    page({{"t", "connect"}, {"id", lightId}, {"req", 9}});
    EXPECT_EQ(take(), Messages{});
    radio.setAdapter(ManagerState::poweredOn);
    EXPECT_EQ(settle(), (Messages{event("state", {{"state", "on"}}), ok(9, {{"name", "ihoment_H617C"}})}));
}

TEST_F(BluetoothCore, HelloForgetsEverythingPendingWithoutAnswering) {
    connectLight();
    discoverLight();
    const auto other = radio.addPeripheral("11111111-2222-3333-4444-555555555555");
    other->connectOutcome = PeripheralFake::Outcome::hang;
    radio.hold(true);
    light->limitWrites(0);
    page({{"t", "connect"}, {"id", other->identifier().text()}, {"req", 10}});
    page(write(11, "01", true));
    page(write(12, "02", false));
    page(notify(13, true));
    calls();

    page({{"t", "hello"}});
    EXPECT_EQ(take(), Messages{event("state", {{"state", "on"}})});
    EXPECT_EQ(calls(), (std::vector<std::string>{"cancel 11111111-2222-3333-4444-555555555555", "cancel " + lightId}));
    radio.releaseAll();
    light->ready(5);
    other->finishConnect();
    radio.releaseAll();
    queue.advance(20);
    EXPECT_EQ(take(), Messages{}) << "nothing from before hello is answered, no time-out fires";

    page({{"t", "connect"}, {"id", lightId}, {"req", 15}});
    radio.releaseAll();
    EXPECT_EQ(settle(), (Messages{ok(15, {{"name", "ihoment_H617C"}})}));
    EXPECT_EQ(calls(), (std::vector<std::string>{"connect " + lightId})) << "found in known, no look-up";
}

}  // namespace
}  // namespace orvane
