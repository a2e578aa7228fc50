#pragma once
// bluez-sim run as a process on a private bus, for tests and benchmarks of
// code that talks to BlueZ: started, waited for until it owns `org.bluez`,
// driven through its control interface, stopped (or killed) at the end.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "DBusCall.h"
#include "PrivateBus.h"

namespace orvane::test {

class BluezSimProcess {
public:
    // The simulated devices (fixed addresses) and the light's GATT UUIDs.
    static constexpr const char* LIGHT = "A4:C1:38:5E:1C:7A";
    static constexpr const char* LIGHT_NAME = "ihoment_H617C_1C7A";
    static constexpr const char* SENSOR = "D4:3B:04:11:7B:2F";
    static constexpr const char* BEACON = "5C:F3:70:A1:B2:C3";
    static constexpr const char* ADAPTER_ADDRESS = "00:1A:7D:DA:71:13";
    static constexpr const char* LIGHT_SERVICE = "00010203-0405-0607-0809-0a0b0c0d1910";
    static constexpr const char* LIGHT_CONTROL = "00010203-0405-0607-0809-0a0b0c0d2b11";
    static constexpr const char* LIGHT_REPLIES = "00010203-0405-0607-0809-0a0b0c0d2b10";
    // Object paths as BlueZ forms them.
    static constexpr const char* ADAPTER = "/org/bluez/hci0";
    static std::string devicePath(const std::string& address, const std::string& adapter = ADAPTER);
    static std::string lightControlPath();  // the light's write characteristic
    static std::string lightRepliesPath();  // its notify characteristic

    // Timing that keeps tests quick: short advertising interval, links and
    // disconnections in milliseconds, attempts to absent devices give up soon.
    static std::vector<std::string> fastTiming();

    // Starts the simulator with these arguments (plus --bus and --no-colour).
    explicit BluezSimProcess(const PrivateBus& bus, std::vector<std::string> args = fastTiming());
    ~BluezSimProcess();  // stops it if it still runs
    BluezSimProcess(const BluezSimProcess&) = delete;
    BluezSimProcess& operator=(const BluezSimProcess&) = delete;

    // Starts it again after stop() or crash(); throws when it does not come up.
    void start();
    // SIGTERM, as `systemctl stop bluetooth`; returns the exit status (-1 if
    // it had to be killed). A sanitizer build reports leaks through it.
    int stop();
    // SIGKILL: gone without a word, as in a crash.
    void crash();
    bool running() const;
    // Everything it printed so far (standard output and error), all runs.
    std::string output() const;

    // A call to its control interface (org.orvane.BluezSim at /org/orvane/sim).
    CallResult control(const std::string& method, GVariant* params = nullptr);
    // The same, throwing std::runtime_error when it fails.
    VariantPtr controlOk(const std::string& method, GVariant* params = nullptr);
    // Every write the device received on a characteristic: (type, bytes) pairs.
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> writes(const std::string& address,
                                                                          const std::string& uuid);

private:
    const PrivateBus& bus_;
    std::vector<std::string> args_;
    std::string log_;
    GPtr<GDBusConnection> control_;
    GPtr<GSubprocess> process_;
};

// A 20-byte light frame from its leading bytes, with the XOR checksum.
std::vector<std::uint8_t> frame(std::initializer_list<std::uint8_t> head);

}  // namespace orvane::test
