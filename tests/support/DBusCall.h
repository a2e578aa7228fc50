#pragma once
// Plain GDBus helpers for tests and benchmarks that talk to a real bus:
// owning handles, a blocking call that keeps the error name, and a way to let
// the main loop run until something has happened.

#include <gio/gio.h>

#include <memory>
#include <string>
#include <utility>

namespace orvane::test {

struct GObjectUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;
using ConnectionPtr = GObjectPtr<GDBusConnection>;

// One reference to a GVariant; floating values are sunk.
class VariantRef {
public:
    VariantRef() = default;
    explicit VariantRef(GVariant* owned) : v_(owned ? g_variant_take_ref(owned) : nullptr) {}
    VariantRef(const VariantRef& o) : v_(o.v_ ? g_variant_ref(o.v_) : nullptr) {}
    VariantRef(VariantRef&& o) noexcept : v_(std::exchange(o.v_, nullptr)) {}
    VariantRef& operator=(VariantRef o) noexcept {
        std::swap(v_, o.v_);
        return *this;
    }
    ~VariantRef() {
        if (v_) g_variant_unref(v_);
    }
    GVariant* get() const { return v_; }
    explicit operator bool() const { return v_ != nullptr; }
    // Child `i` of a tuple or container.
    VariantRef child(gsize i) const { return VariantRef(g_variant_get_child_value(v_, i)); }
    // The value of `key` in an a{sv}; empty when absent.
    VariantRef lookup(const char* key) const { return VariantRef(g_variant_lookup_value(v_, key, nullptr)); }
    std::string print() const;

private:
    GVariant* v_ = nullptr;
};

struct CallResult {
    VariantRef value;   // the reply's tuple when ok
    std::string error;  // the D-Bus error name, e.g. "org.bluez.Error.Failed"
    std::string text;   // its message, without GDBus's prefix
    bool ok() const { return error.empty(); }
};

// A new connection to the bus at `address`, registered with it.
ConnectionPtr connectTo(const std::string& address);

// Calls and waits (the default main context does not run meanwhile).
CallResult callSync(GDBusConnection* connection, const std::string& destination,
                    const std::string& path, const std::string& iface, const std::string& method,
                    GVariant* params = nullptr, int timeoutMs = 10000);

// Calls and turns the default main context until the reply is in, so that
// signals arriving meanwhile are dispatched in order with it.
CallResult callAsync(GDBusConnection* connection, const std::string& destination,
                     const std::string& path, const std::string& iface, const std::string& method,
                     GVariant* params = nullptr, int timeoutMs = 10000);

}  // namespace orvane::test
