#include "Updater.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "Manifest.h"
#include "UpdateTexts.h"
#include "Version.h"

namespace orvane {
namespace {

constexpr const char* kManifestPath = "downloads/app.json";
constexpr const char* kDownloadFolder = "downloads/";

}  // namespace

Updater::Updater(MainQueue& queue, UpdaterSettings settings, UpdaterParts parts)
    : queue_(queue), settings_(std::move(settings)), parts_(std::move(parts)) {}

Updater::~Updater() {
    // Downloads stop before anything they report to is gone.
    weak_.invalidate();
    session_.reset();
    // A download the app quits during leaves nothing half-written behind.
    if (staging_ && parts_.dropStaging) parts_.dropStaging(*staging_);
}

void Updater::report(std::string_view state, const nlohmann::json& extra) {
    nlohmann::json event = {{"t", "update"}, {"state", state}};
    for (const auto& [key, value] : extra.items()) {
        if (!event.contains(key)) event[key] = value;
    }
    last_ = event;
    if (send) send(event);
}

void Updater::fail(const std::string& message) {
    if (parts_.log) parts_.log("Orvane: update failed: " + message);
    busy_ = false;
    stopDownload();
    // A download that never reached the installation leaves nothing behind.
    if (staging_ && parts_.dropStaging) parts_.dropStaging(*staging_);
    staging_.reset();
    report("error", {{"error", message}});
}

void Updater::stopDownload() {
    if (current_ && session_) session_->cancel();
    current_.reset();
    watch_.cancel();
    samples_.clear();
}

void Updater::start() {
    if (busy_) {
        // A second request (another tab, a reload) learns where the cycle is.
        if (send && last_) send(*last_);
        return;
    }
    busy_ = true;
    report("checking");
    const auto address = settings_.page.resolve(kManifestPath);
    if (!address || !parts_.manifest) {
        got({});
        return;
    }
    std::weak_ptr<Updater> weak = weak_.weak();
    MainQueue* queue = &queue_;
    parts_.manifest->fetch(*address, kManifestTimeoutSeconds, [weak, queue](ManifestResponse response) {
        // Always on a later turn of the loop, never inside start().
        queue->async([weak, response = std::move(response)] {
            if (auto self = weak.lock()) self->got(response);
        });
    });
}

void Updater::got(const ManifestResponse& response) {
    std::optional<ManifestOffer> offer;
    if (response.body && response.status == 200) offer = readManifest(*response.body, updateTexts.manifestMember);
    if (!offer) {
        if (response.error) fail(updateSentences::manifestDidNotLoad(*response.error));
        else fail(std::string(updateSentences::manifestUnreadable));
        return;
    }
    if (!newer(offer->version, settings_.version)) {
        busy_ = false;
        report("current");
        return;
    }
    // The announced size bounds the download, so it must be there and sane.
    if (!validArchiveName(offer->file) || offer->size <= 0 || offer->size > kMaxArchiveBytes) {
        fail(std::string(updateSentences::manifestWrong));
        return;
    }
    if (auto why = cantReplace()) {
        fail(*why);
        return;
    }
    // The download is stored where it will be unpacked, beside the bundle.
    if (!parts_.makeStaging) {
        fail(std::string(updateTexts.noBundle));
        return;
    }
    auto staging = parts_.makeStaging();
    if (const auto* problem = std::get_if<Problem>(&staging)) {
        fail(problem->description());
        return;
    }
    staging_ = std::get<std::filesystem::path>(staging);
    // Never fill the disk the bundle lives on: the archive, and room to spare.
    const auto space = parts_.freeSpace ? parts_.freeSpace(*staging_) : std::nullopt;
    if (space && *space - kSpareBytes < offer->size) {
        fail(updateSentences::noSpace(settings_.bundle.parent_path().string()));
        return;
    }
    want_ = Want{offer->version, offer->sha256, offer->size};
    shown_ = 0;
    report("downloading", {{"progress", 0}});
    const auto address = settings_.page.resolve(kDownloadFolder + offer->file);
    if (!address) {
        fail(std::string(updateSentences::manifestWrong));
        return;
    }
    download(*address);
}

void Updater::download(const Url& url) {
    if (!session_ && parts_.makeSession) session_ = parts_.makeSession();
    if (!session_) {
        fail(updateSentences::downloadFailed("0"));
        return;
    }
    const std::uint64_t id = ++downloads_;
    current_ = id;
    received_ = 0;
    samples_ = {{queue_.now(), 0}};
    watch();
    std::weak_ptr<Updater> weak = weak_.weak();
    // Callbacks of a download that has already had its outcome are dropped.
    auto live = [weak, id]() -> Updater* {
        auto self = weak.lock();
        return self && self->current_ == id ? self.get() : nullptr;
    };
    DownloadCallbacks callbacks;
    callbacks.progress = [live](std::int64_t written, std::int64_t expected) {
        if (auto* self = live()) self->didWriteData(written, expected);
    };
    callbacks.finished = [live](std::optional<int> status, const std::optional<std::string>& sha256) {
        if (auto* self = live()) self->didFinishDownloading(status, sha256);
    };
    callbacks.completed = [live](const std::optional<std::string>& error) {
        if (auto* self = live()) self->didComplete(error);
    };
    session_->download(url, *staging_ / kArchiveName, want_->size, std::move(callbacks));
}

// Looks at the download's rate every few seconds: fewer bytes than the floor
// allows over the last whole window (a silent server included) fails it.
void Updater::watch() {
    std::weak_ptr<Updater> weak = weak_.weak();
    watch_ = queue_.after(kSlowCheckSeconds, [weak] {
        auto self = weak.lock();
        if (!self || !self->current_) return;
        const auto now = self->queue_.now();
        const auto window =
            std::chrono::duration_cast<MainQueue::Clock::duration>(std::chrono::duration<double>(kSlowWindowSeconds));
        auto& samples = self->samples_;
        // Keep the newest sample that is a whole window old as the baseline.
        while (samples.size() > 1 && now - samples[1].first >= window) samples.pop_front();
        if (now - samples.front().first >= window &&
            self->received_ - samples.front().second <
                kSlowestBytesPerSecond * static_cast<std::int64_t>(kSlowWindowSeconds)) {
            self->fail(std::string(updateSentences::downloadTooSlow));
            return;
        }
        samples.emplace_back(now, self->received_);
        self->watch();
    });
}

void Updater::didWriteData(std::int64_t written, std::int64_t expected) {
    received_ = written;
    if (!want_) return;
    // The manifest's size is always there (a manifest without one is refused).
    const double denominator = static_cast<double>(expected >= 1 ? expected : want_->size);
    const double fraction = std::min(static_cast<double>(written) / denominator, 1.0);
    if (fraction != 1.0 && fraction - shown_ < kProgressStep) return;
    shown_ = fraction;
    report("downloading", {{"progress", fraction}});
}

void Updater::didFinishDownloading(std::optional<int> status, const std::optional<std::string>& sha256) {
    if (!want_) return;
    // The outcome is decided here; the completion that follows adds nothing.
    current_.reset();
    watch_.cancel();
    samples_.clear();
    if (status != 200 || !sha256) {
        fail(updateSentences::downloadFailed(std::to_string(status.value_or(0))));
        return;
    }
    if (*sha256 != want_->sha256) {
        fail(std::string(updateSentences::damaged));
        return;
    }
    report("installing");
    if (!parts_.install || !parts_.background || !staging_) {
        fail(std::string(updateSentences::unpackFailed));
        return;
    }
    // The worker gets its own copies and gives its result back through the
    // main loop; nothing of the updater is shared with it. The staging
    // folder is the installation's from here on.
    const std::filesystem::path staging = *std::exchange(staging_, std::nullopt);
    std::weak_ptr<Updater> weak = weak_.weak();
    MainQueue* queue = &queue_;
    installing_ = true;
    parts_.background([install = parts_.install, staging, version = want_->version, weak, queue]() mutable {
        InstallResult result = install(staging, version);
        queue->async([weak, result = std::move(result)] {
            if (auto self = weak.lock()) self->installed(result);
        });
    });
}

void Updater::didComplete(const std::optional<std::string>& error) {
    if (!error) return;
    fail(updateSentences::downloadFailed(*error));
}

void Updater::installed(const InstallResult& result) {
    installing_ = false;
    auto quit = std::move(quitAfterInstall_);
    quitAfterInstall_ = nullptr;
    if (const auto* problem = std::get_if<Problem>(&result)) {
        fail(problem->description());
        if (quit) quit();
        return;
    }
    if (quit) {
        parts_.quit = std::move(quit);
        quitting_ = true;
    }
    restart(std::get<RelaunchTask>(result));
}

bool Updater::quitWhenSafe(std::function<void()> quit) {
    if (!installing_) return false;
    quitAfterInstall_ = std::move(quit);
    if (parts_.cancelInstall) parts_.cancelInstall();
    return true;
}

void Updater::undone(std::string message) {
    if (parts_.log) parts_.log("Orvane: update failed: " + message);
    untold_.push_back(std::move(message));
    if (pageLoaded_) pageLoaded();
}

void Updater::pageLoaded() {
    pageLoaded_ = true;
    auto untold = std::move(untold_);
    untold_.clear();
    for (const auto& message : untold) report("error", {{"error", message}});
}

void Updater::restart(const RelaunchTask& task) {
    report("restarting");
    if (parts_.startRelaunch && parts_.startRelaunch(task)) {
        std::weak_ptr<Updater> weak = weak_.weak();
        queue_.after(kQuitDelaySeconds, [weak] {
            if (auto self = weak.lock(); self && self->parts_.quit) self->parts_.quit();
        });
        return;
    }
    // The new version is in place already; only the relaunch failed.
    busy_ = false;
    report("error", {{"error", updateSentences::relaunchFailed}});
    if (quitting_ && parts_.quit) parts_.quit();
}

std::optional<std::string> Updater::cantReplace() const {
    const auto& bundle = settings_.bundle;
    if (bundle.empty()) return std::string(updateTexts.noBundle);
    const std::string path = bundle.string();
    for (auto marker : updateTexts.protectedMarkers) {
        if (path.find(marker) != std::string::npos) return std::string(updateTexts.protectedPlace);
    }
    if (parts_.readOnlyVolume && parts_.readOnlyVolume(bundle).value_or(false))
        return std::string(updateTexts.protectedPlace);
    const auto folder = bundle.parent_path();
    if (parts_.writable && parts_.writable(folder) && parts_.writable(bundle)) return std::nullopt;
    return updateSentences::noPermission(folder.string());
}

}  // namespace orvane
