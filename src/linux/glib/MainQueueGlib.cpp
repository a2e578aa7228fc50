#include "MainQueueGlib.h"

#include <glib.h>

#include <cmath>

namespace orvane {
namespace {

struct Pending {
    MainQueue::Work work;
    std::shared_ptr<bool> cancelled;
};

gboolean runOnce(gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    if (!pending->cancelled || !*pending->cancelled) pending->work();
    return G_SOURCE_REMOVE;
}

void destroyPending(gpointer data) { delete static_cast<Pending*>(data); }

}  // namespace

void MainQueueGlib::async(Work work) {
    // Default priority, like a dispatch to the main queue: after pending
    // events, not starved by redraws.
    g_idle_add_full(G_PRIORITY_DEFAULT, runOnce, new Pending{std::move(work), nullptr},
                    destroyPending);
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
    g_timeout_add_full(G_PRIORITY_DEFAULT, interval, runOnce,
                       new Pending{std::move(work), cancelled}, destroyPending);
    return Task(cancelled);
}

}  // namespace orvane
