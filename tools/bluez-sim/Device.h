#pragma once
// One simulated remote device as BlueZ shows it: its Device1 object (made on
// the first advertisement the adapter hears, or from storage), its link, and
// its GATT objects, which stay exported after a disconnection as with BlueZ's
// default GATT cache.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "DeviceModel.h"
#include "Glib.h"
#include "ObjectTree.h"

namespace bluezsim {

class Adapter;

// A BlueZ error: name and text.
struct Failure {
    std::string name;
    std::string text;
};

// One write as the device received it: "request" or "command", and the bytes.
struct Written {
    std::string type;
    Bytes value;
};

class Device {
public:
    Device(Adapter& adapter, DeviceModel model);
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device();

    const DeviceModel& model() const { return model_; }
    const std::string& address() const { return model_.address; }
    std::string path() const;
    bool exported() const { return exported_; }
    bool temporary() const { return temporary_; }
    bool linked() const { return linked_; }
    bool busy() const { return linked_ || static_cast<bool>(connecting_); }

    // Radio: whether the device advertises now, and when it next will.
    bool advertising() const;
    void setInRange(bool on) { inRange_ = on; }
    std::int64_t due = 0;         // monotonic ms of its next advertisement
    std::int64_t lastSeen = 0;    // monotonic ms of the last one the adapter reported
    unsigned advertisements = 0;  // sent while the adapter listened, reported or not

    // One advertisement that passed the discovery filter.
    void report(bool filtered, bool duplicates);
    // Discovery stopped: RSSI and TxPower are no longer known.
    void forgetRssi();
    // Known from storage: an object without advertisement data.
    void exportStored();
    // The object and its GATT objects go (removal, adapter gone).
    void unexport();

    // The link goes down from the remote side (out of range, the strip's own choice).
    void dropLink();
    // The adapter powers off: the link and any attempt end.
    void adapterOff();
    void clientGone(const std::string& client);

    // Switches for tests.
    void refuseConnections(std::optional<Failure> failure) { refuse_ = std::move(failure); }
    void delayConnections(unsigned ms) { connectDelayMs_ = ms; }
    void delayReplies(unsigned ms) { replyDelayMs_ = ms; }
    // ServicesResolved turns true before the GATT objects are exported, as
    // BlueZ has been seen doing after an aborted attempt.
    void resolveEarly(bool on) { resolveEarly_ = on; }
    bool failNext(const std::string& uuid, const std::string& operation, Failure failure);
    // The device's GATT objects go, as when BlueZ replaces a changed table:
    // services before their characteristics, or the other way round. Replies
    // still owed come as they would; the next link exports the table again.
    bool removeGatt(bool servicesFirst);
    bool notify(const std::string& uuid, const Bytes& value);  // false: no such characteristic
    const std::vector<Written>* writes(const std::string& uuid) const;
    void clearWrites();
    Peripheral* peripheral() const { return peripheral_.get(); }

private:
    struct Characteristic {
        CharacteristicModel model;
        std::string path;
        std::string servicePath;
        std::optional<Bytes> value;
        std::set<std::string> sessions;  // clients with a notify session
        std::set<std::string> starting;  // clients whose StartNotify waits
        bool notifying = false;
        bool writing = false;  // a write request waits for its response
        std::vector<Written> log;
        std::map<std::string, Failure> failNext;  // by operation
        int acquiredFd = -1;
        guint acquiredWatch = 0;
        bool has(const char* flag) const;
    };
    struct Pending {
        Reply reply;
        std::function<void(Reply&)> done;
    };

    std::vector<Interface> deviceInterfaces(bool withAdvertisement);
    void onDeviceCall(Call& call);
    void onCharacteristicCall(Characteristic& c, Call& call);
    void connect(Call& call);
    void disconnect(Call& call);
    void linkUp();
    void resolved();
    void linkDown();
    void exportGatt();
    void write(Characteristic& c, Call& call);
    void read(Characteristic& c, Call& call);
    void startNotify(Characteristic& c, Call& call);
    void stopNotify(Characteristic& c, Call& call);
    void acquireWrite(Characteristic& c, Call& call);
    void release(Characteristic& c);
    // The device receives a write; returns what it sends back.
    std::vector<Notification> deliver(Characteristic& c, const std::string& type, const Bytes& value);
    void send(const std::string& uuid, const Bytes& value);
    void armNotifications();
    // Answers a GATT request after the reply delay, unless the link goes first.
    void later(Reply reply, std::function<void(Reply&)> done);
    std::optional<Failure> takeFailure(Characteristic& c, const std::string& operation);
    Characteristic* find(const std::string& uuid);
    std::string displayName() const;
    void print(const std::string& line) const;
    void idleCheck();

    Adapter& adapter_;
    DeviceModel model_;
    std::unique_ptr<Peripheral> peripheral_;
    std::vector<std::unique_ptr<Characteristic>> characteristics_;
    std::vector<std::string> gattPaths_;  // exported GATT objects, parents first
    std::set<std::string> uuids_;         // the Device1 UUIDs
    bool exported_ = false;
    bool temporary_ = true;
    bool inRange_ = true;
    bool linked_ = false;
    bool servicesResolved_ = false;
    Reply connecting_;
    std::vector<Reply> disconnecting_;
    std::uint64_t attempt_ = 0;  // tells a stale link timer from the current one
    std::optional<Failure> refuse_;
    unsigned connectDelayMs_ = 0;
    unsigned replyDelayMs_ = 0;
    bool resolveEarly_ = false;
    unsigned reports_ = 0;
    std::optional<std::int16_t> lastRssi_;
    std::int64_t lastWrite_ = 0;
    std::map<std::uint64_t, Pending> pending_;
    std::uint64_t nextPending_ = 0;
    Ticker idle_;
    Timers timers_;
};

}  // namespace bluezsim
