#include "Interfaces.h"

#include <stdexcept>
#include <string>

namespace bluezsim {
namespace {

constexpr const char* XML = R"xml(<node>
  <interface name="org.freedesktop.DBus.ObjectManager">
    <method name="GetManagedObjects">
      <arg type="a{oa{sa{sv}}}" direction="out"/>
    </method>
    <signal name="InterfacesAdded"><arg type="o"/><arg type="a{sa{sv}}"/></signal>
    <signal name="InterfacesRemoved"><arg type="o"/><arg type="as"/></signal>
  </interface>
  <interface name="org.bluez.AgentManager1">
    <method name="RegisterAgent"><arg type="o" direction="in"/><arg type="s" direction="in"/></method>
    <method name="UnregisterAgent"><arg type="o" direction="in"/></method>
    <method name="RequestDefaultAgent"><arg type="o" direction="in"/></method>
  </interface>
  <interface name="org.bluez.ProfileManager1">
    <method name="RegisterProfile"><arg type="o" direction="in"/><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/></method>
    <method name="UnregisterProfile"><arg type="o" direction="in"/></method>
  </interface>
  <interface name="org.bluez.Adapter1">
    <method name="StartDiscovery"/>
    <method name="SetDiscoveryFilter"><arg name="properties" type="a{sv}" direction="in"/></method>
    <method name="StopDiscovery"/>
    <method name="RemoveDevice"><arg name="device" type="o" direction="in"/></method>
    <method name="GetDiscoveryFilters"><arg name="filters" type="as" direction="out"/></method>
    <property name="Address" type="s" access="read"/>
    <property name="AddressType" type="s" access="read"/>
    <property name="Name" type="s" access="read"/>
    <property name="Alias" type="s" access="readwrite"/>
    <property name="Class" type="u" access="read"/>
    <property name="Powered" type="b" access="readwrite"/>
    <property name="Discoverable" type="b" access="readwrite"/>
    <property name="DiscoverableTimeout" type="u" access="readwrite"/>
    <property name="Pairable" type="b" access="readwrite"/>
    <property name="PairableTimeout" type="u" access="readwrite"/>
    <property name="Discovering" type="b" access="read"/>
    <property name="UUIDs" type="as" access="read"/>
    <property name="Modalias" type="s" access="read"/>
    <property name="Roles" type="as" access="read"/>
  </interface>
  <interface name="org.bluez.GattManager1">
    <method name="RegisterApplication"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/></method>
    <method name="UnregisterApplication"><arg type="o" direction="in"/></method>
  </interface>
  <interface name="org.bluez.LEAdvertisingManager1">
    <method name="RegisterAdvertisement"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/></method>
    <method name="UnregisterAdvertisement"><arg type="o" direction="in"/></method>
    <property name="ActiveInstances" type="y" access="read"/>
    <property name="SupportedInstances" type="y" access="read"/>
    <property name="SupportedIncludes" type="as" access="read"/>
  </interface>
  <interface name="org.bluez.Device1">
    <method name="Disconnect"/>
    <method name="Connect"/>
    <method name="ConnectProfile"><arg name="UUID" type="s" direction="in"/></method>
    <method name="DisconnectProfile"><arg name="UUID" type="s" direction="in"/></method>
    <method name="Pair"/>
    <method name="CancelPairing"/>
    <property name="Address" type="s" access="read"/>
    <property name="AddressType" type="s" access="read"/>
    <property name="Name" type="s" access="read"/>
    <property name="Alias" type="s" access="readwrite"/>
    <property name="Appearance" type="q" access="read"/>
    <property name="Icon" type="s" access="read"/>
    <property name="Paired" type="b" access="read"/>
    <property name="Bonded" type="b" access="read"/>
    <property name="Trusted" type="b" access="readwrite"/>
    <property name="Blocked" type="b" access="readwrite"/>
    <property name="LegacyPairing" type="b" access="read"/>
    <property name="RSSI" type="n" access="read"/>
    <property name="TxPower" type="n" access="read"/>
    <property name="Connected" type="b" access="read"/>
    <property name="UUIDs" type="as" access="read"/>
    <property name="Adapter" type="o" access="read"/>
    <property name="ManufacturerData" type="a{qv}" access="read"/>
    <property name="ServiceData" type="a{sv}" access="read"/>
    <property name="ServicesResolved" type="b" access="read"/>
  </interface>
  <interface name="org.bluez.GattService1">
    <property name="UUID" type="s" access="read"/>
    <property name="Device" type="o" access="read"/>
    <property name="Primary" type="b" access="read"/>
    <property name="Includes" type="ao" access="read"/>
  </interface>
  <interface name="org.bluez.GattCharacteristic1">
    <method name="ReadValue">
      <arg name="options" type="a{sv}" direction="in"/><arg name="value" type="ay" direction="out"/>
    </method>
    <method name="WriteValue">
      <arg name="value" type="ay" direction="in"/><arg name="options" type="a{sv}" direction="in"/>
    </method>
    <method name="AcquireWrite">
      <arg name="options" type="a{sv}" direction="in"/>
      <arg name="fd" type="h" direction="out"/><arg name="mtu" type="q" direction="out"/>
    </method>
    <method name="AcquireNotify">
      <arg name="options" type="a{sv}" direction="in"/>
      <arg name="fd" type="h" direction="out"/><arg name="mtu" type="q" direction="out"/>
    </method>
    <method name="StartNotify"/>
    <method name="StopNotify"/>
    <property name="UUID" type="s" access="read"/>
    <property name="Service" type="o" access="read"/>
    <property name="Value" type="ay" access="read"/>
    <property name="Notifying" type="b" access="read"/>
    <property name="Flags" type="as" access="read"/>
    <property name="WriteAcquired" type="b" access="read"/>
    <property name="NotifyAcquired" type="b" access="read"/>
    <property name="MTU" type="q" access="read"/>
  </interface>
  <interface name="org.bluez.GattDescriptor1">
    <method name="ReadValue">
      <arg name="options" type="a{sv}" direction="in"/><arg name="value" type="ay" direction="out"/>
    </method>
    <method name="WriteValue">
      <arg name="value" type="ay" direction="in"/><arg name="options" type="a{sv}" direction="in"/>
    </method>
    <property name="UUID" type="s" access="read"/>
    <property name="Characteristic" type="o" access="read"/>
    <property name="Value" type="ay" access="read"/>
  </interface>
  <interface name="org.orvane.BluezSim">
    <method name="SetPowered"><arg name="on" type="b" direction="in"/></method>
    <method name="RemoveAdapter"/>
    <method name="AddAdapter"><arg name="name" type="s" direction="in"/></method>
    <method name="StopService"><arg name="graceful" type="b" direction="in"/></method>
    <method name="StartService"/>
    <method name="DropLink"><arg name="address" type="s" direction="in"/></method>
    <method name="RefuseConnections">
      <arg name="address" type="s" direction="in"/>
      <arg name="error" type="s" direction="in"/><arg name="text" type="s" direction="in"/>
    </method>
    <method name="DelayConnections">
      <arg name="address" type="s" direction="in"/><arg name="ms" type="u" direction="in"/>
    </method>
    <method name="FailNext">
      <arg name="address" type="s" direction="in"/><arg name="uuid" type="s" direction="in"/>
      <arg name="operation" type="s" direction="in"/>
      <arg name="error" type="s" direction="in"/><arg name="text" type="s" direction="in"/>
    </method>
    <method name="ResolveEarly">
      <arg name="address" type="s" direction="in"/><arg name="on" type="b" direction="in"/>
    </method>
    <method name="DelayReplies">
      <arg name="address" type="s" direction="in"/><arg name="ms" type="u" direction="in"/>
    </method>
    <method name="Flood">
      <arg name="count" type="u" direction="in"/><arg name="interval_ms" type="u" direction="in"/>
    </method>
    <method name="Rotate">
      <arg name="count" type="u" direction="in"/><arg name="interval_ms" type="u" direction="in"/>
    </method>
    <method name="StartServiceWithoutAdapter"/>
    <method name="RemoveGatt">
      <arg name="address" type="s" direction="in"/><arg name="services_first" type="b" direction="in"/>
    </method>
    <method name="SetAdvertising">
      <arg name="address" type="s" direction="in"/><arg name="on" type="b" direction="in"/>
    </method>
    <method name="Notify">
      <arg name="address" type="s" direction="in"/><arg name="uuid" type="s" direction="in"/>
      <arg name="value" type="ay" direction="in"/>
    </method>
    <method name="Writes">
      <arg name="address" type="s" direction="in"/><arg name="uuid" type="s" direction="in"/>
      <arg name="writes" type="a(say)" direction="out"/>
    </method>
    <method name="ClearWrites"/>
    <method name="Advertisements">
      <arg name="address" type="s" direction="in"/><arg name="count" type="u" direction="out"/>
    </method>
    <method name="Sync"/>
    <method name="LightState"><arg name="state" type="a{sv}" direction="out"/></method>
  </interface>
</node>)xml";

GDBusNodeInfo* node() {
    static GDBusNodeInfo* info = [] {
        GError* error = nullptr;
        GDBusNodeInfo* parsed = g_dbus_node_info_new_for_xml(XML, &error);
        if (!parsed) throw std::runtime_error(std::string("bad interface XML: ") + error->message);
        return parsed;  // kept for the life of the process
    }();
    return info;
}

}  // namespace

GDBusInterfaceInfo* interfaceInfo(const char* name) {
    GDBusInterfaceInfo* info = g_dbus_node_info_lookup_interface(node(), name);
    if (!info) throw std::logic_error(std::string("no such interface: ") + name);
    return info;
}

}  // namespace bluezsim
