#pragma once
// Undo and redo keys for the page. The web view itself handles cut, copy,
// paste and select all, in the page and in its fields, but has no key for
// undo or redo: these fill that gap.

#include <gtk/gtk.h>
#include <webkit/webkit.h>

namespace orvane {

// Ctrl+Z undoes and Ctrl+Shift+Z redoes the last edit in `view`'s page.
// They sit on `window`, where the view passes the keys that the page did not
// handle: a page with its own undo (a keydown handler that prevents the
// default) keeps it. `view` is `window`'s own child and lives as long.
void addEditingKeys(GtkWindow* window, WebKitWebView* view);

}  // namespace orvane
