#pragma once
// Turns the GLib main loop until a condition holds. The limit only keeps a
// broken test from hanging; it says nothing about speed.

#include <glib.h>

#include <functional>

namespace orvane {

inline bool spinUntil(const std::function<bool()>& done, double limitSeconds = 20) {
    const gint64 end = g_get_monotonic_time() + static_cast<gint64>(limitSeconds * G_USEC_PER_SEC);
    while (!done()) {
        if (g_get_monotonic_time() > end) return false;
        g_main_context_iteration(nullptr, FALSE) || (g_usleep(1000), true);
    }
    return true;
}

}  // namespace orvane
