#include "Updater.h"

#include <algorithm>

#include "Manifest.h"
#include "Sha256.h"
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
}

void Updater::report(std::string_view state, const nlohmann::json& extra) {
    if (!send) return;
    nlohmann::json event = {{"t", "update"}, {"state", state}};
    for (const auto& [key, value] : extra.items()) {
        if (!event.contains(key)) event[key] = value;
    }
    send(event);
}

void Updater::fail(const std::string& message) {
    if (parts_.log) parts_.log("Orvane: update failed: " + message);
    busy_ = false;
    current_.reset();
    report("error", {{"error", message}});
}

void Updater::start() {
    if (busy_) return;
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
    if (!validArchiveName(offer->file)) {
        fail(std::string(updateSentences::manifestWrong));
        return;
    }
    if (auto why = cantReplace()) {
        fail(*why);
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
    callbacks.finished = [live](std::optional<int> status, const ReadDownload& read) {
        if (auto* self = live()) self->didFinishDownloading(status, read);
    };
    callbacks.completed = [live](const std::optional<std::string>& error) {
        if (auto* self = live()) self->didComplete(error);
    };
    session_->download(url, std::move(callbacks));
}

void Updater::didWriteData(std::int64_t written, std::int64_t expected) {
    double denominator = 0;
    if (expected >= 1) denominator = static_cast<double>(expected);
    else if (want_) denominator = static_cast<double>(want_->size);
    else return;
    if (!(denominator > 0)) return;
    const double fraction = std::min(static_cast<double>(written) / denominator, 1.0);
    if (fraction != 1.0 && fraction - shown_ < kProgressStep) return;
    shown_ = fraction;
    report("downloading", {{"progress", fraction}});
}

void Updater::didFinishDownloading(std::optional<int> status, const ReadDownload& read) {
    if (!want_) return;
    // The outcome is decided here; the completion that follows adds nothing.
    current_.reset();
    std::optional<std::string> bytes;
    if (status == 200 && read) bytes = read();
    if (!bytes) {
        fail(updateSentences::downloadFailed(std::to_string(status.value_or(0))));
        return;
    }
    if (sha256Text(*bytes) != want_->sha256) {
        fail(std::string(updateSentences::damaged));
        return;
    }
    report("installing");
    if (!parts_.install || !parts_.background) {
        fail(std::string(updateSentences::unpackFailed));
        return;
    }
    // The worker gets its own copies and gives its result back through the
    // main loop; nothing of the updater is shared with it.
    std::weak_ptr<Updater> weak = weak_.weak();
    MainQueue* queue = &queue_;
    parts_.background([install = parts_.install, bytes = std::move(*bytes), version = want_->version, weak,
                       queue]() mutable {
        InstallResult result = install(std::move(bytes), version);
        queue->async([weak, result = std::move(result)] {
            if (auto self = weak.lock()) self->installed(result);
        });
    });
}

void Updater::didComplete(const std::optional<std::string>& error) {
    if (!error) return;
    current_.reset();
    fail(updateSentences::downloadFailed(*error));
}

void Updater::installed(const InstallResult& result) {
    if (const auto* problem = std::get_if<Problem>(&result)) {
        fail(problem->description());
        return;
    }
    restart(std::get<RelaunchTask>(result));
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
