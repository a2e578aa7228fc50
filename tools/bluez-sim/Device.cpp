#include "Device.h"

#include <glib-unix.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "Adapter.h"
#include "Interfaces.h"
#include "Values.h"

namespace bluezsim {
namespace {

constexpr const char* FAILED = "org.bluez.Error.Failed";
constexpr const char* NOT_SUPPORTED_TEXT = "Operation is not supported";
constexpr std::uint16_t MTU = 23;  // the default ATT MTU: 20-byte values

std::string hex4(const char* prefix, std::uint16_t handle) {
    char text[16];
    std::snprintf(text, sizeof text, "%s%04x", prefix, unsigned(handle));
    return text;
}

std::string dashed(std::string address) {
    std::replace(address.begin(), address.end(), ':', '-');
    return address;
}

std::string shortToFull(const char* id) { return std::string("0000") + id + "-0000-1000-8000-00805f9b34fb"; }

VariantPtr option(GVariant* options, const char* key) {
    return VariantPtr::adopt(g_variant_lookup_value(options, key, nullptr));
}

}  // namespace

bool Device::Characteristic::has(const char* flag) const {
    return std::find(model.flags.begin(), model.flags.end(), flag) != model.flags.end();
}

Device::Device(Adapter& adapter, DeviceModel model) : adapter_(adapter), model_(std::move(model)) {
    if (model_.behaviour) peripheral_ = model_.behaviour();
    for (auto& service : model_.services)
        for (auto& cs : service.characteristics) {
            auto c = std::make_unique<Characteristic>();
            c->model = cs;
            c->value = cs.value;
            characteristics_.push_back(std::move(c));
        }
}

Device::~Device() {
    for (auto& c : characteristics_) {
        if (c->acquiredWatch) g_source_remove(c->acquiredWatch);
        if (c->acquiredFd >= 0) close(c->acquiredFd);
    }
}

std::string Device::path() const {
    std::string p = adapter_.path() + "/dev_" + model_.address;
    std::replace(p.begin(), p.end(), ':', '_');
    return p;
}

bool Device::advertising() const {
    // A peripheral with its one link in use stops advertising.
    return inRange_ && !(linked_ && model_.connectable);
}

std::string Device::displayName() const { return model_.name.empty() ? model_.address : model_.name; }

void Device::print(const std::string& line) const {
    if (adapter_.settings().quiet || !peripheral_) return;
    std::printf("%s: %s\n", displayName().c_str(), line.c_str());
    std::fflush(stdout);
}

// Device1 ------------------------------------------------------------------

std::vector<Interface> Device::deviceInterfaces(bool withAdvertisement) {
    Props p;
    p["Address"] = text(model_.address);
    p["AddressType"] = text(model_.addressType);
    if (!model_.name.empty()) p["Name"] = text(model_.name);
    // Without a name BlueZ shows the address with dashes as the alias.
    p["Alias"] = text(model_.name.empty() ? dashed(model_.address) : model_.name);
    if (model_.appearance) p["Appearance"] = uint16(*model_.appearance);
    p["Paired"] = boolean(false);
    p["Bonded"] = boolean(false);
    p["Trusted"] = boolean(false);
    p["Blocked"] = boolean(false);
    p["LegacyPairing"] = boolean(false);
    p["Connected"] = boolean(linked_);
    p["ServicesResolved"] = boolean(servicesResolved_);
    p["UUIDs"] = strings(uuids_);
    p["Adapter"] = objectPath(adapter_.path());
    if (withAdvertisement) {
        if (lastRssi_) p["RSSI"] = int16(*lastRssi_);
        if (model_.txPower) p["TxPower"] = int16(*model_.txPower);
        if (!model_.manufacturerData.empty()) p["ManufacturerData"] = manufacturerData(model_.manufacturerData);
        if (!model_.serviceData.empty()) p["ServiceData"] = serviceData(model_.serviceData);
    }
    Interface device{DEVICE, std::move(p), [this](Call& call) { onDeviceCall(call); },
                     [this](const std::string& name, GVariant* value) -> std::pair<std::string, std::string> {
                         if (name == "Alias") {
                             std::string alias = g_variant_get_string(value, nullptr);
                             if (alias.empty()) alias = model_.name.empty() ? dashed(model_.address) : model_.name;
                             adapter_.tree().update(path(), DEVICE, {{"Alias", text(alias)}});
                             return {};
                         }
                         if (name == "Trusted" || name == "Blocked") {
                             adapter_.tree().update(path(), DEVICE, {{name, boolean(g_variant_get_boolean(value))}});
                             return {};
                         }
                         return {"org.bluez.Error.InvalidArguments", "Invalid arguments in method call"};
                     }};
    std::vector<Interface> list;
    list.push_back(std::move(device));
    return list;
}

void Device::report(bool filtered, bool duplicates) {
    static constexpr int JITTER[] = {0, -2, 1, -1, 2, -3, 3};
    ++reports_;
    const auto rssi = std::int16_t(model_.rssi + JITTER[reports_ % 7]);
    lastSeen = monotonicMs();
    for (auto& uuid : model_.uuids) uuids_.insert(uuid);
    if (!exported_) {
        // First report: the object appears with everything this report carried.
        lastRssi_ = rssi;
        temporary_ = true;
        exported_ = true;
        adapter_.tree().add(path(), deviceInterfaces(true));
        return;
    }
    ObjectTree& tree = adapter_.tree();
    const std::string p = path();
    Props changes;
    // Filtered discovery reports RSSI on every advertisement, else on a real change.
    if (filtered || !lastRssi_ || std::abs(rssi - *lastRssi_) >= 8) {
        changes["RSSI"] = int16(rssi);
        lastRssi_ = rssi;
    }
    if (model_.txPower && !tree.get(p, DEVICE, "TxPower")) changes["TxPower"] = int16(*model_.txPower);
    if (!model_.manufacturerData.empty()) {
        VariantPtr md = manufacturerData(model_.manufacturerData);
        if (duplicates || !(tree.get(p, DEVICE, "ManufacturerData") == md)) changes["ManufacturerData"] = md;
    }
    if (!model_.serviceData.empty()) {
        VariantPtr sd = serviceData(model_.serviceData);
        if (duplicates || !(tree.get(p, DEVICE, "ServiceData") == sd)) changes["ServiceData"] = sd;
    }
    VariantPtr uuids = strings(uuids_);
    if (!(tree.get(p, DEVICE, "UUIDs") == uuids)) changes["UUIDs"] = uuids;
    if (!model_.name.empty() && !tree.get(p, DEVICE, "Name")) {
        changes["Name"] = text(model_.name);
        changes["Alias"] = text(model_.name);
    }
    if (!changes.empty()) tree.update(p, DEVICE, changes);
}

void Device::forgetRssi() {
    if (!exported_) return;
    std::vector<std::string> gone;
    if (lastRssi_) gone.emplace_back("RSSI");
    if (adapter_.tree().get(path(), DEVICE, "TxPower")) gone.emplace_back("TxPower");
    lastRssi_.reset();
    if (!gone.empty()) adapter_.tree().update(path(), DEVICE, {}, gone);
}

void Device::exportStored() {
    if (exported_) return;
    temporary_ = false;
    exported_ = true;
    lastRssi_.reset();
    adapter_.tree().add(path(), deviceInterfaces(false));
}

void Device::unexport() {
    if (!exported_) return;
    // The objects go without a Connected change, as when the adapter disappears.
    ++attempt_;
    if (connecting_) std::exchange(connecting_, Reply()).fail(FAILED, "le-connection-abort-by-local");
    for (auto& [id, pending] : pending_) pending.reply.fail(FAILED, "Operation failed");
    pending_.clear();
    for (auto& r : disconnecting_) r.ok();
    disconnecting_.clear();
    const bool wasLinked = linked_;
    linked_ = servicesResolved_ = false;
    idle_.stop();
    for (auto& c : characteristics_) {
        release(*c);
        c->sessions.clear();
        c->starting.clear();
        c->notifying = c->writing = false;
        c->value = c->model.value;
    }
    // Children before their parents.
    std::for_each(gattPaths_.rbegin(), gattPaths_.rend(), [this](const std::string& p) { adapter_.tree().remove(p); });
    gattPaths_.clear();
    adapter_.tree().remove(path());
    exported_ = false;
    uuids_.clear();
    lastRssi_.reset();
    if (wasLinked) print("disconnected");
}

void Device::onDeviceCall(Call& call) {
    if (call.method == "Connect") return connect(call);
    if (call.method == "Disconnect") return disconnect(call);
    if (call.method == "CancelPairing") return call.reply.fail("org.bluez.Error.DoesNotExist", "Does Not Exist");
    call.reply.fail("org.bluez.Error.NotSupported", NOT_SUPPORTED_TEXT);
}

// The link ------------------------------------------------------------------

void Device::connect(Call& call) {
    if (!adapter_.powered()) return call.reply.fail("org.bluez.Error.NotReady", "Resource Not Ready");
    if (linked_) return call.reply.ok();
    if (connecting_) return call.reply.fail(FAILED, "Operation already in progress");
    connecting_ = std::move(call.reply);
    const auto id = ++attempt_;
    unsigned ms = connectDelayMs_ ? connectDelayMs_ : adapter_.settings().connectMs;
    const bool reachable = inRange_ && model_.connectable;
    if (!reachable && !refuse_) ms = std::max(ms, adapter_.settings().absentMs);
    timers_.after(ms, [this, id] {
        if (id != attempt_ || !connecting_) return;
        if (refuse_) return std::exchange(connecting_, Reply()).fail(refuse_->name, refuse_->text);
        // The controller gives up on a device it never heard.
        if (!inRange_ || !model_.connectable)
            return std::exchange(connecting_, Reply()).fail(FAILED, "le-connection-abort-by-local");
        linkUp();
    });
}

void Device::disconnect(Call& call) {
    if (connecting_) {
        // Cancelling an attempt: the attempt fails, the cancel succeeds.
        ++attempt_;
        std::exchange(connecting_, Reply()).fail(FAILED, "br-connection-canceled");
        return call.reply.ok();
    }
    if (!linked_) return call.reply.ok();
    disconnecting_.push_back(std::move(call.reply));
    if (disconnecting_.size() > 1) return;
    const auto id = attempt_;
    timers_.after(adapter_.settings().disconnectMs, [this, id] {
        if (id == attempt_) linkDown();
    });
}

void Device::linkUp() {
    linked_ = true;
    temporary_ = false;
    adapter_.remember(model_.address);
    Reply reply = std::exchange(connecting_, Reply());
    adapter_.tree().update(path(), DEVICE, {{"Connected", boolean(true)}});
    // BlueZ answers Connect when the link is up, before the services are known.
    reply.ok();
    print("connected");
    lastWrite_ = monotonicMs();
    if (adapter_.settings().idleSeconds) idle_.start(250, [this] { idleCheck(); });
    const auto id = attempt_;
    timers_.after(adapter_.settings().resolveMs, [this, id] {
        if (id == attempt_ && linked_) resolved();
    });
}

void Device::resolved() {
    if (gattPaths_.empty() && resolveEarly_) {
        servicesResolved_ = true;
        adapter_.tree().update(path(), DEVICE, {{"ServicesResolved", boolean(true)}});
        const auto id = attempt_;
        timers_.after(adapter_.settings().resolveMs, [this, id] {
            if (id != attempt_ || !linked_) return;
            exportGatt();
            armNotifications();
        });
        return;
    }
    if (gattPaths_.empty()) exportGatt();
    // Once resolved, the UUIDs are the GATT services, the hidden ones included.
    std::set<std::string> gatt{shortToFull("1800"), shortToFull("1801")};
    for (auto& s : model_.services) gatt.insert(s.uuid);
    if (gatt != uuids_) {
        uuids_ = gatt;
        adapter_.tree().update(path(), DEVICE, {{"UUIDs", strings(uuids_)}});
    }
    servicesResolved_ = true;
    adapter_.tree().update(path(), DEVICE, {{"ServicesResolved", boolean(true)}});
    armNotifications();
}

void Device::linkDown() {
    if (!linked_) return;
    ++attempt_;
    linked_ = false;
    const bool wasResolved = std::exchange(servicesResolved_, false);
    for (auto& [id, pending] : pending_) pending.reply.fail(FAILED, "Operation failed");
    pending_.clear();
    for (auto& c : characteristics_) {
        c->writing = false;
        c->starting.clear();
        release(*c);
    }
    idle_.stop();
    Props changes{{"Connected", boolean(false)}};
    if (wasResolved) changes["ServicesResolved"] = boolean(false);
    adapter_.tree().update(path(), DEVICE, changes);
    for (auto& r : disconnecting_) r.ok();
    disconnecting_.clear();
    due = monotonicMs();  // advertising again at once
    print("disconnected");
}

void Device::dropLink() {
    if (connecting_) {
        ++attempt_;
        std::exchange(connecting_, Reply()).fail(FAILED, "br-connection-canceled");
        return;
    }
    linkDown();
}

void Device::adapterOff() {
    if (connecting_) {
        ++attempt_;
        std::exchange(connecting_, Reply()).fail(FAILED, "le-connection-abort-by-local");
    }
    linkDown();
}

void Device::idleCheck() {
    const auto limit = std::int64_t(adapter_.settings().idleSeconds) * 1000;
    if (linked_ && limit && monotonicMs() - lastWrite_ >= limit) {
        print("dropping the idle link");
        linkDown();
    }
}

void Device::clientGone(const std::string& client) {
    for (auto& c : characteristics_) {
        c->starting.erase(client);
        if (c->sessions.erase(client) && c->sessions.empty() && c->notifying) {
            c->notifying = false;
            adapter_.tree().update(c->path, CHARACTERISTIC, {{"Notifying", boolean(false)}});
        }
    }
}

// GATT ---------------------------------------------------------------------

void Device::exportGatt() {
    ObjectTree& tree = adapter_.tree();
    std::size_t index = 0;
    for (auto& service : model_.services) {
        const std::string servicePath = path() + "/" + hex4("service", service.handle);
        Props sp{{"UUID", text(service.uuid)},
                 {"Device", objectPath(path())},
                 {"Primary", boolean(true)},
                 {"Includes", paths({})}};
        tree.add(servicePath, {Interface{SERVICE, std::move(sp), {}, {}}});
        gattPaths_.push_back(servicePath);
        for (std::size_t k = 0; k < service.characteristics.size(); ++k) {
            Characteristic& c = *characteristics_[index++];
            c.servicePath = servicePath;
            c.path = servicePath + "/" + hex4("char", c.model.handle);
            Props cp{{"UUID", text(c.model.uuid)},
                     {"Service", objectPath(servicePath)},
                     {"Flags", strings(c.model.flags)},
                     {"MTU", uint16(MTU)}};
            if (c.value) cp["Value"] = bytes(*c.value);
            const bool notifies = c.has("notify") || c.has("indicate");
            if (notifies) cp["Notifying"] = boolean(c.notifying);
            if (c.has("write-without-response")) cp["WriteAcquired"] = boolean(false);
            if (c.has("notify")) cp["NotifyAcquired"] = boolean(false);
            Characteristic* target = &c;
            tree.add(c.path, {Interface{CHARACTERISTIC,
                                        std::move(cp),
                                        [this, target](Call& call) { onCharacteristicCall(*target, call); },
                                        {}}});
            gattPaths_.push_back(c.path);
            if (!notifies) continue;
            // The client configuration descriptor; BlueZ writes it itself.
            const std::string descPath = c.path + "/" + hex4("desc", std::uint16_t(c.model.handle + 2));
            Props dp{{"UUID", text(shortToFull("2902"))},
                     {"Characteristic", objectPath(c.path)},
                     {"Value", bytes({0x00, 0x00})}};
            tree.add(descPath, {Interface{DESCRIPTOR,
                                          std::move(dp),
                                          [](Call& call) {
                                              if (call.method == "ReadValue")
                                                  return call.reply.ok(g_variant_new("(@ay)", newBytes({0, 0})));
                                              call.reply.fail("org.bluez.Error.NotPermitted", "Write not permitted");
                                          },
                                          {}}});
            gattPaths_.push_back(descPath);
        }
    }
}

bool Device::removeGatt(bool servicesFirst) {
    if (gattPaths_.empty()) return false;
    // gattPaths_ lists parents first; within a service, a characteristic before its descriptor.
    std::vector<std::string> order;
    if (servicesFirst) {
        for (auto& p : gattPaths_)
            if (p.find("/char") == std::string::npos) order.push_back(p);
        for (auto& p : gattPaths_)
            if (p.find("/char") != std::string::npos) order.push_back(p);
    } else {
        order.assign(gattPaths_.rbegin(), gattPaths_.rend());
    }
    for (auto& p : order) adapter_.tree().remove(p);
    gattPaths_.clear();
    for (auto& c : characteristics_) {
        release(*c);
        c->sessions.clear();
        c->starting.clear();
        c->notifying = false;
        c->path.clear();
    }
    return true;
}

void Device::onCharacteristicCall(Characteristic& c, Call& call) {
    if (call.method == "WriteValue") return write(c, call);
    if (call.method == "ReadValue") return read(c, call);
    if (call.method == "StartNotify") return startNotify(c, call);
    if (call.method == "StopNotify") return stopNotify(c, call);
    if (call.method == "AcquireWrite") return acquireWrite(c, call);
    call.reply.fail("org.bluez.Error.NotSupported", NOT_SUPPORTED_TEXT);
}

void Device::later(Reply reply, std::function<void(Reply&)> done) {
    const auto id = ++nextPending_;
    pending_.emplace(id, Pending{std::move(reply), std::move(done)});
    timers_.after(replyDelayMs_, [this, id] {
        auto it = pending_.find(id);
        if (it == pending_.end()) return;
        Pending p = std::move(it->second);
        pending_.erase(it);
        p.done(p.reply);
    });
}

std::optional<Failure> Device::takeFailure(Characteristic& c, const std::string& operation) {
    auto it = c.failNext.find(operation);
    if (it == c.failNext.end()) return std::nullopt;
    Failure f = std::move(it->second);
    c.failNext.erase(it);
    return f;
}

void Device::write(Characteristic& c, Call& call) {
    if (!linked_) return call.reply.fail(FAILED, "Not connected");
    if (c.acquiredFd >= 0) return call.reply.fail("org.bluez.Error.NotPermitted", "Write acquired");
    if (c.writing) return call.reply.fail("org.bluez.Error.InProgress", "In Progress");
    VariantPtr value = VariantPtr::adopt(g_variant_get_child_value(call.params, 0));
    VariantPtr options = VariantPtr::adopt(g_variant_get_child_value(call.params, 1));
    std::string type;
    if (VariantPtr t = option(options.get(), "type")) {
        if (!g_variant_is_of_type(t.get(), G_VARIANT_TYPE_STRING))
            return call.reply.fail("org.bluez.Error.InvalidArguments", "Invalid arguments in method call");
        type = g_variant_get_string(t.get(), nullptr);
        if (type != "request" && type != "command" && type != "reliable")
            return call.reply.fail("org.bluez.Error.InvalidArguments", "Invalid arguments in method call");
    }
    if (VariantPtr offset = option(options.get(), "offset"))
        if (!g_variant_is_of_type(offset.get(), G_VARIANT_TYPE_UINT16) || g_variant_get_uint16(offset.get()))
            return call.reply.fail("org.bluez.Error.InvalidArguments", "Invalid offset");
    // Without a type BlueZ prefers a command when the characteristic allows one.
    if (type.empty()) type = c.has("write-without-response") ? "command" : "request";
    if (type == "reliable") type = "request";
    Bytes data = bytesOf(value.get());

    if (type == "command") {
        if (auto failure = takeFailure(c, "write")) return call.reply.fail(failure->name, failure->text);
        if (data.size() > MTU - 3u) return call.reply.fail(FAILED, "Failed to initiate write");
        // Answered once queued; the device gets it afterwards.
        call.reply.ok();
        if (c.has("write-without-response"))
            for (auto& n : deliver(c, "command", data)) send(n.uuid, n.value);
        return;
    }
    c.writing = true;
    auto failure = takeFailure(c, "write");
    Characteristic* target = &c;
    later(std::move(call.reply), [this, target, data, failure](Reply& reply) {
        target->writing = false;
        if (failure) return reply.fail(failure->name, failure->text);
        if (!target->has("write")) return reply.fail("org.bluez.Error.NotPermitted", "Write not permitted");
        // The device acts on the write before its response reaches the central.
        std::vector<Notification> out = deliver(*target, "request", data);
        reply.ok();
        for (auto& n : out) send(n.uuid, n.value);
    });
}

std::vector<Notification> Device::deliver(Characteristic& c, const std::string& type, const Bytes& value) {
    c.log.push_back({type, value});
    lastWrite_ = monotonicMs();
    if (!peripheral_) return {};
    const std::string before = peripheral_->describe(false);
    std::vector<Notification> out = peripheral_->written(c.model.uuid, value);
    if (peripheral_->describe(false) != before) print(peripheral_->describe(adapter_.settings().colour));
    return out;
}

void Device::send(const std::string& uuid, const Bytes& value) {
    Characteristic* c = find(uuid);
    // Nothing goes out before the central enabled notifications on this link.
    if (!c || !linked_ || !c->notifying || c->sessions.empty() || c->path.empty()) return;
    c->value = value;
    adapter_.tree().update(c->path, CHARACTERISTIC, {{"Value", bytes(value)}});
}

void Device::read(Characteristic& c, Call& call) {
    if (!linked_) return call.reply.fail(FAILED, "Not connected");
    if (!c.has("read")) return call.reply.fail("org.bluez.Error.NotPermitted", "Read not permitted");
    auto failure = takeFailure(c, "read");
    Characteristic* target = &c;
    later(std::move(call.reply), [this, target, failure](Reply& reply) {
        if (failure) return reply.fail(failure->name, failure->text);
        Bytes v = target->value.value_or(Bytes{});
        target->value = v;
        adapter_.tree().update(target->path, CHARACTERISTIC, {{"Value", bytes(v)}});
        reply.ok(g_variant_new("(@ay)", newBytes(v)));
    });
}

void Device::startNotify(Characteristic& c, Call& call) {
    const std::string client = call.sender;
    if (c.sessions.count(client)) return call.reply.ok();
    if (c.starting.count(client)) return call.reply.fail("org.bluez.Error.InProgress", "In Progress");
    if (!c.has("notify") && !c.has("indicate"))
        return call.reply.fail("org.bluez.Error.NotSupported", NOT_SUPPORTED_TEXT);
    auto failure = takeFailure(c, "notify");
    if (!linked_) {
        // BlueZ accepts the session now and enables it on the next connection.
        if (failure) return call.reply.fail(failure->name, failure->text);
        c.sessions.insert(client);
        return call.reply.ok();
    }
    c.starting.insert(client);
    Characteristic* target = &c;
    later(std::move(call.reply), [this, target, client, failure](Reply& reply) {
        target->starting.erase(client);
        if (failure) return reply.fail(failure->name, failure->text);
        target->sessions.insert(client);
        if (!target->notifying) {
            target->notifying = true;
            adapter_.tree().update(target->path, CHARACTERISTIC, {{"Notifying", boolean(true)}});
        }
        reply.ok();
    });
}

void Device::stopNotify(Characteristic& c, Call& call) {
    if (!c.sessions.erase(call.sender)) return call.reply.fail(FAILED, "No notify session started");
    if (c.sessions.empty() && c.notifying) {
        c.notifying = false;
        adapter_.tree().update(c.path, CHARACTERISTIC, {{"Notifying", boolean(false)}});
    }
    call.reply.ok();
}

void Device::armNotifications() {
    for (auto& c : characteristics_)
        if (!c->sessions.empty() && !c->notifying) {
            c->notifying = true;
            adapter_.tree().update(c->path, CHARACTERISTIC, {{"Notifying", boolean(true)}});
        }
}

void Device::acquireWrite(Characteristic& c, Call& call) {
    if (!linked_) return call.reply.fail(FAILED, "Not connected");
    if (c.acquiredFd >= 0) return call.reply.fail("org.bluez.Error.NotPermitted", "Write acquired");
    if (!c.has("write-without-response")) return call.reply.fail("org.bluez.Error.NotSupported", NOT_SUPPORTED_TEXT);
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0)
        return call.reply.fail(FAILED, "Operation failed");
    c.acquiredFd = ends[0];
    Characteristic* target = &c;
    // One datagram is one write command, as bluetoothd reads them.
    auto onData = [](gint fd, GIOCondition condition, gpointer data) -> gboolean {
        auto* self = static_cast<std::pair<Device*, Characteristic*>*>(data);
        Device* device = self->first;
        Characteristic* ch = self->second;
        std::uint8_t buffer[512];
        bool any = false;
        for (;;) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            any = true;
            for (auto& note : device->deliver(*ch, "command", Bytes(buffer, buffer + n)))
                device->send(note.uuid, note.value);
            if (ch->acquiredFd != fd) return G_SOURCE_REMOVE;  // the link went meanwhile
        }
        if (!any && (condition & (G_IO_HUP | G_IO_ERR))) {
            ch->acquiredWatch = 0;  // this source ends by returning
            device->release(*ch);
            return G_SOURCE_REMOVE;
        }
        return G_SOURCE_CONTINUE;
    };
    c.acquiredWatch =
        g_unix_fd_add_full(G_PRIORITY_DEFAULT, ends[0], GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), onData,
                           new std::pair<Device*, Characteristic*>(this, target),
                           [](gpointer data) { delete static_cast<std::pair<Device*, Characteristic*>*>(data); });
    adapter_.tree().update(c.path, CHARACTERISTIC, {{"WriteAcquired", boolean(true)}});
    call.reply.okWithFd(g_variant_new("(hq)", 0, MTU), ends[1]);
}

void Device::release(Characteristic& c) {
    if (c.acquiredFd < 0) return;
    if (c.acquiredWatch) g_source_remove(c.acquiredWatch);
    c.acquiredWatch = 0;
    close(c.acquiredFd);
    c.acquiredFd = -1;
    adapter_.tree().update(c.path, CHARACTERISTIC, {{"WriteAcquired", boolean(false)}});
}

// Switches -----------------------------------------------------------------

Device::Characteristic* Device::find(const std::string& uuid) {
    for (auto& c : characteristics_)
        if (g_ascii_strcasecmp(c->model.uuid.c_str(), uuid.c_str()) == 0) return c.get();
    return nullptr;
}

bool Device::failNext(const std::string& uuid, const std::string& operation, Failure failure) {
    Characteristic* c = find(uuid);
    if (!c) return false;
    c->failNext[operation] = std::move(failure);
    return true;
}

bool Device::notify(const std::string& uuid, const Bytes& value) {
    if (!find(uuid)) return false;
    send(uuid, value);
    return true;
}

const std::vector<Written>* Device::writes(const std::string& uuid) const {
    for (auto& c : characteristics_)
        if (g_ascii_strcasecmp(c->model.uuid.c_str(), uuid.c_str()) == 0) return &c->log;
    return nullptr;
}

void Device::clearWrites() {
    for (auto& c : characteristics_) c->log.clear();
}

}  // namespace bluezsim
