#include "MainQueueGlib.h"

#include <glib.h>

#include <atomic>
#include <cmath>

namespace orvane {
namespace {

// Work may be posted from the install's worker thread. GLib's own locking
// hands it to the main thread; the release/acquire pair on `posted` says so
// where ThreadSanitizer can see it (GLib is not built for it).
struct Pending {
    MainQueue::Work work;
    std::shared_ptr<bool> cancelled;
    std::atomic<bool> posted{false};
};

Pending* post(MainQueue::Work work, std::shared_ptr<bool> cancelled) {
    auto* pending = new Pending{std::move(work), std::move(cancelled)};
    pending->posted.store(true, std::memory_order_release);
    return pending;
}

Pending* received(gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    (void)pending->posted.load(std::memory_order_acquire);
    return pending;
}

gboolean runOnce(gpointer data) {
    auto* pending = received(data);
    if (!pending->cancelled || !*pending->cancelled) pending->work();
    return G_SOURCE_REMOVE;
}

void destroyPending(gpointer data) { delete received(data); }

}  // namespace

void MainQueueGlib::async(Work work) {
    // Default priority, like a dispatch to the main queue: after pending
    // events, not starved by redraws.
    g_idle_add_full(G_PRIORITY_DEFAULT, runOnce, post(std::move(work), nullptr), destroyPending);
}

MainQueueGlib& processMainQueue() {
    static auto* queue = new MainQueueGlib;  // deliberately never deleted
    return *queue;
}

Task MainQueueGlib::after(double seconds, Work work) {
    auto cancelled = std::make_shared<bool>(false);
    const double ms = std::isfinite(seconds) && seconds > 0 ? std::ceil(seconds * 1000.0) : 0.0;
    const guint interval = ms > G_MAXUINT ? G_MAXUINT : static_cast<guint>(ms);
    // A cancelled task stays in the loop until its time and then does nothing;
    // that keeps Task free of GLib and cheap to copy.
    g_timeout_add_full(G_PRIORITY_DEFAULT, interval, runOnce, post(std::move(work), cancelled), destroyPending);
    return Task(cancelled);
}

}  // namespace orvane
