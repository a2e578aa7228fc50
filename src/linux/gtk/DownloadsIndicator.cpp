#include "DownloadsIndicator.h"

#include "ButtonName.h"
#include "PageDialogTexts.h"
#include "ShowInFolder.h"

namespace orvane {

namespace texts = pageDialogTexts;
using State = DownloadEntry::State;

namespace {

std::string sizeText(std::uint64_t bytes) {
    const GCharPtr text(g_format_size(bytes));
    return text.get();
}

// "1.2 MB of 3.0 MB" while it runs, its size once done.
std::string stateOf(const DownloadEntry& entry) {
    switch (entry.state) {
    case State::running:
        if (entry.received == 0) return "";
        return entry.size ? texts::downloadProgress(sizeText(entry.received), sizeText(entry.size))
                          : sizeText(entry.received);
    case State::finished: return sizeText(entry.size);
    case State::failed: return std::string(texts::downloadFailedShort);
    case State::cancelled: return std::string(texts::downloadCancelled);
    }
    return "";
}

GtkWidget* rowButton(const char* icon, const char* name) {
    GtkWidget* button = gtk_button_new_from_icon_name(icon);
    nameButton(button, name);
    gtk_widget_add_css_class(button, "flat");
    gtk_widget_set_valign(button, GTK_ALIGN_CENTER);
    return button;
}

struct RowTarget {
    std::weak_ptr<DownloadsIndicator> indicator;
    std::size_t index;
};

}  // namespace

DownloadsIndicator::DownloadsIndicator(Downloads& downloads, FileAction open, FileAction showInFolder)
    : downloads_(downloads), open_(std::move(open)), showInFolder_(std::move(showInFolder)) {
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
    connectForLife(list, "row-activated",
                   G_CALLBACK(+[](GtkListBox*, GtkListBoxRow* row, std::weak_ptr<DownloadsIndicator>* self) {
                       if (auto indicator = self->lock())
                           indicator->activate(static_cast<std::size_t>(gtk_list_box_row_get_index(row)));
                   }),
                   weak_.weak());
    GtkWidget* popover = gtk_popover_new();
    gtk_popover_set_child(GTK_POPOVER(popover), list);
    gtk_menu_button_set_popover(button, popover);

    downloads_.changed = [this](std::size_t index) { update(index); };
    for (std::size_t i = 0; i < downloads_.entries().size(); ++i) update(i);
}

DownloadsIndicator::~DownloadsIndicator() { downloads_.changed = nullptr; }

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

void DownloadsIndicator::showInFolder(std::size_t index) {
    const auto& entries = downloads_.entries();
    if (index >= entries.size() || entries[index].state != State::finished) return;
    gtk_menu_button_popdown(GTK_MENU_BUTTON(button_.get()));
    if (showInFolder_) showInFolder_(entries[index].path);
    else orvane::showInFolder(entries[index].path);
}

void DownloadsIndicator::addRow() {
    const std::size_t index = rows_.size();
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_widget_set_hexpand(box, TRUE);
    GtkWidget* name = gtk_label_new(downloads_.entries().at(index).name.c_str());
    gtk_label_set_xalign(GTK_LABEL(name), 0);
    gtk_label_set_ellipsize(GTK_LABEL(name), PANGO_ELLIPSIZE_MIDDLE);
    gtk_label_set_max_width_chars(GTK_LABEL(name), 40);
    GtkWidget* state = gtk_label_new(nullptr);
    gtk_label_set_xalign(GTK_LABEL(state), 0);
    gtk_widget_add_css_class(state, "dim-label");
    gtk_widget_add_css_class(state, "caption");
    GtkWidget* bar = gtk_progress_bar_new();
    gtk_box_append(GTK_BOX(box), name);
    gtk_box_append(GTK_BOX(box), bar);
    gtk_box_append(GTK_BOX(box), state);

    GtkWidget* line = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_widget_set_margin_top(line, 6);
    gtk_widget_set_margin_bottom(line, 6);
    gtk_widget_set_margin_start(line, 6);
    gtk_widget_set_margin_end(line, 6);
    gtk_box_append(GTK_BOX(line), box);
    GtkWidget* cancel = rowButton("process-stop-symbolic", texts::cancelDownload);
    GtkWidget* folder = rowButton("folder-open-symbolic", texts::showInFolder);
    gtk_box_append(GTK_BOX(line), cancel);
    gtk_box_append(GTK_BOX(line), folder);
    // The buttons go with the list, which may outlive this in a header bar.
    connectForLife(cancel, "clicked", G_CALLBACK(+[](GtkButton*, RowTarget* target) {
                       if (auto indicator = target->indicator.lock()) indicator->downloads_.cancel(target->index);
                   }),
                   RowTarget{weak_.weak(), index});
    connectForLife(folder, "clicked", G_CALLBACK(+[](GtkButton*, RowTarget* target) {
                       if (auto indicator = target->indicator.lock()) indicator->showInFolder(target->index);
                   }),
                   RowTarget{weak_.weak(), index});

    GtkWidget* row = gtk_list_box_row_new();
    gtk_list_box_row_set_child(GTK_LIST_BOX_ROW(row), line);
    gtk_list_box_append(list_, row);
    rows_.push_back({row, GTK_LABEL(state), GTK_PROGRESS_BAR(bar), cancel, folder, State::running});
}

void DownloadsIndicator::update(std::size_t index) {
    while (rows_.size() <= index) addRow();
    const DownloadEntry& entry = downloads_.entries().at(index);
    Row& row = rows_[index];
    const bool running = entry.state == State::running;
    const bool done = entry.state == State::finished;
    gtk_progress_bar_set_fraction(row.bar, entry.progress);
    gtk_widget_set_visible(GTK_WIDGET(row.bar), running);
    const std::string state = stateOf(entry);
    gtk_label_set_text(row.state, state.c_str());
    gtk_widget_set_visible(GTK_WIDGET(row.state), !state.empty());
    gtk_widget_set_visible(row.cancel, running);
    gtk_widget_set_visible(row.folder, done);
    gtk_list_box_row_set_activatable(GTK_LIST_BOX_ROW(row.row), done);
    gtk_widget_set_tooltip_text(row.row, done ? static_cast<const char*>(texts::openDownload) : nullptr);
    const bool newlyDone = done && row.shown != State::finished;
    row.shown = entry.state;
    updateButton();
    if (newlyDone && finished) finished(index);
}

void DownloadsIndicator::updateButton() {
    gtk_widget_set_visible(button_.get(), !downloads_.entries().empty());
    const double done = progress();
    gtk_progress_bar_set_fraction(overall_, done);
    gtk_widget_set_visible(GTK_WIDGET(overall_), done < 1);
}

}  // namespace orvane
