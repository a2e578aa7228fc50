// Writes with and without response, notification changes and value events.

#include "BridgeTest.h"

namespace orvane {
namespace {

using Messages = std::vector<json>;
using Calls = std::vector<std::string>;

const std::string commandString = "00010203-0405-0607-0809-0A0B0C0D2B11";
const std::string statusString = "00010203-0405-0607-0809-0A0B0C0D2B10";

class BluetoothWrites : public BridgeTest {
protected:
    void SetUp() override {
        connectLight();
        discoverLight();
    }
};

TEST_F(BluetoothWrites, DataIsReadAsHexInEitherCaseAndMayBeEmpty) {
    struct Case {
        json data;
        std::string written;
    };
    const Case cases[] = {{"0AfF10", "0aff10"}, {"", ""}, {nullptr, ""}, {7, ""}};
    for (const auto& c : cases) {
        json message = write(1, "", false);
        if (c.data.is_null()) message.erase("data");
        else message["data"] = c.data;
        page(message);
        EXPECT_EQ(take(), Messages{ok(1)}) << c.data.dump();
        EXPECT_EQ(calls(), Calls{"write " + commandString + " " + c.written + " without"}) << c.data.dump();
    }
    page(write(2, "abc", false));
    EXPECT_EQ(take(), Messages{failed(2, "Bad data.")});
    EXPECT_EQ(calls(), Calls{});
}

TEST_F(BluetoothWrites, WritesWithoutResponseWaitForTheDeviceAndKeepTheirOrder) {
    light->limitWrites(0);
    page(write(1, "01", false));
    page(write(2, "02", false));
    page(write(3, "03", false));
    EXPECT_EQ(settle(), Messages{});
    EXPECT_EQ(calls(), Calls{});

    light->ready(1);
    EXPECT_EQ(settle(), Messages{ok(1)});
    EXPECT_EQ(calls(), Calls{"write " + commandString + " 01 without"});

    light->limitWrites(10);  // the device could take it, but older writes wait
    page(write(4, "04", false));
    EXPECT_EQ(take(), Messages{});
    EXPECT_EQ(calls(), Calls{});

    light->ready(10);
    EXPECT_EQ(settle(), (Messages{ok(2), ok(3), ok(4)}));
    EXPECT_EQ(calls(), (Calls{"write " + commandString + " 02 without", "write " + commandString + " 03 without",
                              "write " + commandString + " 04 without"}));
    EXPECT_EQ(radio.misuses, 0);
}

TEST_F(BluetoothWrites, WriteWithResponseWaitsBehindQueuedWrites) {
    // "colour" without response, then "off" with response: the light must get
    // them in that order, though the stack could take the second one at once.
    light->limitWrites(0);
    page(write(1, "01", false));
    page(write(2, "02", true));
    page(write(3, "03", false));
    EXPECT_EQ(calls(), Calls{});
    light->ready(1);
    EXPECT_EQ(settle(), (Messages{ok(1), ok(2)}));
    EXPECT_EQ(calls(), (Calls{"write " + commandString + " 01 without", "write " + commandString + " 02 with"}));
    light->ready(1);
    EXPECT_EQ(settle(), Messages{ok(3)});
    EXPECT_EQ(calls(), Calls{"write " + commandString + " 03 without"});
    EXPECT_EQ(radio.misuses, 0);
}

TEST_F(BluetoothWrites, MixedWritesReachTheDeviceInThePagesOrder) {
    light->limitWrites(2);
    radio.record = true;
    Calls expected;
    std::size_t answered = 0;
    for (int i = 1; i <= 400; ++i) {
        const std::string data = hex(Bytes{static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)});
        const bool response = i % 2 == 0 || i % 7 == 0;
        page(write(i, data, response));
        expected.push_back("write " + commandString + " " + data + (response ? " with" : " without"));
        if (i % 5 == 0) light->ready(i % 3);
        answered += settle().size();
    }
    for (int round = 0; round < 400 && answered < 400; ++round) {
        light->ready(3);
        answered += settle().size();
    }
    EXPECT_EQ(answered, 400u);
    EXPECT_EQ(calls(), expected);
    EXPECT_EQ(radio.misuses, 0);
}

TEST_F(BluetoothWrites, ConfirmationsAnswerTheOldestWriteOfTheirCharacteristic) {
    page(write(1, "01", true));
    light->failNext(PeripheralFake::Operation::write, BluetoothFailure::notPermitted, "Write not permitted");
    page(write(2, "02", true));
    EXPECT_EQ(settle(), (Messages{ok(1), failed(2, "The light refused this.")}));
}

TEST_F(BluetoothWrites, WriteAndNotifyOnOneCharacteristicWaitApart) {
    radio.hold(true);
    page(write(1, "01", true));
    json message = notify(2, true);
    message["chr"] = commandUuid;
    page(message);
    ASSERT_EQ(radio.releasable().size(), 2u);
    radio.release(1);
    EXPECT_EQ(settle(), Messages{ok(2)});
    radio.release(0);
    EXPECT_EQ(settle(), Messages{ok(1)});
}

TEST_F(BluetoothWrites, NotifyIsAnsweredWhenTheDeviceConfirms) {
    radio.hold(true);
    page(notify(1, nullptr));
    page(notify(2, true));
    EXPECT_EQ(calls(), (Calls{"notify " + statusString + " off", "notify " + statusString + " on"}));
    EXPECT_EQ(take(), Messages{});
    light->failNext(PeripheralFake::Operation::notify, BluetoothFailure::notSupported, "Operation is not supported");
    page(notify(3, "on"));
    EXPECT_EQ(calls(), Calls{"notify " + statusString + " off"}) << "\"on\" that is not a boolean";
    radio.releaseAll();
    EXPECT_EQ(settle(), (Messages{ok(1), ok(2), failed(3, "The light can’t do this.")}));
}

TEST_F(BluetoothWrites, ValueEventsOnlyForLinkedDevicesAndAttachedCharacteristics) {
    light->receive(status, Bytes{0xaa, 0x01});
    light->receive(status, Bytes{});
    light->receive(status, Bytes{0x01}, BluetoothError{BluetoothFailure::failed, "Unlikely error"});
    EXPECT_EQ(settle(),
              (Messages{event("value", {{"id", lightId}, {"svc", controlUuid}, {"chr", statusUuid}, {"data", "aa01"}}),
                        event("value", {{"id", lightId}, {"svc", controlUuid}, {"chr", statusUuid}, {"data", ""}})}));
    status->detach();
    light->receive(status, Bytes{0x02});
    EXPECT_EQ(settle(), Messages{}) << "no service, no event";

    page({{"t", "disconnect"}, {"id", lightId}});
    settle();
    light->receive(command, Bytes{0x03});
    EXPECT_EQ(settle(), Messages{}) << "not linked, no event";
}

TEST_F(BluetoothWrites, WaitingRequestsAreAnsweredWhateverOrderTheStackRemovesTheTableIn) {
    // The stack replaces a device's objects when its table changes, removing
    // a service before or after its characteristics while requests wait.
    enum Order { serviceOnly, serviceFirst, characteristicsFirst };
    const std::pair<Order, const char*> cases[] = {
        {serviceOnly, "service only"},
        {serviceFirst, "service, then characteristics"},
        {characteristicsFirst, "characteristics, then service"},
    };
    const auto removeCharacteristics = [this] {
        control->removeCharacteristic(command);
        control->removeCharacteristic(status);
    };
    int req = 1;
    for (const auto& [order, name] : cases) {
        discoverLight();
        radio.hold(true);
        const int first = req;
        page(write(req++, "01", true));
        json message = notify(req++, true);
        message["chr"] = commandUuid;
        page(message);
        page(notify(req++, true));
        if (order == characteristicsFirst) removeCharacteristics();
        light->removeService(control);
        if (order == serviceFirst) removeCharacteristics();
        radio.hold(false);
        radio.releaseAll();
        EXPECT_EQ(settle(), (Messages{ok(first), ok(first + 1), ok(first + 2)})) << name;
        // What is left is listed as it is now.
        page({{"t", "services"}, {"id", lightId}, {"req", 99}});
        const auto listed = settle();
        ASSERT_EQ(listed.size(), 1u) << name;
        EXPECT_EQ(listed[0]["services"].size(), 1u) << name;
        page({{"t", "disconnect"}, {"id", lightId}});
        settle();
        connectLight();
    }
}

}  // namespace
}  // namespace orvane
