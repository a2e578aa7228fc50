#pragma once
// The platform pieces the updater works through, so that its rules run and
// are tested without a network, a file system or threads.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "Url.h"
#include "Problem.h"
#include "RelaunchTask.h"

namespace orvane {

// What the manifest fetch ended with.
struct ManifestResponse {
    std::optional<std::string> body;
    std::optional<int> status;         // nothing when there was no HTTP response
    std::optional<std::string> error;  // the transport error's description
};

// Fetches the manifest, always from the server (no cache), giving up after
// `timeoutSeconds`. `done` is called exactly once, on the main loop, unless
// the source is destroyed first.
class ManifestSource {
public:
    virtual ~ManifestSource() = default;
    virtual void fetch(const Url& url, double timeoutSeconds, std::function<void(ManifestResponse)> done) = 0;
};

// Reads the whole downloaded file; nothing when it cannot be read.
using ReadDownload = std::function<std::optional<std::string>()>;

// The download's callbacks, all on the main loop. Per download: any number of
// `progress`, then either `finished` followed by `completed` with no error, or
// `completed` with the transfer's error alone.
struct DownloadCallbacks {
    // Bytes so far, and the length the server gave (0 or less when it gave none).
    std::function<void(std::int64_t written, std::int64_t expected)> progress;
    // The HTTP status (nothing without an HTTP response) and the downloaded file,
    // readable only during the call.
    std::function<void(std::optional<int> status, const ReadDownload& read)> finished;
    std::function<void(const std::optional<std::string>& error)> completed;
};

// The session that carries archive downloads: no persistent cache, cookies or
// credentials. Destroying it stops its downloads and their callbacks.
class ArchiveSession {
public:
    virtual ~ArchiveSession() = default;
    virtual void download(const Url& url, DownloadCallbacks callbacks) = 0;
};

// The relaunch task, or why the installation failed.
using InstallResult = std::variant<RelaunchTask, Problem>;

struct UpdaterParts {
    std::unique_ptr<ManifestSource> manifest;
    // Called once, when the first download starts.
    std::function<std::unique_ptr<ArchiveSession>()> makeSession;
    // Whether the file system holding `path` is mounted read-only; nothing
    // when that cannot be found out.
    std::function<std::optional<bool>(const std::filesystem::path& path)> readOnlyVolume;
    // Whether this process may write to `path`.
    std::function<bool(const std::filesystem::path& path)> writable;
    // Unpacks, checks and swaps in the archive. Runs off the main thread: it
    // gets everything by value and may touch nothing shared.
    std::function<InstallResult(std::string bytes, const std::string& version)> install;
    // Runs `work` on a background thread (in tests: wherever they like).
    std::function<void(std::function<void()> work)> background;
    // Starts the relaunch task; false when it could not be started.
    std::function<bool(const RelaunchTask& task)> startRelaunch;
    // Ends the application through its normal path.
    std::function<void()> quit;
    // Writes one line to the log, literally.
    std::function<void(const std::string& line)> log;
};

}  // namespace orvane
