#include "Sheet.h"

namespace orvane {

GtkWidget* makeSheet(GtkWindow* parent, const std::string& title, const std::string& message,
                     const std::string& detail) {
    GtkWidget* sheet = adw_message_dialog_new(parent, message.empty() ? nullptr : message.c_str(),
                                              detail.empty() ? nullptr : detail.c_str());
    gtk_window_set_modal(GTK_WINDOW(sheet), TRUE);
    // The heading names the window by default; the app's name does here.
    gtk_window_set_title(GTK_WINDOW(sheet), title.c_str());
    // In the application, so that its keys (Ctrl+Q) work here too.
    if (parent) gtk_window_set_application(GTK_WINDOW(sheet), gtk_window_get_application(parent));
    return sheet;
}

}  // namespace orvane
