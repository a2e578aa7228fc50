#pragma once
// A private D-Bus message bus for one test (or benchmark): `dbus-daemon
// --session` listening on a socket in a fresh temporary folder, stopped and
// removed at the end. Nothing reaches the machine's own buses.

#include <string>

#include "DBusCall.h"

namespace orvane::test {

class PrivateBus {
public:
    // Throws std::runtime_error when the daemon cannot start. `policy`, when
    // given, is added to the session configuration as mandatory <policy>
    // rules, e.g. to refuse calls the way a strict system bus does.
    explicit PrivateBus(const std::string& policy = {});
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }
    // The bus's temporary folder, removed with it: room for logs and state files.
    const std::string& folder() const { return folder_; }
    // A new client connection to the bus.
    GPtr<GDBusConnection> connect() const { return connectTo(address_); }

private:
    GPtr<GSubprocess> daemon_;
    std::string folder_;
    std::string address_;
};

}  // namespace orvane::test
