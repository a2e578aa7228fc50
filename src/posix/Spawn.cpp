#include "Spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace orvane {
namespace {

struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
};

struct SpawnAttributes {
    posix_spawnattr_t attributes;
    SpawnAttributes() { posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

}  // namespace

pid_t spawn(const std::vector<std::string>& argv, const SpawnOptions& options) {
    if (argv.empty()) return -1;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& argument : argv) args.push_back(const_cast<char*>(argument.c_str()));
    args.push_back(nullptr);

    SpawnActions files;
    if (!options.input.empty())
        posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, options.input.c_str(), O_RDONLY, 0);
    if (!options.output.empty())
        posix_spawn_file_actions_addopen(&files.actions, STDOUT_FILENO, options.output.c_str(), O_WRONLY, 0);
    if (!options.error.empty())
        posix_spawn_file_actions_addopen(&files.actions, STDERR_FILENO, options.error.c_str(), O_WRONLY, 0);
    if (!options.folder.empty()) posix_spawn_file_actions_addchdir_np(&files.actions, options.folder.c_str());
    // Only the standard three: whatever else this process has open without
    // close-on-exec (a library's, say) is not the child's.
    posix_spawn_file_actions_addclosefrom_np(&files.actions, STDERR_FILENO + 1);
    SpawnAttributes attributes;
    if (options.newSession) posix_spawnattr_setflags(&attributes.attributes, POSIX_SPAWN_SETSID);

    pid_t pid = 0;
    const int failed = options.searchPath
                           ? ::posix_spawnp(&pid, args[0], &files.actions, &attributes.attributes, args.data(), environ)
                           : ::posix_spawn(&pid, args[0], &files.actions, &attributes.attributes, args.data(), environ);
    return failed ? -1 : pid;
}

int waitFor(pid_t pid) {
    if (pid <= 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int spawnAndWait(const std::vector<std::string>& argv, const SpawnOptions& options) {
    return waitFor(spawn(argv, options));
}

}  // namespace orvane
