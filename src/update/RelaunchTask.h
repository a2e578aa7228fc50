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
    std::vector<std::string> arguments;  // the staging folder, the bundle

    // Every value travels as an argument of its own, never through a shell,
    // so no path can change what the step does.
    static RelaunchTask make(const std::string& helper, const std::string& staging, const std::string& bundle) {
        return {helper, {staging, bundle}};
    }
    bool operator==(const RelaunchTask&) const = default;
};

}  // namespace orvane
