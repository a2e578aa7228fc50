#pragma once
// A fake remote device with a scriptable GATT table. Operations are logged on
// the radio and answered through it, never from inside the call; an
// operation's outcome can be scripted to fail; a link that ends drops the
// answers still owed on it.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Peripheral.h"

namespace orvane {

class CentralDelegate;
class CentralFake;
class RadioFake;
class ServiceFake;

class CharacteristicFake final : public Characteristic {
public:
    CharacteristicFake(GattUuid uuid, std::uint32_t properties, std::weak_ptr<ServiceFake> service)
        : uuid_(std::move(uuid)), properties_(properties), service_(std::move(service)) {}

    GattUuid uuid() const override { return uuid_; }
    std::uint32_t properties() const override { return properties_; }
    std::shared_ptr<Service> service() const override;
    std::optional<Bytes> value() const override { return value_; }

    // The stack no longer links this characteristic to its service (its
    // service object was removed); a later discovery links them again.
    void detach() { detached_ = true; }
    void attach() { detached_ = false; }
    void setValue(std::optional<Bytes> value) { value_ = std::move(value); }
    bool notifying = false;

private:
    GattUuid uuid_;
    std::uint32_t properties_;
    std::weak_ptr<ServiceFake> service_;
    bool detached_ = false;
    std::optional<Bytes> value_;
};

class ServiceFake final : public Service, public std::enable_shared_from_this<ServiceFake> {
public:
    explicit ServiceFake(GattUuid uuid) : uuid_(std::move(uuid)) {}

    GattUuid uuid() const override { return uuid_; }
    const std::vector<std::shared_ptr<Characteristic>>& characteristics() const override { return found_; }
    const std::vector<std::shared_ptr<CharacteristicFake>>& table() const { return table_; }

    // Part of the device's table; the stack lists it after discovery.
    std::shared_ptr<CharacteristicFake> addCharacteristic(const std::string& uuid, std::uint32_t properties);

    // The stack removes the characteristic's object (the device's table
    // changed); what was asked of it is still answered.
    void removeCharacteristic(const std::shared_ptr<CharacteristicFake>& characteristic);

    // For the peripheral.
    void discover();
    void forget() { found_.clear(); }

private:
    GattUuid uuid_;
    std::vector<std::shared_ptr<CharacteristicFake>> table_;
    std::vector<std::shared_ptr<Characteristic>> found_;
};

class PeripheralFake final : public Peripheral, public std::enable_shared_from_this<PeripheralFake> {
public:
    enum class Operation { discoverServices, discoverCharacteristics, write, notify };
    enum class Outcome { succeed, fail, hang };

    PeripheralFake(RadioFake& radio, Uuid id, std::optional<std::string> name)
        : radio_(radio), id_(id), name_(std::move(name)) {}

    Uuid identifier() const override { return id_; }
    std::optional<std::string> name() const override { return name_; }
    PeripheralState state() const override { return state_; }
    void setDelegate(std::weak_ptr<PeripheralDelegate> delegate) override { delegate_ = std::move(delegate); }
    const std::vector<std::shared_ptr<Service>>& services() const override { return found_; }
    void discoverServices() override;
    void discoverCharacteristics(const std::shared_ptr<Service>& service) override;
    void writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic, WriteType type) override;
    bool canSendWriteWithoutResponse() const override { return !credits_ || *credits_ > 0; }
    void setNotifyValue(bool enabled, const std::shared_ptr<Characteristic>& characteristic) override;

    // The device's GATT table.
    std::shared_ptr<ServiceFake> addService(const std::string& uuid);
    // The stack removes the service's object, before or after those of its
    // characteristics: they lose their service. A later discovery finds it again.
    void removeService(const std::shared_ptr<ServiceFake>& service);
    const std::vector<std::shared_ptr<ServiceFake>>& table() const { return table_; }
    void setName(std::optional<std::string> name) { name_ = std::move(name); }

    // How the next connection attempts end by themselves; with hang the test
    // ends them with finishConnect() or failConnect().
    Outcome connectOutcome = Outcome::succeed;
    void finishConnect();
    void failConnect(std::optional<BluetoothError> error);
    // The link goes down by itself (out of range, switched off).
    void loseLink(std::optional<BluetoothError> error = BluetoothError{BluetoothFailure::linkLost,
                                                                       "The connection has timed out unexpectedly."});

    // The next call of `operation` fails with this kind and the stack's own
    // words; scripts are used in order.
    void failNext(Operation operation, BluetoothFailure kind, std::string detail = "stack words");
    std::size_t unusedScripts() const;

    // Writes without response: after `count` more the device says it cannot
    // take one until ready(). Without a limit it always can.
    void limitWrites(std::optional<int> count) { credits_ = count; }
    // The device can take `count` more writes without response; the ready
    // callback follows.
    void ready(int count);

    // A notification from the device.
    void receive(const std::shared_ptr<CharacteristicFake>& characteristic, Bytes value,
                 std::optional<BluetoothError> error = std::nullopt);

    // For the central.
    void startConnect();
    void cancel();
    // The adapter went off: every link and attempt ends without a callback.
    void adapterOff();

private:
    std::optional<BluetoothError> scripted(Operation operation);
    void endLink();
    std::string channel(const char* kind, const Characteristic& characteristic) const;
    // Posts a callback that is dropped if the current link ends first.
    void answer(std::string channel, std::function<void(PeripheralDelegate&)> callback);
    void toCentral(std::function<void(CentralFake&, CentralDelegate&)> callback);

    RadioFake& radio_;
    Uuid id_;
    std::optional<std::string> name_;
    PeripheralState state_ = PeripheralState::disconnected;
    bool attempt_ = false;  // a connection attempt is under way
    unsigned link_ = 0;     // counts links, so that answers owed on an old one are dropped
    std::weak_ptr<PeripheralDelegate> delegate_;
    std::vector<std::shared_ptr<ServiceFake>> table_;
    std::vector<std::shared_ptr<Service>> found_;
    std::map<Operation, std::deque<std::optional<BluetoothError>>> scripts_;
    std::optional<int> credits_;
};

}  // namespace orvane
