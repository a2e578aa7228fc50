#pragma once
// The D-Bus interfaces the simulator exports: BlueZ's as BlueZ 5.66 declares
// them (the parts a central uses), and the simulator's own control interface.

#include <gio/gio.h>

namespace bluezsim {

inline constexpr const char* ADAPTER = "org.bluez.Adapter1";
inline constexpr const char* DEVICE = "org.bluez.Device1";
inline constexpr const char* SERVICE = "org.bluez.GattService1";
inline constexpr const char* CHARACTERISTIC = "org.bluez.GattCharacteristic1";
inline constexpr const char* DESCRIPTOR = "org.bluez.GattDescriptor1";
inline constexpr const char* GATT_MANAGER = "org.bluez.GattManager1";
inline constexpr const char* ADVERTISING_MANAGER = "org.bluez.LEAdvertisingManager1";
inline constexpr const char* AGENT_MANAGER = "org.bluez.AgentManager1";
inline constexpr const char* PROFILE_MANAGER = "org.bluez.ProfileManager1";
inline constexpr const char* OBJECT_MANAGER = "org.freedesktop.DBus.ObjectManager";
inline constexpr const char* CONTROL = "org.orvane.BluezSim";
inline constexpr const char* CONTROL_PATH = "/org/orvane/sim";

// The interface's description, owned by a table that lives for the process.
GDBusInterfaceInfo* interfaceInfo(const char* name);

}  // namespace bluezsim
