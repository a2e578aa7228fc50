#pragma once
// The Bluetooth LE central on BlueZ (org.bluez over D-Bus, GDBus on the GLib
// main loop), behind the Central interface.
//
// It keeps a copy of BlueZ's object tree (GetManagedObjects, then the object
// manager's and properties' signals) on a bus connection of its own, so that
// BlueZ drops its discovery and notify sessions when the central goes. State:
// unknown until the first answer; no org.bluez or no adapter: unsupported
// (absence() tells which); a refused call: unauthorized; otherwise the
// adapter's Powered. A change of adapter, or bluetoothd going away and coming
// back, goes through resetting, which lasts until the adapter is back or the
// grace period ends.

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "BluezError.h"
#include "BluezObjects.h"
#include "Central.h"
#include "GRef.h"
#include "MainQueue.h"
#include "WeakPtr.h"

namespace orvane {

class PeripheralBluez;

struct BluezOptions {
    // D-Bus address of the bus BlueZ is on; empty: the system bus
    // ($DBUS_SYSTEM_BUS_ADDRESS when it is set, as GLib reads it).
    std::string busAddress;
    // How long bluetoothd may be away (a restart) before the state says unsupported.
    double restartGrace = 5;
    // Pause before trying again a connection that BlueZ aborted
    // ("le-connection-abort-by-local", common with radio trouble).
    double connectRetryDelay = 0.1;
    // How long GATT discovery of a device may take.
    double discoveryTimeout = 30;
    // When BlueZ says the services are resolved before it has exported their
    // objects: how long to wait for the first one, and for more after the last.
    double gattWait = 2;
    double gattSettle = 0.25;
};

class CentralBluez final : public Central {
public:
    CentralBluez(MainQueue& queue, std::weak_ptr<CentralDelegate> delegate, BluezOptions options = {});
    ~CentralBluez() override;
    CentralBluez(const CentralBluez&) = delete;
    CentralBluez& operator=(const CentralBluez&) = delete;

    ManagerState state() const override { return state_; }
    // No org.bluez on the bus (or no bus) is a service that is not running;
    // otherwise the adapter is missing.
    Absence absence() const override { return busFailed_ || !owner_ ? Absence::noService : Absence::noAdapter; }
    bool isScanning() const override { return scanning_; }
    void scanForPeripherals(const ScanOptions& options) override;
    void stopScan() override;
    std::vector<std::shared_ptr<Peripheral>> retrievePeripherals(const std::vector<Uuid>& identifiers) override;
    void connect(const std::shared_ptr<Peripheral>& peripheral) override;
    void cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) override;

    // For its peripherals.
    MainQueue& queue() const { return queue_; }
    const BluezOptions& options() const { return options_; }
    GDBusConnection* connection() const { return connection_.get(); }
    const BluezObjects& objects() const { return objects_; }
    bool poweredOn() const { return state_ == ManagerState::poweredOn; }
    // How often the state has left poweredOn: what the links of then ended with.
    std::uint64_t timesOff() const { return timesOff_; }
    // Devices handed out and still held, and device objects of the adapter.
    std::size_t peripheralCount() const { return peripherals_.size(); }
    std::size_t deviceObjectCount() const { return byPath_.size(); }
    // Calls the delegate, if it is still there.
    void tell(const std::function<void(CentralDelegate&, Central&)>& callback);
    // A call was refused by the bus policy: we may not use BlueZ.
    void refused(const BluezError& error);
    // Reads BlueZ's objects again and adds the GATT objects of the device
    // that the copy lacks.
    void refetch(const std::string& devicePath);

private:
    void connected(GDBusConnection* connection);
    void ownerAppeared();
    void ownerVanished();
    void fetch();
    void fetched(GVariant* managed);
    void onSignal(const char* path, const char* iface, const char* member, GVariant* params);
    void interfacesAdded(GVariant* params);
    void interfacesRemoved(GVariant* params);
    void propertiesChanged(const std::string& path, GVariant* params);

    void settle();
    std::string chooseAdapter() const;
    void setState(ManagerState next);
    void startDiscovery();

    // The peripheral for the device object at `path` under the adapter,
    // made on first sight; null for objects of another adapter.
    std::shared_ptr<PeripheralBluez> peripheralAt(const std::string& path);
    // The peripheral handed out for the id, if anybody still holds it.
    std::shared_ptr<PeripheralBluez> handedOut(const Uuid& id) const;
    // The device path a GATT object path lies under.
    std::shared_ptr<PeripheralBluez> owningPeripheral(const std::string& path) const;
    void advertised(const std::string& path, GVariant* changed);

    MainQueue& queue_;
    std::weak_ptr<CentralDelegate> delegate_;
    BluezOptions options_;
    GPtr<GCancellable> cancellable_;
    GPtr<GDBusConnection> connection_;
    SignalConnection closedSignal_;
    guint signalSubscription_ = 0;
    guint nameWatch_ = 0;

    BluezObjects objects_;
    bool busFailed_ = false;
    bool ownerKnown_ = false;  // the name watch has answered
    bool owner_ = false;       // org.bluez has an owner
    bool fetching_ = false;    // GetManagedObjects is under way; signals wait for it
    bool unauthorized_ = false;
    bool listFailed_ = false;  // this bluetoothd did not list its objects
    bool inGrace_ = false;     // bluetoothd went away and may come back
    Task graceTimer_;
    std::uint64_t fetchNumber_ = 0;
    std::string adapterPath_;
    std::string adapterAddress_;
    bool hadAdapter_ = false;

    ManagerState state_ = ManagerState::unknown;
    bool reported_ = false;
    std::uint64_t timesOff_ = 0;
    bool scanning_ = false;
    bool allowDuplicates_ = false;
    std::set<Uuid> reportedThisScan_;

    // Every device handed out and still held, by id: the same device is the
    // same object for as long as anybody holds it. Device objects BlueZ lists
    // hold theirs (byPath_); the rest are held by the bridge or by nobody, so
    // that addresses heard once do not stay for the life of the program.
    std::map<Uuid, std::weak_ptr<PeripheralBluez>> peripherals_;
    std::size_t sweptSize_ = 64;
    std::map<std::string, std::shared_ptr<PeripheralBluez>> byPath_;

    // Weak references for callbacks; declared last so that they expire first.
    WeakPtrFactory<CentralBluez> weak_{this};
};

// The product's backend: BlueZ on the system bus.
CentralFactory makeCentralBluez(MainQueue& queue, BluezOptions options = {});

}  // namespace orvane
