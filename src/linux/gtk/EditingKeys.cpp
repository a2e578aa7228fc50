#include "EditingKeys.h"

namespace orvane {
namespace {

void addKey(GtkShortcutController* controller, const char* key, const char* command, WebKitWebView* view) {
    auto run = +[](GtkWidget*, GVariant* args, gpointer data) -> gboolean {
        webkit_web_view_execute_editing_command(WEBKIT_WEB_VIEW(data), g_variant_get_string(args, nullptr));
        return TRUE;
    };
    GtkShortcut* shortcut =
        gtk_shortcut_new(gtk_shortcut_trigger_parse_string(key), gtk_callback_action_new(run, view, nullptr));
    gtk_shortcut_set_arguments(shortcut, g_variant_new_string(command));
    gtk_shortcut_controller_add_shortcut(controller, shortcut);
}

}  // namespace

void addEditingKeys(GtkWindow* window, WebKitWebView* view) {
    GtkEventController* controller = gtk_shortcut_controller_new();
    // Bubble: only what the view let through reaches it.
    gtk_event_controller_set_propagation_phase(controller, GTK_PHASE_BUBBLE);
    addKey(GTK_SHORTCUT_CONTROLLER(controller), "<Control>z", WEBKIT_EDITING_COMMAND_UNDO, view);
    addKey(GTK_SHORTCUT_CONTROLLER(controller), "<Control><Shift>z", WEBKIT_EDITING_COMMAND_REDO, view);
    gtk_widget_add_controller(GTK_WIDGET(window), controller);
}

}  // namespace orvane
