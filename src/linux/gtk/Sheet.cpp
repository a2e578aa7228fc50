#include "Sheet.h"

namespace orvane {

GtkWidget* makeSheet(GtkWindow* parent, const std::string& title, const std::string& message,
                     const std::string& detail) {
    GtkWidget* sheet =
        gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE, "%s", message.c_str());
    if (!detail.empty()) gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(sheet), "%s", detail.c_str());
    gtk_window_set_title(GTK_WINDOW(sheet), title.c_str());
    // In the application, so that its keys (Ctrl+Q) work here too.
    if (parent) gtk_window_set_application(GTK_WINDOW(sheet), gtk_window_get_application(parent));
    return sheet;
}

}  // namespace orvane
