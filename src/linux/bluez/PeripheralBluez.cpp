// One device: its link, GATT discovery, writes and notifications.

#include "PeripheralBluez.h"

#include <algorithm>

#include "BluezCall.h"
#include "BluezFailure.h"
#include "CentralBluez.h"
#include "GattValues.h"

namespace orvane {
namespace {

// Our own failures; the details are for tests and the log.
const BluetoothError notConnected{BluetoothFailure::notConnected, "Not connected."};
const BluetoothError linkLostError{BluetoothFailure::linkLost, "The connection was lost."};
const BluetoothError deviceGone{BluetoothFailure::deviceGone, "The device is gone."};
const BluetoothError adapterOff{BluetoothFailure::adapterOff, "Bluetooth isn’t on."};
const BluetoothError unknownAttribute{BluetoothFailure::attributeGone, "Unknown service or characteristic."};
const BluetoothError discoveryTimedOutError{BluetoothFailure::timedOut, "Service discovery timed out."};
const BluetoothError attributeRemoved{BluetoothFailure::attributeGone, "The characteristic was removed."};

// GATT object paths in handle order (the order of the device's table).
void sortByHandle(std::vector<std::string>& paths) {
    std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
        const long ha = handleOfPath(a);
        const long hb = handleOfPath(b);
        return ha != hb ? ha < hb : a < b;
    });
}

}  // namespace

PeripheralBluez::PeripheralBluez(std::weak_ptr<CentralBluez> central, Uuid id, std::string path)
    : central_(std::move(central)), id_(id), path_(std::move(path)), linkCancellable_(adopt(g_cancellable_new())) {}

PeripheralBluez::~PeripheralBluez() {
    g_cancellable_cancel(linkCancellable_.get());
    retryTimer_.cancel();
    discoveryTimer_.cancel();
    settleTimer_.cancel();
}

std::optional<std::string> PeripheralBluez::name() const {
    if (const auto central = central_.lock(); central && !path_.empty())
        if (auto name = stringValue(central->objects().get(path_, deviceInterface, "Name")))
            lastName_ = std::move(name);
    return lastName_;
}

void PeripheralBluez::post(std::function<void(PeripheralBluez&)> work, bool sameLink) {
    const auto central = central_.lock();
    if (!central) return;
    central->queue().async([weak = weak_from_this(), link = link_, sameLink, work = std::move(work)] {
        const auto self = weak.lock();
        if (!self || self->central_.expired() || (sameLink && self->link_ != link)) return;
        work(*self);
    });
}

void PeripheralBluez::tell(const std::function<void(PeripheralDelegate&)>& callback) {
    if (const auto delegate = delegate_.lock()) callback(*delegate);
}

void PeripheralBluez::afterPendingSignals(std::function<void(PeripheralBluez&)> then, bool sameLink) {
    const auto central = central_.lock();
    if (!central) return;
    if (path_.empty() || !central->connection()) return post(std::move(then), sameLink);
    // Any answer will do: it comes after every signal BlueZ sent before it.
    callBluez(central->connection(), path_.c_str(), "org.freedesktop.DBus.Properties", "Get",
              g_variant_new("(ss)", deviceInterface, "Connected"), sameLink ? linkCancellable_.get() : nullptr,
              [weak = weak_from_this(), link = link_, sameLink, then = std::move(then)](CallReply&) {
                  const auto self = weak.lock();
                  if (self && (!sameLink || self->link_ == link) && !self->central_.expired()) then(*self);
              });
}

// The link ----------------------------------------------------------------

void PeripheralBluez::freshLink() {
    g_cancellable_cancel(linkCancellable_.get());
    linkCancellable_ = adopt(g_cancellable_new());
    ++link_;
    retryWhenDown_ = false;
    retryTimer_.cancel();
    servicesWanted_ = 0;
    waitingForObjects_ = false;
    refetched_ = false;
    tableKnown_ = false;
    discoveryTimer_.cancel();
    settleTimer_.cancel();
    // Every link discovers afresh.
    services_.clear();
    for (auto& [path, service] : serviceObjects_) service->setCharacteristics({});
    commandsInFlight_ = 0;
    sendsPosted_ = false;  // the posted sends belong to the old link
    const auto central = central_.lock();
    for (auto& [path, characteristic] : characteristicObjects_) {
        characteristic->writes.clear();
        characteristic->requestSent = false;
        characteristic->commandsSent = 0;
        characteristic->notifyChanges.clear();
        characteristic->changingNotify = false;
        characteristic->notifying = false;
        // BlueZ keeps notify sessions over a reconnection and would send
        // values nobody asked for on the next link: end ours now.
        if (characteristic->mayHaveSession && central && central->connection())
            callBluez(central->connection(), path.c_str(), characteristicInterface, "StopNotify", nullptr, nullptr, {});
        characteristic->mayHaveSession = false;
    }
}

void PeripheralBluez::connect() {
    const auto central = central_.lock();
    if (!central) return;
    switch (state_) {
    case PeripheralState::connecting: return;  // the attempt under way answers
    case PeripheralState::connected:
        return post([](PeripheralBluez& self) {
            if (const auto c = self.central_.lock())
                c->tell([&](CentralDelegate& d, Central& m) { d.didConnect(m, self.shared_from_this()); });
        });
    case PeripheralState::disconnecting:
        // BlueZ refuses a new attempt until the old link is down.
        connectWhenDown_ = true;
        return;
    case PeripheralState::disconnected: break;
    }
    if (path_.empty() || !central->poweredOn()) {
        const BluetoothError error = path_.empty() ? deviceGone : adapterOff;
        return post([error](PeripheralBluez& self) {
            if (const auto c = self.central_.lock())
                c->tell([&](CentralDelegate& d, Central& m) { d.didFailToConnect(m, self.shared_from_this(), error); });
        });
    }
    startConnect();
}

void PeripheralBluez::startConnect() {
    if (path_.empty()) return;
    freshLink();
    state_ = PeripheralState::connecting;
    retriesLeft_ = connectRetries;
    sendConnect();
}

void PeripheralBluez::sendConnect() {
    const auto central = central_.lock();
    if (!central || path_.empty()) return;
    // The reply comes when the link is up (before the services are known),
    // or with BlueZ's reason when it failed.
    callBluez(
        central->connection(), path_.c_str(), deviceInterface, "Connect", nullptr, linkCancellable_.get(),
        [weak = weak_from_this(), link = link_](CallReply& reply) {
            const auto self = weak.lock();
            if (!self || self->link_ != link || self->state_ != PeripheralState::connecting) return;
            self->connectDone(reply);
        },
        noTimeout);
}

void PeripheralBluez::connectDone(CallReply& reply) {
    const auto central = central_.lock();
    if (!central) return;
    if (reply.error && reply.error->kind == BluezErrorKind::accessDenied) return central->refused(*reply.error);
    const bool up = boolValue(central->objects().get(path_, deviceInterface, "Connected")) != false;
    if (reply.error && reply.error->kind == BluezErrorKind::aborted && retriesLeft_ > 0) {
        // Radio trouble or a busy controller; another try usually works, but
        // only once the half-made link is down.
        --retriesLeft_;
        if (up) retryWhenDown_ = true;
        else retryLater();
        return;
    }
    if (reply.error || !up) {
        // Never reported connected, so no disconnection follows either.
        freshLink();
        state_ = PeripheralState::disconnected;
        const BluetoothError error = reply.error
                                         ? bluetoothError(*reply.error, BluetoothFailure::connectFailed)
                                         : BluetoothError{BluetoothFailure::connectFailed, "The connection was lost."};
        return central->tell([&](CentralDelegate& d, Central& m) { d.didFailToConnect(m, shared_from_this(), error); });
    }
    state_ = PeripheralState::connected;
    central->tell([&](CentralDelegate& d, Central& m) { d.didConnect(m, shared_from_this()); });
}

void PeripheralBluez::retryLater() {
    const auto central = central_.lock();
    if (!central) return;
    retryTimer_ = central->queue().after(central->options().connectRetryDelay, [weak = weak_from_this(), link = link_] {
        const auto self = weak.lock();
        if (self && self->link_ == link && self->state_ == PeripheralState::connecting) self->sendConnect();
    });
}

void PeripheralBluez::cancel() {
    connectWhenDown_ = false;
    if (state_ == PeripheralState::disconnected || state_ == PeripheralState::disconnecting) return;
    const auto central = central_.lock();
    if (!central) return;
    freshLink();
    state_ = PeripheralState::disconnecting;
    // A pending Connect fails with "br-connection-canceled" and this one
    // succeeds; on a live link the reply waits for the link to go down.
    callBluez(central->connection(), path_.c_str(), deviceInterface, "Disconnect", nullptr, linkCancellable_.get(),
              [weak = weak_from_this(), link = link_](CallReply&) {
                  const auto self = weak.lock();
                  if (self && self->link_ == link) self->disconnectConfirmed();
              });
    // The delegate hears of it at once: BlueZ may take seconds to take a
    // live link down, and a new connect() meanwhile must not meet this news.
    post(
        [](PeripheralBluez& self) {
            if (const auto c = self.central_.lock())
                c->tell(
                    [&](CentralDelegate& d, Central& m) { d.didDisconnect(m, self.shared_from_this(), std::nullopt); });
        },
        false);
}

void PeripheralBluez::disconnectConfirmed() {
    if (state_ != PeripheralState::disconnecting) return;
    state_ = PeripheralState::disconnected;
    if (std::exchange(connectWhenDown_, false)) startConnect();
}

void PeripheralBluez::linkLost() {
    const auto central = central_.lock();
    if (!central) return;
    freshLink();
    state_ = PeripheralState::disconnected;
    // When the adapter goes off, BlueZ takes the links down just before it
    // says so, and then the delegate learns it from the state alone: report
    // the loss once the signals sent by now are in, if the adapter has stayed on.
    afterPendingSignals(
        [timesOff = central->timesOff()](PeripheralBluez& self) {
            const auto c = self.central_.lock();
            if (!c || !c->poweredOn() || c->timesOff() != timesOff) return;
            c->tell(
                [&](CentralDelegate& d, Central& m) { d.didDisconnect(m, self.shared_from_this(), linkLostError); });
        },
        false);
}

void PeripheralBluez::deviceChanged(GVariant* changed) {
    const auto connected = boolValue(VariantPtr::adopt(g_variant_lookup_value(changed, "Connected", nullptr)).get());
    if (connected == false) {
        if (state_ == PeripheralState::connected) return linkLost();  // one callback per lost link
        if (state_ == PeripheralState::disconnecting) return disconnectConfirmed();
        if (state_ == PeripheralState::connecting && std::exchange(retryWhenDown_, false)) return retryLater();
        // Otherwise, while connecting, the attempt's reply decides.
    }
    const auto resolved =
        boolValue(VariantPtr::adopt(g_variant_lookup_value(changed, "ServicesResolved", nullptr)).get());
    if (resolved == true && state_ == PeripheralState::connected) tryResolve();
}

void PeripheralBluez::deviceRemoved() {
    path_.clear();
    serviceObjects_.clear();
    for (auto& [path, characteristic] : characteristicObjects_) characteristic->detach();
    characteristicObjects_.clear();
    switch (state_) {
    case PeripheralState::connected: return linkLost();
    case PeripheralState::connecting: {
        const auto central = central_.lock();
        freshLink();
        state_ = PeripheralState::disconnected;
        if (central)
            central->tell(
                [&](CentralDelegate& d, Central& m) { d.didFailToConnect(m, shared_from_this(), deviceGone); });
        return;
    }
    case PeripheralState::disconnecting: return disconnectConfirmed();
    case PeripheralState::disconnected: return;
    }
}

void PeripheralBluez::adapterLost() {
    connectWhenDown_ = false;
    if (state_ == PeripheralState::disconnected) return;
    freshLink();
    state_ = PeripheralState::disconnected;
}

void PeripheralBluez::centralGone() {
    const auto central = central_.lock();
    if (central && central->connection() && !path_.empty() &&
        (state_ == PeripheralState::connecting || state_ == PeripheralState::connected))
        callBluez(central->connection(), path_.c_str(), deviceInterface, "Disconnect", nullptr, nullptr, {});
    freshLink();
    state_ = PeripheralState::disconnected;
    connectWhenDown_ = false;
}

// Discovery -----------------------------------------------------------------

void PeripheralBluez::discoverServices() {
    const auto central = central_.lock();
    if (!central) return;
    if (state_ != PeripheralState::connected)
        return post([](PeripheralBluez& self) {
            self.tell([&](PeripheralDelegate& d) { d.didDiscoverServices(self, notConnected); });
        });
    if (servicesWanted_++ == 0)
        discoveryTimer_ =
            central->queue().after(central->options().discoveryTimeout, [weak = weak_from_this(), link = link_] {
                const auto self = weak.lock();
                if (self && self->link_ == link) self->discoveryTimedOut();
            });
    post([](PeripheralBluez& self) { self.tryResolve(); });
}

void PeripheralBluez::tryResolve() {
    const auto central = central_.lock();
    if (!central || servicesWanted_ == 0 || state_ != PeripheralState::connected || waitingForObjects_) return;
    if (boolValue(central->objects().get(path_, deviceInterface, "ServicesResolved")) != true) return;
    if (!central->objects().children(serviceInterface, "Device", path_).empty()) return finishServices();
    // Resolved, but no objects yet: BlueZ can say so before it has exported
    // them. Read its objects again, then take what came once none has come
    // for a moment (a device may have no services at all).
    waitingForObjects_ = true;
    if (!std::exchange(refetched_, true)) central->refetch(path_);
    gattAdded({});
}

void PeripheralBluez::gattAdded(const std::string& path) {
    if (tableKnown_ && !path.empty()) return refreshTable();
    if (!waitingForObjects_) return;
    const auto central = central_.lock();
    if (!central) return;
    settleTimer_.cancel();
    // Longer for the first object than for more after the last one.
    const BluezOptions& options = central->options();
    auto settled = [weak = weak_from_this(), link = link_] {
        const auto self = weak.lock();
        if (self && self->link_ == link && self->waitingForObjects_) self->finishServices();
    };
    settleTimer_ = central->queue().after(path.empty() ? options.gattWait : options.gattSettle, std::move(settled));
}

void PeripheralBluez::gattRemoved(const std::string& path) {
    // BlueZ removes the objects of a changed table in no fixed order: a
    // service may go before its characteristics, or after them.
    if (const auto it = serviceObjects_.find(path); it != serviceObjects_.end()) {
        for (auto& [charPath, characteristic] : characteristicObjects_)
            if (characteristic->service() == it->second) characteristic->detach();
        serviceObjects_.erase(it);
    }
    CharacteristicPtr removed;
    if (const auto it = characteristicObjects_.find(path); it != characteristicObjects_.end()) {
        removed = it->second;
        characteristicObjects_.erase(it);
    }
    if (tableKnown_) refreshTable();
    if (removed) abandon(removed);
}

void PeripheralBluez::abandon(const CharacteristicPtr& characteristic) {
    // Whatever still waits on the removed object is owed an answer: BlueZ's
    // replies to it, if any come, find nothing left to answer.
    auto writes = std::exchange(characteristic->writes, {});
    auto changes = std::exchange(characteristic->notifyChanges, {});
    int requests = std::exchange(characteristic->requestSent, false) ? 1 : 0;
    int commands = std::exchange(characteristic->commandsSent, 0);
    characteristic->changingNotify = false;
    characteristic->notifying = false;
    for (const auto& write : writes) (write.type == WriteType::withResponse ? requests : commands) += 1;
    const auto weak = weak_from_this();
    const auto link = link_;
    const auto gone = [&] { return weak.expired() || link_ != link; };
    for (; requests > 0; --requests) {
        tell([&](PeripheralDelegate& d) { d.didWriteValue(*this, *characteristic, attributeRemoved); });
        if (gone()) return;
    }
    for (std::size_t i = 0; i < changes.size(); ++i) {
        tell([&](PeripheralDelegate& d) { d.didUpdateNotificationState(*this, *characteristic, attributeRemoved); });
        if (gone()) return;
    }
    commandsAnswered(commands);
}

void PeripheralBluez::refreshTable() {
    // After discovery the table follows BlueZ's objects as they change, so
    // that "services" answers from what is there.
    const auto central = central_.lock();
    if (!central || waitingForObjects_) return;
    listServices();
    const auto listed = services_;  // answers given on the way may change the list
    for (const auto& service : listed) fillCharacteristics(static_cast<ServiceBluez&>(*service));
}

void PeripheralBluez::finishServices() {
    const auto central = central_.lock();
    if (!central) return;
    waitingForObjects_ = false;
    settleTimer_.cancel();
    discoveryTimer_.cancel();
    listServices();
    tableKnown_ = true;
    const auto weak = weak_from_this();
    const auto link = link_;
    for (int left = std::exchange(servicesWanted_, 0); left > 0; --left) {
        tell([&](PeripheralDelegate& d) { d.didDiscoverServices(*this, std::nullopt); });
        if (weak.expired() || link_ != link) return;
    }
}

void PeripheralBluez::listServices() {
    const auto central = central_.lock();
    if (!central) return;
    auto paths = central->objects().children(serviceInterface, "Device", path_);
    sortByHandle(paths);
    services_.clear();
    for (const std::string& path : paths) {
        const auto uuid =
            GattUuid::parse(stringValue(central->objects().get(path, serviceInterface, "UUID")).value_or(""));
        if (!uuid) continue;
        auto& service = serviceObjects_[path];
        if (!service || service->uuid() != *uuid) service = std::make_shared<ServiceBluez>(path, *uuid);
        services_.push_back(service);
    }
}

void PeripheralBluez::discoveryTimedOut() {
    const auto weak = weak_from_this();
    const auto link = link_;
    waitingForObjects_ = false;
    settleTimer_.cancel();
    for (int left = std::exchange(servicesWanted_, 0); left > 0; --left) {
        tell([&](PeripheralDelegate& d) { d.didDiscoverServices(*this, discoveryTimedOutError); });
        if (weak.expired() || link_ != link) return;
    }
}

void PeripheralBluez::discoverCharacteristics(const std::shared_ptr<Service>& service) {
    const auto* mine = dynamic_cast<const ServiceBluez*>(service.get());
    const auto it = mine ? serviceObjects_.find(mine->path()) : serviceObjects_.end();
    const bool ours = it != serviceObjects_.end() && it->second == service;
    if (!service) return;
    if (!ours || state_ != PeripheralState::connected) {
        const BluetoothError error = ours ? notConnected : unknownAttribute;
        return post([service, error](PeripheralBluez& self) {
            self.tell([&](PeripheralDelegate& d) { d.didDiscoverCharacteristics(self, *service, error); });
        });
    }
    post([target = it->second](PeripheralBluez& self) {
        self.fillCharacteristics(*target);
        self.tell([&](PeripheralDelegate& d) { d.didDiscoverCharacteristics(self, *target, std::nullopt); });
    });
}

void PeripheralBluez::fillCharacteristics(ServiceBluez& service) {
    const auto central = central_.lock();
    if (!central) return;
    const BluezObjects& objects = central->objects();
    auto paths = objects.children(characteristicInterface, "Service", service.path());
    sortByHandle(paths);
    std::vector<std::shared_ptr<Characteristic>> found;
    std::vector<CharacteristicPtr> replaced;
    const auto owner = serviceObjects_.find(service.path());
    for (const std::string& path : paths) {
        const auto uuid = GattUuid::parse(stringValue(objects.get(path, characteristicInterface, "UUID")).value_or(""));
        if (!uuid) continue;
        const std::uint32_t properties =
            propertiesFromFlags(stringsValue(objects.get(path, characteristicInterface, "Flags")));
        auto& characteristic = characteristicObjects_[path];
        // A characteristic whose service object was replaced is a new one.
        if (!characteristic || characteristic->uuid() != *uuid || characteristic->properties() != properties ||
            owner == serviceObjects_.end() || characteristic->service() != owner->second) {
            if (characteristic) replaced.push_back(characteristic);
            characteristic = std::make_shared<CharacteristicBluez>(
                path, *uuid, properties,
                owner == serviceObjects_.end() ? std::weak_ptr<ServiceBluez>() : owner->second);
        }
        found.push_back(characteristic);
    }
    service.setCharacteristics(std::move(found));
    for (const auto& old : replaced) abandon(old);
}

// Writes ----------------------------------------------------------------------

PeripheralBluez::CharacteristicPtr PeripheralBluez::ours(const std::shared_ptr<Characteristic>& characteristic) const {
    const auto* mine = dynamic_cast<const CharacteristicBluez*>(characteristic.get());
    if (!mine) return nullptr;
    const auto it = characteristicObjects_.find(mine->path());
    return it != characteristicObjects_.end() && it->second == characteristic ? it->second : nullptr;
}

void PeripheralBluez::writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic,
                                 WriteType type) {
    const auto target = ours(characteristic);
    if (!target || state_ != PeripheralState::connected) {
        if (type != WriteType::withResponse || !characteristic) return;
        const BluetoothError error = target ? notConnected : unknownAttribute;
        return post([characteristic, error](PeripheralBluez& self) {
            self.tell([&](PeripheralDelegate& d) { d.didWriteValue(self, *characteristic, error); });
        });
    }
    if (type == WriteType::withoutResponse) ++commandsInFlight_;
    target->writes.push_back({value, type});
    // A request's answer waits for BlueZ anyway; it goes now, after what
    // waits before it. Commands go on the next turn of the loop: the page's
    // answer to one leaves before its D-Bus call is even built, and a burst
    // goes out together.
    if (type == WriteType::withResponse) return sendWrites(target);
    if (std::exchange(sendsPosted_, true)) return;
    post([](PeripheralBluez& self) {
        self.sendsPosted_ = false;
        for (const auto& [path, waiting] : self.characteristicObjects_) self.sendWrites(waiting);
    });
}

bool PeripheralBluez::canSendWriteWithoutResponse() const {
    return state_ == PeripheralState::connected && commandsInFlight_ < kMostCommandsInFlight;
}

void PeripheralBluez::sendWrites(const CharacteristicPtr& characteristic) {
    const auto central = central_.lock();
    if (!central) return;
    while (!characteristic->writes.empty() && !characteristic->requestSent) {
        CharacteristicBluez::Write next = std::move(characteristic->writes.front());
        characteristic->writes.pop_front();
        const bool request = next.type == WriteType::withResponse;
        if (request) characteristic->requestSent = true;
        else ++characteristic->commandsSent;
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&options, "{sv}", "type", g_variant_new_string(request ? "request" : "command"));
        callBluez(central->connection(), characteristic->path().c_str(), characteristicInterface, "WriteValue",
                  g_variant_new("(@ay@a{sv})", newByteArray(next.value), g_variant_builder_end(&options)),
                  linkCancellable_.get(),
                  [weak = weak_from_this(), link = link_, target = std::weak_ptr(characteristic),
                   type = next.type](CallReply& reply) {
                      const auto self = weak.lock();
                      const auto c = target.lock();
                      if (self && c && self->link_ == link && self->ours(c)) self->writeDone(c, type, reply);
                  });
    }
}

void PeripheralBluez::writeDone(const CharacteristicPtr& characteristic, WriteType type, CallReply& reply,
                                bool settled) {
    if (reply.error && reply.error->kind == BluezErrorKind::accessDenied)
        if (const auto central = central_.lock()) return central->refused(*reply.error);
    if (reply.error && !settled)
        return afterPendingSignals([characteristic, type, reply](PeripheralBluez& self) mutable {
            if (self.ours(characteristic)) self.writeDone(characteristic, type, reply, true);
        });
    if (type == WriteType::withResponse) {
        characteristic->requestSent = false;
        // The next ones are on their way before anybody hears of this one.
        sendWrites(characteristic);
        const std::optional<BluetoothError> error =
            reply.error ? std::optional(bluetoothError(*reply.error)) : std::nullopt;
        return tell([&](PeripheralDelegate& d) { d.didWriteValue(*this, *characteristic, error); });
    }
    // A failed command has nobody to tell; the device only misses it.
    --characteristic->commandsSent;
    commandsAnswered(1);
}

void PeripheralBluez::commandsAnswered(int count) {
    if (count == 0) return;
    const bool wasFull = commandsInFlight_ >= kMostCommandsInFlight;
    commandsInFlight_ -= count;
    if (wasFull && canSendWriteWithoutResponse())
        tell([&](PeripheralDelegate& d) { d.isReadyToSendWriteWithoutResponse(*this); });
}

// Notifications -------------------------------------------------------------

void PeripheralBluez::setNotifyValue(bool enabled, const std::shared_ptr<Characteristic>& characteristic) {
    const auto target = ours(characteristic);
    if (!target || state_ != PeripheralState::connected) {
        // Never StartNotify without a link: BlueZ would keep the session and
        // enable it on a later link nobody asked for it on.
        if (!characteristic) return;
        const BluetoothError error = target ? notConnected : unknownAttribute;
        return post([characteristic, error](PeripheralBluez& self) {
            self.tell([&](PeripheralDelegate& d) { d.didUpdateNotificationState(self, *characteristic, error); });
        });
    }
    target->notifyChanges.push_back(enabled);
    if (!target->changingNotify) sendNotify(target);
}

void PeripheralBluez::sendNotify(const CharacteristicPtr& characteristic) {
    const auto central = central_.lock();
    if (!central || characteristic->notifyChanges.empty()) return;
    characteristic->changingNotify = true;
    const bool enabled = characteristic->notifyChanges.front();
    const bool wasOn = characteristic->notifying;
    // Values may arrive before BlueZ answers StartNotify; they count.
    characteristic->notifying = enabled;
    if (enabled) characteristic->mayHaveSession = true;
    callBluez(central->connection(), characteristic->path().c_str(), characteristicInterface,
              enabled ? "StartNotify" : "StopNotify", nullptr, linkCancellable_.get(),
              [weak = weak_from_this(), link = link_, target = std::weak_ptr(characteristic), enabled,
               wasOn](CallReply& reply) {
                  const auto self = weak.lock();
                  const auto c = target.lock();
                  if (!self || !c || self->link_ != link || c->notifyChanges.empty()) return;
                  self->notifyDone(c, enabled, wasOn, reply);
              });
}

void PeripheralBluez::notifyDone(const CharacteristicPtr& characteristic, bool enabled, bool wasOn, CallReply& reply,
                                 bool settled) {
    if (reply.error && reply.error->kind == BluezErrorKind::accessDenied)
        if (const auto central = central_.lock()) return central->refused(*reply.error);
    if (reply.error && !settled)
        return afterPendingSignals([characteristic, enabled, wasOn, reply](PeripheralBluez& self) mutable {
            if (!characteristic->notifyChanges.empty()) self.notifyDone(characteristic, enabled, wasOn, reply, true);
        });
    characteristic->notifyChanges.pop_front();
    characteristic->changingNotify = false;
    std::optional<BluetoothError> error;
    if (reply.error) {
        if (enabled) characteristic->notifying = false;
        // Stopping what was not on is done, whatever BlueZ says about it.
        if (enabled || wasOn) error = bluetoothError(*reply.error);
    } else if (!enabled) {
        characteristic->mayHaveSession = false;
    }
    sendNotify(characteristic);
    tell([&](PeripheralDelegate& d) { d.didUpdateNotificationState(*this, *characteristic, error); });
}

void PeripheralBluez::valueChanged(const std::string& characteristicPath, GVariant* value) {
    const auto it = characteristicObjects_.find(characteristicPath);
    if (it == characteristicObjects_.end()) return;
    const auto characteristic = it->second;
    // Nothing for a device without our link, nor for a characteristic we do not listen to.
    if (state_ != PeripheralState::connected || !characteristic->notifying) return;
    auto bytes = bytesValue(value);
    if (!bytes) return;
    characteristic->setValue(std::move(*bytes));
    tell([&](PeripheralDelegate& d) { d.didUpdateValue(*this, *characteristic, std::nullopt); });
}

}  // namespace orvane
