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

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Processes.h"
#include "Staging.h"
#include "Swap.h"
#include "UpdaterParts.h"

namespace orvane {

struct InstallSettings {
    std::filesystem::path bundle;   // the running bundle, the location to replace
    std::string identifier;         // its CFBundleIdentifier
    std::filesystem::path helpers;  // the folder holding ditto, codesign and relaunch
    // The options this run was started with (a page address given for the
    // run), given again to whichever version the relaunch step starts.
    std::vector<std::string> appArguments;
    // Runs a tool to its end (or until `cancel`).
    std::function<ToolRun(const std::string& path, const std::vector<std::string>& arguments)> run;
    Rename rename = systemRename;
    // Set from the main thread when the app quits: the install stops at its
    // next safe point (a running tool is killed) and cleans up. Once the
    // swap has begun it runs to its end.
    std::shared_ptr<std::atomic<bool>> cancel = std::make_shared<std::atomic<bool>>(false);
    // Keeps the staging folder of a successful install, locked, for the
    // relaunch step; by default until this process ends. (Tests let go of it
    // to play the app's exit.)
    std::function<void(Staging&& staging)> keep = [](Staging&& staging) { staging.holdUntilExit(); };
    // The tools' own error output and the reasons behind the page's short
    // texts go here (the app's log).
    std::function<void(const std::string& line)> log;

    // The running bundle's settings with the system's tools and calls.
    static InstallSettings forBundle(const std::filesystem::path& bundle, const std::string& identifier);
};

// A fresh staging folder beside `bundle` (see Staging.h), held by this
// process from here on. The download is stored in it before the installation
// starts.
std::variant<std::filesystem::path, Problem> makeStaging(const std::filesystem::path& bundle);
// Removes a staging folder that the installation never got, and lets go of it.
void dropStaging(const std::filesystem::path& staging);

// Installs the verified archive `staging`/update.zip. Steps in this order:
// unpack, find the bundle (exactly one, named as the running one),
// signature, identifier, version, an executable for this machine, then the
// swap. Nothing outside the staging folder is written before the swap. A
// failed install removes its staging folder (unless a swap that could not be
// undone left the old bundle in it); a successful one keeps it, locked until
// this process ends, for the relaunch step, which removes it once the new
// version runs.
InstallResult install(const InstallSettings& settings, const std::filesystem::path& staging,
                      const std::string& version);

}  // namespace orvane
