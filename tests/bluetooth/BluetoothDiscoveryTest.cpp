// GATT discovery, the services tree and finding the characteristic a request names.

#include "BridgeTest.h"

namespace orvane {
namespace {

using Messages = std::vector<json>;
using Calls = std::vector<std::string>;

json props(std::initializer_list<const char*> set) {
    json flags = {{"broadcast", false}, {"read", false},     {"writeWithoutResponse", false},     {"write", false},
                  {"notify", false},    {"indicate", false}, {"authenticatedSignedWrites", false}};
    for (const char* name : set) flags[name] = true;
    return flags;
}

json lightTree() {
    return json::array(
        {{{"uuid", controlUuid},
          {"chars", json::array({{{"uuid", statusUuid}, {"props", props({"read", "notify"})}},
                                 {{"uuid", commandUuid}, {"props", props({"writeWithoutResponse", "write"})}}})}},
         {{"uuid", infoFull},
          {"chars", json::array({{{"uuid", "00002a29-0000-1000-8000-00805f9b34fb"}, {"props", props({"read"})}}})}}});
}

class BluetoothDiscovery : public BridgeTest {
protected:
    void services(std::int64_t req, const std::string& id = lightId) {
        page({{"t", "services"}, {"id", id}, {"req", req}});
    }
};

TEST_F(BluetoothDiscovery, RequestsDuringDiscoveryShareItAndLaterOnesAreAnsweredAtOnce) {
    connectLight();
    radio.hold(true);
    services(1);
    services(2);
    EXPECT_EQ(calls(), Calls{"discoverServices " + lightId});
    radio.releaseAll();
    queue.runUntilIdle();
    EXPECT_EQ(calls(), (Calls{"discoverCharacteristics " + lightId + " 00010203-0405-0607-0809-0A0B0C0D1910",
                              "discoverCharacteristics " + lightId + " 180A"}));
    EXPECT_EQ(take(), Messages{}) << "not before every service has its characteristics";
    radio.releaseAll();
    EXPECT_EQ(settle(), (Messages{ok(1, {{"services", lightTree()}}), ok(2, {{"services", lightTree()}})}));

    services(3);
    EXPECT_EQ(take(), (Messages{ok(3, {{"services", lightTree()}})}));
    EXPECT_EQ(calls(), Calls{});
}

TEST_F(BluetoothDiscovery, EachPropertyBitHasItsOwnKeyAndHigherBitsAreLeftOut) {
    const auto device = radio.addPeripheral("11111111-2222-3333-4444-555555555555");
    const auto service = device->addService("FFF0");
    const std::pair<std::uint32_t, json> cases[] = {
        {0x01, props({"broadcast"})},
        {0x02, props({"read"})},
        {0x04, props({"writeWithoutResponse"})},
        {0x08, props({"write"})},
        {0x10, props({"notify"})},
        {0x20, props({"indicate"})},
        {0x40, props({"authenticatedSignedWrites"})},
        {0x80 | 0x100 | 0x200, props({})},
        {0x7F, props({"broadcast", "read", "writeWithoutResponse", "write", "notify", "indicate",
                      "authenticatedSignedWrites"})},
    };
    for (const auto& [bits, expected] : cases) service->addCharacteristic("FFF1", bits);
    page({{"t", "connect"}, {"id", device->identifier().text()}, {"req", 1}});
    settle();
    services(2, device->identifier().text());
    const auto reply = settle();
    ASSERT_EQ(reply.size(), 1u);
    const json& chars = reply[0]["services"][0]["chars"];
    ASSERT_EQ(chars.size(), std::size(cases));
    for (std::size_t i = 0; i < chars.size(); ++i)
        EXPECT_EQ(chars[i]["props"], cases[i].second) << "bits " << cases[i].first;
}

TEST_F(BluetoothDiscovery, DeviceWithoutServicesGetsAnEmptyTree) {
    const auto bare = radio.addPeripheral("11111111-2222-3333-4444-555555555555");
    page({{"t", "connect"}, {"id", bare->identifier().text()}, {"req", 1}});
    settle();
    services(2, bare->identifier().text());
    EXPECT_EQ(settle(), (Messages{ok(2, {{"services", json::array()}})}));
}

TEST_F(BluetoothDiscovery, ServiceDiscoveryErrorAnswersAllWaitingAndTheNextRequestStartsAgain) {
    connectLight();
    light->failNext(PeripheralFake::Operation::discoverServices, BluetoothFailure::failed,
                    "Operation failed with ATT error: 0x0e");
    services(1);
    services(2);
    EXPECT_EQ(settle(), (Messages{failed(1, "Bluetooth failed."), failed(2, "Bluetooth failed.")}));
    calls();
    services(3);
    EXPECT_EQ(settle(), (Messages{ok(3, {{"services", lightTree()}})}));
    EXPECT_EQ(calls().front(), "discoverServices " + lightId);
}

TEST_F(BluetoothDiscovery, FailedCharacteristicDiscoveryLeavesThatServiceEmpty) {
    connectLight();
    light->failNext(PeripheralFake::Operation::discoverCharacteristics, BluetoothFailure::notConnected);
    services(1);
    json tree = lightTree();
    tree[0]["chars"] = json::array();
    EXPECT_EQ(settle(), (Messages{ok(1, {{"services", tree}})}));
}

TEST_F(BluetoothDiscovery, ReconnectedDeviceIsDiscoveredAfresh) {
    connectLight();
    discoverLight();
    page({{"t", "disconnect"}, {"id", lightId}});
    settle();
    page({{"t", "connect"}, {"id", lightId}, {"req", 1}});
    settle();
    calls();
    services(2);
    EXPECT_EQ(settle(), (Messages{ok(2, {{"services", lightTree()}})}));
    EXPECT_EQ(calls().front(), "discoverServices " + lightId);
}

TEST_F(BluetoothDiscovery, ServicesOfADeviceThatIsNotLinked) {
    for (const json& id : {json(lightId), json("light"), json(7)}) {
        page({{"t", "services"}, {"id", id}, {"req", 1}});
        EXPECT_EQ(take(), Messages{failed(1, "GATT Server is disconnected.")}) << id.dump();
    }
}

TEST_F(BluetoothDiscovery, CharacteristicIsFoundOnlyByTheExactFullForms) {
    connectLight();
    discoverLight();
    const std::string upper = "00010203-0405-0607-0809-0A0B0C0D1910";
    struct Case {
        json id, svc, chr;
        std::string data;
        const char* error;  // nullptr: found and written
    };
    const Case cases[] = {
        {lightId, controlUuid, commandUuid, "01", nullptr},
        {"0c6e8a4d-1b2f-4c3d-9e8f-123456789abc", controlUuid, commandUuid, "01", nullptr},
        {lightId, infoFull, "00002a29-0000-1000-8000-00805f9b34fb", "", nullptr},
        {lightId, upper, commandUuid, "01", "GATT Server is disconnected."},
        {lightId, "180a", "2a29", "01", "GATT Server is disconnected."},
        {lightId, " " + controlUuid, commandUuid, "01", "GATT Server is disconnected."},
        {lightId, controlUuid, "00010203-0405-0607-0809-0A0B0C0D2B11", "01", "GATT Server is disconnected."},
        {lightId, controlUuid, statusUuid + " ", "01", "GATT Server is disconnected."},
        {lightId, infoFull, commandUuid, "01", "GATT Server is disconnected."},
        {lightId, nullptr, commandUuid, "01", "GATT Server is disconnected."},
        {lightId, controlUuid, 5, "01", "GATT Server is disconnected."},
        {"0C6E8A4D", controlUuid, commandUuid, "01", "GATT Server is disconnected."},
        {lightId, upper, commandUuid, "zz", "GATT Server is disconnected."},  // before the data
        {lightId, controlUuid, commandUuid, "zz", "Bad data."},
    };
    for (const auto& c : cases) {
        json message = {{"t", "write"}, {"req", 5}, {"id", c.id}, {"chr", c.chr}, {"data", c.data}};
        if (!c.svc.is_null()) message["svc"] = c.svc;
        page(message);
        EXPECT_EQ(take(), Messages{c.error ? failed(5, c.error) : ok(5)}) << message.dump();
    }
}

}  // namespace
}  // namespace orvane
