#pragma once
// The process that replaces the running application by the new one: the
// running version's own `relaunch` helper. It waits until this process is
// really gone (it holds the staging folder's lock until its last moment),
// starts the new version and waits for it to show its page; if it does not,
// it puts the old bundle back and starts that. See tools/relaunch.

#include <string>
#include <vector>

namespace orvane {

// The relaunch step starts the new version with one end of a socket pair as
// this descriptor; the app writes one byte to it once its page has loaded.
inline constexpr const char* kReadyFdVariable = "ORVANE_READY_FD";
inline constexpr int kReadyFd = 3;

struct RelaunchTask {
    std::string executable;
    // The staging folder, the bundle; then, after "--", the options the
    // running app was started with, for the version it starts.
    std::vector<std::string> arguments;

    // Every value travels as an argument of its own, never through a shell,
    // so no path can change what the step does.
    static RelaunchTask make(const std::string& helper, const std::string& staging, const std::string& bundle,
                             const std::vector<std::string>& appArguments = {}) {
        RelaunchTask task{helper, {staging, bundle}};
        if (appArguments.empty()) return task;
        task.arguments.emplace_back("--");
        task.arguments.insert(task.arguments.end(), appArguments.begin(), appArguments.end());
        return task;
    }
    bool operator==(const RelaunchTask&) const = default;
};

}  // namespace orvane
