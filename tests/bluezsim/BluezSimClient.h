#pragma once
// A fixture with bluez-sim on a private bus and one client connection that
// calls org.bluez and records its signals.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BluezSimProcess.h"
#include "PrivateBus.h"
#include "SignalLog.h"
#include "Spin.h"

namespace orvane::test {

// A call whose reply comes later, while the test does other things.
class PendingCall {
public:
    PendingCall(GDBusConnection* c, const std::string& path, const char* iface, const char* method,
                GVariant* params = nullptr);
    bool done() const { return state_->done; }
    const CallResult& result();  // waits for it

private:
    struct State {
        bool done = false;
        CallResult result;
    };
    std::shared_ptr<State> state_;
};

class BluezSimTest : public ::testing::Test {
protected:
    explicit BluezSimTest(std::vector<std::string> args = BluezSimProcess::fastTiming()) : sim(bus, std::move(args)) {}

    CallResult call(const std::string& path, const char* iface, const char* method, GVariant* params = nullptr) {
        return callAsync(client.get(), "org.bluez", path, iface, method, params);
    }
    // A property as Properties.Get returns it; empty when absent.
    VariantPtr get(const std::string& path, const char* iface, const char* name);
    VariantPtr managedObjects();
    // Discovery with a filter (DuplicateData, LE) until the device's object exists.
    void discover(const std::string& address, bool duplicates = true);
    // Discovers, connects and waits for ServicesResolved.
    void connectLight();
    CallResult writeLight(const std::vector<std::uint8_t>& frame, const char* type = "request");
    VariantPtr lightState() { return sim.controlOk("LightState").child(0); }

    PrivateBus bus;
    BluezSimProcess sim;
    GPtr<GDBusConnection> client = bus.connect();
    SignalLog log{client.get()};
    const std::string light = BluezSimProcess::devicePath(BluezSimProcess::LIGHT);
};

GVariant* bytesValue(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> bytesOf(const VariantPtr& ay);

}  // namespace orvane::test
