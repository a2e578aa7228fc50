#include "Staging.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <mutex>

#include "Swap.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kRandomPart = 6;  // mkdtemp's XXXXXX

UniqueFd lockFolder(int dir, bool wait) {
    UniqueFd lock(::openat(dir, kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock.valid()) return lock;
    int result;
    do result = ::flock(lock.get(), LOCK_EX | (wait ? 0 : LOCK_NB));
    while (result != 0 && errno == EINTR);
    if (result != 0) return UniqueFd();
    return lock;
}

}  // namespace

void recoverIn(Staging& staging, const std::function<void(const std::string&)>& log) {
    UniqueFd parent(::open(staging.path().parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.valid()) return;
    if (auto done = recoverSwap(staging.dir(), parent.get()); done && log)
        log("Orvane: " + staging.path().string() + ": " + *done);
}

bool isStagingFolderOf(const std::string& folderName, const std::string& bundleName) {
    const std::string prefix = std::string(kStagingPrefix) + bundleName + "-";
    if (!folderName.starts_with(prefix) || folderName.size() != prefix.size() + kRandomPart) return false;
    for (std::size_t i = prefix.size(); i < folderName.size(); ++i) {
        if (!std::isalnum(static_cast<unsigned char>(folderName[i]))) return false;
    }
    return true;
}

std::optional<Staging> Staging::create(const fs::path& bundle) {
    std::string pattern =
        (bundle.parent_path() / (std::string(kStagingPrefix) + bundle.filename().string() + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) return std::nullopt;
    const fs::path path = pattern;
    UniqueFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    UniqueFd lock = dir.valid() ? lockFolder(dir.get(), false) : UniqueFd();
    if (!lock.valid()) {
        const int error = errno;
        std::error_code ignored;
        fs::remove_all(path, ignored);
        errno = error;
        return std::nullopt;
    }
    return Staging(path, std::move(dir), std::move(lock));
}

std::optional<Staging> Staging::take(const fs::path& folder, bool wait) {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.valid()) return std::nullopt;
    // A folder without its lock file is one whose maker died before making it.
    UniqueFd lock = lockFolder(dir.get(), wait);
    if (!lock.valid()) return std::nullopt;
    return Staging(folder, std::move(dir), std::move(lock));
}

std::optional<Staging> Staging::adopt(const fs::path& folder, UniqueFd lock) {
    if (!lock.valid()) return std::nullopt;
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.valid()) return std::nullopt;
    // Only that folder's own lock file holds it.
    struct stat held {
    }, named{};
    if (::fstat(lock.get(), &held) != 0 || ::fstatat(dir.get(), kLockName, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        held.st_dev != named.st_dev || held.st_ino != named.st_ino)
        return std::nullopt;
    ::fcntl(lock.get(), F_SETFD, FD_CLOEXEC);
    return Staging(folder, std::move(dir), std::move(lock));
}

void Staging::remove() {
    std::error_code ignored;
    // The lock file last, once closed: a file system that keeps an open
    // file deleted under a hidden name (FUSE, NFS) would leave the folder
    // behind, not empty.
    std::vector<fs::path> contents;
    for (const auto& entry : fs::directory_iterator(path_, ignored))
        if (entry.path().filename() != kLockName) contents.push_back(entry.path());
    for (const auto& item : contents) fs::remove_all(item, ignored);
    release();
    fs::remove(path_ / kLockName, ignored);
    fs::remove(path_, ignored);
}

void Staging::holdUntilExit() {
    static std::mutex guard;
    static auto* held = new std::vector<UniqueFd>();  // never destroyed: exit lets go
    std::lock_guard<std::mutex> hold(guard);
    held->push_back(std::move(lock_));
}

namespace {

struct Held {
    std::mutex guard;
    std::vector<Staging> folders;
};

Held& held() {
    static auto* all = new Held();  // never destroyed: exit lets go of what it holds
    return *all;
}

}  // namespace

void holdStaging(Staging&& staging) {
    auto& all = held();
    std::lock_guard<std::mutex> hold(all.guard);
    all.folders.push_back(std::move(staging));
}

std::optional<Staging> claimStaging(const fs::path& path) {
    auto& all = held();
    std::lock_guard<std::mutex> hold(all.guard);
    for (auto it = all.folders.begin(); it != all.folders.end(); ++it) {
        if (it->path() != path) continue;
        Staging found = std::move(*it);
        all.folders.erase(it);
        return found;
    }
    return std::nullopt;
}

std::optional<fs::path> recoverFromInside(const fs::path& bundle, const std::function<void(const std::string&)>& log) {
    const fs::path folder = bundle.parent_path();
    if (bundle.empty() || !folder.filename().string().starts_with(kStagingPrefix)) return std::nullopt;
    auto staging = Staging::take(folder);
    if (!staging) return std::nullopt;  // in use: an update or its relaunch step is at work
    const auto journal = readRecord(staging->dir(), kJournalName);
    if (!journal) return std::nullopt;
    const auto place = journal->value("bundle", nlohmann::json());
    recoverIn(*staging, log);
    if (!plainName(place)) return std::nullopt;
    const fs::path known = folder.parent_path() / place.get<std::string>();
    std::error_code error;
    if (!fs::is_regular_file(known / "Contents" / "Linux" / "orvane", error)) return std::nullopt;
    return known;
}

std::vector<nlohmann::json> cleanUpStaging(const fs::path& bundle, const std::function<void(const std::string&)>& log) {
    std::vector<nlohmann::json> undone;
    if (bundle.empty()) return undone;
    // Started from inside a staging folder (the old bundle kept aside, or the
    // new one unpacked): a swap of that folder that broke off is finished
    // first, so that the place holds a bundle again.
    for (const fs::path& around : {bundle.parent_path(), bundle.parent_path().parent_path()}) {
        if (!around.filename().string().starts_with(kStagingPrefix)) continue;
        if (auto staging = Staging::take(around)) recoverIn(*staging, log);
    }

    std::error_code error;
    const std::string name = bundle.filename().string();
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(bundle.parent_path(), error)) {
        if (isStagingFolderOf(entry.path().filename().string(), name)) found.push_back(entry.path());
    }
    for (const auto& folder : found) {
        auto staging = Staging::take(folder);
        if (!staging) continue;  // in use: a download, an install or a relaunch step
        recoverIn(*staging, log);
        if (auto record = readRecord(staging->dir(), kUndoneName)) undone.push_back(*record);
        staging->remove();
        if (log) log("Orvane: removed the update folder left at " + folder.string());
    }
    return undone;
}

}  // namespace orvane
