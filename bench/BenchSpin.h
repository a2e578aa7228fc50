#pragma once
// Lets the GLib main loop run for a while: for benchmarks, which run for a
// time. Kept out of tests/support so that no test can use it: a test that
// checks that nothing more happens waits for a later event that proves it.

#include <glib.h>

#include "Spin.h"

namespace orvane {

// Turns the loop for about `seconds`.
inline void spinFor(double seconds) {
    const gint64 end = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
    spinUntil([&] { return g_get_monotonic_time() > end; }, seconds + 1);
}

}  // namespace orvane
