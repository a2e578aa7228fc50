#pragma once
// The window's own message dialog: modal and transient for the window,
// titled with the app's name (`title`), never with an address.

#include <gtk/gtk.h>

#include <string>

namespace orvane {

// A GtkMessageDialog on `parent` with `message` as its text (taken as plain
// text, never markup) and `detail` below it when not empty. No buttons yet.
GtkWidget* makeSheet(GtkWindow* parent, const std::string& title, const std::string& message,
                     const std::string& detail = {});

}  // namespace orvane
