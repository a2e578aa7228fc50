// Advertisements, connections and the clean-up after a lost device.

#include <chrono>

#include "AdapterWords.h"
#include "Bluetooth.h"

namespace orvane {

using nlohmann::json;

namespace {

// At most one "adv" per device in this time, however often it advertises.
constexpr auto advertInterval = std::chrono::milliseconds(300);
constexpr double connectTimeout = 10;  // seconds

// How often the quiet devices are looked for.
constexpr auto sweepInterval = std::chrono::minutes(1);

}  // namespace

void Bluetooth::didDiscover(Central&, const std::shared_ptr<Peripheral>& peripheral,
                            const AdvertisementData& advertisement, int rssi) {
    if (!peripheral) return;
    const Uuid u = peripheral->identifier();
    // Monotonic time: a wall clock set back would silence every device.
    const auto now = queue_.now();
    forgetQuiet();
    Known& device = known[u];
    device.peripheral = peripheral;
    device.heard = now;

    const std::optional<std::string> deviceName = advertisement.localName ? std::nullopt : peripheral->name();
    const std::string* name = advertisement.localName ? &*advertisement.localName : deviceName ? &*deviceName : nullptr;
    if (name && !name->empty() && device.name != *name) device.name = *name;

    if (device.lastAdvert && now - *device.lastAdvert < advertInterval) return;
    device.lastAdvert = now;
    if (!send) return;

    json uuids = json::array();
    for (const GattUuid& uuid : advertisement.serviceUuids) uuids.push_back(full(uuid));
    for (const GattUuid& uuid : advertisement.overflowServiceUuids) uuids.push_back(full(uuid));
    json event = {{"t", "adv"}, {"id", u.text()}, {"name", device.name}, {"uuids", std::move(uuids)}};
    if (rssi != rssiUnavailable) event["rssi"] = rssi;
    emit(std::move(event));
}

void Bluetooth::forgetQuiet() {
    // Phones rotate random addresses all day: without this the books would
    // grow by every address ever heard. Looked at once a minute, so that a
    // flood of reports costs nothing extra.
    const auto now = queue_.now();
    if (lastSweep && now - *lastSweep < sweepInterval) return;
    lastSweep = now;
    for (auto it = known.begin(); it != known.end();) {
        if (now - it->second.heard >= forgetAfter && !needed(it->first)) it = known.erase(it);
        else ++it;
    }
}

bool Bluetooth::needed(const Uuid& device) const {
    return linked.contains(device) || connecting.contains(device) || servicesWaiting.contains(device) ||
           charsLeft.contains(device) || writesWaiting.contains(device) || notifyWaiting.contains(device) ||
           unsent.contains(device);
}

void Bluetooth::connect(std::string_view idText, Request req) {
    const auto u = Uuid::parse(idText);
    if (!u) return fail(req, words::unknownDevice);
    Central* manager = ensureCentral();
    if (!manager) return fail(req, refusal(ManagerState::unsupported));

    const ManagerState state = manager->state();
    if (state == ManagerState::unknown || state == ManagerState::resetting) {
        whenOn.push_back({.ok = [this, device = *u, req] { connectNow(device, req); },
                          .refused = [this, req](std::string_view text) { fail(req, text); }});
        return;
    }
    if (state != ManagerState::poweredOn) return fail(req, refusal(state, manager->absence()));
    connectNow(*u, req);
}

void Bluetooth::connectNow(const Uuid& u, Request req) {
    if (!central) return fail(req, refusal(ManagerState::unsupported));
    std::shared_ptr<Peripheral> peripheral;
    if (const auto it = known.find(u); it != known.end()) {
        peripheral = it->second.peripheral;
    } else {
        const auto found = central->retrievePeripherals({u});
        if (found.empty() || !found.front()) return fail(req, words::notInRange);
        peripheral = found.front();
    }
    Known& device = known[u];
    device.peripheral = peripheral;
    device.heard = queue_.now();
    peripheral->setDelegate(std::weak_ptr<PeripheralDelegate>(weak_.weak()));

    if (peripheral->state() == PeripheralState::connected && linked.contains(u))
        return reply(req, {{"name", connectedName(*peripheral)}});

    if (const auto it = connecting.find(u); it != connecting.end()) {
        const Request older = it->second.req;
        it->second.timer.cancel();
        connecting.erase(it);
        fail(older, words::replaced);
    }
    std::weak_ptr<Bluetooth> weak = weak_.weak();
    Task timer = queue_.after(connectTimeout, [weak, u] {
        if (const auto self = weak.lock()) self->timedOut(u);
    });
    connecting.insert_or_assign(u, Pending{req, std::move(timer)});
    central->connect(peripheral);
}

void Bluetooth::timedOut(const Uuid& u) {
    const auto it = connecting.find(u);
    if (it == connecting.end()) return;
    const Request req = it->second.req;
    connecting.erase(it);
    if (const auto device = known.find(u); device != known.end() && central)
        central->cancelPeripheralConnection(device->second.peripheral);
    fail(req, words::noAnswer);
}

void Bluetooth::didConnect(Central& manager, const std::shared_ptr<Peripheral>& peripheral) {
    if (!peripheral) return;
    const Uuid u = peripheral->identifier();
    const auto it = connecting.find(u);
    if (it == connecting.end()) {
        // Nobody waits for this link any more (time-out, "disconnect", "hello").
        manager.cancelPeripheralConnection(peripheral);
        return;
    }
    const Request req = it->second.req;
    it->second.timer.cancel();
    connecting.erase(it);
    linked.insert(u);
    discovered.erase(u);
    reply(req, {{"name", connectedName(*peripheral)}});
}

void Bluetooth::didFailToConnect(Central&, const std::shared_ptr<Peripheral>& peripheral,
                                 const std::optional<BluetoothError>& error) {
    if (!peripheral) return;
    const auto it = connecting.find(peripheral->identifier());
    if (it == connecting.end()) return;
    const Request req = it->second.req;
    it->second.timer.cancel();
    connecting.erase(it);
    fail(req, error ? failureText(error->kind) : words::couldNotConnect);
}

void Bluetooth::disconnect(std::string_view idText) {
    const auto u = Uuid::parse(idText);
    if (!u || !central) return;
    if (const auto it = connecting.find(*u); it != connecting.end()) {
        const Request req = it->second.req;
        it->second.timer.cancel();
        connecting.erase(it);
        fail(req, words::cancelled);
    }
    if (const auto it = known.find(*u);
        it != known.end() && it->second.peripheral->state() != PeripheralState::disconnected)
        central->cancelPeripheralConnection(it->second.peripheral);
    // At once: the stack's own disconnection callback will then find nothing.
    if (linked.contains(*u)) dropped(*u);
}

void Bluetooth::didDisconnect(Central&, const std::shared_ptr<Peripheral>& peripheral,
                              const std::optional<BluetoothError>&) {
    if (peripheral) dropped(peripheral->identifier());
}

void Bluetooth::dropped(const Uuid& u) {
    // The books are settled first and the answers sent after, in the order
    // the requests are listed here.
    std::vector<Request> answers;
    if (const auto it = connecting.find(u); it != connecting.end()) {
        answers.push_back(it->second.req);
        it->second.timer.cancel();
        connecting.erase(it);
    }
    const bool wasLinked = linked.erase(u) > 0;
    discovered.erase(u);
    charsLeft.erase(u);
    if (const auto it = servicesWaiting.find(u); it != servicesWaiting.end()) {
        answers.insert(answers.end(), it->second.begin(), it->second.end());
        servicesWaiting.erase(it);
    }
    for (Waiting* waiting : {&writesWaiting, &notifyWaiting}) {
        const auto it = waiting->find(u);
        if (it == waiting->end()) continue;
        for (const auto& [characteristic, entry] : it->second)
            answers.insert(answers.end(), entry.reqs.begin(), entry.reqs.end());
        waiting->erase(it);
    }
    if (const auto it = unsent.find(u); it != unsent.end()) {
        for (const Unsent& write : it->second) answers.push_back(write.req);
        unsent.erase(it);
    }
    // The quiet time of a device starts when its link ends.
    if (const auto it = known.find(u); it != known.end()) it->second.heard = queue_.now();
    for (const Request req : answers) fail(req, words::disconnected);
    if (wasLinked) emit({{"t", "disconnected"}, {"id", u.text()}});
}

std::shared_ptr<Peripheral> Bluetooth::linkedPeripheral(std::string_view idText) const {
    const auto u = Uuid::parse(idText);
    if (!u || !linked.contains(*u)) return nullptr;
    const auto it = known.find(*u);
    if (it == known.end() || it->second.peripheral->state() != PeripheralState::connected) return nullptr;
    return it->second.peripheral;
}

std::string Bluetooth::connectedName(const Peripheral& peripheral) const {
    if (auto name = peripheral.name(); name && !name->empty()) return *name;
    const auto it = known.find(peripheral.identifier());
    return it == known.end() ? std::string() : it->second.name;
}

}  // namespace orvane
