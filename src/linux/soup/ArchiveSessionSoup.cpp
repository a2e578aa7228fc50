#include "ArchiveSessionSoup.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "HttpGet.h"
#include "UniqueFd.h"
#include "WriteAll.h"

namespace orvane {
namespace {

// A file without a name in the temporary folder: nothing is left behind,
// whatever happens to the process.
UniqueFd anonymousFile() {
    const char* folder = g_get_tmp_dir();
    UniqueFd fd(::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd.valid()) return fd;
    std::string pattern = std::string(folder) + "/orvane-download-XXXXXX";
    fd = UniqueFd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (fd.valid()) ::unlink(pattern.c_str());
    return fd;
}

}  // namespace

std::optional<std::string> readWhole(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size < 0) return std::nullopt;
    std::string bytes;
    // One allocation of the final size: the archive is held exactly once.
    bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return std::nullopt;
        done += static_cast<std::size_t>(got);
    }
    return bytes;
}

ArchiveSessionSoup::ArchiveSessionSoup() : session_(adopt(soup_session_new())) {}

ArchiveSessionSoup::~ArchiveSessionSoup() {
    for (auto& weak : downloads_) {
        if (auto get = weak.lock()) get->abandon();
    }
}

void ArchiveSessionSoup::download(const Url& url, DownloadCallbacks callbacks) {
    struct State {
        DownloadCallbacks callbacks;
        UniqueFd file;
        std::optional<int> status;
        std::int64_t expected = 0;
        std::int64_t written = 0;
    };
    auto state = std::make_shared<State>();
    state->callbacks = std::move(callbacks);

    HttpGet::Handlers handlers;
    handlers.response = [state](SoupMessage* message) {
        state->status = static_cast<int>(soup_message_get_status(message));
        // Another status has no archive in its body; its outcome is the status.
        if (state->status != 200) return false;
        state->expected = soup_message_headers_get_content_length(soup_message_get_response_headers(message));
        return true;
    };
    handlers.chunk = [state](std::span<const char> bytes) -> std::optional<std::string> {
        if (!state->file.valid()) state->file = anonymousFile();
        if (!state->file.valid()) return std::string("the download can’t be stored: ") + std::strerror(errno);
        if (state->written + static_cast<std::int64_t>(bytes.size()) > kMaxBytes)
            return std::string("the download is too large");
        if (!writeAll(state->file.get(), std::string_view(bytes.data(), bytes.size())))
            return std::string("the download can’t be stored: ") + std::strerror(errno);
        state->written += static_cast<std::int64_t>(bytes.size());
        if (state->callbacks.progress) state->callbacks.progress(state->written, state->expected);
        return std::nullopt;
    };
    handlers.done = [state](const std::optional<std::string>& error) {
        auto outcome = std::move(state->callbacks);
        if (error) {
            if (outcome.completed) outcome.completed(error);
            return;
        }
        if (outcome.finished) {
            const int fd = state->file.get();
            const bool ok = state->status == 200;
            outcome.finished(state->status, [fd, ok]() -> std::optional<std::string> {
                if (!ok) return std::nullopt;
                // An empty body never made a file.
                if (fd < 0) return std::string();
                return readWhole(fd);
            });
        }
        state->file = UniqueFd();
        if (outcome.completed) outcome.completed(std::nullopt);
    };
    auto get = HttpGet::start(session_.get(), url, std::move(handlers));
    std::erase_if(downloads_, [](const auto& weak) { return weak.expired(); });
    downloads_.push_back(get);
}

}  // namespace orvane
