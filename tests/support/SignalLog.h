#pragma once
// Records the signals a bus name sends, as a client on its own connection
// sees them, in order. Runs on the default main context.

#include <functional>
#include <string>
#include <vector>

#include "DBusCall.h"

namespace orvane::test {

struct Signal {
    std::string path;
    std::string iface;
    std::string member;
    VariantPtr args;
    // For PropertiesChanged of `iface`: the new value of `property`, if it
    // is among the changed ones.
    VariantPtr changed(const char* iface, const char* property) const;
    // For PropertiesChanged of `iface`: whether `property` was invalidated.
    bool invalidated(const char* iface, const char* property) const;
};

class SignalLog {
public:
    SignalLog(GDBusConnection* connection, const std::string& sender = "org.bluez");
    ~SignalLog();
    SignalLog(const SignalLog&) = delete;
    SignalLog& operator=(const SignalLog&) = delete;

    const std::vector<Signal>& all() const { return signals_; }
    void clear() { signals_.clear(); }
    std::size_t count(const std::function<bool(const Signal&)>& match) const;
    // Turns the main loop until a recorded signal matches; returns whether one did.
    bool waitFor(const std::function<bool(const Signal&)>& match, double seconds = 5);

    // Matchers for the usual questions.
    static std::function<bool(const Signal&)> added(const std::string& path);
    static std::function<bool(const Signal&)> removed(const std::string& path);
    static std::function<bool(const Signal&)> property(const std::string& path, const char* iface, const char* name);

private:
    GDBusConnection* connection_;
    guint id_ = 0;
    std::vector<Signal> signals_;
};

}  // namespace orvane::test
