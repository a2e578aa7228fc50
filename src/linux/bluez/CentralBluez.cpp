// The central: the bus connection, org.bluez coming and going, the copy of
// its objects, the adapter state, scanning, and routing signals to devices.

#include "CentralBluez.h"

#include <algorithm>

#include "BluezCall.h"
#include "DeviceIdentifier.h"
#include "PeripheralBluez.h"

namespace orvane {
namespace {

constexpr const char* objectManagerInterface = "org.freedesktop.DBus.ObjectManager";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";

// The context of the callbacks the bus connection and the name watch own.
using Weak = std::weak_ptr<CentralBluez>;

bool under(const std::string& path, const std::string& parent) {
    return !parent.empty() && path.size() > parent.size() && path.compare(0, parent.size(), parent) == 0 &&
           path[parent.size()] == '/';
}

// "/org/bluez/hci0/dev_AA_…/service000e/char0013" -> "/org/bluez/hci0/dev_AA_…".
std::string devicePathOf(const std::string& path) {
    std::size_t slashes = 0;
    for (std::size_t i = 0; i < path.size(); ++i)
        if (path[i] == '/' && ++slashes == 5) return path.substr(0, i);
    return path;
}

}  // namespace

CentralBluez::CentralBluez(MainQueue& queue, std::weak_ptr<CentralDelegate> delegate, BluezOptions options)
    : queue_(queue), delegate_(std::move(delegate)), options_(std::move(options)),
      cancellable_(adopt(g_cancellable_new())) {
    std::string address = options_.busAddress;
    if (address.empty()) {
        GErrorPtr error;
        GCharPtr system(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, ErrorOut(error)));
        if (system) address = system.get();
    }
    if (address.empty()) {
        busFailed_ = true;
        queue_.async([weak = Weak(weak_.weak())] {
            if (const auto self = weak.lock()) self->settle();
        });
        return;
    }
    // A connection of our own: when it closes, BlueZ ends our discovery and
    // notify sessions by itself.
    g_dbus_connection_new_for_address(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancellable_.get(),
        [](GObject*, GAsyncResult* result, gpointer data) {
            const std::unique_ptr<Weak> weak(static_cast<Weak*>(data));
            GErrorPtr error;
            GPtr<GDBusConnection> connection(g_dbus_connection_new_for_address_finish(result, ErrorOut(error)));
            if (g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
            const auto self = weak->lock();
            if (!self) return;
            if (!connection) {
                self->busFailed_ = true;
                return self->settle();
            }
            self->connected(connection.release());
        },
        new Weak(weak_.weak()));
}

CentralBluez::~CentralBluez() {
    g_cancellable_cancel(cancellable_.get());
    for (auto& [id, handed] : peripherals_)
        if (const auto peripheral = handed.lock()) peripheral->centralGone();
    if (!connection_) return;
    if (scanning_ && !adapterPath_.empty())
        callBluez(connection_.get(), adapterPath_.c_str(), adapterInterface, "StopDiscovery", nullptr, nullptr, {});
    if (nameWatch_) g_bus_unwatch_name(nameWatch_);
    if (signalSubscription_) g_dbus_connection_signal_unsubscribe(connection_.get(), signalSubscription_);
    closedSignal_.disconnect();
    // Closing takes precedence over what is still queued, so the Disconnect
    // and StopDiscovery calls above are flushed first. The callback owns a
    // reference to the connection and nothing of this object.
    g_object_ref(connection_.get());  // handed to the flush callback
    g_dbus_connection_flush(
        connection_.get(), nullptr,
        [](GObject* source, GAsyncResult* result, gpointer) {
            GPtr<GDBusConnection> connection(G_DBUS_CONNECTION(source));
            g_dbus_connection_flush_finish(connection.get(), result, nullptr);
            g_dbus_connection_close(connection.get(), nullptr, nullptr, nullptr);
        },
        nullptr);
}

void CentralBluez::connected(GDBusConnection* connection) {
    connection_.reset(connection);
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    closedSignal_ =
        connectWith(connection, "closed", G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, gpointer data) {
                        const auto self = static_cast<Weak*>(data)->lock();
                        if (!self) return;
                        // The bus itself went away: nothing will come back on it.
                        self->busFailed_ = true;
                        self->settle();
                    }),
                    Weak(weak_.weak()));
    // Every signal org.bluez sends; subscribed before the first GetManagedObjects
    // so that nothing falls between the two.
    signalSubscription_ = g_dbus_connection_signal_subscribe(
        connection, bluezName, nullptr, nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar* path, const gchar* iface, const gchar* member, GVariant* params,
           gpointer data) {
            if (const auto self = static_cast<Weak*>(data)->lock()) self->onSignal(path, iface, member, params);
        },
        new Weak(weak_.weak()), [](gpointer data) { delete static_cast<Weak*>(data); });
    // Watched, never started: a machine without Bluetooth has no bluetoothd.
    nameWatch_ = g_bus_watch_name_on_connection(
        connection, bluezName, G_BUS_NAME_WATCHER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, gpointer data) {
            if (const auto self = static_cast<Weak*>(data)->lock()) self->ownerAppeared();
        },
        [](GDBusConnection*, const gchar*, gpointer data) {
            if (const auto self = static_cast<Weak*>(data)->lock()) self->ownerVanished();
        },
        new Weak(weak_.weak()), [](gpointer data) { delete static_cast<Weak*>(data); });
}

void CentralBluez::ownerAppeared() {
    ownerKnown_ = true;
    owner_ = true;
    // A restarted bluetoothd exports its adapter a moment after taking the
    // name: the grace period lasts until the adapter is back.
    unauthorized_ = false;
    listFailed_ = false;
    fetch();
}

void CentralBluez::ownerVanished() {
    const bool wasThere = owner_;
    ownerKnown_ = true;
    owner_ = false;
    fetching_ = false;
    ++fetchNumber_;
    objects_.clear();
    if (wasThere && state_ != ManagerState::unknown) {
        // Most likely a restart of bluetoothd: resetting for a while first.
        inGrace_ = true;
        graceTimer_.cancel();
        graceTimer_ = queue_.after(options_.restartGrace, [weak = Weak(weak_.weak())] {
            const auto self = weak.lock();
            if (!self || !self->inGrace_) return;
            self->inGrace_ = false;
            self->settle();
        });
    }
    settle();
}

void CentralBluez::fetch() {
    fetching_ = true;
    const auto number = ++fetchNumber_;
    settle();
    listBluezObjects(connection_.get(), cancellable_.get(), [weak = Weak(weak_.weak()), number](CallReply& reply) {
        const auto self = weak.lock();
        if (!self || self->fetchNumber_ != number) return;
        self->fetching_ = false;
        if (reply.error) {
            if (reply.error->kind == BluezErrorKind::serviceGone) return;  // the name watch will say
            if (reply.error->kind == BluezErrorKind::accessDenied) self->unauthorized_ = true;
            else self->listFailed_ = true;  // BlueZ that cannot list its objects is of no use
            return self->settle();
        }
        self->fetched(reply.value.child(0).get());
    });
}

void CentralBluez::fetched(GVariant* managed) {
    objects_.reset(managed);
    // Devices known before (bluetoothd restarted) find their objects again.
    for (auto& [path, peripheral] : byPath_) peripheral->bind({});
    byPath_.clear();
    adapterPath_.clear();
    settle();
}

void CentralBluez::refetch(const std::string& devicePath) {
    if (!connection_ || fetching_) return;
    const auto number = fetchNumber_;
    listBluezObjects(connection_.get(), cancellable_.get(),
                     [weak = Weak(weak_.weak()), devicePath, number](CallReply& reply) {
                         const auto self = weak.lock();
                         if (!self || reply.error || self->fetchNumber_ != number) return;
                         // Signals that came before this reply are older than it, so
                         // objects it lists and the copy lacks are simply missing.
                         BluezObjects fresh;
                         fresh.reset(reply.value.child(0).get());
                         const auto peripheral = self->owningPeripheral(devicePath);
                         for (const char* iface : {serviceInterface, characteristicInterface})
                             for (const std::string& path : fresh.withInterface(iface)) {
                                 if (!under(path, devicePath) || self->objects_.has(path, iface)) continue;
                                 // Copied property by property through a{sv} of this interface.
                                 GVariantBuilder props;
                                 g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
                                 for (const char* name : {"UUID", "Device", "Service", "Flags", "Primary"})
                                     if (GVariant* value = fresh.get(path, iface, name))
                                         g_variant_builder_add(&props, "{sv}", name, value);
                                 GVariantBuilder entry;
                                 g_variant_builder_init(&entry, G_VARIANT_TYPE("a{sa{sv}}"));
                                 g_variant_builder_add(&entry, "{s@a{sv}}", iface, g_variant_builder_end(&props));
                                 const VariantPtr added = VariantPtr::adopt(g_variant_builder_end(&entry));
                                 self->objects_.add(path, added.get());
                                 if (peripheral) peripheral->gattAdded(path);
                             }
                     });
}

void CentralBluez::onSignal(const char* path, const char* iface, const char* member, GVariant* params) {
    // Before the first answer, and while a fresh copy is on its way, signals
    // are older than what the copy will hold.
    if (!owner_ || fetching_ || !path || !iface || !member) return;
    const std::string_view i(iface);
    const std::string_view m(member);
    if (i == objectManagerInterface && m == "InterfacesAdded") interfacesAdded(params);
    else if (i == objectManagerInterface && m == "InterfacesRemoved") interfacesRemoved(params);
    else if (i == propertiesInterface && m == "PropertiesChanged") propertiesChanged(path, params);
}

void CentralBluez::interfacesAdded(GVariant* params) {
    if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(oa{sa{sv}})"))) return;
    const std::string path = *stringValue(VariantPtr::adopt(g_variant_get_child_value(params, 0)).get());
    const VariantPtr interfaces = VariantPtr::adopt(g_variant_get_child_value(params, 1));
    objects_.add(path, interfaces.get());
    if (objects_.has(path, adapterInterface)) return settle();
    if (objects_.has(path, deviceInterface)) {
        // A device handed out before is back (it was forgotten, or bluetoothd
        // restarted): the same object again.
        const auto address = stringValue(objects_.get(path, deviceInterface, "Address"));
        if (address && under(path, adapterPath_) && handedOut(deviceIdentifier(adapterAddress_, *address)))
            peripheralAt(path);
        return advertised(path, nullptr);
    }
    if (objects_.has(path, serviceInterface) || objects_.has(path, characteristicInterface))
        if (const auto peripheral = owningPeripheral(path)) peripheral->gattAdded(path);
}

void CentralBluez::interfacesRemoved(GVariant* params) {
    if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(oas)"))) return;
    const std::string path = *stringValue(VariantPtr::adopt(g_variant_get_child_value(params, 0)).get());
    const VariantPtr names = VariantPtr::adopt(g_variant_get_child_value(params, 1));
    const bool device = objects_.has(path, deviceInterface);
    const bool gatt = objects_.has(path, serviceInterface) || objects_.has(path, characteristicInterface);
    objects_.remove(path, names.get());
    if (path == adapterPath_ && !objects_.has(path, adapterInterface)) return settle();
    if (device && !objects_.has(path, deviceInterface)) {
        const auto it = byPath_.find(path);
        if (it == byPath_.end()) return;
        const auto peripheral = it->second;
        byPath_.erase(it);
        peripheral->deviceRemoved();
        return;
    }
    if (gatt)
        if (const auto peripheral = owningPeripheral(path)) peripheral->gattRemoved(path);
}

void CentralBluez::propertiesChanged(const std::string& path, GVariant* params) {
    if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(sa{sv}as)"))) return;
    const std::string iface = *stringValue(VariantPtr::adopt(g_variant_get_child_value(params, 0)).get());
    const VariantPtr changed = VariantPtr::adopt(g_variant_get_child_value(params, 1));
    const VariantPtr invalidated = VariantPtr::adopt(g_variant_get_child_value(params, 2));
    objects_.change(path, iface, changed.get(), invalidated.get());

    if (iface == adapterInterface) {
        if (path == adapterPath_) settle();
    } else if (iface == deviceInterface) {
        const Weak weak(weak_.weak());
        if (const auto it = byPath_.find(path); it != byPath_.end()) {
            const auto peripheral = it->second;
            peripheral->deviceChanged(changed.get());
            if (weak.expired()) return;
        }
        advertised(path, changed.get());
    } else if (iface == characteristicInterface) {
        if (GVariant* value = g_variant_lookup_value(changed.get(), "Value", G_VARIANT_TYPE_BYTESTRING)) {
            const VariantPtr owned = VariantPtr::adopt(value);
            if (const auto peripheral = owningPeripheral(path)) peripheral->valueChanged(path, owned.get());
        }
    }
}

void CentralBluez::advertised(const std::string& path, GVariant* changed) {
    if (!scanning_ || !under(path, adapterPath_)) return;
    GVariant* rssi = objects_.get(path, deviceInterface, "RSSI");
    if (changed) {
        // Only what an advertisement changes; RSSI dropped at the end of a
        // scan (invalidated, not changed) is not one.
        bool report = false;
        for (const char* key : {"RSSI", "Name", "UUIDs", "ManufacturerData", "ServiceData", "TxPower"})
            report = report || VariantPtr::adopt(g_variant_lookup_value(changed, key, nullptr));
        if (!report) return;  // Connected, Paired, Trusted…: nothing was heard
    } else if (!rssi) {
        return;  // an object BlueZ remembered, not something it heard
    }
    // A device on a link does not advertise to us; its UUIDs now come from GATT.
    if (boolValue(objects_.get(path, deviceInterface, "Connected")) == true) return;
    const auto peripheral = peripheralAt(path);
    if (!peripheral) return;
    if (!allowDuplicates_ && !reportedThisScan_.insert(peripheral->identifier()).second) return;

    AdvertisementData advertisement;
    advertisement.localName = stringValue(objects_.get(path, deviceInterface, "Name"));
    for (const std::string& text : stringsValue(objects_.get(path, deviceInterface, "UUIDs")))
        if (auto uuid = GattUuid::parse(text)) advertisement.serviceUuids.push_back(std::move(*uuid));
    const int strength = int16Value(rssi).value_or(rssiUnavailable);
    tell([&](CentralDelegate& delegate, Central& central) {
        delegate.didDiscover(central, peripheral, advertisement, strength);
    });
}

std::shared_ptr<PeripheralBluez> CentralBluez::peripheralAt(const std::string& path) {
    if (const auto it = byPath_.find(path); it != byPath_.end()) return it->second;
    if (!under(path, adapterPath_) || adapterAddress_.empty()) return nullptr;
    const auto address = stringValue(objects_.get(path, deviceInterface, "Address"));
    if (!address) return nullptr;
    const Uuid id = deviceIdentifier(adapterAddress_, *address);
    auto peripheral = handedOut(id);
    if (peripheral) {
        peripheral->bind(path);
    } else {
        peripheral = std::make_shared<PeripheralBluez>(Weak(weak_.weak()), id, path);
        peripherals_.insert_or_assign(id, peripheral);
        // Devices nobody holds any more (BlueZ removed the object and the
        // bridge forgot them) leave empty entries: swept as the map doubles.
        if (peripherals_.size() >= 2 * sweptSize_) {
            std::erase_if(peripherals_, [](const auto& entry) { return entry.second.expired(); });
            sweptSize_ = std::max<std::size_t>(peripherals_.size(), 64);
        }
    }
    byPath_.insert_or_assign(path, peripheral);
    return peripheral;
}

std::shared_ptr<PeripheralBluez> CentralBluez::handedOut(const Uuid& id) const {
    const auto it = peripherals_.find(id);
    return it == peripherals_.end() ? nullptr : it->second.lock();
}

std::shared_ptr<PeripheralBluez> CentralBluez::owningPeripheral(const std::string& path) const {
    const auto it = byPath_.find(devicePathOf(path));
    return it == byPath_.end() ? nullptr : it->second;
}

std::string CentralBluez::chooseAdapter() const {
    const auto adapters = objects_.withInterface(adapterInterface);
    if (std::find(adapters.begin(), adapters.end(), adapterPath_) != adapters.end()) return adapterPath_;
    // The first one (hci0 before hci1) that can be a central.
    for (const std::string& path : adapters) {
        GVariant* roles = objects_.get(path, adapterInterface, "Roles");
        const auto list = stringsValue(roles);
        if (!roles || std::find(list.begin(), list.end(), "central") != list.end()) return path;
    }
    return {};
}

void CentralBluez::settle() {
    ManagerState target = ManagerState::unknown;
    bool changedAdapter = false;
    if (busFailed_ || (owner_ && listFailed_)) {
        target = ManagerState::unsupported;
    } else if (!ownerKnown_) {
        target = ManagerState::unknown;
    } else if (!owner_) {
        target = inGrace_ ? ManagerState::resetting : ManagerState::unsupported;
    } else if (fetching_) {
        target = state_;  // resetting after a restart; otherwise no news yet
    } else if (unauthorized_) {
        target = ManagerState::unauthorized;
    } else {
        const std::string chosen = chooseAdapter();
        if (chosen != adapterPath_ || (!chosen.empty() && adapterAddress_.empty())) {
            changedAdapter = hadAdapter_;
            for (auto& [path, peripheral] : byPath_) peripheral->bind({});
            byPath_.clear();
            adapterPath_ = chosen;
            adapterAddress_ = stringValue(objects_.get(chosen, adapterInterface, "Address")).value_or("");
            hadAdapter_ = hadAdapter_ || !chosen.empty();
            // Devices handed out before find their objects under this adapter.
            for (const std::string& path : objects_.children(deviceInterface, "Adapter", adapterPath_))
                if (const auto address = stringValue(objects_.get(path, deviceInterface, "Address")))
                    if (handedOut(deviceIdentifier(adapterAddress_, *address))) peripheralAt(path);
        }
        if (!adapterPath_.empty()) {
            inGrace_ = false;
            graceTimer_.cancel();
        }
        if (adapterPath_.empty()) target = inGrace_ ? ManagerState::resetting : ManagerState::unsupported;
        else if (boolValue(objects_.get(adapterPath_, adapterInterface, "Powered")) == true)
            target = ManagerState::poweredOn;
        else target = ManagerState::poweredOff;
    }
    const Weak weak(weak_.weak());
    if (changedAdapter && !adapterPath_.empty()) {
        setState(ManagerState::resetting);
        if (weak.expired()) return;
    }
    setState(target);
}

void CentralBluez::setState(ManagerState next) {
    if (reported_ && next == state_) return;
    if (!reported_ && next == ManagerState::unknown) return;  // unknown until known
    const bool leavingOn = state_ == ManagerState::poweredOn && next != ManagerState::poweredOn;
    state_ = next;
    reported_ = true;
    if (leavingOn) {
        ++timesOff_;
        // BlueZ ends discovery sessions and links with the adapter; so do the books.
        scanning_ = false;
        for (auto& [id, handed] : peripherals_)
            if (const auto peripheral = handed.lock()) peripheral->adapterLost();
    }
    tell([](CentralDelegate& delegate, Central& central) { delegate.didUpdateState(central); });
}

void CentralBluez::tell(const std::function<void(CentralDelegate&, Central&)>& callback) {
    if (const auto delegate = delegate_.lock()) callback(*delegate, *this);
}

void CentralBluez::refused(const BluezError& error) {
    if (error.kind != BluezErrorKind::accessDenied || unauthorized_) return;
    unauthorized_ = true;
    settle();
}

void CentralBluez::scanForPeripherals(const ScanOptions& options) {
    allowDuplicates_ = options.allowDuplicates;
    if (scanning_ || state_ != ManagerState::poweredOn) return;
    scanning_ = true;
    reportedThisScan_.clear();
    startDiscovery();
}

void CentralBluez::startDiscovery() {
    // LE only, and every report: BlueZ 5.66 leaves duplicates out unless told.
    GVariantBuilder filter;
    g_variant_builder_init(&filter, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&filter, "{sv}", "Transport", g_variant_new_string("le"));
    g_variant_builder_add(&filter, "{sv}", "DuplicateData", g_variant_new_boolean(TRUE));
    const std::string adapter = adapterPath_;
    // Both go out at once; BlueZ takes them in order.
    callBluez(connection_.get(), adapter.c_str(), adapterInterface, "SetDiscoveryFilter",
              g_variant_new("(@a{sv})", g_variant_builder_end(&filter)), cancellable_.get(),
              [weak = Weak(weak_.weak())](CallReply& reply) {
                  if (const auto self = weak.lock(); self && reply.error) self->refused(*reply.error);
              });
    callBluez(connection_.get(), adapter.c_str(), adapterInterface, "StartDiscovery", nullptr, cancellable_.get(),
              [weak = Weak(weak_.weak()), adapter](CallReply& reply) {
                  const auto self = weak.lock();
                  if (!self || !reply.error) return;
                  switch (reply.error->kind) {
                  case BluezErrorKind::inProgress: return;  // already ours
                  case BluezErrorKind::accessDenied: return self->refused(*reply.error);
                  default:
                      // Not scanning after all; the next state change starts it again.
                      if (self->adapterPath_ == adapter) self->scanning_ = false;
                  }
              });
}

void CentralBluez::stopScan() {
    if (!scanning_) return;
    scanning_ = false;
    if (connection_ && !adapterPath_.empty())
        callBluez(connection_.get(), adapterPath_.c_str(), adapterInterface, "StopDiscovery", nullptr, nullptr, {});
}

std::vector<std::shared_ptr<Peripheral>> CentralBluez::retrievePeripherals(const std::vector<Uuid>& identifiers) {
    std::vector<std::shared_ptr<Peripheral>> found;
    if (adapterPath_.empty()) return found;
    for (const std::string& path : objects_.children(deviceInterface, "Adapter", adapterPath_)) {
        const auto address = stringValue(objects_.get(path, deviceInterface, "Address"));
        if (!address) continue;
        const Uuid id = deviceIdentifier(adapterAddress_, *address);
        if (std::find(identifiers.begin(), identifiers.end(), id) == identifiers.end()) continue;
        if (auto peripheral = peripheralAt(path)) found.push_back(std::move(peripheral));
    }
    return found;
}

void CentralBluez::connect(const std::shared_ptr<Peripheral>& peripheral) {
    const auto mine = peripheral ? handedOut(peripheral->identifier()) : nullptr;
    if (!mine || mine != peripheral) return;  // not one of ours
    mine->connect();
}

void CentralBluez::cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) {
    const auto mine = peripheral ? handedOut(peripheral->identifier()) : nullptr;
    if (!mine || mine != peripheral) return;
    mine->cancel();
}

CentralFactory makeCentralBluez(MainQueue& queue, BluezOptions options) {
    return [&queue, options = std::move(options)](std::weak_ptr<CentralDelegate> delegate) -> std::unique_ptr<Central> {
        return std::make_unique<CentralBluez>(queue, std::move(delegate), options);
    };
}

}  // namespace orvane
