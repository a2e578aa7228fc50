#pragma once
// The updater's platform pieces on Linux: libsoup for the manifest and the
// archive, statvfs and access for the place checks, a worker thread for the
// installation, posix_spawn for the tools and the relaunch.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Bundle.h"
#include "MainQueue.h"
#include "UpdaterParts.h"

namespace orvane {

// `bundle` is the running bundle, the one an update replaces (possibly empty).
// The parts' `quit` is left to whoever owns the updater.
// `appArguments`: this run's own options, carried over to the new version.
UpdaterParts linuxUpdaterParts(MainQueue& queue, const Bundle& bundle,
                               const std::vector<std::string>& appArguments = {});

// statvfs: whether the file system holding `path` is mounted read-only.
std::optional<bool> readOnlyVolume(const std::filesystem::path& path);
// access(W_OK).
bool writable(const std::filesystem::path& path);
// statvfs: the bytes an unprivileged process may still write there.
std::optional<std::int64_t> freeSpace(const std::filesystem::path& path);

}  // namespace orvane
