#pragma once
// The window's title bar: the page's title (the window's, which follows the
// page) and the primary menu with the app's commands. Other controls go at
// its end, left of the menu.

#include <adwaita.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <string>

#include "GRef.h"

namespace orvane {

// The primary menu's items: their actions are the application's (AppCommands).
// The item with the "custom" attribute "zoom" is the zoom row.
GPtr<GMenu> primaryMenu(const std::string& appName);

class HeaderBar {
public:
    // The window places widget() at its top; the zoom row shows `view`'s zoom.
    HeaderBar(WebKitWebView* view, const std::string& appName);
    HeaderBar(const HeaderBar&) = delete;
    HeaderBar& operator=(const HeaderBar&) = delete;

    // Adds a control at the end of the bar, left of the menu button.
    void packEnd(GtkWidget* child);

    GtkWidget* widget() const { return GTK_WIDGET(bar_); }
    GtkMenuButton* menuButton() const { return menu_; }
    // The zoom row's middle button: the zoom as a percentage; it resets it.
    GtkButton* zoomButton() const { return zoom_; }

private:
    void showZoom(double level);

    AdwHeaderBar* bar_;  // the window owns these widgets
    GtkMenuButton* menu_;
    GtkButton* zoom_;
    SignalConnection zoomWatch_;
};

}  // namespace orvane
