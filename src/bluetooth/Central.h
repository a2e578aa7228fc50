#pragma once
// The Bluetooth LE central role: the adapter, scanning and connections.
//
// Contract for every backend, on top of the one in Peripheral.h:
// - The central is made by a CentralFactory on the main thread. Its delegate
//   is told didUpdateState soon after creation and after every change of
//   state(); state() may read unknown until that first callback.
// - Scanning stops by itself (isScanning() false) when state() leaves
//   poweredOn; the bridge starts it again. didDiscover comes only while scanning.
// - Callbacks arrive on the main queue, one at a time, never from inside a
//   call into the central, and never after the central has been destroyed.
// - A connection attempt ends in one didConnect or one didFailToConnect unless
//   it is cancelled; a lost or cancelled connection (also a cancelled attempt)
//   ends in one didDisconnect. When state() leaves poweredOn (whatever it
//   becomes), every link and attempt ends without a callback of its own: the
//   delegate learns it from didUpdateState.
// - The same device is always the same Peripheral object.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BluetoothError.h"
#include "GattUuid.h"
#include "Peripheral.h"
#include "Uuid.h"

namespace orvane {

class CentralDelegate;

enum class ManagerState : int {
    unknown = 0,
    resetting = 1,
    unsupported = 2,
    unauthorized = 3,
    poweredOff = 4,
    poweredOn = 5,
};

// Why the state reads unsupported: no usable adapter, or no Bluetooth
// service to ask (which a user can start).
enum class Absence : int { noAdapter, noService };

// What one advertisement report carries that the bridge uses.
struct AdvertisementData {
    std::optional<std::string> localName;
    std::vector<GattUuid> serviceUuids;
    // Service UUIDs the device could not fit into its advertising packet.
    std::vector<GattUuid> overflowServiceUuids;
};

// The RSSI value that means the stack has no reading.
inline constexpr int rssiUnavailable = 127;

struct ScanOptions {
    // Report every advertisement, not only the first one per device.
    bool allowDuplicates = false;
};

class Central {
public:
    virtual ~Central() = default;

    virtual ManagerState state() const = 0;
    // Meaningful while state() is unsupported.
    virtual Absence absence() const { return Absence::noAdapter; }
    virtual bool isScanning() const = 0;
    // Scans for every advertising device, without a service filter.
    virtual void scanForPeripherals(const ScanOptions& options) = 0;
    virtual void stopScan() = 0;
    // The devices the stack remembers among these ids, also when they are not
    // advertising; possibly none.
    virtual std::vector<std::shared_ptr<Peripheral>> retrievePeripherals(const std::vector<Uuid>& identifiers) = 0;
    // No time-out of its own: the attempt runs until it ends or is cancelled.
    virtual void connect(const std::shared_ptr<Peripheral>& peripheral) = 0;
    // Ends a link or a pending attempt; didDisconnect follows.
    virtual void cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) = 0;
};

class CentralDelegate {
public:
    virtual ~CentralDelegate() = default;

    virtual void didUpdateState(Central& manager) = 0;
    // rssi is in dBm, or rssiUnavailable.
    virtual void didDiscover(Central& manager, const std::shared_ptr<Peripheral>& peripheral,
                             const AdvertisementData& advertisement, int rssi) = 0;
    virtual void didConnect(Central& manager, const std::shared_ptr<Peripheral>& peripheral) = 0;
    virtual void didFailToConnect(Central& manager, const std::shared_ptr<Peripheral>& peripheral,
                                  const std::optional<BluetoothError>& error) = 0;
    virtual void didDisconnect(Central& manager, const std::shared_ptr<Peripheral>& peripheral,
                               const std::optional<BluetoothError>& error) = 0;
};

// Makes the central for a delegate, which it holds weakly. The product passes
// the BlueZ backend; tests pass a fake.
using CentralFactory = std::function<std::unique_ptr<Central>(std::weak_ptr<CentralDelegate> delegate)>;

}  // namespace orvane
