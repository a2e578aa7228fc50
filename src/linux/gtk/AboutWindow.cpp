#include "AboutWindow.h"

#include "ShellTexts.h"

namespace orvane {

GtkWindow* showAbout(GtkWindow* parent, const AboutContent& content) {
    auto* about = ADW_ABOUT_WINDOW(adw_about_window_new());
    adw_about_window_set_application_name(about, content.name.c_str());
    adw_about_window_set_version(about, content.version.c_str());
    adw_about_window_set_developer_name(about, shellTexts::aboutDevelopers(content.name).c_str());
    adw_about_window_set_comments(about, shellTexts::aboutCredits(content.pageUrl).c_str());
    if (content.pageUrl.host) adw_about_window_set_website(about, content.pageUrl.text.c_str());
    std::error_code missing;
    if (!content.icon.empty() && std::filesystem::is_regular_file(content.icon, missing)) {
        // The window takes an icon by name: the bundle's is found by its
        // file's name once its folder is among the places GTK looks.
        GtkIconTheme* theme = gtk_icon_theme_get_for_display(gtk_widget_get_display(GTK_WIDGET(about)));
        const std::string folder = content.icon.parent_path().string();
        bool known = false;
        if (char** paths = gtk_icon_theme_get_search_path(theme)) {
            for (char** path = paths; *path; ++path) known = known || folder == *path;
            g_strfreev(paths);
        }
        if (!known) gtk_icon_theme_add_search_path(theme, folder.c_str());
        adw_about_window_set_application_icon(about, content.icon.stem().c_str());
    }
    gtk_window_set_transient_for(GTK_WINDOW(about), parent);
    // In the application, so that its keys (Ctrl+Q, Ctrl+?) work here too.
    if (parent) gtk_window_set_application(GTK_WINDOW(about), gtk_window_get_application(parent));
    gtk_window_set_modal(GTK_WINDOW(about), TRUE);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(about), TRUE);
    // Closed means gone: the next About is built afresh.
    gtk_window_set_hide_on_close(GTK_WINDOW(about), FALSE);
    gtk_window_present(GTK_WINDOW(about));
    return GTK_WINDOW(about);
}

}  // namespace orvane
