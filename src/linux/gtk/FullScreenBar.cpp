#include "FullScreenBar.h"

namespace orvane {
namespace {

// How near the screen's top the pointer brings the bar, and how far below
// the bar it may go before the bar hides again.
constexpr double kEdge = 3;
constexpr double kSlack = 12;

}  // namespace

FullScreenBar::FullScreenBar(GtkWindow* window, GtkWidget* bar, GtkMenuButton* menu)
    : window_(window), revealer_(GTK_REVEALER(gtk_revealer_new())), bar_(bar), menu_(menu) {
    gtk_revealer_set_child(revealer_, bar_);
    gtk_revealer_set_transition_type(revealer_, GTK_REVEALER_TRANSITION_TYPE_SLIDE_DOWN);
    gtk_revealer_set_reveal_child(revealer_, TRUE);

    auto changed = +[](GObject*, GParamSpec*, FullScreenBar* self) { self->update(); };
    fullScreenWatch_ =
        SignalConnection(window_, g_signal_connect(window_, "notify::fullscreened", G_CALLBACK(changed), this));
    focusWatch_ = SignalConnection(window_, g_signal_connect(window_, "notify::focus-widget", G_CALLBACK(changed), this));
    GtkPopover* popover = gtk_menu_button_get_popover(menu_);
    auto shown = +[](GtkWidget* popup, GParamSpec*, FullScreenBar* self) { self->menuShown(gtk_widget_get_visible(popup)); };
    menuWatch_ = SignalConnection(popover, g_signal_connect(popover, "notify::visible", G_CALLBACK(shown), this));
    g_weak_ref_init(&focusBefore_, nullptr);

    // Seen before the web view, which takes the pointer's moves for the page.
    motion_ = gtk_event_controller_motion_new();
    gtk_event_controller_set_propagation_phase(motion_, GTK_PHASE_CAPTURE);
    motionWatch_ = SignalConnection(
        motion_, g_signal_connect(motion_, "motion", G_CALLBACK(+[](GtkEventController*, double, double y,
                                                                     FullScreenBar* self) { self->pointerAt(y); }),
                                  this));
    leaveWatch_ = SignalConnection(
        motion_, g_signal_connect(motion_, "leave", G_CALLBACK(+[](GtkEventController*, FullScreenBar* self) {
                                      self->pointerNear_ = false;
                                      self->update();
                                  }),
                                  this));
    gtk_widget_add_controller(GTK_WIDGET(window_), motion_);

    // F10 opens the menu of a bar that shows; a hidden one is brought first.
    keys_ = gtk_shortcut_controller_new();
    gtk_event_controller_set_propagation_phase(keys_, GTK_PHASE_CAPTURE);
    auto open = +[](GtkWidget*, GVariant*, gpointer self) -> gboolean {
        return static_cast<FullScreenBar*>(self)->openMenu();
    };
    gtk_shortcut_controller_add_shortcut(
        GTK_SHORTCUT_CONTROLLER(keys_),
        gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_F10, GdkModifierType(0)), gtk_callback_action_new(open, this, nullptr)));
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
