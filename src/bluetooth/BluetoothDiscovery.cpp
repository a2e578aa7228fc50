// GATT discovery: one shared discovery per device, the services tree, and
// finding the characteristic a request names.

#include <array>
#include <utility>

#include "AdapterWords.h"
#include "Bluetooth.h"
#include "MessageFields.h"

namespace orvane {

using nlohmann::json;

namespace {

constexpr std::array<std::pair<const char*, CharacteristicProperty>, 7> propertyNames = {{
    {"broadcast", CharacteristicProperty::broadcast},
    {"read", CharacteristicProperty::read},
    {"writeWithoutResponse", CharacteristicProperty::writeWithoutResponse},
    {"write", CharacteristicProperty::write},
    {"notify", CharacteristicProperty::notify},
    {"indicate", CharacteristicProperty::indicate},
    {"authenticatedSignedWrites", CharacteristicProperty::authenticatedSignedWrites},
}};

}  // namespace

void Bluetooth::services(std::string_view idText, Request req) {
    const auto peripheral = linkedPeripheral(idText);
    if (!peripheral) return fail(req, words::gattDisconnected);
    const Uuid u = peripheral->identifier();
    if (discovered.contains(u)) return reply(req, {{"services", describe(*peripheral)}});

    auto& waiting = servicesWaiting[u];
    waiting.push_back(req);
    // Later requests join the discovery that the first one started.
    if (waiting.size() == 1) peripheral->discoverServices();
}

void Bluetooth::didDiscoverServices(Peripheral& peripheral, const std::optional<BluetoothError>& error) {
    const Uuid u = peripheral.identifier();
    if (error) {
        charsLeft.erase(u);
        std::vector<Request> waiting;
        if (const auto it = servicesWaiting.find(u); it != servicesWaiting.end()) {
            waiting = std::move(it->second);
            servicesWaiting.erase(it);
        }
        for (const Request req : waiting) fail(req, failureText(error->kind));
        return;
    }
    const auto found = peripheral.services();
    charsLeft[u] = static_cast<long>(found.size());
    if (found.empty()) return discoveryDone(peripheral);
    for (const auto& service : found) peripheral.discoverCharacteristics(service);
}

void Bluetooth::didDiscoverCharacteristics(Peripheral& peripheral, Service&, const std::optional<BluetoothError>&) {
    // A failed service is listed with whatever the stack holds for it.
    const auto it = charsLeft.find(peripheral.identifier());
    if (it == charsLeft.end()) return;
    if (--it->second > 0) return;
    discoveryDone(peripheral);
}

void Bluetooth::discoveryDone(Peripheral& peripheral) {
    const Uuid u = peripheral.identifier();
    charsLeft.erase(u);
    discovered.insert(u);
    std::vector<Request> waiting;
    if (const auto it = servicesWaiting.find(u); it != servicesWaiting.end()) {
        waiting = std::move(it->second);
        servicesWaiting.erase(it);
    }
    if (waiting.empty()) return;
    const json tree = describe(peripheral);
    for (const Request req : waiting) reply(req, {{"services", tree}});
}

json Bluetooth::describe(const Peripheral& peripheral) {
    json tree = json::array();
    for (const auto& service : peripheral.services()) {
        json chars = json::array();
        for (const auto& characteristic : service->characteristics()) {
            const std::uint32_t bits = characteristic->properties();
            json props = json::object();
            for (const auto& [name, bit] : propertyNames) props[name] = (bits & static_cast<std::uint32_t>(bit)) != 0;
            chars.push_back({{"uuid", full(characteristic->uuid())}, {"props", std::move(props)}});
        }
        tree.push_back({{"uuid", full(service->uuid())}, {"chars", std::move(chars)}});
    }
    return tree;
}

std::optional<Bluetooth::Found> Bluetooth::characteristic(const json& request) const {
    const auto peripheral = linkedPeripheral(textField(request, "id"));
    if (!peripheral) return std::nullopt;
    const auto svc = request.find("svc");
    const auto chr = request.find("chr");
    if (svc == request.end() || chr == request.end() || !svc->is_string() || !chr->is_string()) return std::nullopt;

    // Exact texts as discovery reported them: no short forms, no case folding.
    for (const auto& service : peripheral->services()) {
        if (full(service->uuid()) != svc->get_ref<const std::string&>()) continue;
        for (const auto& candidate : service->characteristics())
            if (full(candidate->uuid()) == chr->get_ref<const std::string&>()) return Found{peripheral, candidate};
        return std::nullopt;  // only the first matching service is searched
    }
    return std::nullopt;
}

}  // namespace orvane
