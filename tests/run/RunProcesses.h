#pragma once
// Starting the build's programs as a person or the desktop does: a clean
// environment (nothing of the machine's display or session bus), output
// collected, descriptors handed over where the relaunch step hands them.

#include <gio/gio.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "GRef.h"

namespace orvane::test {

inline const std::filesystem::path kBundle = ORVANE_BUILD_DIR "/Orvane.app";

struct Ran {
    int status = -1;     // the exit status; -1 when the process did not exit
    std::string output;  // standard output and error
};

using Environment = std::map<std::string, std::string>;

// A desktop of the test's own: the X `display` and the session bus at `bus`,
// without the accessibility bridge.
Environment desktopEnvironment(const std::string& display, const std::string& bus);
// The XDG folders (config, state, cache, data) under `home`.
Environment xdgFoldersUnder(const std::filesystem::path& home);
// `base` with `more` on top.
Environment operator+(Environment base, const Environment& more);

// Output piped, the desktop's display and bus unset, then `env` set.
GPtr<GSubprocessLauncher> launcher(const Environment& env);

// `readyFd`, when given, becomes the child's descriptor 3, as the relaunch
// step hands its end of the socket it waits on.
GPtr<GSubprocess> spawn(const std::vector<std::string>& command, const Environment& env, int readyFd = -1);
// The bundle's executable with `args`.
GPtr<GSubprocess> start(const std::filesystem::path& bundle, const std::vector<std::string>& args,
                        const Environment& env, int readyFd = -1);
// Waits for the end, collecting the output.
Ran finish(GSubprocess* process);
Ran run(const std::filesystem::path& bundle, const std::vector<std::string>& args, const Environment& env = {});

std::string readText(const std::filesystem::path& file);

// An address on a loopback port nothing listens on: the page fails at once,
// the offline page shows, and the run counts as up.
std::string refusedAddress();

// Whether a top-level window of the app's class shows (or, with `shows`
// false, none does) on `display` within `seconds`.
bool appWindowShows(const std::string& display, bool shows = true, double seconds = 60);

}  // namespace orvane::test
