#pragma once
// A bridge on the fake backend in virtual time, with one light in range whose
// GATT table has a control service (a notifying status characteristic and a
// command characteristic) and a 16-bit device-information service.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Bluetooth.h"
#include "CentralFake.h"
#include "MainQueueVirtual.h"
#include "PeripheralFake.h"
#include "RadioFake.h"

namespace orvane {

using nlohmann::json;

inline const std::string lightId = "0C6E8A4D-1B2F-4C3D-9E8F-123456789ABC";
inline const std::string controlUuid = "00010203-0405-0607-0809-0a0b0c0d1910";
inline const std::string statusUuid = "00010203-0405-0607-0809-0a0b0c0d2b10";
inline const std::string commandUuid = "00010203-0405-0607-0809-0a0b0c0d2b11";
inline const std::string infoFull = "0000180a-0000-1000-8000-00805f9b34fb";

inline json ok(std::int64_t req, json fields = json::object()) {
    fields["t"] = "res";
    fields["req"] = req;
    fields["ok"] = true;
    return fields;
}

inline json failed(std::int64_t req, const std::string& error) {
    return {{"t", "res"}, {"req", req}, {"ok", false}, {"error", error}};
}

inline json event(const std::string& type, json fields) {
    fields["t"] = type;
    return fields;
}

class BridgeTest : public ::testing::Test {
protected:
    BridgeTest() {
        light = radio.addPeripheral(lightId, "ihoment_H617C");
        control = light->addService(controlUuid);
        status = control->addCharacteristic(statusUuid, 0x12);    // read, notify
        command = control->addCharacteristic(commandUuid, 0x0C);  // write with and without response
        light->addService("180A")->addCharacteristic("2A29", 0x02);
        bluetooth.send = [this](const json& message) { sent.push_back(message); };
    }

    void page(const json& message) { bluetooth.handle(message); }
    std::vector<json> take() { return std::exchange(sent, {}); }
    std::vector<json> settle() {
        queue.runUntilIdle();
        return take();
    }
    std::vector<std::string> calls() { return radio.takeCalls(); }

    // Connected at the page's request and discovered; nothing left in sent or calls.
    void connectLight() {
        page({{"t", "connect"}, {"id", lightId}, {"req", 100}});
        const auto replies = settle();  // a "state" comes first when this made the central
        ASSERT_FALSE(replies.empty());
        ASSERT_EQ(replies.back(), ok(100, {{"name", "ihoment_H617C"}}));
        calls();
    }
    void discoverLight() {
        page({{"t", "services"}, {"id", lightId}, {"req", 101}});
        const auto replies = settle();
        ASSERT_EQ(replies.size(), 1u);
        ASSERT_EQ(replies[0]["ok"], true);
        calls();
    }
    static json write(std::int64_t req, const std::string& data, bool response) {
        return {{"t", "write"},       {"req", req},   {"id", lightId},       {"svc", controlUuid},
                {"chr", commandUuid}, {"data", data}, {"response", response}};
    }
    static json notify(std::int64_t req, const json& on) {
        json message = {{"t", "notify"}, {"req", req}, {"id", lightId}, {"svc", controlUuid}, {"chr", statusUuid}};
        if (!on.is_null()) message["on"] = on;
        return message;
    }

    MainQueueVirtual queue;
    RadioFake radio{queue};
    std::shared_ptr<PeripheralFake> light;
    std::shared_ptr<ServiceFake> control;
    std::shared_ptr<CharacteristicFake> status;
    std::shared_ptr<CharacteristicFake> command;
    Bluetooth bluetooth{queue, radio.factory()};
    std::vector<json> sent;
};

}  // namespace orvane
