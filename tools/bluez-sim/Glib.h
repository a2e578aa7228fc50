#pragma once
// Owning handles for the GLib objects the simulator keeps, so that no path
// can forget an unref and no callback outlives the object it calls into.

#include <gio/gio.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace bluezsim {

// One reference to a GVariant. `take` owns what it is given (a floating
// value is sunk); `ref` adds a reference to a borrowed one.
class Variant {
public:
    Variant() = default;
    static Variant take(GVariant* v) { return Variant(v ? g_variant_take_ref(v) : nullptr); }
    static Variant ref(GVariant* v) { return Variant(v ? g_variant_ref(v) : nullptr); }
    Variant(const Variant& o) : v_(o.v_ ? g_variant_ref(o.v_) : nullptr) {}
    Variant(Variant&& o) noexcept : v_(std::exchange(o.v_, nullptr)) {}
    Variant& operator=(Variant o) noexcept {
        std::swap(v_, o.v_);
        return *this;
    }
    ~Variant() {
        if (v_) g_variant_unref(v_);
    }
    GVariant* get() const { return v_; }
    explicit operator bool() const { return v_ != nullptr; }
    bool operator==(const Variant& o) const {
        return v_ == o.v_ || (v_ && o.v_ && g_variant_equal(v_, o.v_));
    }

private:
    explicit Variant(GVariant* v) : v_(v) {}
    GVariant* v_ = nullptr;
};

template <typename T>
struct ObjectUnref {
    void operator()(T* p) const { g_object_unref(p); }
};
// A GObject we hold one reference to (adopted from a transfer-full return).
template <typename T>
using Object = std::unique_ptr<T, ObjectUnref<T>>;

struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

// Fills an Error from a GError** out-parameter: call(&out.slot).
class ErrorOut {
public:
    explicit ErrorOut(Error& target) : target_(target) {}
    ~ErrorOut() { target_.reset(raw_); }
    operator GError**() { return &raw_; }

private:
    Error& target_;
    GError* raw_ = nullptr;
};

// Timeouts owned by one object: each runs once, and whatever has not run when
// the owner goes away is removed with it. Declare it as the owner's last
// member so it goes first.
class Timers {
public:
    Timers() = default;
    Timers(const Timers&) = delete;
    Timers& operator=(const Timers&) = delete;
    ~Timers() { cancelAll(); }

    // Runs `work` after `ms` milliseconds (0: on the next turn of the loop).
    void after(unsigned ms, std::function<void()> work) {
        auto* entry = new Entry{this, 0, std::move(work)};
        entry->id = g_timeout_add_full(G_PRIORITY_DEFAULT, ms, fire, entry, destroy);
        live_[entry->id] = entry;
    }
    void cancelAll() {
        auto live = std::move(live_);
        live_.clear();
        for (auto& [id, entry] : live) {
            entry->owner = nullptr;
            g_source_remove(id);
        }
    }

private:
    struct Entry {
        Timers* owner;
        guint id;
        std::function<void()> work;
    };
    static gboolean fire(gpointer data) {
        auto* entry = static_cast<Entry*>(data);
        if (entry->owner) {
            entry->owner->live_.erase(entry->id);
            entry->owner = nullptr;
            auto work = std::move(entry->work);
            work();  // may destroy the owner; the entry is freed by GLib after this
        }
        return G_SOURCE_REMOVE;
    }
    static void destroy(gpointer data) { delete static_cast<Entry*>(data); }

    std::map<guint, Entry*> live_;
};

// A repeating timeout, removed when this goes away.
class Ticker {
public:
    Ticker() = default;
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;
    ~Ticker() { stop(); }
    void start(unsigned ms, std::function<void()> work) {
        stop();
        work_ = std::move(work);
        id_ = g_timeout_add(ms, tick, this);
    }
    void stop() {
        if (id_) g_source_remove(id_);
        id_ = 0;
    }
    bool running() const { return id_ != 0; }

private:
    static gboolean tick(gpointer data) {
        auto* self = static_cast<Ticker*>(data);
        auto work = self->work_;  // the work may restart or stop this ticker
        work();
        return G_SOURCE_CONTINUE;
    }
    guint id_ = 0;
    std::function<void()> work_;
};

}  // namespace bluezsim
