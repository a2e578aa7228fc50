#pragma once
// The page's Bluetooth LE central: serves the page's Bluetooth requests
// ("hello", "scan", "connect", "disconnect", "services", "write", "notify")
// and reports the adapter state, advertisements, lost links and
// characteristic values. Every request that carries a number gets at most
// one "res"; everything waiting on a device is answered when it is lost.
//
// Lives on the main thread. It may be owned in any way (a plain member, a
// unique_ptr or a shared_ptr): its time-outs and the backend hold it through a
// weak handle that ends with it.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "Central.h"
#include "MainQueue.h"
#include "Peripheral.h"
#include "WeakPtr.h"

namespace orvane {

class Bluetooth final : public CentralDelegate, public PeripheralDelegate {
public:
    // No central exists until the page first asks to scan or to connect; then
    // `makeCentral` is called once, on the main thread. Should it give no
    // central, the bridge answers as a computer without Bluetooth LE.
    Bluetooth(MainQueue& queue, CentralFactory makeCentral);
    ~Bluetooth() override;
    Bluetooth(const Bluetooth&) = delete;
    Bluetooth& operator=(const Bluetooth&) = delete;

    // Where replies and events go; while it is empty they are dropped.
    std::function<void(const nlohmann::json&)> send;

    // One page message, already parsed. Malformed or unknown ones are dropped.
    void handle(const nlohmann::json& message);
    // The page is gone: every link and scan ends, as at its next "hello".
    void endSession() { reset(); }

    // Whether the bookkeeping is consistent: every connecting or linked device
    // is known. A self-check for tests.
    bool invariantsHold() const;
    // How many devices the bridge remembers (heard, retrieved or linked).
    std::size_t knownCount() const { return known.size(); }

    // A device that is not linked, connecting or waited on is forgotten once
    // it has not been heard for this long; a scan reports it afresh.
    static constexpr auto forgetAfter = std::chrono::minutes(10);

    // Platform callbacks.
    void didUpdateState(Central& manager) override;
    void didDiscover(Central& manager, const std::shared_ptr<Peripheral>& peripheral,
                     const AdvertisementData& advertisement, int rssi) override;
    void didConnect(Central& manager, const std::shared_ptr<Peripheral>& peripheral) override;
    void didFailToConnect(Central& manager, const std::shared_ptr<Peripheral>& peripheral,
                          const std::optional<BluetoothError>& error) override;
    void didDisconnect(Central& manager, const std::shared_ptr<Peripheral>& peripheral,
                       const std::optional<BluetoothError>& error) override;
    void didDiscoverServices(Peripheral& peripheral, const std::optional<BluetoothError>& error) override;
    void didDiscoverCharacteristics(Peripheral& peripheral, Service& service,
                                    const std::optional<BluetoothError>& error) override;
    void isReadyToSendWriteWithoutResponse(Peripheral& peripheral) override;
    void didWriteValue(Peripheral& peripheral, Characteristic& characteristic,
                       const std::optional<BluetoothError>& error) override;
    void didUpdateNotificationState(Peripheral& peripheral, Characteristic& characteristic,
                                    const std::optional<BluetoothError>& error) override;
    void didUpdateValue(Peripheral& peripheral, Characteristic& characteristic,
                        const std::optional<BluetoothError>& error) override;

private:
    using Request = std::int64_t;

    struct Pending {
        Request req = 0;
        Task timer;
    };
    // A write not yet handed to the stack. Writes with response wait here too
    // when writes without response are queued ahead of them, so that the
    // device gets every write in the page's order.
    struct Unsent {
        std::shared_ptr<Characteristic> characteristic;
        Bytes bytes;
        Request req = 0;
        WriteType type = WriteType::withoutResponse;
    };
    // An action that needs the adapter on, kept while its state is not known.
    struct Deferred {
        std::function<void()> ok;
        std::function<void(std::string_view refusal)> refused;
    };
    struct Found {
        std::shared_ptr<Peripheral> peripheral;
        std::shared_ptr<Characteristic> characteristic;
    };
    // Requests awaiting the stack's confirmation for one characteristic,
    // oldest first. Keyed by the characteristic object itself, which the entry
    // keeps alive: its service, and so any key made of UUIDs, can vanish while
    // requests wait (the stack removing a service before its characteristics).
    struct Confirmations {
        std::shared_ptr<Characteristic> characteristic;
        std::deque<Request> reqs;
    };
    using Waiting = std::map<Uuid, std::map<const Characteristic*, Confirmations>>;
    // What the bridge remembers of a device.
    struct Known {
        std::shared_ptr<Peripheral> peripheral;
        std::string name;                                        // the last non-empty name seen
        std::optional<MainQueue::Clock::time_point> lastAdvert;  // when the last "adv" went out
        MainQueue::Clock::time_point heard;                      // last advertisement, connection or link end
    };

    void reply(Request req, nlohmann::json fields);
    void fail(Request req, std::string_view error);
    void emit(const nlohmann::json& event);

    void reset();
    void scan(const nlohmann::json& message);
    Central* ensureCentral();
    void startScanIfWanted();

    void connect(std::string_view idText, Request req);
    void connectNow(const Uuid& u, Request req);
    void timedOut(const Uuid& u);
    void disconnect(std::string_view idText);
    void dropped(const Uuid& u);
    std::shared_ptr<Peripheral> linkedPeripheral(std::string_view idText) const;
    std::string connectedName(const Peripheral& peripheral) const;

    void services(std::string_view idText, Request req);
    void discoveryDone(Peripheral& peripheral);
    static nlohmann::json describe(const Peripheral& peripheral);
    std::optional<Found> characteristic(const nlohmann::json& request) const;

    void write(const nlohmann::json& message, Request req);
    void notify(const nlohmann::json& message, Request req);
    void confirm(Waiting& waiting, Peripheral& peripheral, Characteristic& characteristic,
                 const std::optional<BluetoothError>& error);
    static void await(Waiting& waiting, const Uuid& device, const std::shared_ptr<Characteristic>& characteristic,
                      Request req);
    void queueWrite(const Uuid& device, Unsent write);

    // Forgets the devices nobody needs that have been quiet for forgetAfter.
    void forgetQuiet();
    bool needed(const Uuid& device) const;

    MainQueue& queue_;
    CentralFactory makeCentral_;

    // Created by the first "scan", or "connect" with a usable id; kept for good.
    std::unique_ptr<Central> central;
    // Whether the page wants scanning; the scan starts when the adapter is on.
    bool wantScan = false;
    // Every peripheral the stack has handed over and not yet forgotten
    // (forgetQuiet), on the monotonic clock.
    std::unordered_map<Uuid, Known, UuidHash> known;
    // When forgetQuiet last looked.
    std::optional<MainQueue::Clock::time_point> lastSweep;
    // The one pending "connect" per device, with its time-out.
    std::map<Uuid, Pending> connecting;
    // Devices connected at the page's request and not lost since.
    std::set<Uuid> linked;
    // Devices whose GATT discovery finished on their current connection.
    std::set<Uuid> discovered;
    // "services" requests waiting for discovery, oldest first.
    std::map<Uuid, std::vector<Request>> servicesWaiting;
    // Services per device whose characteristic discovery is outstanding.
    std::map<Uuid, long> charsLeft;
    // Writes with response awaiting confirmation, by device and characteristic.
    Waiting writesWaiting;
    // "notify" requests awaiting confirmation, by device and characteristic.
    Waiting notifyWaiting;
    // Writes not yet handed to the stack, per device, in the page's order.
    std::map<Uuid, std::deque<Unsent>> unsent;
    // Actions deferred until the adapter state is known, oldest first.
    std::vector<Deferred> whenOn;

    // Weak references for time-outs and the backend; declared last so that
    // they expire before any other member goes.
    WeakPtrFactory<Bluetooth> weak_{this};
};

}  // namespace orvane
