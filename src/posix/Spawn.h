#pragma once
// Starting programs and waiting for them, for the updater, the tools, the
// tests and the benchmarks: posix_spawn, never a shell, arguments as given.

#include <sys/types.h>

#include <string>
#include <vector>

namespace orvane {

struct SpawnOptions {
    // Look the program up in PATH; otherwise argv[0] is used as the path.
    bool searchPath = false;
    // Files opened on standard input, output and error ("/dev/null", say);
    // empty keeps this process's.
    std::string input, output, error;
    // The folder the program starts in; empty keeps this process's.
    std::string folder;
    // A session of its own, so that it outlives this process and its terminal.
    bool newSession = false;

    // Standard input, output and error all on /dev/null.
    static SpawnOptions quiet() {
        SpawnOptions options;
        options.input = options.output = options.error = "/dev/null";
        return options;
    }
    // Looked up in PATH, as a user would run it.
    static SpawnOptions searched() {
        SpawnOptions options;
        options.searchPath = true;
        return options;
    }
};

// Starts argv[0] with `argv` as its arguments (argv[0] included). Its process
// id, or -1 when it could not start.
pid_t spawn(const std::vector<std::string>& argv, const SpawnOptions& options = {});

// Waits for a child, through interruptions. Its exit status; -1 when it did
// not exit normally or could not be waited for.
int waitFor(pid_t pid);

// spawn() then waitFor(): the exit status, -1 when it could not start or did
// not exit normally.
int spawnAndWait(const std::vector<std::string>& argv, const SpawnOptions& options = {});

}  // namespace orvane
