// The virtual light strip: frames written to its control characteristic
// change its state, queries are answered by notifications, and frames it
// cannot trust are dropped.

#include "BluezSimClient.h"
#include "CaseName.h"

namespace orvane::test {
namespace {

constexpr const char* CHARACTERISTIC1 = "org.bluez.GattCharacteristic1";
using Bytes = std::vector<std::uint8_t>;

struct FrameCase {
    const char* name;
    Bytes frame;
    const char* key;       // the LightState member the frame changes
    const char* expected;  // its GVariant text afterwards
};

class LightFrames : public BluezSimTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(LightFrames, ChangeTheLightsState) {
    connectLight();
    ASSERT_TRUE(writeLight(GetParam().frame).ok());
    VariantPtr state = lightState();
    EXPECT_EQ(print(state.lookup(GetParam().key)), GetParam().expected) << print(state);
    EXPECT_EQ(print(state.lookup("accepted")), "uint32 1");
}

// Segments print as (r, g, b, brightness, kelvin).
INSTANTIATE_TEST_SUITE_P(
    Commands, LightFrames,
    ::testing::Values(
        FrameCase{"PowerOn", frame({0x33, 0x01, 0x01}), "power", "true"},
        FrameCase{"Brightness", frame({0x33, 0x04, 40}), "brightness", "byte 0x28"},
        FrameCase{"SceneCode", frame({0x33, 0x05, 0x04, 0x34, 0x12}), "scene", "uint16 4660"},
        FrameCase{"MusicMode", frame({0x33, 0x05, 0x13, 0x05, 0x40}), "mode", "'music'"},
        FrameCase{"ColourOnTwoSegments", frame({0x33, 0x05, 0x15, 0x01, 0xff, 0x00, 0x00, 0, 0, 0, 0, 0, 0x03, 0x00}),
                  "segments",
                  "[(byte 0xff, byte 0x00, byte 0x00, byte 0x64, uint16 0), (0xff, 0x00, 0x00, 0x64, 0), "
                  "(0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), "
                  "(0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), "
                  "(0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), "
                  "(0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), "
                  "(0xff, 0xff, 0xff, 0x64, 0)]"},
        FrameCase{"WhiteOnTheLastSegment",
                  frame({0x33, 0x05, 0x15, 0x01, 0, 0, 0, 0x0b, 0xb8, 0xff, 0xa8, 0x57, 0x00, 0x40}), "segments",
                  "[(byte 0xff, byte 0xff, byte 0xff, byte 0x64, uint16 0), (0xff, 0xff, 0xff, 0x64, 0), "
                  "(0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), "
                  "(0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), "
                  "(0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), "
                  "(0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), (0xff, 0xff, 0xff, 0x64, 0), "
                  "(0xff, 0xa8, 0x57, 0x64, 3000)]"}),
    CaseName());

TEST_F(BluezSimTest, FramesWithAWrongChecksumOrSizeAreIgnored) {
    connectLight();
    Bytes bad = frame({0x33, 0x01, 0x01});
    bad[19] ^= 0x01;
    ASSERT_TRUE(writeLight(bad).ok());  // the write itself succeeds; the strip drops it
    ASSERT_TRUE(writeLight({0x33, 0x01, 0x01}).ok());
    VariantPtr state = lightState();
    EXPECT_EQ(print(state.lookup("power")), "false");
    EXPECT_EQ(print(state.lookup("ignored")), "uint32 2");
    EXPECT_EQ(print(state.lookup("accepted")), "uint32 0");
}

TEST_F(BluezSimTest, QueriesAreAnsweredByNotificationsOnlyWhileNotifying) {
    connectLight();
    const std::string replies = BluezSimProcess::lightRepliesPath();
    auto valueSignals = [&] {
        return log.count([&](const Signal& s) { return s.path == replies && s.changed(CHARACTERISTIC1, "Value"); });
    };
    // Nobody subscribed: the strip sends nothing. Its answers go out in order,
    // so one to this query would come before the one counted below.
    ASSERT_TRUE(writeLight(frame({0xaa, 0x01}), "command").ok());

    ASSERT_TRUE(call(replies, CHARACTERISTIC1, "StartNotify").ok());
    EXPECT_TRUE(log.waitFor([&](const Signal& s) {
        VariantPtr v = s.changed(CHARACTERISTIC1, "Notifying");
        return s.path == replies && v && g_variant_get_boolean(v.get());
    }));
    ASSERT_TRUE(writeLight(frame({0x33, 0x01, 0x01})).ok());
    ASSERT_TRUE(writeLight(frame({0xaa, 0x01})).ok());
    ASSERT_TRUE(log.waitFor([&](const Signal& s) { return s.path == replies && s.changed(CHARACTERISTIC1, "Value"); }));
    Bytes reply;
    for (auto& s : log.all())
        if (s.path == replies)
            if (VariantPtr v = s.changed(CHARACTERISTIC1, "Value")) reply = bytesOf(v);
    EXPECT_EQ(reply, frame({0xaa, 0x01, 0x01}));
    EXPECT_EQ(valueSignals(), 1u) << "the query sent while nobody subscribed was answered";

    ASSERT_TRUE(writeLight(frame({0xaa, 0xa5, 0x05})).ok());  // segments 12..14
    ASSERT_TRUE(spinUntil([&] { return valueSignals() == 2; }));
    for (auto& s : log.all())
        if (s.path == replies)
            if (VariantPtr v = s.changed(CHARACTERISTIC1, "Value")) reply = bytesOf(v);
    EXPECT_EQ(reply, frame({0xaa, 0xa5, 0x05, 100, 0xff, 0xff, 0xff, 100, 0xff, 0xff, 0xff, 100, 0xff, 0xff, 0xff}));

    ASSERT_TRUE(call(replies, CHARACTERISTIC1, "StopNotify").ok());
    CallResult again = call(replies, CHARACTERISTIC1, "StopNotify");
    EXPECT_EQ(again.error, "org.bluez.Error.Failed");
    EXPECT_EQ(again.text, "No notify session started");

    // Every write is kept in order with its type.
    auto writes = sim.writes(BluezSimProcess::LIGHT, BluezSimProcess::LIGHT_CONTROL);
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0], std::make_pair(std::string("command"), frame({0xaa, 0x01})));
    EXPECT_EQ(writes[1], std::make_pair(std::string("request"), frame({0x33, 0x01, 0x01})));
    EXPECT_EQ(writes[3].second, frame({0xaa, 0xa5, 0x05}));
}

// The replies the control page reads its state from, in the forms of
// docs/light-protocol.md: what the strip answers after the commands before.
struct QueryCase {
    const char* name;
    std::vector<Bytes> before;
    Bytes query;
    Bytes reply;
};

class LightQueries : public BluezSimTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(LightQueries, AnswerWithTheLightsState) {
    connectLight();
    const std::string replies = BluezSimProcess::lightRepliesPath();
    ASSERT_TRUE(call(replies, CHARACTERISTIC1, "StartNotify").ok());
    ASSERT_TRUE(log.waitFor(SignalLog::property(replies, CHARACTERISTIC1, "Notifying")));
    for (const Bytes& f : GetParam().before) ASSERT_TRUE(writeLight(f).ok());
    ASSERT_TRUE(writeLight(GetParam().query).ok());
    Bytes reply;
    ASSERT_TRUE(log.waitFor([&](const Signal& s) {
        VariantPtr v = s.path == replies ? s.changed(CHARACTERISTIC1, "Value") : VariantPtr();
        if (v) reply = bytesOf(v);
        return bool(v);
    }));
    EXPECT_EQ(reply, GetParam().reply);
}

const Bytes kColour = frame({0x33, 0x05, 0x15, 0x01, 0x3d, 0x6d, 0xf2, 0, 0, 0, 0, 0, 0xff, 0x7f});
INSTANTIATE_TEST_SUITE_P(
    Replies, LightQueries,
    ::testing::Values(
        QueryCase{"PowerOff", {}, frame({0xaa, 0x01}), frame({0xaa, 0x01, 0x00})},
        QueryCase{"PowerOn", {frame({0x33, 0x01, 0x01})}, frame({0xaa, 0x01}), frame({0xaa, 0x01, 0x01})},
        QueryCase{"Brightness", {frame({0x33, 0x04, 37})}, frame({0xaa, 0x04}), frame({0xaa, 0x04, 37})},
        QueryCase{
            "Colour", {kColour}, frame({0xaa, 0x05}), frame({0xaa, 0x05, 0x15, 0x01, 0x3d, 0x6d, 0xf2, 0x00, 0x00})},
        QueryCase{"WhiteWithItsPreview",
                  {frame({0x33, 0x05, 0x15, 0x01, 0, 0, 0, 0x0b, 0xb8, 0xff, 0xb1, 0x6e, 0xff, 0x7f})},
                  frame({0xaa, 0x05}),
                  frame({0xaa, 0x05, 0x15, 0x01, 0xff, 0xb1, 0x6e, 0x0b, 0xb8})},
        QueryCase{"Scene",
                  {kColour, frame({0x33, 0x05, 0x04, 0x01, 0x00})},
                  frame({0xaa, 0x05}),
                  frame({0xaa, 0x05, 0x04, 0x01, 0x00})},
        QueryCase{"ColourAfterAScene",
                  {frame({0x33, 0x05, 0x04, 0x01, 0x00}), kColour},
                  frame({0xaa, 0x05}),
                  frame({0xaa, 0x05, 0x15, 0x01, 0x3d, 0x6d, 0xf2, 0x00, 0x00})},
        QueryCase{"Music",
                  {frame({0x33, 0x05, 0x13, 0x05, 0x40})},
                  frame({0xaa, 0x05}),
                  frame({0xaa, 0x05, 0x13, 0x05, 0x40})},
        QueryCase{"Firmware", {}, frame({0xaa, 0x06}), frame({0xaa, 0x06, '3', '.', '0', '2', '.', '2', '4'})},
        QueryCase{"Segments", {}, frame({0xaa, 0x40}), frame({0xaa, 0x40, 0x0f})}),
    CaseName());

TEST_F(BluezSimTest, WritesFailLikeBluezDoes) {
    connectLight();
    sim.controlOk("FailNext", g_variant_new("(sssss)", BluezSimProcess::LIGHT, BluezSimProcess::LIGHT_CONTROL, "write",
                                            "org.bluez.Error.NotPermitted", "Write not permitted"));
    CallResult failed = writeLight(frame({0x33, 0x01, 0x01}));
    EXPECT_EQ(failed.error, "org.bluez.Error.NotPermitted");
    EXPECT_EQ(failed.text, "Write not permitted");
    EXPECT_TRUE(writeLight(frame({0x33, 0x01, 0x01})).ok());  // only the next one

    // One request in flight per characteristic.
    sim.controlOk("DelayReplies", g_variant_new("(su)", BluezSimProcess::LIGHT, 200u));
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "type", g_variant_new_string("request"));
    PendingCall first(client.get(), BluezSimProcess::lightControlPath(), CHARACTERISTIC1, "WriteValue",
                      g_variant_new("(@aya{sv})", bytesValue(frame({0x33, 0x04, 10})), &options));
    // Calls on one connection arrive in order: the first is in flight.
    CallResult busy = writeLight(frame({0x33, 0x04, 20}));
    EXPECT_EQ(busy.error, "org.bluez.Error.InProgress");
    EXPECT_EQ(busy.text, "In Progress");
    EXPECT_TRUE(first.result().ok());

    // Without a type BlueZ sends a command where the characteristic allows
    // one, which is not held up by the reply delay.
    EXPECT_TRUE(call(BluezSimProcess::lightControlPath(), CHARACTERISTIC1, "WriteValue",
                     g_variant_new("(@aya{sv})", bytesValue(frame({0x33, 0x04, 30})), nullptr))
                    .ok());
    EXPECT_EQ(sim.writes(BluezSimProcess::LIGHT, BluezSimProcess::LIGHT_CONTROL).back().first, "command");

    // A link lost with a write waiting fails the write.
    PendingCall waiting(client.get(), BluezSimProcess::lightControlPath(), CHARACTERISTIC1, "WriteValue",
                        g_variant_new("(@ay@a{sv})", bytesValue(frame({0x33, 0x04, 40})),
                                      g_variant_new_parsed("{'type': <'request'>}")));
    // The link is dropped through another connection: a round trip on this
    // one first proves the write has reached the simulator.
    ASSERT_TRUE(get(light, "org.bluez.Device1", "Connected"));
    sim.controlOk("DropLink", g_variant_new("(s)", BluezSimProcess::LIGHT));
    EXPECT_EQ(waiting.result().error, "org.bluez.Error.Failed");
    EXPECT_EQ(waiting.result().text, "Operation failed");

    CallResult notConnected = writeLight(frame({0x33, 0x01, 0x00}));
    EXPECT_EQ(notConnected.error, "org.bluez.Error.Failed");
    EXPECT_EQ(notConnected.text, "Not connected");
    EXPECT_EQ(print(lightState().lookup("brightness")), "byte 0x1e");  // 30: the last one delivered
}

}  // namespace
}  // namespace orvane::test
