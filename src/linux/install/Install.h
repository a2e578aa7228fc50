#pragma once
// Installation of a verified archive, on a worker thread: unpack it in a
// staging folder beside the bundle, check that it holds this application in
// the announced version with a valid signature, swap it in for the running
// bundle (old bundle back in place if the swap fails half-way) and prepare the
// relaunch.
//
// The unpacking and the signature check are done by the tools of the running
// bundle, never by anything that came with the download, so only the public
// key built into this application decides what may be installed.

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "UpdaterParts.h"

namespace orvane {

struct InstallSettings {
    std::filesystem::path bundle;   // the running bundle, the location to replace
    std::string identifier;         // its CFBundleIdentifier
    std::filesystem::path helpers;  // the folder holding ditto and codesign
    pid_t pid = 0;                  // the process the relaunch waits for
    // Starts a tool and returns its exit status (-1: could not start).
    std::function<int(const std::string& path, const std::vector<std::string>& arguments)> run;
    // renameat2(2). Tests put failures in here; the product uses the system call.
    std::function<int(int fromDir, const char* from, int toDir, const char* to, unsigned flags)> rename;

    // The running bundle's settings with the system's tools and calls.
    static InstallSettings forBundle(const std::filesystem::path& bundle, const std::string& identifier);
};

inline constexpr const char* kStagingPrefix = ".orvane-update-";

// A fresh staging folder beside `bundle` (".orvane-update-XXXXXX", mode 0700),
// so that every move of the swap is a rename within one file system. The
// download is stored in it before the installation starts.
std::variant<std::filesystem::path, Problem> makeStaging(const std::filesystem::path& bundle);

// Installs the verified archive `staging`/update.zip. Steps in this order:
// unpack, find the bundle, signature, identifier, version, then the swap.
// Nothing outside the staging folder is written before the swap. The staging
// folder stays on failure.
InstallResult install(const InstallSettings& settings, const std::filesystem::path& staging,
                      const std::string& version);

}  // namespace orvane
