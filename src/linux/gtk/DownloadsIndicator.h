#pragma once
// The header bar's downloads button: hidden until something downloads; its
// progress shows while downloads run, and its popover lists them with their
// sizes: one that runs can be cancelled, a finished one opened (a click on
// it) or shown in its folder.

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

#include "Downloads.h"
#include "GRef.h"
#include "WeakPtr.h"

namespace orvane {

class DownloadsIndicator {
public:
    using FileAction = std::function<void(const std::string& path)>;
    // Follows `downloads` (which must outlive it; it takes its `changed`).
    // `open` opens a finished download's file, `showInFolder` shows it in
    // its folder; empty, the desktop's handler for its type and the
    // desktop's file manager do.
    DownloadsIndicator(Downloads& downloads, FileAction open, FileAction showInFolder);
    ~DownloadsIndicator();
    DownloadsIndicator(const DownloadsIndicator&) = delete;
    DownloadsIndicator& operator=(const DownloadsIndicator&) = delete;

    GtkWidget* widget() const { return button_.get(); }
    // The share of all running downloads done, 0 to 1; 1 when none runs.
    double progress() const;
    // Opens the download at `index` when it has finished (what a click on
    // its row does).
    void activate(std::size_t index);
    void showInFolder(std::size_t index);
    // Called once for each download that finishes whole.
    std::function<void(std::size_t index)> finished;
    // The row's buttons, for `index`: Cancel while it runs, Show in Folder
    // once finished (tests press them).
    GtkWidget* cancelButton(std::size_t index) const { return rows_.at(index).cancel; }
    GtkWidget* folderButton(std::size_t index) const { return rows_.at(index).folder; }
    std::string stateText(std::size_t index) const { return gtk_label_get_text(rows_.at(index).state); }

private:
    struct Row {
        GtkWidget* row;
        GtkLabel* state;
        GtkProgressBar* bar;
        GtkWidget* cancel;
        GtkWidget* folder;
        DownloadEntry::State shown;
    };
    void addRow();
    void update(std::size_t index);
    void updateButton();

    Downloads& downloads_;
    FileAction open_, showInFolder_;
    GPtr<GtkWidget> button_;
    GtkProgressBar* overall_ = nullptr;
    GtkListBox* list_ = nullptr;
    std::vector<Row> rows_;
    WeakPtrFactory<DownloadsIndicator> weak_{this};
};

}  // namespace orvane
