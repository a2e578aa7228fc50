#pragma once
// The self-updater. On the page's "update" request it fetches the manifest
// next to the page, decides whether the offered version is newer, checks that
// the application can replace itself, downloads the archive with progress,
// verifies its SHA-256, has it installed off the main thread and relaunches.
// Every step and outcome reaches the page as an "update" event; nothing is
// retried (the page may ask again).
//
// A download that stays below a floor rate for a minute is given up, so a
// trickling server cannot keep the updater busy for ever.
//
// Lives on the main thread, like everything it touches; only `install` runs
// elsewhere, on copies. Its callbacks hold it through a weak handle that ends
// with it.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MainQueue.h"
#include "UpdaterParts.h"
#include "Url.h"
#include "WeakPtr.h"

namespace orvane {

struct UpdaterSettings {
    Url page;                      // the manifest and the archive lie next to it
    std::string version;           // the running version
    std::filesystem::path bundle;  // the bundle to replace; empty when not running from one
};

class Updater {
public:
    static constexpr double kManifestTimeoutSeconds = 20;
    static constexpr double kProgressStep = 0.05;
    static constexpr double kQuitDelaySeconds = 0.5;
    // The slowest download that is kept going: fewer than kSlowestBytesPerSecond
    // on average over any kSlowWindowSeconds fails it. Looked at every
    // kSlowCheckSeconds. (At this floor a 100 MB release takes under 3.5 hours.)
    static constexpr std::int64_t kSlowestBytesPerSecond = std::int64_t{8} * 1024;
    static constexpr double kSlowWindowSeconds = 60;
    static constexpr double kSlowCheckSeconds = 5;
    // Far beyond any bundle of ours: a manifest announcing more is wrong.
    static constexpr std::int64_t kMaxArchiveBytes = std::int64_t(1) << 30;
    // Free space the download leaves on the bundle's disk, as the unpacking does.
    static constexpr std::int64_t kSpareBytes = std::int64_t(128) << 20;

    struct Want {
        std::string version;
        std::string sha256;  // lower-case hex
        std::int64_t size = 0;
    };

    Updater(MainQueue& queue, UpdaterSettings settings, UpdaterParts parts);
    ~Updater();
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    // Where update events go; while it is empty they are dropped and the
    // cycle runs as usual.
    std::function<void(const nlohmann::json&)> send;

    // The page's "update" request. While a cycle runs it starts nothing and
    // answers with the cycle's current state (and progress, while downloading).
    void start();

    // The app is quitting. While an install runs, the install is asked to
    // stop and `quit` runs once it has ended (after starting the relaunch if
    // it had already swapped the bundles); true then. False when nothing
    // holds the quit.
    bool quitWhenSafe(std::function<void()> quit);
    bool installing() const { return installing_; }

    // The relaunch step put this version back after the new one failed to
    // start; the page hears `message` as an "error" event once it has loaded.
    void undone(std::string message);
    // The page has loaded (each time; only the first counts).
    void pageLoaded();

    // Why the application cannot be replaced where it lies, or nothing.
    std::optional<std::string> cantReplace() const;

    bool busy() const { return busy_; }
    const std::optional<Want>& want() const { return want_; }
    double shown() const { return shown_; }

    // The steps, in the order a cycle takes them; public so that each is
    // driven directly in tests.
    void got(const ManifestResponse& response);
    void didWriteData(std::int64_t written, std::int64_t expected);
    void didFinishDownloading(std::optional<int> status, const std::optional<std::string>& sha256);
    void didComplete(const std::optional<std::string>& error);
    void restart(const RelaunchTask& task);

private:
    void report(std::string_view state, const nlohmann::json& extra = nlohmann::json::object());
    void fail(const std::string& message);
    void download(const Url& url);
    void installed(const InstallResult& result);
    void watch();
    void stopDownload();

    MainQueue& queue_;
    UpdaterSettings settings_;
    UpdaterParts parts_;
    bool busy_ = false;
    std::optional<Want> want_;
    double shown_ = 0;
    std::unique_ptr<ArchiveSession> session_;
    // The download whose callbacks still count: one outcome per download.
    std::uint64_t downloads_ = 0;
    std::optional<std::uint64_t> current_;
    bool installing_ = false;
    std::function<void()> quitAfterInstall_;
    bool quitting_ = false;
    std::vector<std::string> untold_;
    bool pageLoaded_ = false;
    // The staging folder of the download under way, until the installation takes it.
    std::optional<std::filesystem::path> staging_;
    // The cycle's last state event, repeated to a request that comes while it runs.
    std::optional<nlohmann::json> last_;
    // The rate watch: bytes received so far, and samples of it over the last window.
    std::int64_t received_ = 0;
    std::deque<std::pair<MainQueue::Clock::time_point, std::int64_t>> samples_;
    Task watch_;
    // Last: gone first, so no callback reaches a half-destroyed updater.
    WeakPtrFactory<Updater> weak_{this};
};

}  // namespace orvane
