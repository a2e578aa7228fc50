#pragma once
// A remote Bluetooth LE device and its GATT table, as a central sees them.
//
// Contract for every backend (the bridge relies on all of it):
// - Objects have identity: the central hands out one shared Peripheral per
//   device and the same Service and Characteristic objects for as long as the
//   device's table is unchanged; the bridge keeps and compares the pointers.
// - Operations never call back from inside the call. Every delegate callback
//   arrives later, on the main queue, one at a time.
// - Each discovery call is answered by one discovery callback (per service for
//   characteristics). Each write with response and each notification change is
//   confirmed once, in call order per characteristic.
// - When the link ends (lost, cancelled, or the adapter going off), operations
//   still in flight on it are never called back.
// - The ready callback follows whenever canSendWriteWithoutResponse() turns
//   true again after having been false.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BluetoothError.h"
#include "Bytes.h"
#include "GattUuid.h"
#include "Uuid.h"

namespace orvane {

class Service;
class PeripheralDelegate;

// Only connected and disconnected are tested by the bridge.
enum class PeripheralState : int { disconnected = 0, connecting = 1, connected = 2, disconnecting = 3 };

enum class WriteType : int { withResponse = 0, withoutResponse = 1 };

// The Characteristic Properties field of the Bluetooth Core Specification.
enum class CharacteristicProperty : std::uint32_t {
    broadcast = 0x01,
    read = 0x02,
    writeWithoutResponse = 0x04,
    write = 0x08,
    notify = 0x10,
    indicate = 0x20,
    authenticatedSignedWrites = 0x40,
    extendedProperties = 0x80,
};

class Characteristic {
public:
    virtual ~Characteristic() = default;
    virtual GattUuid uuid() const = 0;
    // CharacteristicProperty bits; bits above them are the backend's own.
    virtual std::uint32_t properties() const = 0;
    // The owning service, or null once the stack no longer links the two.
    virtual std::shared_ptr<Service> service() const = 0;
    // The last value read or notified; nothing before the first one.
    virtual std::optional<Bytes> value() const = 0;
};

class Service {
public:
    virtual ~Service() = default;
    virtual GattUuid uuid() const = 0;
    // Empty until discoverCharacteristics() has called back for this service.
    // The reference stays valid until control returns to the main loop.
    virtual const std::vector<std::shared_ptr<Characteristic>>& characteristics() const = 0;
};

class Peripheral {
public:
    virtual ~Peripheral() = default;

    // Stable for the device, also across restarts of the program, so that
    // Central::retrievePeripherals() finds it by this value (a stack that
    // names devices by address derives it from the adapter and device address).
    virtual Uuid identifier() const = 0;
    // The device's name when the stack knows one.
    virtual std::optional<std::string> name() const = 0;
    virtual PeripheralState state() const = 0;
    // Held weakly: callbacks stop once the delegate is gone.
    virtual void setDelegate(std::weak_ptr<PeripheralDelegate> delegate) = 0;

    // Empty until discoverServices() has called back; in a stable order.
    // The reference stays valid until control returns to the main loop.
    virtual const std::vector<std::shared_ptr<Service>>& services() const = 0;
    // All services of the device, then didDiscoverServices.
    virtual void discoverServices() = 0;
    // All characteristics of the service, then didDiscoverCharacteristics.
    virtual void discoverCharacteristics(const std::shared_ptr<Service>& service) = 0;

    // With response: didWriteValue follows. Without response: nothing follows;
    // call only while canSendWriteWithoutResponse() is true.
    virtual void writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic,
                            WriteType type) = 0;
    virtual bool canSendWriteWithoutResponse() const = 0;
    // Notifications (or indications) on or off; didUpdateNotificationState follows.
    virtual void setNotifyValue(bool enabled, const std::shared_ptr<Characteristic>& characteristic) = 0;
};

class PeripheralDelegate {
public:
    virtual ~PeripheralDelegate() = default;

    virtual void didDiscoverServices(Peripheral& peripheral, const std::optional<BluetoothError>& error) = 0;
    virtual void didDiscoverCharacteristics(Peripheral& peripheral, Service& service,
                                            const std::optional<BluetoothError>& error) = 0;
    virtual void isReadyToSendWriteWithoutResponse(Peripheral& peripheral) = 0;
    virtual void didWriteValue(Peripheral& peripheral, Characteristic& characteristic,
                               const std::optional<BluetoothError>& error) = 0;
    virtual void didUpdateNotificationState(Peripheral& peripheral, Characteristic& characteristic,
                                            const std::optional<BluetoothError>& error) = 0;
    // A notification or indication arrived; the new bytes are characteristic.value().
    virtual void didUpdateValue(Peripheral& peripheral, Characteristic& characteristic,
                                const std::optional<BluetoothError>& error) = 0;
};

}  // namespace orvane
