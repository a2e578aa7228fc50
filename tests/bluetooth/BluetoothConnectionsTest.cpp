// Advertisements, connect and disconnect, time-outs and lost devices.

#include <chrono>

#include "BridgeTest.h"

namespace orvane {
namespace {

using Messages = std::vector<json>;
using Calls = std::vector<std::string>;

class BluetoothConnections : public BridgeTest {
protected:
    void scan() {
        page({{"t", "scan"}, {"on", true}});
        settle();
        calls();
    }
    static AdvertisementData named(std::optional<std::string> name) {
        return {.localName = std::move(name), .serviceUuids = {}, .overflowServiceUuids = {}};
    }
    static json adv(const std::string& id, const std::string& name, json uuids = json::array()) {
        return event("adv", {{"id", id}, {"name", name}, {"uuids", std::move(uuids)}});
    }
};

TEST_F(BluetoothConnections, AdvertsOfOneDeviceAreAtLeastThreeTenthsOfASecondApart) {
    const auto strip = radio.addStranger("ABCDEF01-2345-6789-ABCD-EF0123456789");
    const std::string id = strip->identifier().text();
    scan();
    radio.advertise(strip, named("first"), rssiUnavailable);
    EXPECT_EQ(settle(), Messages{adv(id, "first")});
    queue.advance(0.2);
    radio.advertise(strip, named("second"), rssiUnavailable);
    EXPECT_EQ(settle(), Messages{}) << "too soon, but the name is kept";
    queue.advance(0.15);
    radio.advertise(strip, named(std::nullopt), rssiUnavailable);
    EXPECT_EQ(settle(), Messages{adv(id, "second")}) << "0.35 s after the last event";
    queue.advance(0.299);
    radio.advertise(strip, named(std::nullopt), rssiUnavailable);
    EXPECT_EQ(settle(), Messages{});
}

TEST_F(BluetoothConnections, QuietDevicesAreForgottenButNotTheLinkedOne) {
    // Phones nearby advertise under a new random address every few minutes.
    connectLight();
    scan();
    char id[37];
    int made = 0;
    std::shared_ptr<PeripheralFake> first;
    for (int minute = 0; minute < 40; ++minute) {
        for (int i = 0; i < 20; ++i) {
            std::snprintf(id, sizeof id, "%08X-0000-4000-8000-000000000000", ++made);
            auto phone = radio.addStranger(id, "phone");
            if (!first) first = phone;
            radio.advertise(phone, named("phone"), -70);
        }
        settle();
        queue.advance(60);
        // Ten minutes of them, the one being looked at and the light.
        EXPECT_LE(bluetooth.knownCount(), 11u * 20u + 1u) << "minute " << minute;
    }
    EXPECT_GE(bluetooth.knownCount(), 10u * 20u);

    // The light stayed: it is still linked and serves requests.
    page({{"t", "connect"}, {"id", lightId}, {"req", 1}});
    EXPECT_EQ(settle(), Messages{ok(1, {{"name", "ihoment_H617C"}})});
    page({{"t", "services"}, {"id", lightId}, {"req", 2}});
    EXPECT_EQ(settle().at(0)["ok"], true);
    // A forgotten device that is heard again is reported afresh.
    radio.advertise(first, named(std::nullopt), -60);
    json again = adv(first->identifier().text(), "phone");
    again["rssi"] = -60;
    EXPECT_EQ(settle(), Messages{again});
}

TEST_F(BluetoothConnections, WallClockSetBackDoesNotSilenceAdverts) {
    scan();
    radio.advertise(light, named(std::nullopt), rssiUnavailable);
    EXPECT_EQ(settle().size(), 1u);
    queue.setWall(queue.wallNow() - std::chrono::hours(1));
    queue.advance(0.5);
    radio.advertise(light, named(std::nullopt), rssiUnavailable);
    EXPECT_EQ(settle(), Messages{adv(lightId, "ihoment_H617C")});
}

TEST_F(BluetoothConnections, AdvertNameUuidsAndSignalStrength) {
    const auto strip = radio.addStranger("ABCDEF01-2345-6789-ABCD-EF0123456789");
    const std::string id = strip->identifier().text();
    const auto uuid = [](const char* text) { return GattUuid::parse(text).value(); };
    scan();

    struct Case {
        std::optional<std::string> localName;
        std::optional<std::string> deviceName;
        int rssi;
        json expected;
    };
    const Case cases[] = {
        {"Light", std::nullopt, -60, {{"name", "Light"}, {"rssi", -60}}},
        {std::nullopt, std::nullopt, 127, {{"name", "Light"}}},  // remembered; 127 means no reading
        {std::nullopt, "Strip", 0, {{"name", "Strip"}, {"rssi", 0}}},
        {"", "Other", -100, {{"name", "Strip"}, {"rssi", -100}}},  // an empty local name changes nothing
    };
    for (const auto& c : cases) {
        strip->setName(c.deviceName);
        radio.advertise(strip, named(c.localName), c.rssi);
        json expected = adv(id, "");
        expected.update(c.expected);
        EXPECT_EQ(settle(), Messages{expected}) << c.expected.dump();
        queue.advance(1);
    }

    radio.advertise(strip,
                    {.localName = std::nullopt,
                     .serviceUuids = {uuid("FFE0"), uuid("1234ABCD"), uuid(controlUuid.c_str())},
                     .overflowServiceUuids = {uuid("180A")}},
                    -42);
    const auto got = settle();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]["uuids"], json::array({"0000ffe0-0000-1000-8000-00805f9b34fb",
                                            "1234abcd-0000-1000-8000-00805f9b34fb", controlUuid, infoFull}))
        << "service UUIDs in full form, overflow last";
}

TEST_F(BluetoothConnections, ConnectToAnUnusableOrUnknownDevice) {
    page({{"t", "connect"}, {"id", "0C6E8A4D-1B2F-4C3D-9E8F"}, {"req", 1}});
    EXPECT_EQ(take(), Messages{failed(1, "Unknown device.")});
    EXPECT_EQ(calls(), Calls{}) << "no central for an unusable id";

    const auto stranger = radio.addStranger("ABCDEF01-2345-6789-ABCD-EF0123456789");
    page({{"t", "connect"}, {"id", "abcdef01-2345-6789-abcd-ef0123456789"}, {"req", 2}});
    EXPECT_EQ(settle(),
              (Messages{event("state", {{"state", "on"}}), failed(2, "The light isn’t in range or is off.")}));
    EXPECT_EQ(calls(), (Calls{"create", "retrieve ABCDEF01-2345-6789-ABCD-EF0123456789"}));
}

TEST_F(BluetoothConnections, ConnectedNameIsTheDevicesElseTheAdvertisedElseEmpty) {
    const auto advertised = radio.addStranger("ABCDEF01-2345-6789-ABCD-EF0123456789");
    const auto nameless = radio.addPeripheral("11111111-2222-3333-4444-555555555555");
    scan();
    radio.advertise(advertised, named("From advert"), -50);
    settle();
    const std::pair<std::string, std::string> cases[] = {
        {lightId, "ihoment_H617C"},
        {advertised->identifier().text(), "From advert"},
        {nameless->identifier().text(), ""},
    };
    std::int64_t req = 1;
    for (const auto& [id, name] : cases) {
        page({{"t", "connect"}, {"id", id}, {"req", req}});
        EXPECT_EQ(settle(), Messages{ok(req, {{"name", name}})}) << id;
        ++req;
    }
}

TEST_F(BluetoothConnections, SecondConnectReplacesThePendingOne) {
    light->connectOutcome = PeripheralFake::Outcome::hang;
    page({{"t", "connect"}, {"id", lightId}, {"req", 1}});
    settle();
    page({{"t", "connect"}, {"id", lightId}, {"req", 2}});
    EXPECT_EQ(take(), Messages{failed(1, "Connection replaced.")});
    light->finishConnect();
    EXPECT_EQ(settle(), Messages{ok(2, {{"name", "ihoment_H617C"}})});
    queue.advance(20);
    EXPECT_EQ(take(), Messages{}) << "neither time-out fires";
}

TEST_F(BluetoothConnections, TimeOutOfAForgottenConnectNeverCutsANewerOneShort) {
    light->connectOutcome = PeripheralFake::Outcome::hang;
    const std::string noAnswer = "The light didn’t answer (is it plugged in, and the Govee app closed?).";
    for (const bool hello : {true, false}) {
        page({{"t", "connect"}, {"id", lightId}, {"req", 1}});
        queue.advance(5);
        if (hello) {
            page({{"t", "hello"}});
            queue.runUntilIdle();  // the cancelled attempt's disconnection comes first
        }
        page({{"t", "connect"}, {"id", lightId}, {"req", 2}});
        take();
        queue.advance(5.5);
        EXPECT_EQ(take(), Messages{}) << (hello ? "after hello" : "after replacement");
        queue.advance(4.5);
        EXPECT_EQ(take(), Messages{failed(2, noAnswer)}) << (hello ? "after hello" : "after replacement");
    }
}

TEST_F(BluetoothConnections, ConnectToALinkedDeviceAnswersAtOnce) {
    connectLight();
    page({{"t", "connect"}, {"id", lightId}, {"req", 2}});
    EXPECT_EQ(take(), Messages{ok(2, {{"name", "ihoment_H617C"}})});
    EXPECT_EQ(calls(), Calls{});
    EXPECT_EQ(queue.pending(), 0u) << "no time-out";
}

TEST_F(BluetoothConnections, SilentDeviceTimesOutOnceAndALateConnectionIsCancelled) {
    light->connectOutcome = PeripheralFake::Outcome::hang;
    page({{"t", "connect"}, {"id", lightId}, {"req", 1}});
    settle();
    calls();
    queue.advance(9.9);
    EXPECT_EQ(take(), Messages{});
    queue.advance(0.1);
    EXPECT_EQ(take(), Messages{failed(1, "The light didn’t answer (is it plugged in, and the Govee app closed?).")});
    EXPECT_EQ(calls(), Calls{"cancel " + lightId});

    // The stack reports the link it made just as the attempt was called off.
    bluetooth.didConnect(*radio.central(), light);
    EXPECT_EQ(calls(), Calls{"cancel " + lightId});
    queue.advance(20);
    EXPECT_EQ(take(), Messages{});
}

TEST_F(BluetoothConnections, FailedConnectIsToldInTheBridgesWordsNotTheStacks) {
    const std::string traceback = "Traceback (most recent call last):\n" + std::string(4000, 'x');
    const std::pair<std::optional<BluetoothError>, std::string> cases[] = {
        {BluetoothError{BluetoothFailure::connectFailed, "le-connection-abort-by-local"}, "Couldn’t connect."},
        {BluetoothError{BluetoothFailure::failed, traceback}, "Bluetooth failed."},
        {BluetoothError{BluetoothFailure::timedOut, "le-connection-timeout"}, "The light didn’t answer in time."},
        {std::nullopt, "Couldn’t connect."},
    };
    light->connectOutcome = PeripheralFake::Outcome::hang;
    for (const auto& [error, text] : cases) {
        page({{"t", "connect"}, {"id", lightId}, {"req", 1}});
        queue.runUntilIdle();
        take();
        light->failConnect(error);
        EXPECT_EQ(settle(), Messages{failed(1, text)});
    }
    queue.advance(20);
    EXPECT_EQ(take(), Messages{});
}

TEST_F(BluetoothConnections, DisconnectAnswersEverythingTheDeviceHadWaiting) {
    connectLight();
    radio.hold(true);
    page({{"t", "services"}, {"id", lightId}, {"req", 2}});
    radio.releaseAll();
    queue.runUntilIdle();
    ASSERT_EQ(radio.held(), 2u) << "one characteristic discovery per service";
    radio.release(0);  // the control service's characteristics are known, discovery still runs
    queue.runUntilIdle();
    light->limitWrites(0);
    page(write(3, "01", true));
    page(write(4, "02", false));
    page(notify(5, true));
    EXPECT_EQ(take(), Messages{});
    calls();

    page({{"t", "disconnect"}, {"id", lightId}, {"req", 6}});
    EXPECT_EQ(take(), (Messages{failed(2, "Disconnected."), failed(3, "Disconnected."), failed(5, "Disconnected."),
                                failed(4, "Disconnected."), event("disconnected", {{"id", lightId}})}));
    EXPECT_EQ(calls(), Calls{"cancel " + lightId});
    radio.releaseAll();
    light->ready(5);
    radio.releaseAll();
    EXPECT_EQ(settle(), Messages{}) << "the stack's own disconnection finds nothing left";
}

TEST_F(BluetoothConnections, DisconnectOfAPendingIdleOrUnusableDevice) {
    page({{"t", "disconnect"}, {"id", lightId}});
    EXPECT_EQ(calls(), Calls{}) << "no central yet: ignored";

    light->connectOutcome = PeripheralFake::Outcome::hang;
    page({{"t", "connect"}, {"id", lightId}, {"req", 1}});
    settle();
    calls();
    page({{"t", "disconnect"}, {"id", "light"}});
    page({{"t", "disconnect"}, {"id", lightId}});
    EXPECT_EQ(take(), Messages{failed(1, "Connection cancelled.")});
    EXPECT_EQ(calls(), Calls{"cancel " + lightId});
    queue.advance(20);
    page({{"t", "disconnect"}, {"id", lightId}});
    EXPECT_EQ(settle(), Messages{}) << "idle now: nothing to say";
    EXPECT_EQ(calls(), Calls{});
}

TEST_F(BluetoothConnections, LateDisconnectionOfTheOldLinkDropsTheNewPendingConnect) {
    connectLight();
    radio.hold(true);
    page({{"t", "disconnect"}, {"id", lightId}});
    page({{"t", "connect"}, {"id", lightId}, {"req", 7}});
    EXPECT_EQ(take(), Messages{event("disconnected", {{"id", lightId}})});
    radio.releaseAll();
    EXPECT_EQ(settle(), Messages{failed(7, "Disconnected.")});
    radio.releaseAll();
    EXPECT_EQ(settle(), Messages{});
    EXPECT_EQ(calls(), (Calls{"cancel " + lightId, "connect " + lightId, "cancel " + lightId}))
        << "the link that then came up nobody waits for";
}

TEST_F(BluetoothConnections, LinkedDeviceWhoseLinkIsDownServesNothing) {
    connectLight();
    discoverLight();
    radio.hold(true);
    light->loseLink();  // its disconnection callback is still on its way
    page({{"t", "services"}, {"id", lightId}, {"req", 2}});
    page(write(3, "01", false));
    EXPECT_EQ(take(), (Messages{failed(2, "GATT Server is disconnected."), failed(3, "GATT Server is disconnected.")}));
    radio.releaseAll();
    EXPECT_EQ(settle(), Messages{event("disconnected", {{"id", lightId}})});
}

TEST_F(BluetoothConnections, TimeOutDoesNothingOnceTheBridgeIsGone) {
    auto shortLived = std::make_unique<Bluetooth>(queue, radio.factory());
    int sentCount = 0;
    shortLived->send = [&](const json&) { ++sentCount; };
    light->connectOutcome = PeripheralFake::Outcome::hang;
    shortLived->handle({{"t", "connect"}, {"id", lightId}, {"req", 1}});
    queue.runUntilIdle();
    shortLived.reset();
    queue.advance(20);
    light->finishConnect();
    queue.runUntilIdle();
    EXPECT_EQ(sentCount, 1) << "only the first state event";
}

}  // namespace
}  // namespace orvane
