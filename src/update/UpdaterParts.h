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

#include "Problem.h"
#include "RelaunchTask.h"
#include "Url.h"

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

// The download's callbacks, all on the main loop. Per download: any number of
// `progress`, then either `finished` followed by `completed` with no error, or
// `completed` with the transfer's error alone.
struct DownloadCallbacks {
    // Bytes so far, and the length the server gave (0 or less when it gave none).
    std::function<void(std::int64_t written, std::int64_t expected)> progress;
    // The HTTP status (nothing without an HTTP response) and the SHA-256 of
    // the file as stored, in lower-case hex (nothing when the status was not
    // 200 or the file is not complete on disk).
    std::function<void(std::optional<int> status, const std::optional<std::string>& sha256)> finished;
    std::function<void(const std::optional<std::string>& error)> completed;
};

// The session that carries archive downloads: no persistent cache, cookies or
// credentials. The body goes straight to a file, hashed as it arrives, so
// that memory stays flat whatever the size and the digest is ready with the
// last byte. Destroying it stops its downloads and their callbacks.
class ArchiveSession {
public:
    virtual ~ArchiveSession() = default;
    // Stores the body of `url` in `file`, a new file (an existing one is
    // never replaced or followed). A body longer than `maxBytes` fails the
    // download as soon as it is, so a server cannot fill the disk.
    virtual void download(const Url& url, const std::filesystem::path& file, std::int64_t maxBytes,
                          DownloadCallbacks callbacks) = 0;
    // Ends every download under way without any further callback.
    virtual void cancel() = 0;
};

// The relaunch task, or why the installation failed.
using InstallResult = std::variant<RelaunchTask, Problem>;

// The name of the archive in the staging folder.
inline constexpr const char* kArchiveName = "update.zip";

struct UpdaterParts {
    std::unique_ptr<ManifestSource> manifest;
    // Called once, when the first download starts.
    std::function<std::unique_ptr<ArchiveSession>()> makeSession;
    // Whether the file system holding `path` is mounted read-only; nothing
    // when that cannot be found out.
    std::function<std::optional<bool>(const std::filesystem::path& path)> readOnlyVolume;
    // Bytes free for this process on the file system holding `path`; nothing
    // when that cannot be found out.
    std::function<std::optional<std::int64_t>(const std::filesystem::path& path)> freeSpace;
    // Whether this process may write to `path`.
    std::function<bool(const std::filesystem::path& path)> writable;
    // Makes a fresh staging folder for one update, beside the bundle; the
    // archive is downloaded into it (as kArchiveName) and installed from it.
    std::function<std::variant<std::filesystem::path, Problem>()> makeStaging;
    // Removes a staging folder that the installation never got.
    std::function<void(const std::filesystem::path& staging)> dropStaging;
    // Unpacks, checks and swaps in the verified archive in `staging`. Runs
    // off the main thread: it gets everything by value and may touch nothing
    // shared.
    std::function<InstallResult(const std::filesystem::path& staging, const std::string& version)> install;
    // Asks a running `install` to stop at its next safe point (any thread).
    std::function<void()> cancelInstall;
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
