#pragma once
// What a simulated remote device is: its address, what it advertises, its
// GATT table and its behaviour. Addresses are fixed so that anything derived
// from them stays the same across runs.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Peripheral.h"

namespace bluezsim {

struct CharacteristicModel {
    std::string uuid;
    std::uint16_t handle;  // declaration handle; the value is at handle + 1
    std::vector<std::string> flags;
    std::optional<Bytes> value;  // what a read returns before anything was sent
};

struct ServiceModel {
    std::string uuid;
    std::uint16_t handle;
    std::vector<CharacteristicModel> characteristics;  // in handle order
};

struct DeviceModel {
    std::string address;
    std::string addressType = "public";
    std::string name;  // empty: the device advertises no name
    std::int16_t rssi = -60;
    std::optional<std::int16_t> txPower;
    std::vector<std::string> uuids;  // advertised service UUIDs, 128-bit form
    std::map<std::uint16_t, Bytes> manufacturerData;
    std::map<std::string, Bytes> serviceData;
    std::optional<std::uint16_t> appearance;
    bool discoverable = true;  // LE General Discoverable in its flags
    bool connectable = true;
    bool flood = false;                                      // one of the many devices of a flood
    unsigned intervalMs = 0;                                 // advertising interval; 0: the simulator's default
    std::vector<ServiceModel> services;                      // in handle order
    std::function<std::unique_ptr<Peripheral>()> behaviour;  // may be empty
};

struct Settings;

// The devices around the simulated adapter: the light strip, a heart-rate
// sensor and a beacon.
std::vector<DeviceModel> catalogue(const Settings& settings);
// Device number `index` (from 1) of an advertising flood.
DeviceModel floodDevice(unsigned index, unsigned intervalMs);

inline constexpr const char* LIGHT_ADDRESS = "A4:C1:38:5E:1C:7A";
inline constexpr const char* SENSOR_ADDRESS = "D4:3B:04:11:7B:2F";
inline constexpr const char* BEACON_ADDRESS = "5C:F3:70:A1:B2:C3";

}  // namespace bluezsim
