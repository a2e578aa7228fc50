#include "DownloadsIndicator.h"

#include "ButtonName.h"
#include "PageDialogTexts.h"

namespace orvane {

namespace texts = pageDialogTexts;
using State = DownloadEntry::State;

DownloadsIndicator::DownloadsIndicator(Downloads& downloads, std::function<void(const std::string&)> open)
    : downloads_(downloads), open_(std::move(open)) {
    button_ = retain(gtk_menu_button_new());
    GtkMenuButton* button = GTK_MENU_BUTTON(button_.get());
    nameButton(button_.get(), texts::downloads);
    gtk_widget_set_visible(button_.get(), FALSE);

    // The icon with a thin bar under it for the running downloads.
    GtkWidget* face = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    gtk_box_append(GTK_BOX(face), gtk_image_new_from_icon_name("folder-download-symbolic"));
    GtkWidget* overall = gtk_progress_bar_new();
    overall_ = GTK_PROGRESS_BAR(overall);
    gtk_widget_set_size_request(overall, 16, -1);
    gtk_box_append(GTK_BOX(face), overall);
    gtk_menu_button_set_child(button, face);

    GtkWidget* list = gtk_list_box_new();
    list_ = GTK_LIST_BOX(list);
    gtk_list_box_set_selection_mode(list_, GTK_SELECTION_NONE);
    g_signal_connect(
        list, "row-activated", G_CALLBACK(+[](GtkListBox*, GtkListBoxRow* row, gpointer self) {
            static_cast<DownloadsIndicator*>(self)->activate(static_cast<std::size_t>(gtk_list_box_row_get_index(row)));
        }),
        this);
    GtkWidget* popover = gtk_popover_new();
    gtk_popover_set_child(GTK_POPOVER(popover), list);
    gtk_menu_button_set_popover(button, popover);

    downloads_.changed = [this](std::size_t index) { update(index); };
    for (std::size_t i = 0; i < downloads_.entries().size(); ++i) update(i);
}

DownloadsIndicator::~DownloadsIndicator() {
    downloads_.changed = nullptr;
    // The list's handler points here; the button may live on in a header bar.
    g_signal_handlers_disconnect_by_data(list_, this);
}

double DownloadsIndicator::progress() const {
    double done = 0;
    int running = 0;
    for (const auto& entry : downloads_.entries()) {
        if (entry.state != State::running) continue;
        done += entry.progress;
        ++running;
    }
    return running ? done / running : 1;
}

void DownloadsIndicator::activate(std::size_t index) {
    const auto& entries = downloads_.entries();
    if (index >= entries.size() || entries[index].state != State::finished) return;
    gtk_menu_button_popdown(GTK_MENU_BUTTON(button_.get()));
    if (open_) {
        open_(entries[index].path);
        return;
    }
    GCharPtr uri(g_filename_to_uri(entries[index].path.c_str(), nullptr, nullptr));
    if (uri) gtk_show_uri(GTK_WINDOW(gtk_widget_get_root(button_.get())), uri.get(), GDK_CURRENT_TIME);
}

void DownloadsIndicator::update(std::size_t index) {
    const DownloadEntry& entry = downloads_.entries().at(index);
    while (rows_.size() <= index) {
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
        gtk_widget_set_margin_top(box, 6);
        gtk_widget_set_margin_bottom(box, 6);
        gtk_widget_set_margin_start(box, 6);
        gtk_widget_set_margin_end(box, 6);
        GtkWidget* name = gtk_label_new(nullptr);
        gtk_label_set_xalign(GTK_LABEL(name), 0);
        gtk_label_set_ellipsize(GTK_LABEL(name), PANGO_ELLIPSIZE_MIDDLE);
        gtk_label_set_max_width_chars(GTK_LABEL(name), 40);
        GtkWidget* state = gtk_label_new(nullptr);
        gtk_label_set_xalign(GTK_LABEL(state), 0);
        gtk_widget_add_css_class(state, "dim-label");
        GtkWidget* bar = gtk_progress_bar_new();
        gtk_box_append(GTK_BOX(box), name);
        gtk_box_append(GTK_BOX(box), bar);
        gtk_box_append(GTK_BOX(box), state);
        GtkWidget* row = gtk_list_box_row_new();
        gtk_list_box_row_set_child(GTK_LIST_BOX_ROW(row), box);
        gtk_list_box_append(list_, row);
        gtk_label_set_text(GTK_LABEL(name), downloads_.entries().at(rows_.size()).name.c_str());
        rows_.push_back({row, GTK_LABEL(state), GTK_PROGRESS_BAR(bar)});
    }
    const Row& row = rows_[index];
    gtk_progress_bar_set_fraction(row.bar, entry.progress);
    gtk_widget_set_visible(GTK_WIDGET(row.bar), entry.state == State::running);
    const char* state = entry.state == State::finished ? texts::openDownload
                        : entry.state == State::failed ? texts::downloadFailedShort
                                                       : "";
    gtk_label_set_text(row.state, state);
    gtk_widget_set_visible(GTK_WIDGET(row.state), entry.state != State::running);
    gtk_list_box_row_set_activatable(GTK_LIST_BOX_ROW(row.row), entry.state == State::finished);
    updateButton();
}

void DownloadsIndicator::updateButton() {
    gtk_widget_set_visible(button_.get(), !downloads_.entries().empty());
    const double done = progress();
    gtk_progress_bar_set_fraction(overall_, done);
    gtk_widget_set_visible(GTK_WIDGET(overall_), done < 1);
}

}  // namespace orvane
