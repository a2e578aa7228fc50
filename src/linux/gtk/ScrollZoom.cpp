#include "ScrollZoom.h"

#include "GRef.h"

namespace orvane {
namespace {

using Zoom = std::function<void(int)>;

gboolean scrolled(GtkEventControllerScroll* controller, double, double dy, Zoom* zoom) {
    const GdkModifierType state = gtk_event_controller_get_current_event_state(GTK_EVENT_CONTROLLER(controller));
    if ((state & GDK_CONTROL_MASK) == 0 || dy == 0) return FALSE;
    (*zoom)(dy < 0 ? +1 : -1);
    return TRUE;
}

}  // namespace

void zoomOnControlScroll(GtkWidget* widget, std::function<void(int step)> zoom) {
    // Discrete: a touchpad's small deltas add up to whole steps.
    GtkEventController* controller = gtk_event_controller_scroll_new(
        GtkEventControllerScrollFlags(GTK_EVENT_CONTROLLER_SCROLL_VERTICAL | GTK_EVENT_CONTROLLER_SCROLL_DISCRETE));
    // Capture: the page never sees a Control-scroll, so it cannot also scroll.
    gtk_event_controller_set_propagation_phase(controller, GTK_PHASE_CAPTURE);
    connectForLife(controller, "scroll", G_CALLBACK(scrolled), std::move(zoom));
    gtk_widget_add_controller(widget, controller);
}

}  // namespace orvane
