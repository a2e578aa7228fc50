#pragma once
// The keyboard shortcuts window: the app's commands with the keys they are
// set to, and the page's editing keys.

#include <gtk/gtk.h>

namespace orvane {

// Shows a new shortcuts window over `parent`; it goes away when closed.
GtkShortcutsWindow* showShortcuts(GtkWindow* parent);

}  // namespace orvane
