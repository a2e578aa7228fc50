#include "Install.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <system_error>

#include "Bundle.h"
#include "Processes.h"
#include "UniqueFd.h"
#include "UpdateTextsLinux.h"
#include "WriteAll.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

namespace text = installSentences;

std::string reason(int error) { return std::generic_category().message(error); }

Problem platformError(const std::string& what, int error) { return Problem(what + " (" + reason(error) + ")."); }

// The names at the top of a folder, in the order the file system lists them
// (hidden ones included); nothing when it cannot be listed.
std::optional<std::vector<std::string>> list(int parent, const char* name) {
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string entryName = entry->d_name;
        if (entryName != "." && entryName != "..") names.push_back(entryName);
    }
    ::closedir(dir);
    return names;
}

bool sameFile(int fd, const fs::path& path) {
    struct stat opened {}, named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

bool exchangeUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

}  // namespace

InstallSettings InstallSettings::forBundle(const fs::path& bundle, const std::string& identifier) {
    InstallSettings settings;
    settings.bundle = bundle;
    settings.identifier = identifier;
    settings.helpers = bundle / "Contents" / "Helpers";
    settings.pid = ::getpid();
    settings.run = [](const std::string& path, const std::vector<std::string>& arguments) {
        return orvane::run(path, arguments);
    };
    settings.rename = [](int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
        return ::renameat2(fromDir, from, toDir, to, flags);
    };
    return settings;
}

std::variant<fs::path, Problem> makeStaging(const fs::path& bundle) {
    const fs::path folder = bundle.parent_path();
    std::string pattern = (folder / (std::string(kStagingPrefix) + "XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        return platformError(text::stagingCantBeMade(folder.string()), errno);
    return fs::path(pattern);
}

InstallResult install(const InstallSettings& settings, const fs::path& staging, const std::string& version) {
    const fs::path bundle = settings.bundle;
    const fs::path folder = bundle.parent_path();
    const std::string bundleName = bundle.filename().string();

    // The staging folder beside the bundle holds the verified download.
    UniqueFd parent(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.valid()) return platformError(text::folderCantOpen(folder.string()), errno);
    UniqueFd stage(::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!stage.valid()) return platformError(text::folderCantOpen(staging.string()), errno);

    // Unpacked by the running bundle's own ditto.
    const std::function<int(const std::string&, const std::vector<std::string>&)> run =
        settings.run ? settings.run : orvane::run;
    if (run((settings.helpers / "ditto").string(),
            {"-x", "-k", (staging / kArchiveName).string(), (staging / "new").string()}) != 0)
        return Problem(std::string(text::unpackFailed));

    // 5-6. The first entry named *.app at the top.
    const auto names = list(stage.get(), "new");
    if (!names) return Problem(std::string(text::unpackFailed));
    std::optional<std::string> found;
    for (const auto& name : *names) {
        if (fs::path(name).extension() == ".app") {
            found = name;
            break;
        }
    }
    if (!found) return Problem(std::string(text::unpackFailed));
    const fs::path newBundle = staging / "new" / *found;

    // Signed with the key this application trusts. Checked before anything in
    // the download is parsed: until then its Info.plist is a stranger's file,
    // and a hostile property list can crash the parser.
    if (run((settings.helpers / "codesign").string(), {"--verify", "--deep", "--strict", newBundle.string()}) != 0)
        return Problem(std::string(text::signatureBroken));

    // This application, in the announced version.
    const auto info = readPropertyList(newBundle / "Contents" / "Info.plist");
    const Problem notOurs(text::notOurs(version));
    const auto identifier = info.find("CFBundleIdentifier");
    if (identifier == info.end() || !identifier->is_string() || identifier->get<std::string>() != settings.identifier)
        return notOurs;
    const auto shortVersion = info.find("CFBundleShortVersionString");
    if (shortVersion == info.end() || !shortVersion->is_string() || shortVersion->get<std::string>() != version)
        return notOurs;

    // What was checked must be what is moved: the staging folder is still the
    // one made above, and the new bundle is a folder, not a link put there since.
    UniqueFd unpacked(::openat(stage.get(), "new", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    UniqueFd fresh(unpacked.valid() ? ::openat(unpacked.get(), found->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                                    : -1);
    if (!sameFile(stage.get(), staging) || !fresh.valid()) return Problem(std::string(text::signatureBroken));
    // The new bundle takes the old one's permissions, not those it was unpacked with.
    struct stat old {};
    if (::fstatat(parent.get(), bundleName.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0)
        ::fchmod(fresh.get(), old.st_mode & 07777);

    // 11-12. The swap. One atomic exchange where the file system has it, so
    // that the location never lacks an application; the old bundle then
    // leaves as "old.app" in the staging folder, as after two moves.
    const std::function<int(int, const char*, int, const char*, unsigned)> rename =
        settings.rename ? settings.rename : ::renameat2;
    if (rename(unpacked.get(), found->c_str(), parent.get(), bundleName.c_str(), RENAME_EXCHANGE) == 0) {
        rename(unpacked.get(), found->c_str(), stage.get(), "old.app", 0);
    } else {
        const int exchangeError = errno;
        if (!exchangeUnsupported(exchangeError))
            return platformError(text::cantMove(bundle.string()), exchangeError);
        if (rename(parent.get(), bundleName.c_str(), stage.get(), "old.app", 0) != 0)
            return platformError(text::cantMoveAside(bundle.string()), errno);
        if (rename(unpacked.get(), found->c_str(), parent.get(), bundleName.c_str(), 0) != 0) {
            const int moveError = errno;
            if (rename(stage.get(), "old.app", parent.get(), bundleName.c_str(), 0) != 0)
                return platformError(text::cantMoveOldLeftAt(bundle.string(), (staging / "old.app").string()),
                                     moveError);
            return platformError(text::cantMove(bundle.string()), moveError);
        }
    }

    // 13. Started later, on the main thread.
    return RelaunchTask::make(settings.pid, staging.string(), bundle.string());
}

}  // namespace orvane
