#include "ArchiveSessionSoup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Hex.h"
#include "HttpGet.h"
#include "Sha256.h"
#include "UniqueFd.h"
#include "WriteAll.h"

namespace orvane {
namespace {

std::string cantStore() { return std::string("the download can’t be stored: ") + std::strerror(errno); }

}  // namespace

ArchiveSessionSoup::ArchiveSessionSoup() : session_(adopt(soup_session_new())) {}

ArchiveSessionSoup::~ArchiveSessionSoup() { cancel(); }

void ArchiveSessionSoup::cancel() {
    for (auto& weak : downloads_) {
        if (auto get = weak.lock()) get->abandon();
    }
    downloads_.clear();
}

void ArchiveSessionSoup::download(const Url& url, const std::filesystem::path& file, std::int64_t maxBytes,
                                  DownloadCallbacks callbacks) {
    struct State {
        DownloadCallbacks callbacks;
        std::filesystem::path path;
        UniqueFd file;
        Sha256 sha;
        std::optional<int> status;
        std::int64_t expected = 0;
        std::int64_t limit = 0;
        std::int64_t written = 0;
        std::optional<std::string> storeError;
    };
    auto state = std::make_shared<State>();
    state->callbacks = std::move(callbacks);
    state->path = file;
    state->limit = maxBytes;

    HttpGet::Handlers handlers;
    handlers.response = [state](SoupMessage* message) {
        state->status = static_cast<int>(soup_message_get_status(message));
        // Another status has no archive in its body; its outcome is the status.
        if (state->status != 200) return false;
        state->expected = soup_message_headers_get_content_length(soup_message_get_response_headers(message));
        // A new file only: whatever is at that name already is neither
        // followed nor replaced.
        state->file = UniqueFd(::open(state->path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!state->file.valid()) state->storeError = cantStore();
        return state->file.valid();
    };
    handlers.chunk = [state](std::span<const char> bytes) -> std::optional<std::string> {
        if (state->written + static_cast<std::int64_t>(bytes.size()) > state->limit)
            return std::string("larger than the update information says");
        if (!writeAll(state->file.get(), std::string_view(bytes.data(), bytes.size()))) return cantStore();
        state->sha.update({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
        state->written += static_cast<std::int64_t>(bytes.size());
        if (state->callbacks.progress) state->callbacks.progress(state->written, state->expected);
        return std::nullopt;
    };
    handlers.done = [state](const std::optional<std::string>& error) {
        auto outcome = std::move(state->callbacks);
        if (error || state->storeError) {
            if (outcome.completed) outcome.completed(error ? error : state->storeError);
            return;
        }
        std::optional<std::string> digest;
        // The file is whole on disk once it is closed without an error.
        if (state->file.valid() && state->file.close() == 0) digest = hex(state->sha.finish());
        if (outcome.finished) outcome.finished(state->status, digest);
        if (outcome.completed) outcome.completed(std::nullopt);
    };
    auto get = HttpGet::start(session_.get(), url, std::move(handlers));
    std::erase_if(downloads_, [](const auto& weak) { return weak.expired(); });
    downloads_.push_back(get);
}

}  // namespace orvane
