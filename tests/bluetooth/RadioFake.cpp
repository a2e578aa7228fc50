#include "RadioFake.h"

#include <utility>

#include "CentralFake.h"
#include "PeripheralFake.h"

namespace orvane {

RadioFake::RadioFake(MainQueue& queue) : queue_(queue) {}

RadioFake::~RadioFake() = default;

CentralFactory RadioFake::factory() {
    return [this](std::weak_ptr<CentralDelegate> delegate) {
        return std::make_unique<CentralFake>(*this, std::move(delegate));
    };
}

std::shared_ptr<PeripheralFake> RadioFake::addPeripheral(const std::string& idText, std::optional<std::string> name) {
    auto peripheral = addStranger(idText, std::move(name));
    rememberedIds_.insert(peripheral->identifier());
    return peripheral;
}

void RadioFake::forget(const std::shared_ptr<PeripheralFake>& peripheral) {
    std::erase(peripherals_, peripheral);
    rememberedIds_.erase(peripheral->identifier());
}

std::shared_ptr<PeripheralFake> RadioFake::addStranger(const std::string& idText, std::optional<std::string> name) {
    auto peripheral = std::make_shared<PeripheralFake>(*this, Uuid::parse(idText).value(), std::move(name));
    peripherals_.push_back(peripheral);
    return peripheral;
}

std::shared_ptr<PeripheralFake> RadioFake::remembered(const Uuid& id) const {
    if (!rememberedIds_.contains(id)) return nullptr;
    for (const auto& peripheral : peripherals_)
        if (peripheral->identifier() == id) return peripheral;
    return nullptr;
}

void RadioFake::setAdapter(ManagerState state) {
    adapter_ = state;
    if (!central_) return;  // a central made later reads the state when it starts
    deliver("adapter", [this, state] {
        if (!central_) return;
        if (state != ManagerState::poweredOn)
            for (const auto& peripheral : peripherals_) peripheral->adapterOff();
        central_->report(state);
        if (const auto delegate = central_->delegate()) delegate->didUpdateState(*central_);
    });
}

void RadioFake::advertise(const std::shared_ptr<PeripheralFake>& peripheral, AdvertisementData data, int rssi) {
    if (!central_ || !central_->isScanning()) return;
    deliver("advert", [this, peripheral, data = std::move(data), rssi] {
        if (!central_ || !central_->isScanning()) return;
        if (const auto delegate = central_->delegate()) delegate->didDiscover(*central_, peripheral, data, rssi);
    });
}

std::vector<std::size_t> RadioFake::releasable() const {
    std::vector<std::size_t> heads;
    std::set<std::string> seen;
    for (std::size_t i = 0; i < held_.size(); ++i)
        if (seen.insert(held_[i].channel).second) heads.push_back(i);
    return heads;
}

void RadioFake::release(std::size_t index) {
    auto callback = std::move(held_.at(index).callback);
    held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(index));
    queue_.async(guarded(std::move(callback)));
}

void RadioFake::releaseAll() {
    while (!held_.empty()) release(0);
}

std::vector<std::string> RadioFake::takeCalls() { return std::exchange(calls_, {}); }

void RadioFake::deliver(std::string channel, std::function<void()> callback) {
    if (holding_) {
        held_.push_back({std::move(channel), std::move(callback)});
        return;
    }
    queue_.async(guarded(std::move(callback)));
}

std::function<void()> RadioFake::guarded(std::function<void()> callback) const {
    return [alive = weak_.weak(), callback = std::move(callback)] {
        if (!alive.expired()) callback();
    };
}

}  // namespace orvane
