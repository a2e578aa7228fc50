#include "Notices.h"

#include "ShellTexts.h"

namespace orvane {
namespace {

using Action = std::function<void()>;

// Local time, as the desktop shows it: "11 December 2026, 14:05".
std::string localTime(std::chrono::system_clock::time_point when) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch()).count();
    GDateTime* local = g_date_time_new_from_unix_local(seconds);
    if (!local) return {};
    const GCharPtr text(g_date_time_format(local, "%-d %B %Y, %H:%M"));
    g_date_time_unref(local);
    return text ? text.get() : "";
}

}  // namespace

GPtr<AdwToast> Notices::toast(const std::string& text) {
    text_ = text;
    GPtr<AdwToast> made = adopt(adw_toast_new(""));
    // Page text (a file's name) is shown as it is, never as markup.
    const GCharPtr escaped(g_markup_escape_text(text.c_str(), -1));
    adw_toast_set_title(made.get(), escaped.get());
    return made;
}

void Notices::savedCopyShown(std::chrono::system_clock::time_point saved) {
    show(toast(shellTexts::savedCopyShown(localTime(saved))));
}

void Notices::pageReloaded() { show(toast(std::string(shellTexts::pageReloaded))); }

void Notices::downloadFinished(const std::string& name, Action open, Action showInFolder) {
    GPtr<AdwToast> made = toast(shellTexts::downloadFinished(name));
    adw_toast_set_button_label(made.get(), shellTexts::openDownload);
    connectForLife(made.get(), "button-clicked", G_CALLBACK(+[](AdwToast*, Action* act) { (*act)(); }),
                   std::move(open));
    // The second choice sits in the title, as a link-like button.
    GtkWidget* title = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    GtkWidget* label = gtk_label_new(text_.c_str());  // plain text, never markup
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_MIDDLE);
    gtk_box_append(GTK_BOX(title), label);
    GtkWidget* folder = gtk_button_new_with_mnemonic(shellTexts::showInFolder);
    gtk_widget_add_css_class(folder, "flat");
    connectForLife(folder, "clicked", G_CALLBACK(+[](GtkButton*, Action* act) { (*act)(); }), std::move(showInFolder));
    gtk_box_append(GTK_BOX(title), folder);
    adw_toast_set_custom_title(made.get(), title);
    show(std::move(made));
}

void Notices::show(GPtr<AdwToast> toast) {
    if (current_) adw_toast_dismiss(current_.get());
    current_ = std::move(toast);
    adw_toast_set_priority(current_.get(), ADW_TOAST_PRIORITY_HIGH);
    adw_toast_overlay_add_toast(overlay_, ADW_TOAST(g_object_ref(current_.get())));  // it takes one reference
}

}  // namespace orvane
