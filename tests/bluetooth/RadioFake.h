#pragma once
// The fake Bluetooth world a test drives: the adapter, the devices in range,
// and the channel through which the fake backend calls back. Callbacks never
// run inside a call into the backend: they go to the main queue, or, while
// the radio holds them, wait until the test releases them.

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Central.h"
#include "MainQueue.h"
#include "WeakPtr.h"

namespace orvane {

class CentralFake;
class PeripheralFake;

class RadioFake {
public:
    explicit RadioFake(MainQueue& queue);
    ~RadioFake();
    RadioFake(const RadioFake&) = delete;
    RadioFake& operator=(const RadioFake&) = delete;

    // Makes a CentralFake on this radio; hand it to Bluetooth.
    CentralFactory factory();
    // The central made by the factory, or null.
    CentralFake* central() const { return central_; }

    // A device the stack remembers (retrievePeripherals finds it).
    std::shared_ptr<PeripheralFake> addPeripheral(const std::string& idText,
                                                  std::optional<std::string> name = std::nullopt);
    // A device that is only seen when it advertises.
    std::shared_ptr<PeripheralFake> addStranger(const std::string& idText,
                                                std::optional<std::string> name = std::nullopt);

    // The device leaves for good (a phone that rotated its address): the
    // radio keeps nothing of it.
    void forget(const std::shared_ptr<PeripheralFake>& peripheral);

    // The adapter as the stack sees it; the central learns of it through its
    // delegate, and only then reports it (links end silently when it goes off).
    void setAdapter(ManagerState state);
    ManagerState adapter() const { return adapter_; }

    // One advertisement report, delivered only while the central scans.
    void advertise(const std::shared_ptr<PeripheralFake>& peripheral, AdvertisementData data, int rssi);

    // Holding: callbacks wait in order until released. A callback can be
    // released once no older held callback shares its channel (per device
    // for connections and discovery, per characteristic for confirmations),
    // which keeps the stack's ordering promises.
    void hold(bool holding) { holding_ = holding; }
    std::size_t held() const { return held_.size(); }
    std::vector<std::size_t> releasable() const;
    void release(std::size_t index);
    void releaseAll();

    // Every call into the backend, one line each ("connect <id>", ...).
    std::vector<std::string> takeCalls();
    // Whether calls are logged; benchmarks switch it off.
    bool record = true;
    // Misuse by the caller: a write without response while the device said it
    // could not take one, or a scan while the adapter was not on.
    int misuses = 0;

    // For the fakes.
    void deliver(std::string channel, std::function<void()> callback);
    void log(std::string line) {
        if (record) calls_.push_back(std::move(line));
    }
    void attach(CentralFake* central) { central_ = central; }
    std::shared_ptr<PeripheralFake> remembered(const Uuid& id) const;
    const std::vector<std::shared_ptr<PeripheralFake>>& peripherals() const { return peripherals_; }

private:
    struct Held {
        std::string channel;
        std::function<void()> callback;
    };
    std::function<void()> guarded(std::function<void()> callback) const;

    MainQueue& queue_;
    ManagerState adapter_ = ManagerState::poweredOn;
    CentralFake* central_ = nullptr;
    std::vector<std::shared_ptr<PeripheralFake>> peripherals_;
    std::set<Uuid> rememberedIds_;
    bool holding_ = false;
    std::deque<Held> held_;
    std::vector<std::string> calls_;
    // Last: callbacks scheduled by the radio end with it.
    WeakPtrFactory<RadioFake> weak_{this};
};

}  // namespace orvane
