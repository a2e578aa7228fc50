#pragma once
// An icon button's words: the tooltip a mouse user reads and the name a
// screen reader says (without one it says the widget's type).

#include <gtk/gtk.h>

namespace orvane {

inline void nameButton(GtkWidget* button, const char* name) {
    gtk_widget_set_tooltip_text(button, name);
    gtk_accessible_update_property(GTK_ACCESSIBLE(button), GTK_ACCESSIBLE_PROPERTY_LABEL, name, -1);
}

}  // namespace orvane
