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
    gtk_window_set_modal(GTK_WINDOW(about), TRUE);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(about), TRUE);
    // Closed means gone: the next About is built afresh.
    gtk_window_set_hide_on_close(GTK_WINDOW(about), FALSE);
    gtk_window_present(GTK_WINDOW(about));
    return about;
}

}  // namespace orvane
