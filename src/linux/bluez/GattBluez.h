#pragma once
// A GATT service and characteristic as BlueZ exports them (GattService1 and
// GattCharacteristic1 objects). One object per BlueZ object path for as long
// as that object exists, so the bridge can keep and compare the pointers.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Peripheral.h"

namespace orvane {

class ServiceBluez final : public Service {
public:
    ServiceBluez(std::string path, GattUuid uuid) : path_(std::move(path)), uuid_(std::move(uuid)) {}

    GattUuid uuid() const override { return uuid_; }
    const std::vector<std::shared_ptr<Characteristic>>& characteristics() const override { return found_; }

    const std::string& path() const { return path_; }
    void setCharacteristics(std::vector<std::shared_ptr<Characteristic>> found) { found_ = std::move(found); }

private:
    std::string path_;
    GattUuid uuid_;
    std::vector<std::shared_ptr<Characteristic>> found_;
};

class CharacteristicBluez final : public Characteristic {
public:
    CharacteristicBluez(std::string path, GattUuid uuid, std::uint32_t properties, std::weak_ptr<ServiceBluez> service)
        : path_(std::move(path)), uuid_(std::move(uuid)), properties_(properties), service_(std::move(service)) {}

    GattUuid uuid() const override { return uuid_; }
    std::uint32_t properties() const override { return properties_; }
    std::shared_ptr<Service> service() const override { return service_.lock(); }
    std::optional<Bytes> value() const override { return value_; }

    const std::string& path() const { return path_; }
    // BlueZ removed the service object: the two are no longer linked.
    void detach() { service_.reset(); }
    void setValue(Bytes value) { value_ = std::move(value); }

    // The peripheral's books for this characteristic on the current link.
    struct Write {
        Bytes value;
        WriteType type;
    };
    // Writes not yet sent to BlueZ, in call order.
    std::deque<Write> writes;
    // Sent and not yet answered. BlueZ refuses any write while a request is
    // unanswered ("In Progress"), but answers a command once it has queued
    // it: commands go out back to back, a request waits for the one before.
    bool requestSent = false;
    int commandsSent = 0;
    // Notification changes in call order; the front one is in flight.
    std::deque<bool> notifyChanges;
    bool changingNotify = false;
    // Our notify session is on (or being started) on this link.
    bool notifying = false;
    // StartNotify was sent on this link, so a session may exist at BlueZ.
    bool mayHaveSession = false;

private:
    std::string path_;
    GattUuid uuid_;
    std::uint32_t properties_;
    std::weak_ptr<ServiceBluez> service_;
    std::optional<Bytes> value_;
};

}  // namespace orvane
