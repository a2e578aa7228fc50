#pragma once
// The backend's copy of BlueZ's object tree: object path -> interface ->
// property -> value, kept from GetManagedObjects and the object manager's
// and properties' signals. Plain data; it makes no calls.

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "Variant.h"

namespace orvane {

inline constexpr const char* adapterInterface = "org.bluez.Adapter1";
inline constexpr const char* deviceInterface = "org.bluez.Device1";
inline constexpr const char* serviceInterface = "org.bluez.GattService1";
inline constexpr const char* characteristicInterface = "org.bluez.GattCharacteristic1";

class BluezObjects {
public:
    using Properties = std::map<std::string, VariantPtr, std::less<>>;
    using Interfaces = std::map<std::string, Properties, std::less<>>;

    // Replaces everything with a GetManagedObjects reply's a{oa{sa{sv}}}.
    void reset(GVariant* managed);
    void clear() { objects_.clear(); }
    // InterfacesAdded: `interfaces` is a{sa{sv}}; the interfaces are replaced.
    void add(const std::string& path, GVariant* interfaces);
    // InterfacesRemoved: `names` is as.
    void remove(const std::string& path, GVariant* names);
    // PropertiesChanged of one interface.
    void change(const std::string& path, std::string_view iface, GVariant* changed, GVariant* invalidated);

    bool has(std::string_view path, std::string_view iface) const;
    // A property's value, or null (borrowed: valid until the tree changes).
    GVariant* get(std::string_view path, std::string_view iface, std::string_view name) const;
    // Paths of the objects with `iface` whose property `name` is the object path `owner`.
    std::vector<std::string> children(std::string_view iface, std::string_view name, std::string_view owner) const;
    // Paths of every object with `iface`, in path order.
    std::vector<std::string> withInterface(std::string_view iface) const;

private:
    static void fill(Properties& properties, GVariant* dict);
    std::map<std::string, Interfaces, std::less<>> objects_;
};

}  // namespace orvane
