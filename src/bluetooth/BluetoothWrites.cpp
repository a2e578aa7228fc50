// Characteristic writes, notification changes and value events.

#include "AdapterWords.h"
#include "Bluetooth.h"
#include "MessageFields.h"

namespace orvane {

using nlohmann::json;

void Bluetooth::write(const json& message, Request req) {
    const auto found = characteristic(message);
    if (!found) return fail(req, words::gattDisconnected);
    auto bytes = fromHex(textField(message, "data"));
    if (!bytes) return fail(req, words::badData);
    const auto& [peripheral, target] = *found;
    const Uuid u = peripheral->identifier();
    const WriteType type = flagField(message, "response") ? WriteType::withResponse : WriteType::withoutResponse;

    // No write overtakes one already queued for the device, so that the
    // device gets them in the page's order ("colour", then "off"); and a write
    // without response is never handed over while the stack cannot take it.
    const auto queued = unsent.find(u);
    const bool behindOthers = queued != unsent.end() && !queued->second.empty();
    if (behindOthers || (type == WriteType::withoutResponse && !peripheral->canSendWriteWithoutResponse()))
        return queueWrite(u, {target, std::move(*bytes), req, type});

    if (type == WriteType::withResponse) {
        await(writesWaiting, u, target, req);
        peripheral->writeValue(*bytes, target, WriteType::withResponse);
        return;
    }
    peripheral->writeValue(*bytes, target, WriteType::withoutResponse);
    reply(req, json::object());
}

void Bluetooth::queueWrite(const Uuid& device, Unsent write) { unsent[device].push_back(std::move(write)); }

void Bluetooth::await(Waiting& waiting, const Uuid& device, const std::shared_ptr<Characteristic>& characteristic,
                      Request req) {
    auto& entry = waiting[device][characteristic.get()];
    if (!entry.characteristic) entry.characteristic = characteristic;
    entry.reqs.push_back(req);
}

void Bluetooth::notify(const json& message, Request req) {
    const auto found = characteristic(message);
    if (!found) return fail(req, words::gattDisconnected);
    const auto& [peripheral, target] = *found;
    await(notifyWaiting, peripheral->identifier(), target, req);
    peripheral->setNotifyValue(flagField(message, "on"), target);
}

void Bluetooth::isReadyToSendWriteWithoutResponse(Peripheral& peripheral) {
    const Uuid u = peripheral.identifier();
    for (;;) {
        const auto queued = unsent.find(u);
        if (queued == unsent.end()) return;
        if (queued->second.empty()) {
            unsent.erase(queued);
            return;
        }
        const bool withResponse = queued->second.front().type == WriteType::withResponse;
        // A write with response needs no room for writes without response.
        if (!withResponse && !peripheral.canSendWriteWithoutResponse()) return;  // the next ready callback resumes
        Unsent next = std::move(queued->second.front());
        queued->second.pop_front();
        if (withResponse) {
            await(writesWaiting, u, next.characteristic, next.req);
            peripheral.writeValue(next.bytes, next.characteristic, WriteType::withResponse);
            continue;
        }
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
    const auto device = waiting.find(peripheral.identifier());
    if (device == waiting.end()) return;
    const auto entry = device->second.find(&characteristic);
    if (entry == device->second.end() || entry->second.reqs.empty()) return;
    const Request req = entry->second.reqs.front();
    entry->second.reqs.pop_front();
    // Emptied entries go, so that a long link does not collect them.
    if (entry->second.reqs.empty()) device->second.erase(entry);
    if (device->second.empty()) waiting.erase(device);
    if (error) fail(req, failureText(error->kind));
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
