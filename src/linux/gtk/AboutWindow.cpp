#include "AboutWindow.h"

#include "GRef.h"
#include "ShellTexts.h"

namespace orvane {

GtkAboutDialog* showAbout(GtkWindow* parent, const AboutContent& content) {
    auto* about = GTK_ABOUT_DIALOG(gtk_about_dialog_new());
    gtk_about_dialog_set_program_name(about, content.name.c_str());
    gtk_about_dialog_set_version(about, content.version.c_str());
    gtk_about_dialog_set_comments(about, shellTexts::aboutCredits(content.pageUrl).c_str());
    std::error_code missing;
    if (!content.icon.empty() && std::filesystem::is_regular_file(content.icon, missing)) {
        GPtr<GFile> file = adopt(g_file_new_for_path(content.icon.c_str()));
        GPtr<GtkIconPaintable> icon = adopt(gtk_icon_paintable_new_for_file(file.get(), 128, 1));
        gtk_about_dialog_set_logo(about, GDK_PAINTABLE(icon.get()));
    }
    gtk_window_set_transient_for(GTK_WINDOW(about), parent);
    // In the application, so that its keys (Ctrl+Q, Ctrl+?) work here too.
    if (parent) gtk_window_set_application(GTK_WINDOW(about), gtk_window_get_application(parent));
    gtk_window_set_modal(GTK_WINDOW(about), TRUE);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(about), TRUE);
    // Closed means gone: the next About is built afresh.
    gtk_window_set_hide_on_close(GTK_WINDOW(about), FALSE);
    // Its first focusable part is the selectable name, which selects itself
    // all once it has taken the focus, so that the name would show
    // highlighted: right after, the focus goes (Tab brings it back).
    g_signal_connect(about, "notify::focus-widget", G_CALLBACK(+[](GtkWindow* shown, GParamSpec*, gpointer) {
                         GtkWidget* focus = gtk_window_get_focus(shown);
                         if (!focus || !GTK_IS_LABEL(focus)) return;
                         auto unfocus = +[](gpointer label) -> gboolean {
                             gtk_label_select_region(GTK_LABEL(label), 0, 0);
                             auto* root = GTK_WINDOW(gtk_widget_get_root(GTK_WIDGET(label)));
                             if (root && gtk_window_get_focus(root) == label) gtk_window_set_focus(root, nullptr);
                             return G_SOURCE_REMOVE;
                         };
                         g_idle_add_full(G_PRIORITY_DEFAULT, unfocus, g_object_ref(focus), g_object_unref);
                     }),
                     nullptr);
    gtk_window_present(GTK_WINDOW(about));
    return about;
}

}  // namespace orvane
