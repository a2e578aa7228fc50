#pragma once
// Ctrl and the scroll wheel zoom the page, as in other GNOME applications.

#include <gtk/gtk.h>

#include <functional>

namespace orvane {

// Scrolling over `widget` with Control held calls `zoom` with +1 (up) or -1
// (down) for each step, before the page sees it; without Control the page
// scrolls as usual. `zoom` lives as long as the widget.
void zoomOnControlScroll(GtkWidget* widget, std::function<void(int step)> zoom);

}  // namespace orvane
