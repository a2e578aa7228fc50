// The bridge's core: dispatch, replies, "hello", scan control and the adapter
// state with its deferred actions.

#include "Bluetooth.h"

#include <utility>

#include "AdapterWords.h"
#include "MessageFields.h"

namespace orvane {

using nlohmann::json;

Bluetooth::Bluetooth(MainQueue& queue, CentralFactory makeCentral)
    : queue_(queue), makeCentral_(std::move(makeCentral)) {}

Bluetooth::~Bluetooth() {
    // The time-outs would find nothing anyway; this only frees the queue early.
    for (auto& [device, pending] : connecting) pending.timer.cancel();
}

void Bluetooth::handle(const json& message) {
    if (!message.is_object()) return;
    const auto reqMember = message.find("req");
    const Request req = reqMember == message.end() ? 0 : integerValue(*reqMember);
    const std::string_view idText = textField(message, "id");
    const std::string_view type = textField(message, "t");

    if (type == "hello") reset();
    else if (type == "scan") scan(message);
    else if (type == "connect") connect(idText, req);
    else if (type == "disconnect") disconnect(idText);
    else if (type == "services") services(idText, req);
    else if (type == "write") write(message, req);
    else if (type == "notify") notify(message, req);
}

void Bluetooth::reply(Request req, json fields) {
    if (!send) return;
    if (!fields.is_object()) fields = json::object();
    fields["t"] = "res";
    fields["req"] = req;
    fields["ok"] = true;
    send(fields);
}

void Bluetooth::fail(Request req, std::string_view error) {
    if (!send) return;
    send(json{{"t", "res"}, {"req", req}, {"ok", false}, {"error", error}});
}

void Bluetooth::emit(const json& event) {
    if (send) send(event);
}

void Bluetooth::reset() {
    wantScan = false;
    if (central) {
        if (central->isScanning()) central->stopScan();
        for (auto& [device, pending] : connecting) {
            pending.timer.cancel();
            if (const auto it = known.find(device); it != known.end())
                central->cancelPeripheralConnection(it->second.peripheral);
        }
        for (const Uuid& device : linked)
            if (const auto it = known.find(device); it != known.end())
                central->cancelPeripheralConnection(it->second.peripheral);
    }
    // Emptied before the event goes out, so that nothing sent from here can
    // meet half-cleared books. Nothing pending is answered.
    connecting.clear();
    linked.clear();
    discovered.clear();
    servicesWaiting.clear();
    charsLeft.clear();
    writesWaiting.clear();
    notifyWaiting.clear();
    unsent.clear();
    whenOn.clear();
    if (central) emit({{"t", "state"}, {"state", stateWord(central->state())}});
}

Central* Bluetooth::ensureCentral() {
    if (!central && makeCentral_) central = makeCentral_(std::weak_ptr<CentralDelegate>(weak_.weak()));
    return central.get();
}

void Bluetooth::scan(const json& message) {
    wantScan = flagField(message, "on");
    Central* manager = ensureCentral();
    if (!manager) return;
    if (wantScan) startScanIfWanted();
    else if (manager->isScanning()) manager->stopScan();
}

void Bluetooth::startScanIfWanted() {
    if (!wantScan || !central) return;
    if (central->state() == ManagerState::poweredOn && !central->isScanning())
        central->scanForPeripherals({.allowDuplicates = true});  // every report, not one per device
}

void Bluetooth::didUpdateState(Central& manager) {
    const ManagerState state = manager.state();
    emit({{"t", "state"}, {"state", stateWord(state)}});
    if (state == ManagerState::poweredOn) {
        auto deferred = std::exchange(whenOn, {});
        for (auto& action : deferred) action.ok();
        startScanIfWanted();
        return;
    }
    // Unknown and resetting will still settle, so deferred actions keep waiting.
    if (state != ManagerState::unknown && state != ManagerState::resetting) {
        auto deferred = std::exchange(whenOn, {});
        for (auto& action : deferred) action.refused(refusal(state, manager.absence()));
    }
    // No link survives the adapter leaving the on state, whatever it reads now,
    // and the stack reports no disconnection for them: everything waiting on
    // them is answered here, or it would wait for ever.
    std::set<Uuid> lost(linked);
    for (const auto& [device, pending] : connecting) lost.insert(device);
    for (const Uuid& device : lost) dropped(device);
}

bool Bluetooth::invariantsHold() const {
    for (const auto& [device, pending] : connecting)
        if (!known.contains(device)) return false;
    for (const Uuid& device : linked)
        if (!known.contains(device)) return false;
    return true;
}

}  // namespace orvane
