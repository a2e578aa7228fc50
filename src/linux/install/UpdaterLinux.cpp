#include "UpdaterLinux.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <thread>

#include "ArchiveSessionSoup.h"
#include "Install.h"
#include "Log.h"
#include "ManifestSourceSoup.h"
#include "Processes.h"

namespace orvane {

std::optional<bool> readOnlyVolume(const std::filesystem::path& path) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) return std::nullopt;
    return (info.f_flag & ST_RDONLY) != 0;
}

bool writable(const std::filesystem::path& path) { return ::access(path.c_str(), W_OK) == 0; }

std::optional<std::int64_t> freeSpace(const std::filesystem::path& path) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
}

UpdaterParts linuxUpdaterParts(MainQueue& queue, const Bundle& bundle, const std::vector<std::string>& appArguments) {
    UpdaterParts parts;
    parts.manifest = std::make_unique<ManifestSourceSoup>(queue);
    parts.makeSession = [] { return std::make_unique<ArchiveSessionSoup>(); };
    parts.readOnlyVolume = readOnlyVolume;
    parts.writable = writable;
    parts.freeSpace = freeSpace;
    if (!bundle.empty()) {
        const auto info = bundle.info();
        const auto identifier = info.find("CFBundleIdentifier");
        InstallSettings settings = InstallSettings::forBundle(
            bundle.root(), identifier != info.end() && identifier->is_string() ? identifier->get<std::string>() : "");
        settings.log = [](const std::string& line) { logLine(line); };
        settings.appArguments = appArguments;
        parts.cancelInstall = [cancel = settings.cancel] { cancel->store(true); };
        const auto& root = bundle.root();
        parts.makeStaging = [root] { return makeStaging(root); };
        parts.install = [settings](const std::filesystem::path& staging, const std::string& version) {
            return install(settings, staging, version);
        };
    }
    // The worker owns everything it touches; its result comes back through
    // the main loop, and it may outlive the window without harm.
    // Before the installation has it, the folder holds only the download.
    parts.dropStaging = dropStaging;
    parts.background = [](std::function<void()> work) { std::thread(std::move(work)).detach(); };
    parts.startRelaunch = startDetached;
    parts.log = [](const std::string& line) { logLine(line); };
    return parts;
}

}  // namespace orvane
