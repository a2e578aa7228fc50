#include "HeaderBar.h"

#include <cmath>

#include "ButtonName.h"
#include "ShellTexts.h"

namespace orvane {
namespace {

constexpr const char* kZoomRow = "zoom";

void addItem(GMenu* section, const char* label, const char* action) { g_menu_append(section, label, action); }
void addItem(GMenu* section, const std::string& label, const char* action) { addItem(section, label.c_str(), action); }

GtkWidget* iconButton(const char* icon, const char* action, const char* tooltip) {
    GtkWidget* button = gtk_button_new_from_icon_name(icon);
    gtk_actionable_set_action_name(GTK_ACTIONABLE(button), action);
    nameButton(button, tooltip);
    gtk_widget_add_css_class(button, "flat");
    return button;
}

}  // namespace

GPtr<GMenu> primaryMenu(const std::string& appName) {
    namespace t = shellTexts;
    GPtr<GMenu> menu = adopt(g_menu_new());
    auto section = [&](auto fill) {
        GPtr<GMenu> part = adopt(g_menu_new());
        fill(part.get());
        g_menu_append_section(menu.get(), nullptr, G_MENU_MODEL(part.get()));
    };
    section([&](GMenu* part) { addItem(part, t::reload, "app.reload"); });
    section([&](GMenu* part) {
        GPtr<GMenuItem> zoom = adopt(g_menu_item_new(nullptr, nullptr));
        g_menu_item_set_attribute(zoom.get(), "custom", "s", kZoomRow);
        g_menu_append_item(part, zoom.get());
    });
    section([&](GMenu* part) { addItem(part, t::fullScreen, "app.fullscreen"); });
    section([&](GMenu* part) {
        addItem(part, t::keyboardShortcuts, "app.shortcuts");
        addItem(part, t::about(appName), "app.about");
        addItem(part, t::website(appName), "app.website");
    });
    section([&](GMenu* part) { addItem(part, t::quit(appName), "app.quit"); });
    return menu;
}

HeaderBar::HeaderBar(WebKitWebView* view, const std::string& appName) {
    namespace t = shellTexts;
    bar_ = ADW_HEADER_BAR(adw_header_bar_new());

    GPtr<GMenu> model = primaryMenu(appName);
    GtkWidget* popover = gtk_popover_menu_new_from_model(G_MENU_MODEL(model.get()));
    // Minus, the zoom as a percentage (pressing it goes back to 100%), plus.
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_append(GTK_BOX(row), iconButton("zoom-out-symbolic", "app.zoom-out", t::zoomOut));
    zoom_ = GTK_BUTTON(gtk_button_new_with_label("100%"));
    gtk_actionable_set_action_name(GTK_ACTIONABLE(zoom_), "app.zoom-reset");
    gtk_widget_set_tooltip_text(GTK_WIDGET(zoom_), t::actualSize);
    gtk_widget_add_css_class(GTK_WIDGET(zoom_), "flat");
    gtk_widget_set_hexpand(GTK_WIDGET(zoom_), TRUE);
    gtk_box_append(GTK_BOX(row), GTK_WIDGET(zoom_));
    gtk_box_append(GTK_BOX(row), iconButton("zoom-in-symbolic", "app.zoom-in", t::zoomIn));
    gtk_popover_menu_add_child(GTK_POPOVER_MENU(popover), row, kZoomRow);

    menu_ = GTK_MENU_BUTTON(gtk_menu_button_new());
    gtk_menu_button_set_icon_name(menu_, "open-menu-symbolic");
    gtk_menu_button_set_popover(menu_, popover);
    nameButton(GTK_WIDGET(menu_), t::mainMenu);
    gtk_menu_button_set_primary(menu_, TRUE);  // F10 opens it
    adw_header_bar_pack_end(bar_, GTK_WIDGET(menu_));

    showZoom(webkit_web_view_get_zoom_level(view));
    // The connection goes with this object, so the handler never outlives it.
    auto changed = +[](WebKitWebView* zoomed, GParamSpec*, HeaderBar* self) {
        self->showZoom(webkit_web_view_get_zoom_level(zoomed));
    };
    zoomWatch_ = SignalConnection(view, g_signal_connect(view, "notify::zoom-level", G_CALLBACK(changed), this));
}

void HeaderBar::packEnd(GtkWidget* child) { adw_header_bar_pack_end(bar_, child); }

void HeaderBar::showZoom(double level) {
    const std::string percent = std::to_string(std::lround(level * 100)) + "%";
    gtk_button_set_label(zoom_, percent.c_str());
}

}  // namespace orvane
