#pragma once
// The web view's downloads: each asks where to save with a save chooser and
// goes only there. It is written under a hidden name beside the chosen one
// and takes the chosen name, replacing what was there, only once whole; a
// failure is shown in a dialog on the window and leaves the chosen path as
// it was. Keeps the list the header bar's indicator shows.

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FileChooser.h"
#include "GRef.h"
#include "UnfinishedDownloads.h"
#include "WeakPtr.h"

namespace orvane {

struct DownloadEntry {
    enum class State { running, finished, failed, cancelled };
    std::string name;     // the chosen file's name
    std::string path;     // where it is saved
    double progress = 0;  // 0 to 1; 0 while the size is unknown
    std::uint64_t received = 0;
    std::uint64_t size = 0;  // as the server announced it; 0 when it did not
    State state = State::running;
};

class Downloads {
public:
    // Whether a download of this address may start: asked before anything
    // shows, so that a page cannot open save dialogs unbidden.
    using MayStart = std::function<bool(const std::string& address)>;

    // Takes the downloads of `view` (others in its network session are not
    // ours), asking through `choose` (the desktop's chooser when empty);
    // those `mayStart` refuses are cancelled unseen. Keeps the hidden files
    // of those under way listed in `unfinishedList` (none when empty), and
    // removes first what a run that ended abruptly left listed there.
    Downloads(GtkWindow* parent, std::string appName, WebKitWebView* view, FileChooser choose, MayStart mayStart,
              std::filesystem::path unfinishedList);
    // Cancels what still runs: nothing is left half-written behind the app.
    ~Downloads();
    Downloads(const Downloads&) = delete;
    Downloads& operator=(const Downloads&) = delete;

    // Every download that got a destination, oldest first; entries never move.
    const std::vector<DownloadEntry>& entries() const { return entries_; }
    // Called after an entry was added or changed (its index).
    std::function<void(std::size_t)> changed;
    // Stops the download at `index` if it still runs: its hidden file goes,
    // the chosen path keeps what it had, and nothing is reported as failed.
    void cancel(std::size_t index);

private:
    struct Item;
    void started(WebKitDownload* download);
    Item* find(std::uint64_t id);
    void ask(std::uint64_t id, const char* suggested);
    void chosen(Item& item, const std::vector<std::string>& paths);
    void progressed(std::uint64_t id);
    void failed(std::uint64_t id, const GError* error);
    void finished(std::uint64_t id);
    void drop(Item& item);
    void showError(const std::string& detail);

    GtkWindow* parent_;
    std::string appName_;  // the title of its error dialog
    WebKitWebView* view_;
    FileChooser choose_;
    MayStart mayStart_;
    UnfinishedDownloads unfinished_;
    std::uint64_t lastId_ = 0;
    std::vector<std::unique_ptr<Item>> items_;  // running or waiting for a destination
    std::vector<DownloadEntry> entries_;
    std::vector<GPtr<GtkWidget>> errors_;  // error dialogs still open
    SignalConnection startWatch_;
    // Last: gone first, so no callback reaches a half-destroyed owner.
    WeakPtrFactory<Downloads> weak_{this};
};

}  // namespace orvane
