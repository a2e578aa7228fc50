#pragma once
// The simulated controller as BlueZ shows it (Adapter1 at /org/bluez/hciN),
// with the radio world around it: the devices that advertise, discovery
// sessions per client with their filters, and what BlueZ remembers.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Device.h"
#include "Glib.h"
#include "ObjectTree.h"
#include "Settings.h"

namespace bluezsim {

inline constexpr const char* ADAPTER_ADDRESS = "00:1A:7D:DA:71:13";

std::int64_t monotonicMs();

class Adapter {
public:
    Adapter(ObjectTree& tree, const Settings& settings);
    Adapter(const Adapter&) = delete;
    Adapter& operator=(const Adapter&) = delete;
    ~Adapter();

    // The controller appears (powered, as BlueZ's AutoEnable does) under
    // /org/bluez/`name`, and the devices BlueZ stored are exported again.
    void plug(const std::string& name);
    // The controller disappears with every object below it.
    void unplug();
    bool plugged() const { return plugged_; }
    const std::string& path() const { return path_; }
    bool powered() const { return plugged_ && powered_; }
    void setPowered(bool on);

    const Settings& settings() const { return settings_; }
    ObjectTree& tree() { return tree_; }
    // The device connected once: BlueZ keeps it from now on.
    void remember(const std::string& address);
    void clientGone(const std::string& client);
    Device* device(const std::string& address);
    // Replaces the flood with `count` devices advertising every `intervalMs`.
    void flood(unsigned count, unsigned intervalMs);
    // Replaces the flood with `count` devices under addresses never used
    // before, as phones nearby that rotate their random addresses.
    void rotate(unsigned count, unsigned intervalMs);

private:
    struct Filter {
        std::set<std::string> uuids;
        std::optional<std::int16_t> rssi;
        std::string transport = "auto";
        bool duplicates = false;
        std::string pattern;
        bool matches(const Device& device) const;
    };

    void onCall(Call& call);
    void startDiscovery(Call& call);
    void stopDiscovery(Call& call);
    void setDiscoveryFilter(Call& call);
    void removeDevice(Call& call);
    void stopScanning();
    void tick();
    void sweep();
    void loadStorage();
    void saveStorage() const;

    ObjectTree& tree_;
    const Settings& settings_;
    std::string path_;
    bool plugged_ = false;
    bool powered_ = false;
    bool discovering_ = false;
    std::set<std::string> sessions_;         // clients discovering
    std::map<std::string, Filter> filters_;  // by client
    std::vector<std::unique_ptr<Device>> devices_;
    unsigned floodFirst_ = 1;       // the index of the current flood's first device
    std::set<std::string> stored_;  // addresses BlueZ keeps
    Ticker advertising_;
    Ticker sweeper_;
};

}  // namespace bluezsim
