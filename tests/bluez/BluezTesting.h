#pragma once
// Support for tests of the BlueZ backend against bluez-sim: a delegate that
// records every callback as a line of text (and fails a test when a callback
// comes from inside a call into the backend), and a fixture with a private
// bus, the simulator and a CentralBluez on the GLib main loop.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BluezSimProcess.h"
#include "CentralBluez.h"
#include "MainQueueGlib.h"
#include "PrivateBus.h"
#include "Spin.h"

namespace orvane::test {

std::string stateName(ManagerState state);

class Recorder final : public CentralDelegate, public PeripheralDelegate {
public:
    // One line per callback, e.g. "connect", "fail le-connection-abort-by-local",
    // "write 2B11 ok", "value 2B10 aa0101…".
    std::vector<std::string> events;
    std::vector<ManagerState> states;
    // What scanning reported, per device.
    struct Seen {
        std::shared_ptr<Peripheral> peripheral;
        int reports = 0;
        AdvertisementData advertisement;
        int rssi = 0;
    };
    std::map<Uuid, Seen> seen;
    // Set by the fixture around every call into the backend.
    bool inCall = false;
    int callbacksInsideCalls = 0;
    // Runs after each write confirmation or ready callback (for flow-control loops).
    std::function<void()> onReady;

    std::size_t count(const std::string& line) const;
    void clear() { events.clear(); }

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
    void record(std::string line);
};

// The short text of a GATT UUID's last part, as the lines use it ("2B11", "180D").
std::string shortName(const GattUuid& uuid);

class BluezTest : public ::testing::Test {
protected:
    // `busPolicy`: mandatory policy rules for the private bus (see PrivateBus).
    explicit BluezTest(std::vector<std::string> simArgs = BluezSimProcess::fastTiming(),
                       const std::string& busPolicy = {});
    void TearDown() override;

    // What makeCentral() uses: the private bus and short waits; tests may change it first.
    BluezOptions options() const { return settings; }
    void makeCentral();
    // Calls into the backend through here, so callbacks from inside are caught.
    template <typename F>
    auto call(F&& f) {
        recorder->inCall = true;
        struct Reset {
            Recorder& r;
            ~Reset() { r.inCall = false; }
        } reset{*recorder};
        return f();
    }
    bool waitFor(const std::function<bool()>& done, double seconds = 5) { return spinUntil(done, seconds); }
    bool waitForEvent(const std::string& line, std::size_t times = 1, double seconds = 5);
    bool waitForState(ManagerState state, double seconds = 5);
    // How a test knows that nothing more is coming, instead of a pause: lets
    // everything bluez-sim sent so far reach the backend and the callbacks it
    // queued run. The simulator answers a call on the backend's own connection
    // after every signal it sent before, and queued work runs before a marker
    // queued after it. Twice, for a callback that asked BlueZ something in turn.
    // `backend`: the central to settle when it is not the fixture's.
    void afterPendingSignals(CentralBluez* backend = nullptr);
    // Runs the main loop until everything queued on it before now has run.
    void drainQueue();

    static Uuid idOf(const char* address);
    // Scans until the device has been reported, then stops scanning.
    std::shared_ptr<Peripheral> find(const char* address);
    // Finds and connects the device, with its delegate set to the recorder.
    std::shared_ptr<Peripheral> connected(const char* address);
    // Discovers the services and every characteristic of a connected device.
    void discoverAll(const std::shared_ptr<Peripheral>& peripheral);
    std::shared_ptr<Characteristic> characteristic(const std::shared_ptr<Peripheral>& peripheral,
                                                   const std::string& uuid);

    PrivateBus bus;
    BluezSimProcess sim;
    MainQueueGlib queue;
    BluezOptions settings;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::unique_ptr<CentralBluez> central;
};

}  // namespace orvane::test
