#pragma once
// The header bar's downloads button: hidden until something downloads; its
// progress shows while downloads run, and its popover lists them, a finished
// one opening with a click.

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

#include "Downloads.h"
#include "GRef.h"

namespace orvane {

class DownloadsIndicator {
public:
    // Follows `downloads` (which must outlive it; it takes its `changed`).
    // `open` opens a finished download's file; empty, the desktop's handler
    // for its type does.
    DownloadsIndicator(Downloads& downloads, std::function<void(const std::string& path)> open);
    ~DownloadsIndicator();
    DownloadsIndicator(const DownloadsIndicator&) = delete;
    DownloadsIndicator& operator=(const DownloadsIndicator&) = delete;

    GtkWidget* widget() const { return button_.get(); }
    // The share of all running downloads done, 0 to 1; 1 when none runs.
    double progress() const;
    // Opens the download at `index` when it has finished (what a click on
    // its row does).
    void activate(std::size_t index);

private:
    struct Row {
        GtkWidget* row;
        GtkLabel* state;
        GtkProgressBar* bar;
    };
    void update(std::size_t index);
    void updateButton();

    Downloads& downloads_;
    std::function<void(const std::string&)> open_;
    GPtr<GtkWidget> button_;
    GtkProgressBar* overall_ = nullptr;
    GtkListBox* list_ = nullptr;
    std::vector<Row> rows_;
};

}  // namespace orvane
