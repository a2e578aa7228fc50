#pragma once
// The process that replaces the running application by the new one: /bin/sh
// running a short script that waits for this process to end, removes the
// staging folder and starts the new bundle's executable.

#include <string>
#include <vector>

namespace orvane {

// $1: the pid to wait for, $2: the staging folder, $3: the bundle. Every
// value travels as an argument, never inside the script text, so no path can
// change what the script does.
inline constexpr const char* kRelaunchScript =
    "while /bin/kill -0 \"$1\" 2>/dev/null; do /bin/sleep 0.2; done; /bin/rm -rf \"$2\"; app=\"$3\"; shift 3; "
    "exec \"$app/Contents/Linux/orvane\" \"$@\"";

struct RelaunchTask {
    std::string executable;
    std::vector<std::string> arguments;  // exactly six: -c, the script, sh, pid, staging, bundle

    static RelaunchTask make(long pid, const std::string& staging, const std::string& bundle) {
        return {"/bin/sh", {"-c", kRelaunchScript, "sh", std::to_string(pid), staging, bundle}};
    }
    bool operator==(const RelaunchTask&) const = default;
};

}  // namespace orvane
