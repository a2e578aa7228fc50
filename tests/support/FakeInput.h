#pragma once
// Keys and the scroll wheel through the X server itself (its XTEST
// extension), so that they reach the application as a person's do: through
// GTK's shortcut machinery first, then the focused widget. The library is
// loaded when first needed; tests skip when it is missing.

#include <gtk/gtk.h>

namespace orvane::test {

// Whether the X server can be driven (libXtst loads, the display has XTEST).
bool fakeInputAvailable();

// Puts the pointer over the middle of `widget` and the keyboard's focus in
// its window, so that what follows goes there.
void pointAt(GtkWidget* widget);
// The same at the point (x, y) of `widget`.
void pointAt(GtkWidget* widget, double x, double y);

// Presses and releases `accelerator` (gtk_accelerator_parse's notation,
// e.g. "<Control>plus"), its modifiers held around it.
void pressKeys(const char* accelerator);

// A click of the primary button where the pointer is.
void clickPrimary();

// One step of the scroll wheel, up or down, with `modifiers` held.
void scrollWheel(bool up, GdkModifierType modifiers);

}  // namespace orvane::test
