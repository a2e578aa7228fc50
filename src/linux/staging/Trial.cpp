#include "Trial.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>

#include "Staging.h"
#include "Swap.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kKept = "old.app";
constexpr const char* kUndoneAside = "failed.app";

struct TrialRun {
    std::mutex guard;
    std::optional<Staging> staging;
    nlohmann::json record;
};

TrialRun& current() {
    static auto* run = new TrialRun();  // never destroyed: exit lets go of the folder
    return *run;
}

// A damaged record counts as a fresh one.
int count(const nlohmann::json& record, const char* key) {
    const auto found = record.find(key);
    return found != record.end() && found->is_number_integer() ? found->get<int>() : 0;
}

bool flag(const nlohmann::json& record, const char* key) {
    const auto found = record.find(key);
    return found != record.end() && found->is_boolean() && found->get<bool>();
}

// The folder the relaunch step passed on, held through the descriptor it
// left open; the variable goes, so that nothing this run starts inherits it.
std::optional<Staging> passedOn(const fs::path& bundle) {
    const char* named = std::getenv(kTrialVariable);
    if (!named) return std::nullopt;
    const fs::path folder = named;
    ::unsetenv(kTrialVariable);
    UniqueFd lock(::fcntl(kTrialLockFd, F_GETFD) >= 0 ? kTrialLockFd : -1);
    if (folder.parent_path() != bundle.parent_path() ||
        !isStagingFolderOf(folder.filename().string(), bundle.filename().string()))
        return std::nullopt;
    return Staging::adopt(folder, std::move(lock));
}

// A staging folder beside the bundle with a trial in it that no process holds.
std::optional<Staging> leftBeside(const fs::path& bundle) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(bundle.parent_path(), error)) {
        if (!isStagingFolderOf(entry.path().filename().string(), bundle.filename().string())) continue;
        auto staging = Staging::take(entry.path());
        if (staging && readRecord(staging->dir(), kTrialName)) return staging;
    }
    return std::nullopt;
}

bool keeps(const Staging& staging) {
    struct stat info {};
    return ::fstatat(staging.dir(), kKept, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
}

// Puts the kept version back in the bundle's place, with `why` for its
// page; true when it is there.
bool undo(Staging& staging, const fs::path& bundle, const nlohmann::json& why,
          const std::function<void(const std::string&)>& log) {
    UniqueFd parent(::open(bundle.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.valid()) return false;
    if (putKeptBack(parent.get(), bundle.filename().string(), staging.dir(), why)) {
        if (log) log("Orvane: the new version failed (" + why.dump() + "), but the one before it can't be put back");
        return false;
    }
    if (log) log("Orvane: the new version failed (" + why.dump() + "); the one before it is back");
    return true;
}

}  // namespace

std::optional<SwapFailure> putKeptBack(int parent, const std::string& bundle, int staging, const nlohmann::json& why) {
    SwapPlaces places;
    places.parent = parent;
    places.bundle = bundle;
    places.incomingDir = staging;
    places.incoming = kKept;
    places.staging = staging;
    places.aside = kUndoneAside;
    places.restore = kKept;
    places.incomingFromStaging = kKept;
    // The reason first: a kill right after the moves must still leave it for
    // the old version's page. A start before the moves writes its own.
    writeRecord(staging, kUndoneName, why);
    if (auto failure = swapBundles(systemRename, places)) {
        ::unlinkat(staging, kUndoneName, 0);
        return failure;
    }
    ::unlinkat(staging, kTrialName, 0);
    return std::nullopt;
}

int writeTrialRecord(int staging) {
    return writeRecord(staging, kTrialName, {{"running", false}, {"ended", 0}, {"quits", 0}});
}

std::optional<fs::path> takeUpTrial(const fs::path& bundle, const std::function<void(const std::string&)>& log,
                                    TrialRules rules) {
    if (bundle.empty()) return std::nullopt;
    auto staging = passedOn(bundle);
    const bool fromRelaunch = staging.has_value();
    if (!staging) staging = leftBeside(bundle);
    if (!staging) return std::nullopt;
    // A swap a kill broke off first: until it is finished, old.app may hold
    // the new version. One that can't be finished leaves the trial alone.
    recoverIn(*staging, log);
    if (readRecord(staging->dir(), kJournalName)) return std::nullopt;
    // Nothing kept to go back to: there is no trial to run.
    if (!keeps(*staging)) return std::nullopt;
    auto record = readRecord(staging->dir(), kTrialName).value_or(nlohmann::json::object());
    // Swapped in, but the relaunch step that would have tried it is gone
    // and it never came up: not what the user had, and nothing checked it.
    if (!fromRelaunch && !flag(record, "up") && undo(*staging, bundle, {{"unstarted", true}}, log)) return bundle;
    // Still marked running: the last run ended without an orderly end.
    const int ended = count(record, "ended") + (flag(record, "running") ? 1 : 0);
    if (ended >= rules.endsToUndo && undo(*staging, bundle, {{"ended", ended}}, log)) return bundle;
    record["ended"] = ended;
    auto& run = current();
    std::lock_guard<std::mutex> hold(run.guard);
    run.staging = std::move(staging);
    run.record = std::move(record);
    return std::nullopt;
}

void beginTrialRun() {
    auto& run = current();
    std::lock_guard<std::mutex> hold(run.guard);
    if (!run.staging) return;
    run.record["running"] = true;
    writeRecord(run.staging->dir(), kTrialName, run.record);
}

void markTrialUp() {
    auto& run = current();
    std::lock_guard<std::mutex> hold(run.guard);
    if (!run.staging || flag(run.record, "up")) return;
    run.record["up"] = true;
    writeRecord(run.staging->dir(), kTrialName, run.record);
}

void endTrialRun(TrialRules rules) {
    auto& run = current();
    std::lock_guard<std::mutex> hold(run.guard);
    if (!run.staging) return;
    const int quits = count(run.record, "quits") + 1;
    if (quits >= rules.quitsToConfirm) {
        run.staging->remove();
    } else {
        run.record["running"] = false;
        run.record["ended"] = 0;
        run.record["quits"] = quits;
        writeRecord(run.staging->dir(), kTrialName, run.record);
        run.staging->release();
    }
    run.staging.reset();
}

void confirmTrial() {
    auto& run = current();
    std::lock_guard<std::mutex> hold(run.guard);
    if (!run.staging) return;
    run.staging->remove();
    run.staging.reset();
}

bool onTrial() {
    auto& run = current();
    std::lock_guard<std::mutex> hold(run.guard);
    return run.staging.has_value();
}

}  // namespace orvane
