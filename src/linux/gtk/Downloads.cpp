#include "Downloads.h"

#include <glib/gstdio.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "PageDialogTexts.h"
#include "Sheet.h"

namespace orvane {

namespace texts = pageDialogTexts;
using WeakDownloads = std::weak_ptr<Downloads>;

struct Downloads::Item {
    std::uint64_t id = 0;
    GPtr<WebKitDownload> download;
    std::size_t entry = SIZE_MAX;  // in entries_, once it has a destination
    std::string part;              // where it is written until it is whole
    bool failed = false;
    SignalConnection decide, data, fail, finish;
};

namespace {

struct Target {
    WeakDownloads owner;
    std::uint64_t id;
};

// The name the chooser starts with: a bare file name, never a path.
std::string suggestion(const char* suggested) {
    if (!suggested || !*suggested) return std::string(texts::unnamedDownload);
    GCharPtr base(g_path_get_basename(suggested));
    std::string name = base.get();
    if (name.empty() || name == "." || name == ".." || name == G_DIR_SEPARATOR_S)
        return std::string(texts::unnamedDownload);
    return name;
}

// A name beside the chosen one that nothing has yet: the download is written
// there (hidden) and takes the chosen name only once it is whole.
std::string partPath(const std::string& path) {
    GCharPtr folder(g_path_get_dirname(path.c_str()));
    GCharPtr base(g_path_get_basename(path.c_str()));
    // Short enough that the name and what WebKit adds to it fit a file name
    // whatever the chosen name's length; cut between characters.
    std::string name = base.get();
    std::size_t keep = std::min<std::size_t>(name.size(), 100);
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    name.resize(keep);
    static constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (;;) {
        std::string tag;
        for (int i = 0; i < 6; ++i)
            tag += kLetters[static_cast<std::size_t>(g_random_int_range(0, static_cast<gint32>(kLetters.size())))];
        GCharPtr part(g_build_filename(folder.get(), UnfinishedDownloads::partName(name, tag).c_str(), nullptr));
        if (!g_file_test(part.get(), G_FILE_TEST_EXISTS) && !g_file_test(part.get(), G_FILE_TEST_IS_SYMLINK))
            return part.get();
    }
}

// Why the download cannot count as whole, or empty when it can. WebKit ends
// a transfer the server cut off with "finished" as if it were complete; only
// the length the response declared tells. A body sent encoded (compressed)
// arrives at another length than declared, so there the transport's own
// checks are all there is.
std::string incompleteness(WebKitDownload* download) {
    WebKitURIResponse* response = webkit_download_get_response(download);
    if (!response) return std::string(texts::downloadCutOff);
    const guint64 declared = webkit_uri_response_get_content_length(response);
    SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
    const char* encoding = headers ? soup_message_headers_get_one(headers, "Content-Encoding") : nullptr;
    if (declared == 0 || (encoding && g_ascii_strcasecmp(encoding, "identity") != 0)) return {};
    const guint64 received = webkit_download_get_received_data_length(download);
    if (received == declared) return {};
    return std::string(texts::downloadCutOff) + " (" + std::to_string(received) + " of " + std::to_string(declared) +
           " bytes)";
}

// Puts the whole download at the path the user chose, replacing what is
// there and only that: a file or a link (not what it points to) in one step,
// a folder by removing it first. Empty, or why it could not.
std::string moveInto(const std::string& part, const std::string& path) {
    if (g_file_test(path.c_str(), G_FILE_TEST_IS_DIR) && !g_file_test(path.c_str(), G_FILE_TEST_IS_SYMLINK)) {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    if (g_rename(part.c_str(), path.c_str()) == 0) return {};
    std::string why = path + ": " + g_strerror(errno);
    g_remove(part.c_str());
    return why;
}

}  // namespace

Downloads::Downloads(GtkWindow* parent, std::string appName, WebKitWebView* view, FileChooser choose, MayStart mayStart,
                     std::filesystem::path unfinishedList)
    : parent_(parent), appName_(std::move(appName)), view_(view),
      choose_(choose ? std::move(choose) : FileChooser(askDesktop)), mayStart_(std::move(mayStart)),
      unfinished_(std::move(unfinishedList)) {
    unfinished_.removeLeftovers();
    startWatch_ = connectWith(webkit_web_view_get_network_session(view), "download-started",
                              G_CALLBACK(+[](WebKitNetworkSession*, WebKitDownload* download, WeakDownloads* self) {
                                  if (auto downloads = self->lock()) downloads->started(download);
                              }),
                              weak_.weak());
}

Downloads::~Downloads() {
    startWatch_.disconnect();
    for (auto& item : items_) {
        item->decide.disconnect();
        item->data.disconnect();
        item->fail.disconnect();
        item->finish.disconnect();
        webkit_download_cancel(item->download.get());
        unfinished_.forget(item->part);
    }
    for (auto& sheet : errors_) gtk_window_destroy(GTK_WINDOW(sheet.get()));
}

void Downloads::started(WebKitDownload* download) {
    if (webkit_download_get_web_view(download) != view_) return;
    WebKitURIRequest* request = webkit_download_get_request(download);
    const char* address = request ? webkit_uri_request_get_uri(request) : nullptr;
    if (mayStart_ && !mayStart_(address ? address : "")) {
        webkit_download_cancel(download);
        return;
    }
    auto item = std::make_unique<Item>();
    item->id = ++lastId_;
    item->download = retain(download);
    // Each handler finds its item again through the owner, which may be gone.
    const Target me{weak_.weak(), item->id};
    item->decide = connectWith(download, "decide-destination",
                               G_CALLBACK(+[](WebKitDownload* which, const char* suggested, Target* target) {
                                   // Always answered here, later: WebKit's own
                                   // answer would save without asking.
                                   if (auto owner = target->owner.lock()) owner->ask(target->id, suggested);
                                   else webkit_download_cancel(which);
                                   return gboolean(TRUE);
                               }),
                               me);
    item->data = connectWith(download, "received-data", G_CALLBACK(+[](WebKitDownload*, guint64, Target* target) {
                                 if (auto owner = target->owner.lock()) owner->progressed(target->id);
                             }),
                             me);
    item->fail = connectWith(download, "failed", G_CALLBACK(+[](WebKitDownload*, GError* error, Target* target) {
                                 if (auto owner = target->owner.lock()) owner->failed(target->id, error);
                             }),
                             me);
    item->finish = connectWith(download, "finished", G_CALLBACK(+[](WebKitDownload*, Target* target) {
                                   if (auto owner = target->owner.lock()) owner->finished(target->id);
                               }),
                               me);
    items_.push_back(std::move(item));
}

Downloads::Item* Downloads::find(std::uint64_t id) {
    const auto found = std::find_if(items_.begin(), items_.end(), [&](const auto& item) { return item->id == id; });
    return found == items_.end() ? nullptr : found->get();
}

void Downloads::ask(std::uint64_t id, const char* suggested) {
    Item* item = find(id);
    if (!item) return;
    FileQuestion question;
    question.kind = FileQuestion::Kind::save;
    question.suggestedName = suggestion(suggested);
    const std::shared_ptr<WebKitDownload> held(WEBKIT_DOWNLOAD(g_object_ref(item->download.get())), g_object_unref);
    choose_(parent_, question, [weak = weak_.weak(), id, held](const std::vector<std::string>& paths) {
        auto owner = weak.lock();
        if (owner && owner->find(id)) owner->chosen(*owner->find(id), paths);
        else webkit_download_cancel(held.get());
    });
}

void Downloads::chosen(Item& item, const std::vector<std::string>& paths) {
    if (paths.empty()) {
        webkit_download_cancel(item.download.get());
        return;
    }
    const std::string& path = paths.front();
    // What is at the chosen path stays until the download is whole: a failed
    // one leaves the user's file as it was.
    item.part = partPath(path);
    unfinished_.add(item.part);
    webkit_download_set_allow_overwrite(item.download.get(), FALSE);
    webkit_download_set_destination(item.download.get(), item.part.c_str());
    DownloadEntry entry;
    GCharPtr name(g_path_get_basename(path.c_str()));
    entry.name = name.get();
    entry.path = path;
    item.entry = entries_.size();
    entries_.push_back(std::move(entry));
    if (changed) changed(item.entry);
}

void Downloads::progressed(std::uint64_t id) {
    Item* found = find(id);
    if (!found) return;
    Item& item = *found;
    if (item.entry == SIZE_MAX) return;
    DownloadEntry& entry = entries_[item.entry];
    entry.progress = webkit_download_get_estimated_progress(item.download.get());
    entry.received = webkit_download_get_received_data_length(item.download.get());
    WebKitURIResponse* response = webkit_download_get_response(item.download.get());
    entry.size = response ? webkit_uri_response_get_content_length(response) : 0;
    if (changed) changed(item.entry);
}

void Downloads::failed(std::uint64_t id, const GError* error) {
    Item* found = find(id);
    if (!found) return;
    Item& item = *found;
    item.failed = true;
    const bool cancelled = g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER);
    if (item.entry != SIZE_MAX) {
        entries_[item.entry].state = cancelled ? DownloadEntry::State::cancelled : DownloadEntry::State::failed;
        if (changed) changed(item.entry);
    }
    // A cancelled save, or the app cancelling, is no failure to report.
    if (!cancelled) showError(error->message);
}

void Downloads::finished(std::uint64_t id) {
    Item* found = find(id);
    if (!found) return;
    Item& item = *found;
    // WebKit ends a failed download with "finished" too.
    if (!item.failed && item.entry != SIZE_MAX) {
        DownloadEntry& entry = entries_[item.entry];
        std::string why = incompleteness(item.download.get());
        if (why.empty()) why = moveInto(item.part, entry.path);
        else g_remove(item.part.c_str());
        if (why.empty()) {
            entry.progress = 1;
            entry.received = entry.size = webkit_download_get_received_data_length(item.download.get());
        }
        entry.state = why.empty() ? DownloadEntry::State::finished : DownloadEntry::State::failed;
        if (changed) changed(item.entry);
        if (!why.empty()) showError(why);
    }
    drop(item);
}

void Downloads::cancel(std::size_t index) {
    const auto found =
        std::find_if(items_.begin(), items_.end(), [&](const auto& item) { return item->entry == index; });
    if (found != items_.end()) webkit_download_cancel((*found)->download.get());
}

void Downloads::drop(Item& item) {
    const auto found =
        std::find_if(items_.begin(), items_.end(), [&](const auto& held) { return held.get() == &item; });
    if (found == items_.end()) return;
    unfinished_.forget(item.part);
    // Not from inside the download's own signal: its handlers go with it.
    std::unique_ptr<Item> done = std::move(*found);
    items_.erase(found);
    g_idle_add_full(
        G_PRIORITY_DEFAULT_IDLE,
        +[](gpointer data) {
            delete static_cast<Item*>(data);
            return gboolean(G_SOURCE_REMOVE);
        },
        done.release(), nullptr);
}

void Downloads::showError(const std::string& detail) {
    GtkWidget* sheet = makeSheet(parent_, appName_, std::string(texts::downloadFailed), detail);
    adw_message_dialog_add_response(ADW_MESSAGE_DIALOG(sheet), kSheetOk, texts::ok);
    adw_message_dialog_set_default_response(ADW_MESSAGE_DIALOG(sheet), kSheetOk);
    adw_message_dialog_set_close_response(ADW_MESSAGE_DIALOG(sheet), kSheetOk);
    errors_.push_back(retain(sheet));
    connectForLife(sheet, "response", G_CALLBACK(+[](AdwMessageDialog* dialog, const char*, WeakDownloads* self) {
                       if (auto owner = self->lock())
                           std::erase_if(owner->errors_,
                                         [&](const auto& held) { return held.get() == GTK_WIDGET(dialog); });
                       gtk_window_destroy(GTK_WINDOW(dialog));
                   }),
                   weak_.weak());
    gtk_window_present(GTK_WINDOW(sheet));
}

}  // namespace orvane
