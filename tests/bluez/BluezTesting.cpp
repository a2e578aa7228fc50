#include "BluezTesting.h"

#include <algorithm>

#include "Bytes.h"
#include "DeviceIdentifier.h"

namespace orvane::test {

std::string stateName(ManagerState state) {
    switch (state) {
    case ManagerState::unknown: return "unknown";
    case ManagerState::resetting: return "resetting";
    case ManagerState::unsupported: return "unsupported";
    case ManagerState::unauthorized: return "unauthorized";
    case ManagerState::poweredOff: return "poweredOff";
    case ManagerState::poweredOn: return "poweredOn";
    }
    return "?";
}

std::string shortName(const GattUuid& uuid) {
    const std::string& text = uuid.string();
    // 128-bit ones by their first group's last four digits: "00010203-…-2b11" -> "2B11".
    return text.size() == 36 ? text.substr(32) : text;
}

namespace {

std::string outcome(const std::optional<BluetoothError>& error) { return error ? error->detail : "ok"; }

}  // namespace

void Recorder::record(std::string line) {
    if (inCall) {
        ++callbacksInsideCalls;
        ADD_FAILURE() << "callback from inside a call: " << line;
    }
    events.push_back(std::move(line));
}

std::size_t Recorder::count(const std::string& line) const {
    return static_cast<std::size_t>(std::count(events.begin(), events.end(), line));
}

void Recorder::didUpdateState(Central& manager) {
    states.push_back(manager.state());
    record("state " + stateName(manager.state()));
}

void Recorder::didDiscover(Central&, const std::shared_ptr<Peripheral>& peripheral,
                           const AdvertisementData& advertisement, int rssi) {
    if (inCall) record("discover");
    Seen& s = seen[peripheral->identifier()];
    s.peripheral = peripheral;
    ++s.reports;
    s.advertisement = advertisement;
    s.rssi = rssi;
}

void Recorder::didConnect(Central&, const std::shared_ptr<Peripheral>&) { record("connect"); }

void Recorder::didFailToConnect(Central&, const std::shared_ptr<Peripheral>&,
                                const std::optional<BluetoothError>& error) {
    record("fail " + outcome(error));
}

void Recorder::didDisconnect(Central&, const std::shared_ptr<Peripheral>&, const std::optional<BluetoothError>& error) {
    record("disconnect " + outcome(error));
}

void Recorder::didDiscoverServices(Peripheral&, const std::optional<BluetoothError>& error) {
    record("services " + outcome(error));
}

void Recorder::didDiscoverCharacteristics(Peripheral&, Service& service, const std::optional<BluetoothError>& error) {
    record("characteristics " + shortName(service.uuid()) + " " + outcome(error));
}

void Recorder::isReadyToSendWriteWithoutResponse(Peripheral&) {
    record("ready");
    if (onReady) onReady();
}

void Recorder::didWriteValue(Peripheral&, Characteristic& characteristic, const std::optional<BluetoothError>& error) {
    record("write " + shortName(characteristic.uuid()) + " " + outcome(error));
    if (onReady) onReady();
}

void Recorder::didUpdateNotificationState(Peripheral&, Characteristic& characteristic,
                                          const std::optional<BluetoothError>& error) {
    record("notify " + shortName(characteristic.uuid()) + " " + outcome(error));
}

void Recorder::didUpdateValue(Peripheral&, Characteristic& characteristic, const std::optional<BluetoothError>& error) {
    record("value " + shortName(characteristic.uuid()) + " " +
           (error ? error->detail : hex(characteristic.value().value_or(Bytes{}))));
}

BluezTest::BluezTest(std::vector<std::string> simArgs, const std::string& busPolicy)
    : bus(busPolicy), sim(bus, std::move(simArgs)) {
    settings.busAddress = bus.address();
    settings.restartGrace = 1;
    settings.discoveryTimeout = 3;
    settings.gattWait = 1;
    settings.connectRetryDelay = 0.3;
    settings.gattSettle = 0.1;
}

void BluezTest::TearDown() {
    central.reset();
    // Cancelled calls still come back once to free what they carried: their
    // answers are queued when they are cancelled.
    drainQueue();
    drainQueue();
    EXPECT_EQ(recorder->callbacksInsideCalls, 0);
}

void BluezTest::makeCentral() { central = std::make_unique<CentralBluez>(queue, recorder, options()); }

void BluezTest::afterPendingSignals(CentralBluez* backend) {
    if (!backend) backend = central.get();
    for (int round = 0; round < 2; ++round) {
        if (backend && backend->connection())
            callAsync(backend->connection(), "org.orvane.BluezSim", "/org/orvane/sim", "org.orvane.BluezSim", "Sync");
        drainQueue();
    }
}

void BluezTest::drainQueue() {
    bool ran = false;
    queue.async([&ran] { ran = true; });
    if (!spinUntil([&] { return ran; })) ADD_FAILURE() << "the main queue never ran";
}

bool BluezTest::waitForEvent(const std::string& line, std::size_t times, double seconds) {
    return waitFor([&] { return recorder->count(line) >= times; }, seconds);
}

bool BluezTest::waitForState(ManagerState state, double seconds) {
    return waitFor([&] { return !recorder->states.empty() && recorder->states.back() == state; }, seconds);
}

Uuid BluezTest::idOf(const char* address) { return deviceIdentifier(BluezSimProcess::ADAPTER_ADDRESS, address); }

std::shared_ptr<Peripheral> BluezTest::find(const char* address) {
    if (!central) makeCentral();
    if (!waitForState(ManagerState::poweredOn)) {
        ADD_FAILURE() << "the adapter never came on";
        return nullptr;
    }
    const Uuid id = idOf(address);
    call([&] { central->scanForPeripherals({.allowDuplicates = true}); });
    const bool found = waitFor([&] { return recorder->seen.contains(id); });
    call([&] { central->stopScan(); });
    if (!found) {
        ADD_FAILURE() << "never saw " << address;
        return nullptr;
    }
    return recorder->seen[id].peripheral;
}

std::shared_ptr<Peripheral> BluezTest::connected(const char* address) {
    auto peripheral = find(address);
    if (!peripheral) return nullptr;
    peripheral->setDelegate(recorder);
    const std::size_t before = recorder->count("connect");
    call([&] { central->connect(peripheral); });
    if (!waitForEvent("connect", before + 1)) ADD_FAILURE() << "no connection to " << address;
    return peripheral;
}

void BluezTest::discoverAll(const std::shared_ptr<Peripheral>& peripheral) {
    const std::size_t before = recorder->count("services ok");
    call([&] { peripheral->discoverServices(); });
    ASSERT_TRUE(waitForEvent("services ok", before + 1));
    for (const auto& service : peripheral->services()) {
        const std::string line = "characteristics " + shortName(service->uuid()) + " ok";
        const std::size_t had = recorder->count(line);
        call([&] { peripheral->discoverCharacteristics(service); });
        ASSERT_TRUE(waitForEvent(line, had + 1));
    }
}

std::shared_ptr<Characteristic> BluezTest::characteristic(const std::shared_ptr<Peripheral>& peripheral,
                                                          const std::string& uuid) {
    const auto wanted = GattUuid::parse(uuid);
    for (const auto& service : peripheral->services())
        for (const auto& c : service->characteristics())
            if (wanted && c->uuid() == *wanted) return c;
    ADD_FAILURE() << "no characteristic " << uuid;
    return nullptr;
}

}  // namespace orvane::test
