#include "Adapter.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "Interfaces.h"
#include "Values.h"

namespace bluezsim {
namespace {

constexpr const char* INVALID = "org.bluez.Error.InvalidArguments";
constexpr const char* INVALID_TEXT = "Invalid arguments in method call";
constexpr unsigned TICK_MS = 10;

std::string lower(std::string s) {
    for (auto& ch : s) ch = char(g_ascii_tolower(ch));
    return s;
}

// A filter UUID in the 128-bit form BlueZ compares: 16- and 32-bit ones are
// on the Bluetooth base UUID. Empty when it is not a UUID.
std::string fullUuid(const std::string& uuid) {
    std::string u = lower(uuid);
    auto hex = [](const std::string& s) {
        return std::all_of(s.begin(), s.end(), [](char ch) { return g_ascii_isxdigit(ch); });
    };
    if (u.size() == 4 && hex(u)) return "0000" + u + "-0000-1000-8000-00805f9b34fb";
    if (u.size() == 8 && hex(u)) return u + "-0000-1000-8000-00805f9b34fb";
    if (g_uuid_string_is_valid(u.c_str())) return u;
    return {};
}

}  // namespace

std::int64_t monotonicMs() { return g_get_monotonic_time() / 1000; }

bool Adapter::Filter::matches(const Device& device) const {
    if (transport == "bredr") return false;  // every simulated device is LE only
    if (!uuids.empty()) {
        const auto& advertised = device.model().uuids;
        if (std::none_of(advertised.begin(), advertised.end(), [&](auto& u) { return uuids.count(u) != 0; }))
            return false;
    }
    if (rssi && device.model().rssi < *rssi) return false;
    if (!pattern.empty() && device.address().rfind(pattern, 0) != 0 && device.model().name.rfind(pattern, 0) != 0)
        return false;
    return true;
}

Adapter::Adapter(ObjectTree& tree, const Settings& settings) : tree_(tree), settings_(settings) {
    for (auto& model : catalogue(settings_)) devices_.push_back(std::make_unique<Device>(*this, std::move(model)));
    loadStorage();
    sweeper_.start(500, [this] { sweep(); });
}

Adapter::~Adapter() = default;

void Adapter::plug(const std::string& name) {
    if (plugged_) return;
    path_ = "/org/bluez/" + name;
    plugged_ = true;
    powered_ = true;
    discovering_ = false;
    Props props{
        {"Address", text(ADAPTER_ADDRESS)},
        {"AddressType", text("public")},
        {"Name", text("bluez-sim")},
        {"Alias", text("bluez-sim")},
        {"Class", uint32(0x6c010c)},
        {"Powered", boolean(true)},
        {"Discoverable", boolean(false)},
        {"DiscoverableTimeout", uint32(180)},
        {"Pairable", boolean(false)},
        {"PairableTimeout", uint32(0)},
        {"Discovering", boolean(false)},
        {"UUIDs", strings(std::vector<std::string>{"00001800-0000-1000-8000-00805f9b34fb",
                                                   "00001801-0000-1000-8000-00805f9b34fb"})},
        {"Modalias", text("usb:v1D6Bp0246d0542")},
        {"Roles", strings(std::vector<std::string>{"central", "peripheral"})},
    };
    auto setter = [this](const std::string& prop, GVariant* value) -> std::pair<std::string, std::string> {
        if (prop == "Powered") {
            setPowered(g_variant_get_boolean(value));
            return {};
        }
        if (prop == "Alias" || prop == "Discoverable" || prop == "Pairable" || prop == "DiscoverableTimeout" ||
            prop == "PairableTimeout") {
            tree_.update(path_, ADAPTER, {{prop, VariantPtr::retain(value)}});
            return {};
        }
        return {INVALID, INVALID_TEXT};
    };
    Props advertising{{"ActiveInstances", byte(0)},
                      {"SupportedInstances", byte(5)},
                      {"SupportedIncludes", strings(std::vector<std::string>{"tx-power", "appearance", "local-name"})}};
    std::vector<Interface> interfaces;
    interfaces.push_back(Interface{ADAPTER, std::move(props), [this](Call& call) { onCall(call); }, setter});
    interfaces.push_back(Interface{GATT_MANAGER, {}, {}, {}});
    interfaces.push_back(Interface{ADVERTISING_MANAGER, std::move(advertising), {}, {}});
    tree_.add(path_, std::move(interfaces));
    for (auto& d : devices_)
        if (stored_.count(d->address())) d->exportStored();
}

void Adapter::unplug() {
    if (!plugged_) return;
    sessions_.clear();
    filters_.clear();
    advertising_.stop();
    discovering_ = false;
    // Devices first, as BlueZ tears them down before the adapter.
    for (auto& d : devices_) d->unexport();
    tree_.remove(path_);
    plugged_ = false;
}

void Adapter::setPowered(bool on) {
    if (!plugged_ || on == powered_) return;
    if (on) {
        powered_ = true;
        tree_.update(path_, ADAPTER, {{"Powered", boolean(true)}});
        return;
    }
    // Links go down first, then the adapter reports the change, ends every
    // discovery session and forgets the devices it only saw advertising.
    for (auto& d : devices_) d->adapterOff();
    powered_ = false;
    Props changes{{"Powered", boolean(false)}};
    if (discovering_) changes["Discovering"] = boolean(false);
    discovering_ = false;
    advertising_.stop();
    sessions_.clear();
    filters_.clear();
    tree_.update(path_, ADAPTER, changes);
    for (auto& d : devices_)
        if (d->exported() && d->temporary()) d->unexport();
}

void Adapter::onCall(Call& call) {
    if (call.method == "StartDiscovery") return startDiscovery(call);
    if (call.method == "StopDiscovery") return stopDiscovery(call);
    if (call.method == "SetDiscoveryFilter") return setDiscoveryFilter(call);
    if (call.method == "RemoveDevice") return removeDevice(call);
    if (call.method == "GetDiscoveryFilters") {
        VariantPtr keys = strings(std::vector<std::string>{"UUIDs", "RSSI", "Pathloss", "Transport", "DuplicateData",
                                                           "Discoverable", "Pattern"});
        return call.reply.ok(g_variant_new("(@as)", keys.get()));
    }
    call.reply.fail("org.bluez.Error.NotSupported", "Operation is not supported");
}

void Adapter::startDiscovery(Call& call) {
    if (!powered()) return call.reply.fail("org.bluez.Error.NotReady", "Resource Not Ready");
    if (!sessions_.insert(call.sender).second)
        return call.reply.fail("org.bluez.Error.InProgress", "Operation already in progress");
    call.reply.ok();
    if (discovering_) return;
    discovering_ = true;
    tree_.update(path_, ADAPTER, {{"Discovering", boolean(true)}});
    // Spread the first advertisements over one interval, the first one at once.
    const auto now = monotonicMs();
    std::size_t i = 0;
    for (auto& d : devices_) {
        const unsigned interval = d->model().intervalMs ? d->model().intervalMs : settings_.intervalMs;
        d->due = now + std::int64_t((i++ * 37) % std::max(1u, interval));
    }
    advertising_.start(TICK_MS, [this] { tick(); });
}

void Adapter::stopDiscovery(Call& call) {
    if (!sessions_.erase(call.sender)) return call.reply.fail("org.bluez.Error.Failed", "No discovery started");
    call.reply.ok();
    if (sessions_.empty() && discovering_) stopScanning();
}

void Adapter::stopScanning() {
    discovering_ = false;
    advertising_.stop();
    tree_.update(path_, ADAPTER, {{"Discovering", boolean(false)}});
    // BlueZ no longer knows the signal strength once it stops listening, and
    // forgets devices that could never be connected.
    for (auto& d : devices_) d->forgetRssi();
    for (auto& d : devices_)
        if (d->exported() && d->temporary() && !d->model().connectable) d->unexport();
}

void Adapter::setDiscoveryFilter(Call& call) {
    VariantPtr dict = VariantPtr::adopt(g_variant_get_child_value(call.params, 0));
    if (g_variant_n_children(dict.get()) == 0) {
        filters_.erase(call.sender);  // an empty filter removes the client's filter
        return call.reply.ok();
    }
    Filter f;
    bool pathloss = false;
    GVariantIter iter;
    g_variant_iter_init(&iter, dict.get());
    const gchar* key;
    GVariant* raw;
    while (g_variant_iter_next(&iter, "{&sv}", &key, &raw)) {
        VariantPtr value = VariantPtr::adopt(raw);
        const std::string k = key;
        auto is = [&](const char* type) { return g_variant_is_of_type(value.get(), G_VARIANT_TYPE(type)); };
        bool ok = true;
        if (k == "UUIDs" && is("as")) {
            gsize n = 0;
            g_autofree const gchar** list = g_variant_get_strv(value.get(), &n);
            for (gsize i = 0; i < n && ok; ++i) {
                std::string full = fullUuid(list[i]);
                ok = !full.empty();
                f.uuids.insert(full);
            }
        } else if (k == "RSSI" && is("n")) {
            f.rssi = g_variant_get_int16(value.get());
        } else if (k == "Pathloss" && is("q")) {
            pathloss = true;
        } else if (k == "Transport" && is("s")) {
            f.transport = g_variant_get_string(value.get(), nullptr);
            ok = f.transport == "auto" || f.transport == "le" || f.transport == "bredr";
        } else if (k == "DuplicateData" && is("b")) {
            f.duplicates = g_variant_get_boolean(value.get());
        } else if (k == "Discoverable" && is("b")) {
        } else if (k == "Pattern" && is("s")) {
            f.pattern = g_variant_get_string(value.get(), nullptr);
        } else {
            ok = false;
        }
        if (!ok) return call.reply.fail(INVALID, INVALID_TEXT);
    }
    if (pathloss && f.rssi) return call.reply.fail(INVALID, INVALID_TEXT);
    filters_[call.sender] = std::move(f);
    call.reply.ok();
}

void Adapter::removeDevice(Call& call) {
    const gchar* target = nullptr;
    g_variant_get(call.params, "(&o)", &target);
    for (auto& d : devices_) {
        if (!d->exported() || d->path() != target) continue;
        d->dropLink();
        d->unexport();
        if (stored_.erase(d->address())) saveStorage();
        return call.reply.ok();
    }
    call.reply.fail("org.bluez.Error.DoesNotExist", "Does Not Exist");
}

void Adapter::tick() {
    if (!powered() || !discovering_) return;
    const auto now = monotonicMs();
    bool filtered = false;
    bool duplicates = false;
    for (auto& client : sessions_) {
        auto it = filters_.find(client);
        if (it == filters_.end()) continue;
        filtered = true;
        duplicates = duplicates || it->second.duplicates;
    }
    for (auto& d : devices_) {
        if (!d->advertising() || now < d->due) continue;
        const unsigned interval = d->model().intervalMs ? d->model().intervalMs : settings_.intervalMs;
        d->due = d->due + interval <= now ? now + interval : d->due + interval;
        ++d->advertisements;
        bool wanted = false;
        if (filtered) {
            for (auto& client : sessions_) {
                auto it = filters_.find(client);
                wanted = wanted || it == filters_.end() || it->second.matches(*d);
            }
        } else {
            // Unfiltered discovery only reports devices that say they are discoverable.
            wanted = d->exported() || d->model().discoverable;
        }
        if (wanted) d->report(filtered, duplicates);
    }
}

void Adapter::sweep() {
    const auto limit = std::int64_t(settings_.temporarySeconds) * 1000;
    const auto now = monotonicMs();
    for (auto& d : devices_)
        if (d->exported() && d->temporary() && !d->busy() && now - d->lastSeen > limit) d->unexport();
}

void Adapter::remember(const std::string& address) {
    if (stored_.insert(address).second) saveStorage();
}

void Adapter::clientGone(const std::string& client) {
    filters_.erase(client);
    if (sessions_.erase(client) && sessions_.empty() && discovering_) stopScanning();
    for (auto& d : devices_) d->clientGone(client);
}

Device* Adapter::device(const std::string& address) {
    for (auto& d : devices_)
        if (g_ascii_strcasecmp(d->address().c_str(), address.c_str()) == 0) return d.get();
    return nullptr;
}

void Adapter::rotate(unsigned count, unsigned intervalMs) {
    floodFirst_ += count;
    if (floodFirst_ + count > 0xffffff) floodFirst_ = 1;  // addresses have 24 bits for the index
    flood(count, intervalMs);
}

void Adapter::flood(unsigned count, unsigned intervalMs) {
    for (auto& d : devices_)
        if (d->model().flood) d->unexport();
    std::erase_if(devices_, [](auto& d) { return d->model().flood; });
    const auto now = monotonicMs();
    for (unsigned i = floodFirst_; i < floodFirst_ + count; ++i) {
        auto d = std::make_unique<Device>(*this, floodDevice(i, intervalMs));
        d->due = now + std::int64_t((i * 7) % std::max(1u, intervalMs));
        devices_.push_back(std::move(d));
    }
}

void Adapter::loadStorage() {
    if (settings_.storage.empty()) return;
    std::ifstream in(settings_.storage);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) stored_.insert(line);
}

void Adapter::saveStorage() const {
    if (settings_.storage.empty()) return;
    std::ostringstream out;
    for (auto& address : stored_) out << address << '\n';
    const std::string text = out.str();
    // Replaced whole, so a crash never leaves half a list.
    g_file_set_contents(settings_.storage.c_str(), text.c_str(), gssize(text.size()), nullptr);
}

}  // namespace bluezsim
