#include "Processes.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace orvane {
namespace {

std::vector<char*> argv(const std::string& path, const std::vector<std::string>& arguments, std::vector<std::string>& keep) {
    keep.clear();
    keep.push_back(path);
    keep.insert(keep.end(), arguments.begin(), arguments.end());
    std::vector<char*> out;
    for (auto& argument : keep) out.push_back(argument.data());
    out.push_back(nullptr);
    return out;
}

struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct SpawnAttributes {
    posix_spawnattr_t attributes;
    SpawnAttributes() { posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
};

}  // namespace

int run(const std::string& path, const std::vector<std::string>& arguments) {
    std::vector<std::string> keep;
    auto args = argv(path, arguments, keep);
    SpawnActions files;
    posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    // posix_spawn, not spawnp: the path is used as given, never searched.
    if (::posix_spawn(&pid, path.c_str(), &files.actions, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool startDetached(const RelaunchTask& task) {
    std::vector<std::string> keep;
    auto args = argv(task.executable, task.arguments, keep);
    // argv[0] of the shell is its own path; "sh" in the arguments becomes $0 of the script.
    SpawnAttributes attributes;
    posix_spawnattr_setflags(&attributes.attributes, POSIX_SPAWN_SETSID);
    SpawnActions files;
    posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    return ::posix_spawn(&pid, task.executable.c_str(), &files.actions, &attributes.attributes, args.data(),
                         environ) == 0;
}

}  // namespace orvane
