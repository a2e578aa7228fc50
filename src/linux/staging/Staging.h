#pragma once
// The staging folder of an update: a private folder beside the bundle (same
// file system, so every move is a rename), named after the bundle, with a
// lock file that the process using it holds. The lock is what the relaunch
// step waits on until the app is really gone (it goes with the process, zombie
// or not, and no reused process id can hold it), and what tells a folder in
// use from one left behind by a process that died.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "UniqueFd.h"

namespace orvane {

inline constexpr const char* kStagingPrefix = ".orvane-update-";
inline constexpr const char* kLockName = "lock";
// Why the relaunch step put the old bundle back: read by the next start.
inline constexpr const char* kUndoneName = "undone";

// ".orvane-update-<bundle name>-XXXXXX" and nothing else.
bool isStagingFolderOf(const std::string& folderName, const std::string& bundleName);

class Staging {
public:
    // A fresh staging folder beside `bundle`, locked. Nothing, with errno
    // set, when it cannot be made.
    static std::optional<Staging> create(const std::filesystem::path& bundle);
    // An existing staging folder that no other process holds, now held by
    // this one; nothing when it is in use or is no staging folder. With
    // `wait`, waits for its holder to let go.
    static std::optional<Staging> take(const std::filesystem::path& folder, bool wait = false);
    // A folder whose lock another process passed on to this one (`lock`, an
    // open descriptor of its lock file, held).
    static std::optional<Staging> adopt(const std::filesystem::path& folder, UniqueFd lock);

    Staging(Staging&&) = default;
    Staging& operator=(Staging&&) = default;
    ~Staging() = default;

    const std::filesystem::path& path() const { return path_; }
    int dir() const { return dir_.get(); }
    // The held lock: passed to a child, it holds the folder too, for as long
    // as either keeps it open.
    int lockFd() const { return lock_.get(); }

    // Removes the folder with everything in it, then lets go of it.
    void remove();
    // Lets go of the folder, leaving it as it is.
    void release() { lock_ = UniqueFd(); }
    // Keeps holding it until this process ends: the relaunch step starts
    // when the lock goes.
    void holdUntilExit();

private:
    Staging(std::filesystem::path path, UniqueFd dir, UniqueFd lock)
        : path_(std::move(path)), dir_(std::move(dir)), lock_(std::move(lock)) {}
    std::filesystem::path path_;
    UniqueFd dir_;
    UniqueFd lock_;
};

// The staging folders this process holds between the steps of an update
// (made when the download starts, installed from on the worker), by path.
void holdStaging(Staging&& staging);
// Takes one back; nothing when this process does not hold it.
std::optional<Staging> claimStaging(const std::filesystem::path& path);

// Finishes or undoes a swap in `staging` that a kill broke off (see
// recoverSwap), with a line for `log` when something was done.
void recoverIn(Staging& staging, const std::function<void(const std::string&)>& log);

// First thing at start, when `bundle` (the one running) lies in a staging
// folder that holds a swap's journal: a kill broke the swap off, and the
// place may be empty. The swap is finished or undone, so that the place holds
// its known good bundle again, and that bundle is returned: the start goes on
// from there. Nothing when there was no such swap or the place stays empty.
std::optional<std::filesystem::path> recoverFromInside(const std::filesystem::path& bundle,
                                                       const std::function<void(const std::string&)>& log);

// At start: every staging folder of `bundle` that no process holds is
// finished with: a swap broken off by a kill is completed or undone (the
// known good bundle back in place), the relaunch step's reason for putting
// the old version back is read, and the folder is removed. The same is done
// for the staging folder `bundle` itself lies in, when started from there
// (that folder stays: the app runs from it). The reasons, for the page.
std::vector<nlohmann::json> cleanUpStaging(const std::filesystem::path& bundle,
                                           const std::function<void(const std::string&)>& log);

}  // namespace orvane
