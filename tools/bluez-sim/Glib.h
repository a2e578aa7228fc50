#pragma once
// Owning handles for the GLib objects the simulator keeps, so that no path
// can forget an unref and no callback outlives the object it calls into.

#include "GRef.h"

#include <gio/gio.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace bluezsim {

// The owning handles are the application's own (header-only, GLib only).
using orvane::ErrorOut;
using orvane::GErrorPtr;
using orvane::GPtr;
using orvane::VariantPtr;

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
