// PeripheralBluez against bluez-sim: GATT discovery, writes with and without
// response, and notifications.

#include "BluezTesting.h"
#include "Bytes.h"

namespace orvane::test {
namespace {

using Sim = BluezSimProcess;

GVariant* bytes(const Bytes& value) {
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, value.data(), value.size(), 1);
}

class PeripheralBluezTest : public BluezTest {
protected:
    explicit PeripheralBluezTest(std::vector<std::string> args = Sim::fastTiming()) : BluezTest(std::move(args)) {}

    void notifyFromDevice(const Bytes& value) {
        sim.controlOk("Notify", g_variant_new("(ss@ay)", Sim::LIGHT, Sim::LIGHT_REPLIES, bytes(value)));
    }
};

TEST_F(PeripheralBluezTest, DiscoversServicesAndCharacteristicsInHandleOrderWithTheirProperties) {
    const auto sensor = connected(Sim::SENSOR);
    ASSERT_TRUE(sensor);
    discoverAll(sensor);

    std::vector<std::string> table;
    for (const auto& service : sensor->services()) {
        table.push_back(service->uuid().string());
        for (const auto& c : service->characteristics()) {
            char bits[8];
            std::snprintf(bits, sizeof bits, "%02x", c->properties());
            table.push_back("  " + c->uuid().string() + " " + bits);
            EXPECT_EQ(c->service(), service);
            EXPECT_FALSE(c->value());  // nothing read or notified yet
        }
    }
    EXPECT_EQ(table, (std::vector<std::string>{"180D", "  2A37 10", "  2A38 02", "  2A39 08", "180F", "  2A19 12",
                                               "180A", "  2A29 02", "  2A24 22"}));

    // The same objects again, as long as the table is unchanged.
    const auto first = sensor->services()[0];
    const auto firstChar = first->characteristics()[0];
    discoverAll(sensor);
    EXPECT_EQ(sensor->services()[0], first);
    EXPECT_EQ(sensor->services()[0]->characteristics()[0], firstChar);

    const auto light = connected(Sim::LIGHT);
    discoverAll(light);
    EXPECT_EQ(characteristic(light, Sim::LIGHT_CONTROL)->properties(), 0x0eu);  // read, write without response, write
    EXPECT_EQ(characteristic(light, Sim::LIGHT_REPLIES)->properties(), 0x12u);  // read, notify
    EXPECT_EQ(light->services()[0]->uuid().string(), "00010203-0405-0607-0809-0A0B0C0D1910");
}

TEST_F(PeripheralBluezTest, WritesWithResponseAreConfirmedInCallOrder) {
    const auto light = connected(Sim::LIGHT);
    discoverAll(light);
    const auto control = characteristic(light, Sim::LIGHT_CONTROL);
    sim.controlOk("ClearWrites");
    // Slow replies, so that all five are waiting at once: BlueZ would refuse
    // the second with "In Progress" if it were sent.
    sim.controlOk("DelayReplies", g_variant_new("(su)", Sim::LIGHT, 20u));
    sim.controlOk("FailNext", g_variant_new("(sssss)", Sim::LIGHT, Sim::LIGHT_CONTROL, "write",
                                            "org.bluez.Error.Failed", "Operation failed with ATT error: 0x0e"));
    for (std::uint8_t i = 1; i <= 5; ++i) call([&] { light->writeValue({0xaa, i}, control, WriteType::withResponse); });
    ASSERT_TRUE(waitFor([&] { return recorder->count("write 2B11 ok") >= 4; }));
    afterPendingSignals();
    const std::vector<std::string> tail(recorder->events.end() - 5, recorder->events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"write 2B11 Operation failed with ATT error: 0x0e", "write 2B11 ok",
                                              "write 2B11 ok", "write 2B11 ok", "write 2B11 ok"}));
    const auto writes = sim.writes(Sim::LIGHT, Sim::LIGHT_CONTROL);
    ASSERT_EQ(writes.size(), 4u);  // the failed one never reached the device
    for (std::size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i].first, "request");
        EXPECT_EQ(writes[i].second, (Bytes{0xaa, std::uint8_t(i + 2)}));
    }
}

TEST_F(PeripheralBluezTest, NotAuthorizedFailsThatRequestAloneAndKeepsTheLinkAndTheState) {
    const auto light = connected(Sim::LIGHT);
    discoverAll(light);
    const auto control = characteristic(light, Sim::LIGHT_CONTROL);
    const auto replies = characteristic(light, Sim::LIGHT_REPLIES);
    // An ATT error of the characteristic, not the bus refusing us.
    for (const auto& [uuid, operation] :
         {std::pair{Sim::LIGHT_CONTROL, "write"}, std::pair{Sim::LIGHT_REPLIES, "notify"}})
        sim.controlOk("FailNext", g_variant_new("(sssss)", Sim::LIGHT, uuid, operation, "org.bluez.Error.NotAuthorized",
                                                "Not Authorized"));
    call([&] { light->writeValue({0xaa, 0x01}, control, WriteType::withResponse); });
    call([&] { light->setNotifyValue(true, replies); });
    ASSERT_TRUE(waitForEvent("write 2B11 Not Authorized"));
    ASSERT_TRUE(waitForEvent("notify 2B10 Not Authorized"));

    call([&] { light->writeValue({0xaa, 0x02}, control, WriteType::withResponse); });
    call([&] { light->setNotifyValue(true, replies); });
    ASSERT_TRUE(waitForEvent("write 2B11 ok"));
    ASSERT_TRUE(waitForEvent("notify 2B10 ok"));
    EXPECT_EQ(recorder->states, (std::vector<ManagerState>{ManagerState::poweredOn}));
    EXPECT_EQ(light->state(), PeripheralState::connected);
    EXPECT_EQ(recorder->count("connect"), 1u);
    for (const auto& line : recorder->events) EXPECT_FALSE(line.starts_with("disconnect")) << line;
}

TEST_F(PeripheralBluezTest, WritesWithoutResponseArriveInOrderUnderFlowControl) {
    const auto light = connected(Sim::LIGHT);
    discoverAll(light);
    const auto control = characteristic(light, Sim::LIGHT_CONTROL);
    sim.controlOk("ClearWrites");

    constexpr int total = 200;
    int sent = 0;
    bool heldBack = false;
    auto pump = [&] {
        while (sent < total && light->canSendWriteWithoutResponse()) {
            light->writeValue({std::uint8_t(sent), std::uint8_t(sent >> 8)}, control, WriteType::withoutResponse);
            ++sent;
            heldBack = heldBack || !light->canSendWriteWithoutResponse();
        }
    };
    recorder->onReady = pump;
    call([&] { pump(); });
    // "Ready" means room for more, not that all have been taken.
    ASSERT_TRUE(waitFor([&] { return sent == total && sim.writes(Sim::LIGHT, Sim::LIGHT_CONTROL).size() >= total; }));
    EXPECT_TRUE(heldBack);  // the backend said "not now" once its most were in flight
    EXPECT_GE(recorder->count("ready"), 1u);

    const auto writes = sim.writes(Sim::LIGHT, Sim::LIGHT_CONTROL);
    ASSERT_EQ(writes.size(), std::size_t(total));
    for (int i = 0; i < total; ++i) {
        EXPECT_EQ(writes[i].first, "command");
        EXPECT_EQ(writes[i].second, (Bytes{std::uint8_t(i), std::uint8_t(i >> 8)})) << i;
    }
}

TEST_F(PeripheralBluezTest, NotificationsAreConfirmedDeliveredAndStopped) {
    const auto light = connected(Sim::LIGHT);
    discoverAll(light);
    const auto replies = characteristic(light, Sim::LIGHT_REPLIES);

    call([&] { light->setNotifyValue(true, replies); });
    ASSERT_TRUE(waitForEvent("notify 2B10 ok"));
    notifyFromDevice({0xaa, 0x01, 0x01});
    notifyFromDevice({0xaa, 0x01, 0x01});  // the same value twice is two notifications
    ASSERT_TRUE(waitForEvent("value 2B10 aa0101", 2));
    EXPECT_EQ(replies->value(), (Bytes{0xaa, 0x01, 0x01}));

    call([&] { light->setNotifyValue(false, replies); });
    call([&] { light->setNotifyValue(false, replies); });  // each request is confirmed
    ASSERT_TRUE(waitForEvent("notify 2B10 ok", 3));
    notifyFromDevice({0xaa, 0x04, 0x64});
    afterPendingSignals();
    EXPECT_EQ(recorder->count("value 2B10 aa0464"), 0u);

    sim.controlOk("FailNext", g_variant_new("(sssss)", Sim::LIGHT, Sim::LIGHT_REPLIES, "notify",
                                            "org.bluez.Error.NotPermitted", "Not paired"));
    call([&] { light->setNotifyValue(true, replies); });
    ASSERT_TRUE(waitForEvent("notify 2B10 Not paired"));
    notifyFromDevice({0xaa, 0x04, 0x32});
    afterPendingSignals();
    EXPECT_EQ(recorder->count("value 2B10 aa0432"), 0u);
}

TEST_F(PeripheralBluezTest, NoValuesFromASessionOfAnEarlierLink) {
    const auto light = connected(Sim::LIGHT);
    discoverAll(light);
    call([&] { light->setNotifyValue(true, characteristic(light, Sim::LIGHT_REPLIES)); });
    ASSERT_TRUE(waitForEvent("notify 2B10 ok"));

    sim.controlOk("DropLink", g_variant_new("(s)", Sim::LIGHT));
    ASSERT_TRUE(waitForEvent("disconnect The connection was lost."));
    notifyFromDevice({0xaa, 0x01, 0x00});
    call([&] { central->connect(light); });
    ASSERT_TRUE(waitForEvent("connect", 2));
    discoverAll(light);
    // BlueZ would re-enable a session it still held on the new link.
    notifyFromDevice({0xaa, 0x01, 0x01});
    afterPendingSignals();
    EXPECT_EQ(recorder->count("value 2B10 aa0100"), 0u);
    EXPECT_EQ(recorder->count("value 2B10 aa0101"), 0u);
}

TEST_F(PeripheralBluezTest, CommandsAndRequestsToOneCharacteristicKeepTheirOrderAndAreNeverRefused) {
    const auto light = connected(Sim::LIGHT);
    discoverAll(light);
    const auto control = characteristic(light, Sim::LIGHT_CONTROL);
    sim.controlOk("ClearWrites");
    // Slow requests: BlueZ refuses any write ("In Progress") while one is
    // unanswered, so the commands after it must wait, those before it not.
    sim.controlOk("DelayReplies", g_variant_new("(su)", Sim::LIGHT, 20u));
    const std::vector<WriteType> types{WriteType::withoutResponse, WriteType::withoutResponse,
                                       WriteType::withResponse,    WriteType::withoutResponse,
                                       WriteType::withResponse,    WriteType::withoutResponse};
    call([&] {
        for (std::size_t i = 0; i < types.size(); ++i) light->writeValue({0xaa, std::uint8_t(i)}, control, types[i]);
        EXPECT_TRUE(light->canSendWriteWithoutResponse());  // a few commands may be on their way at once
    });
    ASSERT_TRUE(waitFor([&] { return recorder->count("write 2B11 ok") == 2; }));
    afterPendingSignals();
    EXPECT_EQ(recorder->count("write 2B11 ok"), 2u);
    const auto writes = sim.writes(Sim::LIGHT, Sim::LIGHT_CONTROL);
    ASSERT_EQ(writes.size(), types.size());
    for (std::size_t i = 0; i < types.size(); ++i) {
        EXPECT_EQ(writes[i].first, types[i] == WriteType::withResponse ? "request" : "command") << i;
        EXPECT_EQ(writes[i].second, (Bytes{0xaa, std::uint8_t(i)})) << i;
    }
}

TEST_F(PeripheralBluezTest, ACommandNotYetSentWhenTheLinkEndsIsDroppedAndTheNextLinkWritesAgain) {
    const auto light = connected(Sim::LIGHT);
    discoverAll(light);
    sim.controlOk("ClearWrites");
    // Commands go to BlueZ on the next turn of the loop; this one's turn
    // comes after its link has ended.
    call([&] {
        light->writeValue({0xaa, 0x01}, characteristic(light, Sim::LIGHT_CONTROL), WriteType::withoutResponse);
        central->cancelPeripheralConnection(light);
    });
    ASSERT_TRUE(waitFor([&] { return light->state() == PeripheralState::disconnected; }));

    call([&] { central->connect(light); });
    ASSERT_TRUE(waitForEvent("connect", 2));
    discoverAll(light);
    call([&] {
        light->writeValue({0xaa, 0x02}, characteristic(light, Sim::LIGHT_CONTROL), WriteType::withoutResponse);
    });
    ASSERT_TRUE(waitFor([&] { return !sim.writes(Sim::LIGHT, Sim::LIGHT_CONTROL).empty(); }));
    afterPendingSignals();
    EXPECT_EQ(sim.writes(Sim::LIGHT, Sim::LIGHT_CONTROL),
              (std::vector<std::pair<std::string, Bytes>>{{"command", Bytes{0xaa, 0x02}}}));
}

TEST_F(PeripheralBluezTest, OperationsWithoutALinkFailAndInFlightOnesAreDroppedWithIt) {
    const auto light = connected(Sim::LIGHT);
    discoverAll(light);
    const auto control = characteristic(light, Sim::LIGHT_CONTROL);
    const auto replies = characteristic(light, Sim::LIGHT_REPLIES);
    sim.controlOk("DelayReplies", g_variant_new("(su)", Sim::LIGHT, 300u));
    call([&] { light->writeValue({0xaa, 0x01}, control, WriteType::withResponse); });
    sim.controlOk("DropLink", g_variant_new("(s)", Sim::LIGHT));
    ASSERT_TRUE(waitForEvent("disconnect The connection was lost."));
    // The link took the held reply with it: BlueZ failed it at once.
    afterPendingSignals();
    EXPECT_EQ(recorder->count("write 2B11 ok"), 0u);
    EXPECT_FALSE(light->canSendWriteWithoutResponse());

    call([&] { light->writeValue({0xaa, 0x01}, control, WriteType::withResponse); });
    call([&] { light->setNotifyValue(true, replies); });
    call([&] { light->discoverServices(); });
    ASSERT_TRUE(waitForEvent("services Not connected."));
    EXPECT_EQ(recorder->count("write 2B11 Not connected."), 1u);
    EXPECT_EQ(recorder->count("notify 2B10 Not connected."), 1u);
}

// A slow GATT browse: services asked for before BlueZ has resolved them.
class SlowResolveTest : public PeripheralBluezTest {
protected:
    SlowResolveTest() : PeripheralBluezTest(slow()) {}
    static std::vector<std::string> slow() {
        auto args = Sim::fastTiming();
        args.insert(args.end(), {"--resolve-ms", "300"});
        return args;
    }
};

TEST_F(SlowResolveTest, DiscoveryWaitsForServicesResolved) {
    const auto sensor = connected(Sim::SENSOR);
    ASSERT_TRUE(sensor);
    call([&] { sensor->discoverServices(); });
    call([&] { sensor->discoverServices(); });  // each call gets its answer
    ASSERT_TRUE(waitForEvent("services ok", 2));
    EXPECT_EQ(sensor->services().size(), 3u);
}

TEST_F(SlowResolveTest, DiscoveryThatNeverEndsTimesOut) {
    settings.discoveryTimeout = 0.1;  // the simulator resolves after 0.3 s
    const auto sensor = connected(Sim::SENSOR);
    ASSERT_TRUE(sensor);
    call([&] { sensor->discoverServices(); });
    ASSERT_TRUE(waitForEvent("services Service discovery timed out."));
    // BlueZ resolves them later, but the request has had its answer.
    auto probe = bus.connect();
    ASSERT_TRUE(waitFor([&] {
        const CallResult r =
            callSync(probe.get(), "org.bluez", Sim::devicePath(Sim::SENSOR), "org.freedesktop.DBus.Properties", "Get",
                     g_variant_new("(ss)", "org.bluez.Device1", "ServicesResolved"));
        return r.ok() && g_variant_get_boolean(VariantPtr::adopt(g_variant_get_variant(r.value.child(0).get())).get());
    }));
    afterPendingSignals();
    EXPECT_EQ(recorder->count("services ok"), 0u);
    call([&] { sensor->discoverServices(); });
    ASSERT_TRUE(waitForEvent("services ok"));
}

TEST_F(SlowResolveTest, DiscoveryWaitsForObjectsThatComeAfterServicesResolved) {
    // BlueZ has been seen to say "resolved" before exporting the objects.
    sim.controlOk("ResolveEarly", g_variant_new("(sb)", Sim::LIGHT, TRUE));
    const auto light = connected(Sim::LIGHT);
    ASSERT_TRUE(light);
    call([&] { light->discoverServices(); });
    ASSERT_TRUE(waitForEvent("services ok"));
    ASSERT_EQ(light->services().size(), 1u);
    discoverAll(light);
    EXPECT_TRUE(characteristic(light, Sim::LIGHT_CONTROL));
    EXPECT_TRUE(characteristic(light, Sim::LIGHT_REPLIES));
}

}  // namespace
}  // namespace orvane::test
