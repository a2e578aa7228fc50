#pragma once
// The title bar's place at the window's top. In full screen it hides, and
// comes back while the pointer is at the screen's top edge or over it, while
// the keyboard's focus or its menu is in it; F10 brings it with its menu
// open. Otherwise it always shows.

#include <gtk/gtk.h>

#include "GRef.h"
#include "WeakPtr.h"

namespace orvane {

class FullScreenBar {
public:
    FullScreenBar(GtkWindow* window, GtkWidget* bar, GtkMenuButton* menu);
    ~FullScreenBar();
    FullScreenBar(const FullScreenBar&) = delete;
    FullScreenBar& operator=(const FullScreenBar&) = delete;

    // What the window places at its top: the bar, in a revealer.
    GtkWidget* widget() const { return GTK_WIDGET(revealer_); }
    bool showing() const { return gtk_revealer_get_reveal_child(revealer_); }
    // Gives the keyboard's focus to the bar's first control (or its last),
    // bringing a hidden bar.
    void takeFocus(bool first);

private:
    void update();
    void menuShown(bool shown);
    void pointerAt(double y);
    bool openMenu();

    GtkWindow* window_;  // the window owns these widgets
    GtkRevealer* revealer_;
    GtkWidget* bar_;
    GtkMenuButton* menu_;
    GtkEventController* motion_ = nullptr;
    GtkEventController* keys_ = nullptr;
    bool pointerNear_ = false;
    // Where the focus was when F10 opened the menu: it goes back there when
    // the menu closes, so the bar can hide again.
    GWeakRef focusBefore_{};
    SignalConnection fullScreenWatch_, focusWatch_, menuWatch_, motionWatch_, leaveWatch_;
    WeakPtrFactory<FullScreenBar> weak_{this};
};

}  // namespace orvane
