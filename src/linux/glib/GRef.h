#pragma once
// Ownership of GLib resources: adopt what a call hands over, ref what is
// only borrowed, and let destructors give everything back.

#include <glib-object.h>

#include <memory>
#include <utility>

namespace orvane {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

// An owned reference to a GObject of type T.
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

// Takes over a reference the caller was given (transfer full); sinks a
// floating reference so that ownership is never ambiguous.
template <typename T>
GPtr<T> adopt(T* object) {
    if (object && g_object_is_floating(object)) g_object_ref_sink(object);
    return GPtr<T>(object);
}

// Adds a reference to a borrowed object (transfer none).
template <typename T>
GPtr<T> retain(T* object) {
    if (object) g_object_ref_sink(object);
    return GPtr<T>(object);
}

// One owned reference to a GVariant. Copies share the value, which GVariant
// never changes once built.
class VariantPtr {
public:
    VariantPtr() = default;
    // Takes over `owned` (transfer full), sinking a floating reference.
    static VariantPtr adopt(GVariant* owned) { return VariantPtr(owned ? g_variant_take_ref(owned) : nullptr); }
    // Adds a reference to a borrowed value (transfer none).
    static VariantPtr retain(GVariant* borrowed) {
        return VariantPtr(borrowed ? g_variant_ref_sink(borrowed) : nullptr);
    }
    VariantPtr(const VariantPtr& other) : v_(other.v_ ? g_variant_ref(other.v_) : nullptr) {}
    VariantPtr(VariantPtr&& other) noexcept : v_(std::exchange(other.v_, nullptr)) {}
    VariantPtr& operator=(VariantPtr other) noexcept {
        std::swap(v_, other.v_);
        return *this;
    }
    ~VariantPtr() {
        if (v_) g_variant_unref(v_);
    }
    GVariant* get() const { return v_; }
    explicit operator bool() const { return v_ != nullptr; }
    // Child `index` of a tuple or container.
    VariantPtr child(gsize index) const { return adopt(g_variant_get_child_value(v_, index)); }
    // The value of `key` in an a{sv}; empty when absent.
    VariantPtr lookup(const char* key) const { return adopt(g_variant_lookup_value(v_, key, nullptr)); }
    // Equal when both are empty or both hold equal values.
    bool operator==(const VariantPtr& other) const {
        return v_ == other.v_ || (v_ && other.v_ && g_variant_equal(v_, other.v_));
    }

private:
    explicit VariantPtr(GVariant* ref) : v_(ref) {}
    GVariant* v_ = nullptr;
};

struct GFreeDeleter {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<char, GFreeDeleter>;

struct GErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorDeleter>;

// Fills a GErrorPtr from a GError** out-parameter: call(..., ErrorOut(error)).
class ErrorOut {
public:
    explicit ErrorOut(GErrorPtr& target) : target_(target) {}
    ~ErrorOut() { target_.reset(raw_); }
    ErrorOut(const ErrorOut&) = delete;
    ErrorOut& operator=(const ErrorOut&) = delete;
    operator GError**() { return &raw_; }

private:
    GErrorPtr& target_;
    GError* raw_ = nullptr;
};

// A signal handler connection that is disconnected when this goes away; it
// keeps the instance alive so that the disconnection is always valid.
class SignalConnection {
public:
    SignalConnection() = default;
    SignalConnection(gpointer instance, gulong id) : instance_(retain(G_OBJECT(instance))), id_(id) {}
    SignalConnection(SignalConnection&& other) noexcept
        : instance_(std::move(other.instance_)), id_(std::exchange(other.id_, 0)) {}
    SignalConnection& operator=(SignalConnection&& other) noexcept {
        if (this != &other) {
            disconnect();
            instance_ = std::move(other.instance_);
            id_ = std::exchange(other.id_, 0);
        }
        return *this;
    }
    ~SignalConnection() { disconnect(); }

    void disconnect() {
        if (instance_ && id_) g_signal_handler_disconnect(instance_.get(), id_);
        id_ = 0;
        instance_.reset();
    }

private:
    GPtr<GObject> instance_;
    gulong id_ = 0;
};

// Connects `callback` with a heap copy of `data` that the signal owns and
// deletes when the handler goes, for as long as `instance` lives.
template <typename Data>
gulong connectForLife(gpointer instance, const char* signal, GCallback callback, Data data) {
    return g_signal_connect_data(
        instance, signal, callback, new Data(std::move(data)),
        [](gpointer p, GClosure*) { delete static_cast<Data*>(p); }, GConnectFlags(0));
}

// The same, until the returned connection goes: the usual way to pass a
// std::weak_ptr to a handler.
template <typename Data>
SignalConnection connectWith(gpointer instance, const char* signal, GCallback callback, Data data) {
    return {instance, connectForLife(instance, signal, callback, std::move(data))};
}

}  // namespace orvane
