#include "FullScreenBar.h"

namespace orvane {
namespace {

// How near the screen's top the pointer brings the bar, and how far below
// the bar it may go before the bar hides again.
constexpr double kEdge = 3;
constexpr double kSlack = 12;

using WeakBar = std::weak_ptr<FullScreenBar>;

}  // namespace

FullScreenBar::FullScreenBar(GtkWindow* window, GtkWidget* bar, GtkMenuButton* menu)
    : window_(window), revealer_(GTK_REVEALER(gtk_revealer_new())), bar_(bar), menu_(menu) {
    gtk_revealer_set_child(revealer_, bar_);
    gtk_revealer_set_transition_type(revealer_, GTK_REVEALER_TRANSITION_TYPE_SLIDE_DOWN);
    gtk_revealer_set_reveal_child(revealer_, TRUE);

    auto changed = +[](GObject*, GParamSpec*, WeakBar* self) {
        if (auto owner = self->lock()) owner->update();
    };
    fullScreenWatch_ = connectWith(window_, "notify::fullscreened", G_CALLBACK(changed), weak_.weak());
    focusWatch_ = connectWith(window_, "notify::focus-widget", G_CALLBACK(changed), weak_.weak());
    GtkPopover* popover = gtk_menu_button_get_popover(menu_);
    auto shown = +[](GtkWidget* popup, GParamSpec*, WeakBar* self) {
        if (auto owner = self->lock()) owner->menuShown(gtk_widget_get_visible(popup));
    };
    menuWatch_ = connectWith(popover, "notify::visible", G_CALLBACK(shown), weak_.weak());
    g_weak_ref_init(&focusBefore_, nullptr);

    // Seen before the web view, which takes the pointer's moves for the page.
    motion_ = gtk_event_controller_motion_new();
    gtk_event_controller_set_propagation_phase(motion_, GTK_PHASE_CAPTURE);
    motionWatch_ = connectWith(motion_, "motion", G_CALLBACK(+[](GtkEventController*, double, double y, WeakBar* self) {
                                   if (auto owner = self->lock()) owner->pointerAt(y);
                               }),
                               weak_.weak());
    leaveWatch_ = connectWith(motion_, "leave", G_CALLBACK(+[](GtkEventController*, WeakBar* self) {
                                  if (auto owner = self->lock()) {
                                      owner->pointerNear_ = false;
                                      owner->update();
                                  }
                              }),
                              weak_.weak());
    gtk_widget_add_controller(GTK_WIDGET(window_), motion_);

    // F10 opens the menu of a bar that shows; a hidden one is brought first.
    keys_ = gtk_shortcut_controller_new();
    gtk_event_controller_set_propagation_phase(keys_, GTK_PHASE_CAPTURE);
    auto open = +[](GtkWidget*, GVariant*, gpointer data) -> gboolean {
        auto owner = static_cast<WeakBar*>(data)->lock();
        return owner && owner->openMenu();
    };
    gtk_shortcut_controller_add_shortcut(
        GTK_SHORTCUT_CONTROLLER(keys_),
        gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_F10, GdkModifierType(0)),
                         gtk_callback_action_new(open, new WeakBar(weak_.weak()),
                                                 [](gpointer data) { delete static_cast<WeakBar*>(data); })));
    gtk_widget_add_controller(GTK_WIDGET(window_), keys_);
}

FullScreenBar::~FullScreenBar() {
    // The window may outlive this: nothing of it may call back here.
    fullScreenWatch_.disconnect();
    focusWatch_.disconnect();
    menuWatch_.disconnect();
    motionWatch_.disconnect();
    leaveWatch_.disconnect();
    gtk_widget_remove_controller(GTK_WIDGET(window_), motion_);
    gtk_widget_remove_controller(GTK_WIDGET(window_), keys_);
    g_weak_ref_clear(&focusBefore_);
}

void FullScreenBar::pointerAt(double y) {
    const double reach = showing() ? gtk_widget_get_height(bar_) + kSlack : kEdge;
    const bool near = y <= reach;
    if (near == pointerNear_) return;
    pointerNear_ = near;
    update();
}

bool FullScreenBar::openMenu() {
    if (!gtk_window_is_fullscreen(window_)) return false;  // GTK's own F10 does it
    gtk_revealer_set_reveal_child(revealer_, TRUE);
    g_weak_ref_set(&focusBefore_, gtk_window_get_focus(window_));
    gtk_menu_button_popup(menu_);
    return true;
}

void FullScreenBar::menuShown(bool shown) {
    if (!shown) {
        // The menu button takes the focus back as the menu closes.
        if (GPtr<GtkWidget> before = adopt(static_cast<GtkWidget*>(g_weak_ref_get(&focusBefore_))))
            gtk_widget_grab_focus(before.get());
        g_weak_ref_set(&focusBefore_, nullptr);
    }
    update();
}

void FullScreenBar::takeFocus(bool first) {
    gtk_revealer_set_reveal_child(revealer_, TRUE);
    gtk_widget_child_focus(bar_, first ? GTK_DIR_TAB_FORWARD : GTK_DIR_TAB_BACKWARD);
}

void FullScreenBar::update() {
    GtkWidget* focus = gtk_window_get_focus(window_);
    const bool focusInside = focus && (focus == bar_ || gtk_widget_is_ancestor(focus, bar_));
    const bool menuOpen = gtk_widget_get_visible(GTK_WIDGET(gtk_menu_button_get_popover(menu_)));
    const bool show = !gtk_window_is_fullscreen(window_) || pointerNear_ || focusInside || menuOpen;
    if (show != showing()) gtk_revealer_set_reveal_child(revealer_, show);
}

}  // namespace orvane
