#pragma once
// A remote device as BlueZ shows it (a Device1 object and its GATT objects),
// behind the Peripheral interface. Made and kept by CentralBluez: one object
// per device id for the central's life.
//
// Each link (and each connection attempt) has its own GCancellable: when the
// link ends it is cancelled, so that nothing still owed on it calls back; a
// fresh one serves the next link.

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "GRef.h"
#include "GattBluez.h"
#include "MainQueue.h"
#include "Peripheral.h"
#include "Variant.h"

namespace orvane {

class CentralBluez;
struct CallReply;

class PeripheralBluez final : public Peripheral, public std::enable_shared_from_this<PeripheralBluez> {
public:
    PeripheralBluez(std::weak_ptr<CentralBluez> central, Uuid id, std::string path);
    ~PeripheralBluez() override;
    PeripheralBluez(const PeripheralBluez&) = delete;
    PeripheralBluez& operator=(const PeripheralBluez&) = delete;

    Uuid identifier() const override { return id_; }
    std::optional<std::string> name() const override;
    PeripheralState state() const override { return state_; }
    void setDelegate(std::weak_ptr<PeripheralDelegate> delegate) override { delegate_ = std::move(delegate); }
    const std::vector<std::shared_ptr<Service>>& services() const override { return services_; }
    void discoverServices() override;
    void discoverCharacteristics(const std::shared_ptr<Service>& service) override;
    void writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic, WriteType type) override;
    bool canSendWriteWithoutResponse() const override;
    void setNotifyValue(bool enabled, const std::shared_ptr<Characteristic>& characteristic) override;

    // For the central, which has already updated its copy of the objects.
    const std::string& path() const { return path_; }
    void bind(std::string path) { path_ = std::move(path); }
    void connect();
    void cancel();
    void deviceChanged(GVariant* changed);  // Device1's changed properties
    void deviceRemoved();
    void gattAdded(const std::string& path);
    void gattRemoved(const std::string& path);
    void valueChanged(const std::string& characteristicPath, GVariant* value);
    // The adapter left the on state: links and attempts end without a callback.
    void adapterLost();
    // The central goes: the link we made is taken down, nobody is told.
    void centralGone();

private:
    using CharacteristicPtr = std::shared_ptr<CharacteristicBluez>;

    // Ends whatever ran on the current link and starts fresh books.
    void freshLink();
    void startConnect();
    void sendConnect();
    void connectDone(CallReply& reply);
    void retryLater();
    void disconnectConfirmed();
    void linkLost();
    // Runs `work` on a later turn of the loop, unless this object, its central
    // or (with `sameLink`) the current link is gone by then.
    void post(std::function<void(PeripheralBluez&)> work, bool sameLink = true);
    void tell(const std::function<void(PeripheralDelegate&)>& callback);
    // Runs `then` once BlueZ has answered a call made now, so that every
    // signal it sent before has been handled: BlueZ fails what was pending on
    // a link before it reports the link down, and such a failure must go with
    // the link, unreported. Without `sameLink`, `then` runs even when a new
    // link has begun meanwhile.
    void afterPendingSignals(std::function<void(PeripheralBluez&)> then, bool sameLink = true);

    void tryResolve();
    void finishServices();
    void listServices();
    // The table after discovery, when BlueZ adds or removes objects.
    void refreshTable();
    // Answers what waits on a characteristic whose object BlueZ removed.
    void abandon(const CharacteristicPtr& characteristic);
    void discoveryTimedOut();
    void fillCharacteristics(ServiceBluez& service);
    CharacteristicPtr ours(const std::shared_ptr<Characteristic>& characteristic) const;
    void sendWrites(const CharacteristicPtr& characteristic);
    void writeDone(const CharacteristicPtr& characteristic, WriteType type, CallReply& reply, bool settled = false);
    // Takes `count` commands off the books; says "ready" if that frees room.
    void commandsAnswered(int count);
    void sendNotify(const CharacteristicPtr& characteristic);
    void notifyDone(const CharacteristicPtr& characteristic, bool enabled, bool wasOn, CallReply& reply,
                    bool settled = false);

    std::weak_ptr<CentralBluez> central_;
    Uuid id_;
    std::string path_;
    std::weak_ptr<PeripheralDelegate> delegate_;
    PeripheralState state_ = PeripheralState::disconnected;
    mutable std::optional<std::string> lastName_;

    // The current link (or attempt): its number and its cancellable.
    std::uint64_t link_ = 0;
    GPtr<GCancellable> linkCancellable_;
    // connect() came while BlueZ was still taking the old link down.
    bool connectWhenDown_ = false;
    // An attempt that BlueZ aborted is tried again, a few times.
    static constexpr int connectRetries = 2;
    int retriesLeft_ = 0;
    bool retryWhenDown_ = false;
    Task retryTimer_;

    // Discovery on the current link.
    int servicesWanted_ = 0;          // discoverServices() calls not yet answered
    bool waitingForObjects_ = false;  // resolved, but BlueZ has not exported the objects yet
    bool refetched_ = false;
    bool tableKnown_ = false;  // discovery finished on this link
    Task discoveryTimer_;
    Task settleTimer_;
    std::vector<std::shared_ptr<Service>> services_;
    std::map<std::string, std::shared_ptr<ServiceBluez>> serviceObjects_;
    std::map<std::string, CharacteristicPtr> characteristicObjects_;

    // Writes without response taken and not yet acknowledged by BlueZ. A
    // few may be on their way at once, so that a page sending one after
    // another never waits for BlueZ's answer; the bound keeps BlueZ's queue
    // (and the radio's) from growing without end.
    static constexpr int kMostCommandsInFlight = 16;
    int commandsInFlight_ = 0;
    // Taken writes are sent on a turn of the loop already asked for.
    bool sendsPosted_ = false;
};

}  // namespace orvane
