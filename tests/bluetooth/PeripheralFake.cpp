#include "PeripheralFake.h"

#include <cstdint>

#include "CentralFake.h"
#include "RadioFake.h"

namespace orvane {

std::shared_ptr<Service> CharacteristicFake::service() const { return detached_ ? nullptr : service_.lock(); }

void ServiceFake::discover() {
    found_.assign(table_.begin(), table_.end());
    for (const auto& characteristic : table_) characteristic->attach();
}

void ServiceFake::removeCharacteristic(const std::shared_ptr<CharacteristicFake>& characteristic) {
    std::erase(found_, std::static_pointer_cast<Characteristic>(characteristic));
}

void PeripheralFake::removeService(const std::shared_ptr<ServiceFake>& service) {
    for (const auto& characteristic : service->table()) characteristic->detach();
    std::erase(found_, std::static_pointer_cast<Service>(service));
}

std::shared_ptr<CharacteristicFake> ServiceFake::addCharacteristic(const std::string& uuid, std::uint32_t properties) {
    auto characteristic =
        std::make_shared<CharacteristicFake>(GattUuid::parse(uuid).value(), properties, weak_from_this());
    table_.push_back(characteristic);
    return characteristic;
}

std::shared_ptr<ServiceFake> PeripheralFake::addService(const std::string& uuid) {
    auto service = std::make_shared<ServiceFake>(GattUuid::parse(uuid).value());
    table_.push_back(service);
    return service;
}

void PeripheralFake::discoverServices() {
    radio_.log("discoverServices " + id_.text());
    const auto error = scripted(Operation::discoverServices);
    answer("gatt|" + id_.text(), [this, error](PeripheralDelegate& delegate) {
        if (!error) found_.assign(table_.begin(), table_.end());
        delegate.didDiscoverServices(*this, error);
    });
}

void PeripheralFake::discoverCharacteristics(const std::shared_ptr<Service>& service) {
    radio_.log("discoverCharacteristics " + id_.text() + " " + service->uuid().string());
    const auto error = scripted(Operation::discoverCharacteristics);
    auto fake = std::static_pointer_cast<ServiceFake>(service);
    answer("gatt|" + id_.text(), [this, fake, error](PeripheralDelegate& delegate) {
        if (!error) fake->discover();
        delegate.didDiscoverCharacteristics(*this, *fake, error);
    });
}

void PeripheralFake::writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic,
                                WriteType type) {
    const bool withResponse = type == WriteType::withResponse;
    if (radio_.record)
        radio_.log("write " + characteristic->uuid().string() + " " + hex(value) +
                   (withResponse ? " with" : " without"));
    if (withResponse) {
        const auto error = scripted(Operation::write);
        answer(channel("write", *characteristic), [this, characteristic, error](PeripheralDelegate& delegate) {
            delegate.didWriteValue(*this, *characteristic, error);
        });
        return;
    }
    if (!canSendWriteWithoutResponse()) ++radio_.misuses;
    if (credits_ && *credits_ > 0) --*credits_;
}

void PeripheralFake::setNotifyValue(bool enabled, const std::shared_ptr<Characteristic>& characteristic) {
    radio_.log("notify " + characteristic->uuid().string() + (enabled ? " on" : " off"));
    const auto error = scripted(Operation::notify);
    auto fake = std::static_pointer_cast<CharacteristicFake>(characteristic);
    answer(channel("notify", *characteristic), [this, fake, enabled, error](PeripheralDelegate& delegate) {
        if (!error) fake->notifying = enabled;
        delegate.didUpdateNotificationState(*this, *fake, error);
    });
}

void PeripheralFake::finishConnect() {
    toCentral([this, self = shared_from_this()](CentralFake& central, CentralDelegate& delegate) {
        if (!attempt_) return;  // cancelled, or the adapter went off
        attempt_ = false;
        state_ = PeripheralState::connected;
        ++link_;
        delegate.didConnect(central, self);
    });
}

void PeripheralFake::failConnect(std::optional<BluetoothError> error) {
    toCentral(
        [this, self = shared_from_this(), error = std::move(error)](CentralFake& central, CentralDelegate& delegate) {
            if (!attempt_) return;
            attempt_ = false;
            state_ = PeripheralState::disconnected;
            delegate.didFailToConnect(central, self, error);
        });
}

void PeripheralFake::loseLink(std::optional<BluetoothError> error) {
    if (state_ != PeripheralState::connected) return;
    endLink();
    state_ = PeripheralState::disconnected;
    toCentral([self = shared_from_this(), error = std::move(error)](CentralFake& central, CentralDelegate& delegate) {
        delegate.didDisconnect(central, self, error);
    });
}

void PeripheralFake::failNext(Operation operation, BluetoothFailure kind, std::string detail) {
    scripts_[operation].push_back(BluetoothError{kind, std::move(detail)});
}

std::size_t PeripheralFake::unusedScripts() const {
    std::size_t count = 0;
    for (const auto& [operation, outcomes] : scripts_) count += outcomes.size();
    return count;
}

void PeripheralFake::ready(int count) {
    credits_ = count;
    answer("ready|" + id_.text(),
           [this](PeripheralDelegate& delegate) { delegate.isReadyToSendWriteWithoutResponse(*this); });
}

void PeripheralFake::receive(const std::shared_ptr<CharacteristicFake>& characteristic, Bytes value,
                             std::optional<BluetoothError> error) {
    // Not tied to the link, so that a test can show what the bridge ignores.
    radio_.deliver("value|" + id_.text(),
                   [weak = weak_from_this(), characteristic, value = std::move(value), error = std::move(error)] {
                       const auto self = weak.lock();
                       if (!self) return;
                       characteristic->setValue(value);
                       if (const auto delegate = self->delegate_.lock())
                           delegate->didUpdateValue(*self, *characteristic, error);
                   });
}

void PeripheralFake::startConnect() {
    if (state_ == PeripheralState::connected) {
        // Already up (made by an earlier attempt): the stack reports it again.
        toCentral([this, self = shared_from_this()](CentralFake& central, CentralDelegate& delegate) {
            if (state_ == PeripheralState::connected) delegate.didConnect(central, self);
        });
        return;
    }
    state_ = PeripheralState::connecting;
    attempt_ = true;
    if (connectOutcome == Outcome::succeed) finishConnect();
    else if (connectOutcome == Outcome::fail) failConnect(std::nullopt);
}

void PeripheralFake::cancel() {
    if (state_ == PeripheralState::disconnected || state_ == PeripheralState::disconnecting) return;
    attempt_ = false;
    endLink();
    state_ = PeripheralState::disconnecting;
    toCentral([this, self = shared_from_this()](CentralFake& central, CentralDelegate& delegate) {
        if (state_ == PeripheralState::disconnecting) state_ = PeripheralState::disconnected;
        delegate.didDisconnect(central, self, std::nullopt);
    });
}

void PeripheralFake::adapterOff() {
    attempt_ = false;
    if (state_ == PeripheralState::disconnected) return;
    endLink();
    state_ = PeripheralState::disconnected;
}

std::optional<BluetoothError> PeripheralFake::scripted(Operation operation) {
    auto& outcomes = scripts_[operation];
    if (outcomes.empty()) return std::nullopt;
    auto outcome = std::move(outcomes.front());
    outcomes.pop_front();
    return outcome;
}

void PeripheralFake::endLink() {
    ++link_;
    found_.clear();
    for (const auto& service : table_) service->forget();
}

std::string PeripheralFake::channel(const char* kind, const Characteristic& characteristic) const {
    return std::string(kind) + "|" + id_.text() + "|" +
           std::to_string(reinterpret_cast<std::uintptr_t>(&characteristic));
}

void PeripheralFake::answer(std::string channelName, std::function<void(PeripheralDelegate&)> callback) {
    radio_.deliver(std::move(channelName), [weak = weak_from_this(), link = link_, callback = std::move(callback)] {
        const auto self = weak.lock();
        if (!self || self->link_ != link) return;  // owed on a link that has ended
        if (const auto delegate = self->delegate_.lock()) callback(*delegate);
    });
}

void PeripheralFake::toCentral(std::function<void(CentralFake&, CentralDelegate&)> callback) {
    radio_.deliver("link|" + id_.text(), [&radio = radio_, callback = std::move(callback)] {
        CentralFake* central = radio.central();
        if (!central) return;
        if (const auto delegate = central->delegate()) callback(*central, *delegate);
    });
}

}  // namespace orvane
