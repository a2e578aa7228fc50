// relaunch: replaces a running Orvane by the version just installed in its
// place, and puts the old one back if the new one does not come up.
//
//   relaunch [--limit SECONDS] STAGING BUNDLE [-- APP ARGUMENT...]
//
// STAGING is the update's staging folder beside BUNDLE, holding the old
// bundle as old.app. In order:
//   1. wait until the app is really gone: it holds STAGING/lock until its
//      last moment (a zombie or a reused process id holds nothing);
//   2. finish a swap that broke off (see the journal in Swap.h);
//   3. start BUNDLE/Contents/Linux/orvane (with the APP ARGUMENTs, the options
//      the app was run with) in a session of its own, with one
//      end of a socket pair as descriptor 3 (ORVANE_READY_FD=3), and wait for
//      one byte on it: the new app has loaded its page. It also gets the
//      hold on STAGING, as descriptor 4 (ORVANE_TRIAL=STAGING): the new
//      version runs on trial, with old.app kept (see Trial.h);
//   4. it came up: let go of STAGING, which the new version holds on. It did
//      not (it ended, or said nothing within SECONDS, default 90): stop it,
//      put old.app back in BUNDLE's place, write why in STAGING/undone for
//      the old version to tell its page, let go of STAGING and start the old
//      version.
// Exit status: 0 the new or the old version was started, 1 failure, 2 wrong
// arguments. Messages go to standard error, the app's log.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "RelaunchTask.h"
#include "Staging.h"
#include "Swap.h"
#include "Trial.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace orvane;

constexpr int kDefaultLimitSeconds = 90;

void say(const std::string& line) { std::fprintf(stderr, "Orvane relaunch: %s\n", line.c_str()); }

int usage() {
    std::fputs("usage: relaunch [--limit SECONDS] STAGING BUNDLE [-- APP ARGUMENT...]\n", stderr);
    return 2;
}

// This process's environment without the ready descriptor, plus `extra`.
std::vector<std::string> environment(const std::string& extra) {
    std::vector<std::string> out;
    const std::string prefix = std::string(kReadyFdVariable) + "=";
    for (char** entry = environ; *entry; ++entry)
        if (!std::string_view(*entry).starts_with(prefix)) out.emplace_back(*entry);
    if (!extra.empty()) out.push_back(extra);
    return out;
}

// What the new version gets of this step's: the end of the socket it says
// "up" on, and the hold on the staging folder.
struct Passed {
    int readyFd = -1;
    int trialLock = -1;
    std::string staging;
};

// Starts the bundle's executable as the leader of a new session (so that its
// whole group can be stopped), with what is passed as descriptors 3 and 4.
std::optional<pid_t> startApp(const fs::path& bundle, const Passed& passed, const std::vector<std::string>& arguments) {
    const std::string exe = (bundle / "Contents/Linux/orvane").string();
    const int readyFd = passed.readyFd;
    std::vector<std::string> env =
        environment(readyFd >= 0 ? std::string(kReadyFdVariable) + "=" + std::to_string(kReadyFd) : "");
    if (passed.trialLock >= 0) env.push_back(std::string(kTrialVariable) + "=" + passed.staging);
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{exe};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (readyFd >= 0) posix_spawn_file_actions_adddup2(&files, readyFd, kReadyFd);
    if (passed.trialLock >= 0) posix_spawn_file_actions_adddup2(&files, passed.trialLock, kTrialLockFd);
    // Nothing else of this process's (or of the app that started it).
    posix_spawn_file_actions_addclosefrom_np(&files, passed.trialLock >= 0 ? kTrialLockFd + 1
                                                     : readyFd >= 0        ? kReadyFd + 1
                                                                           : STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, exe.c_str(), &files, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    if (error != 0) {
        say("can’t start " + exe + ": " + std::strerror(error));
        return std::nullopt;
    }
    return pid;
}

double now() {
    timespec time{};
    ::clock_gettime(CLOCK_MONOTONIC, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

// Starts the new version and waits for its word. Nothing when it came up;
// else the record of why not.
std::optional<nlohmann::json> tryNew(const fs::path& bundle, const Staging& staging, int limitSeconds,
                                     const std::vector<std::string>& arguments) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return nlohmann::json{{"unstarted", true}};
    // Above the standard three and the one it becomes, so that the dup2 in
    // the child always copies (and so clears close-on-exec).
    const int readEnd = ::fcntl(ends[0], F_DUPFD_CLOEXEC, 10), writeEnd = ::fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
    ::close(ends[0]);
    ::close(ends[1]);
    // Above the standard three and the two it becomes, for the same reason;
    // a copy holds the folder as the original does.
    const int lockCopy = ::fcntl(staging.lockFd(), F_DUPFD_CLOEXEC, 10);
    const auto pid = startApp(bundle, {writeEnd, lockCopy, staging.path().string()}, arguments);
    ::close(writeEnd);
    if (lockCopy >= 0) ::close(lockCopy);
    if (!pid) {
        ::close(readEnd);
        return nlohmann::json{{"unstarted", true}};
    }

    const double deadline = now() + limitSeconds;
    bool ready = false, ended = false;
    while (true) {
        const double left = deadline - now();
        if (left <= 0) break;
        pollfd wanted{readEnd, POLLIN, 0};
        const int got = ::poll(&wanted, 1, static_cast<int>(left * 1000) + 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        char byte;
        const ssize_t read = ::read(readEnd, &byte, 1);
        if (read < 0 && errno == EINTR) continue;
        ready = read == 1;
        ended = read <= 0;
        break;
    }
    ::close(readEnd);
    if (ready) return std::nullopt;

    // Ended, or silent for too long: whatever is left of it goes, its
    // helpers too (they share its process group).
    ::kill(-*pid, SIGKILL);
    int status = 0;
    while (::waitpid(*pid, &status, 0) < 0 && errno == EINTR) {}
    if (!ended) return nlohmann::json{{"timeout", limitSeconds}};
    if (WIFEXITED(status)) return nlohmann::json{{"exit", WEXITSTATUS(status)}};
    return nlohmann::json{{"signal", WIFSIGNALED(status) ? WTERMSIG(status) : 0}};
}

}  // namespace

int main(int argc, char** argv) {
    int limit = kDefaultLimitSeconds;
    std::vector<std::string> operands, appArguments;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            appArguments.assign(argv + i + 1, argv + argc);
            break;
        }
        if (arg == "--limit" && i + 1 < argc && operands.empty()) {
            limit = std::atoi(argv[++i]);
            if (limit <= 0) return usage();
        } else {
            operands.emplace_back(arg);
        }
    }
    if (operands.size() != 2) return usage();
    const fs::path stagingPath = fs::absolute(operands[0]), bundle = fs::absolute(operands[1]);
    if (stagingPath.parent_path() != bundle.parent_path() ||
        !isStagingFolderOf(stagingPath.filename().string(), bundle.filename().string())) {
        say(stagingPath.string() + " is not an update folder of " + bundle.string());
        return 2;
    }

    // 1. Until the app is gone, its lock is.
    auto staging = Staging::take(stagingPath, true);
    if (!staging) {
        say("can’t open " + stagingPath.string());
        return 1;
    }
    const int parent = ::open(bundle.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) {
        say("can’t open " + bundle.parent_path().string());
        return 1;
    }
    // 2. A place left empty gets its known good bundle back.
    if (auto done = recoverSwap(staging->dir(), parent)) say(*done);

    // 3-4.
    const auto failed = tryNew(bundle, *staging, limit, appArguments);
    if (!failed) {
        // The new version holds the folder on, on trial.
        staging->release();
        return 0;
    }
    say("the new version didn’t come up (" + failed->dump() + "); putting the old one back");
    if (auto failure = putKeptBack(parent, bundle.filename().string(), staging->dir(), *failed)) {
        say(std::string("the old version can’t be put back: ") + std::strerror(failure->error));
        return 1;
    }
    // The old version cleans the folder up when it starts and tells its page.
    staging->release();
    return startApp(bundle, {}, appArguments) ? 0 : 1;
}
