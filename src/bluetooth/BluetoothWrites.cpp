// Characteristic writes, notification changes and value events.

#include "Bluetooth.h"
#include "MessageFields.h"

namespace orvane {

using nlohmann::json;

namespace {

constexpr std::string_view gattDisconnected = "GATT Server is disconnected.";
constexpr std::string_view badData = "Bad data.";

}  // namespace

void Bluetooth::write(const json& message, Request req) {
    const auto found = characteristic(message);
    if (!found) return fail(req, gattDisconnected);
    auto bytes = fromHex(textField(message, "data"));
    if (!bytes) return fail(req, badData);
    const auto& [peripheral, target] = *found;

    if (flagField(message, "response")) {
        writesWaiting[key(*peripheral, *target)].push_back(req);
        peripheral->writeValue(*bytes, target, WriteType::withResponse);
        return;
    }
    // A write without response never overtakes one already queued for the
    // device, and is never handed over while the stack cannot take it.
    const Uuid u = peripheral->identifier();
    auto queued = unsent.find(u);
    const bool behindOthers = queued != unsent.end() && !queued->second.empty();
    if (behindOthers || !peripheral->canSendWriteWithoutResponse()) {
        if (queued == unsent.end()) queued = unsent.try_emplace(u).first;
        queued->second.push_back({target, std::move(*bytes), req});
        return;
    }
    peripheral->writeValue(*bytes, target, WriteType::withoutResponse);
    reply(req, json::object());
}

void Bluetooth::notify(const json& message, Request req) {
    const auto found = characteristic(message);
    if (!found) return fail(req, gattDisconnected);
    const auto& [peripheral, target] = *found;
    notifyWaiting[key(*peripheral, *target)].push_back(req);
    peripheral->setNotifyValue(flagField(message, "on"), target);
}

void Bluetooth::isReadyToSendWriteWithoutResponse(Peripheral& peripheral) {
    const Uuid u = peripheral.identifier();
    for (;;) {
        const auto queued = unsent.find(u);
        if (queued == unsent.end() || queued->second.empty()) return;
        if (!peripheral.canSendWriteWithoutResponse()) return;  // the next ready callback resumes
        Unsent next = std::move(queued->second.front());
        queued->second.pop_front();
        peripheral.writeValue(next.bytes, next.characteristic, WriteType::withoutResponse);
        reply(next.req, json::object());
    }
}

void Bluetooth::didWriteValue(Peripheral& peripheral, Characteristic& characteristic,
                              const std::optional<BluetoothError>& error) {
    confirm(writesWaiting, peripheral, characteristic, error);
}

void Bluetooth::didUpdateNotificationState(Peripheral& peripheral, Characteristic& characteristic,
                                           const std::optional<BluetoothError>& error) {
    confirm(notifyWaiting, peripheral, characteristic, error);
}

void Bluetooth::confirm(Waiting& waiting, Peripheral& peripheral, Characteristic& characteristic,
                        const std::optional<BluetoothError>& error) {
    // Matched by characteristic and arrival order: the stack confirms in call order.
    const auto it = waiting.find(key(peripheral, characteristic));
    if (it == waiting.end() || it->second.empty()) return;
    const Request req = it->second.front();
    it->second.pop_front();
    if (error) fail(req, error->description);
    else reply(req, json::object());
}

void Bluetooth::didUpdateValue(Peripheral& peripheral, Characteristic& characteristic,
                               const std::optional<BluetoothError>& error) {
    if (error) return;
    const Uuid u = peripheral.identifier();
    if (!linked.contains(u)) return;
    const auto value = characteristic.value();
    const auto service = characteristic.service();
    if (!value || !service || !send) return;
    emit({{"t", "value"},
          {"id", u.text()},
          {"svc", full(service->uuid())},
          {"chr", full(characteristic.uuid())},
          {"data", hex(*value)}});
}

}  // namespace orvane
