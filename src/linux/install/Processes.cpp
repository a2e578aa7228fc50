#include "Processes.h"

#include "Spawn.h"

namespace orvane {
namespace {

std::vector<std::string> commandLine(const std::string& path, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

}  // namespace

int run(const std::string& path, const std::vector<std::string>& arguments) {
    // The path is used as given, never searched.
    return spawnAndWait(commandLine(path, arguments), SpawnOptions::quiet());
}

bool startDetached(const RelaunchTask& task) {
    // argv[0] of the shell is its own path; "sh" in the arguments becomes $0 of the script.
    SpawnOptions options;
    options.input = "/dev/null";
    options.newSession = true;
    return spawn(commandLine(task.executable, task.arguments), options) > 0;
}

}  // namespace orvane
