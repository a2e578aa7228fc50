#include "Install.h"

#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <sstream>
#include <system_error>

#include "Bundle.h"
#include "Trial.h"
#include "UniqueFd.h"
#include "UpdateTextsLinux.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

namespace text = installSentences;

// ditto's exit status when the free space is short (see tools/ditto).
constexpr int kDittoOutOfSpace = 3;
// A tool's status when it could not start or did not end normally (ToolRun).
constexpr int kToolDidNotRun = -1;

// Where every bundle keeps the executable the relaunch step starts.
const char* const kExecutable[] = {"Contents", "Linux", "orvane"};

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
    struct stat opened {
    }, named{};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

// The identifying part of an ELF header: magic, class, byte order, and
// (read in that byte order, which is this machine's when it matches) type
// and machine.
struct ElfKind {
    unsigned char ident[EI_NIDENT] = {};
    std::uint16_t type = 0, machine = 0;
};

std::optional<ElfKind> elfKind(int fd) {
    ElfKind kind;
    unsigned char header[EI_NIDENT + 4];
    ssize_t got;
    do got = ::pread(fd, header, sizeof header, 0);
    while (got < 0 && errno == EINTR);
    if (got != static_cast<ssize_t>(sizeof header) || std::memcmp(header, ELFMAG, SELFMAG) != 0) return std::nullopt;
    std::memcpy(kind.ident, header, EI_NIDENT);
    std::memcpy(&kind.type, header + EI_NIDENT, 2);
    std::memcpy(&kind.machine, header + EI_NIDENT + 2, 2);
    return kind;
}

// Why the bundle's executable cannot run here, or nothing: it must be a
// regular file this user may execute, an ELF program or shared object of
// the same class, byte order and machine as this very process.
std::optional<std::string> whyNotRunnable(int bundle) {
    UniqueFd at(::dup(bundle));
    for (std::size_t i = 0; i + 1 < std::size(kExecutable) && at.valid(); ++i)
        at = UniqueFd(::openat(at.get(), kExecutable[i], O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    UniqueFd file(at.valid() ? ::openat(at.get(), kExecutable[2], O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1);
    struct stat info {};
    if (!file.valid() || ::fstat(file.get(), &info) != 0) return "it has no Contents/Linux/orvane";
    if (!S_ISREG(info.st_mode)) return "Contents/Linux/orvane is not a regular file";
    if ((info.st_mode & S_IXUSR) == 0 || ::faccessat(at.get(), kExecutable[2], X_OK, AT_EACCESS) != 0)
        return "Contents/Linux/orvane is not executable";
    UniqueFd self(::open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    const auto ours = self.valid() ? elfKind(self.get()) : std::nullopt;
    const auto theirs = elfKind(file.get());
    if (!theirs) return "Contents/Linux/orvane is not an ELF program";
    if (theirs->type != ET_EXEC && theirs->type != ET_DYN) return "Contents/Linux/orvane is not an ELF program";
    if (ours && (theirs->ident[EI_CLASS] != ours->ident[EI_CLASS] || theirs->ident[EI_DATA] != ours->ident[EI_DATA] ||
                 theirs->machine != ours->machine))
        return "Contents/Linux/orvane is built for another kind of machine";
    return std::nullopt;
}

// The relaunch helper of the running version. In a bundle that is replaced,
// its helpers leave with it, into the staging folder as old.app.
fs::path relaunchHelper(const InstallSettings& settings, const fs::path& staging) {
    const auto inside = settings.helpers.lexically_relative(settings.bundle);
    if (!inside.empty() && *inside.begin() != "..") return staging / "old.app" / inside / "relaunch";
    return settings.helpers / "relaunch";
}

class Installing {
public:
    Installing(const InstallSettings& settings, Staging& staging) : settings_(settings), staging_(staging) {}

    InstallResult run(const std::string& version);
    // The swap could not be undone: the old bundle lies in the staging folder.
    bool keepStaging = false;

private:
    void log(const std::string& line) const {
        if (settings_.log) settings_.log("Orvane: " + line);
    }
    bool cancelled() const { return settings_.cancel && settings_.cancel->load(); }
    // Runs a helper; its error output goes to the log line by line.
    int tool(const std::string& name, const std::vector<std::string>& arguments) const {
        const auto path = (settings_.helpers / name).string();
        const ToolRun done =
            settings_.run ? settings_.run(path, arguments) : runTool(path, arguments, settings_.cancel.get());
        std::istringstream lines(done.errors);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty()) log(line);
        if (done.status != 0 && done.errors.empty()) log(name + " ended with status " + std::to_string(done.status));
        return done.status;
    }

    const InstallSettings& settings_;
    Staging& staging_;
};

InstallResult Installing::run(const std::string& version) {
    const fs::path bundle = settings_.bundle;
    const fs::path folder = bundle.parent_path();
    const std::string bundleName = bundle.filename().string();
    const fs::path staging = staging_.path();
    const int stage = staging_.dir();
    const Problem stopped{std::string(updateSentences::cancelled)};

    // The running bundle's own tools unpack, check and relaunch; a bundle
    // without them would only make every download look broken.
    for (const char* helper : {"ditto", "codesign", "relaunch"})
        if (::access((settings_.helpers / helper).c_str(), X_OK) != 0)
            return Problem(installSentences::missingHelper(helper));

    UniqueFd parent(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.valid()) return platformError(text::folderCantOpen(folder.string()), errno);

    // Unpacked by the running bundle's own ditto.
    if (cancelled()) return stopped;
    const int unpacked = tool("ditto", {"-x", "-k", (staging / kArchiveName).string(), (staging / "new").string()});
    if (cancelled()) return stopped;
    if (unpacked == kDittoOutOfSpace) return Problem(updateSentences::noSpace(folder.string()));
    if (unpacked == kToolDidNotRun) return Problem(text::helperDidNotRun("ditto"));
    if (unpacked != 0) return Problem(std::string(text::unpackFailed));

    // Exactly one bundle at the top, named as the running one: whatever the
    // archive calls its bundle is installed under the running one's name, so
    // the name must already be that.
    const auto names = list(stage, "new");
    if (!names) return Problem(std::string(text::unpackFailed));
    std::vector<std::string> bundles;
    for (const auto& name : *names)
        if (fs::path(name).extension() == ".app") bundles.push_back(name);
    if (bundles.size() != 1 || bundles.front() != bundleName) {
        std::string found;
        for (const auto& name : bundles) found += (found.empty() ? "" : ", ") + name;
        log("the download must hold exactly one bundle at its top, " + bundleName + "; it holds " +
            (found.empty() ? "none" : found));
        return Problem(std::string(text::unpackFailed));
    }
    const std::string& found = bundles.front();
    const fs::path newBundle = staging / "new" / found;

    // Signed with the key this application trusts. Checked before anything in
    // the download is parsed: until then its Info.plist is a stranger's file,
    // and a hostile property list can crash the parser.
    if (cancelled()) return stopped;
    const int signature = tool("codesign", {"--verify", "--deep", "--strict", newBundle.string()});
    if (cancelled()) return stopped;
    // A helper that could not even start (its bundle moved or changed
    // meanwhile) says nothing of the download's signature.
    if (signature == kToolDidNotRun) return Problem(text::helperDidNotRun("codesign"));
    if (signature != 0) return Problem(std::string(text::signatureBroken));

    // This application, in the announced version.
    const auto info = readPropertyList(newBundle / "Contents" / "Info.plist");
    const Problem notOurs(text::notOurs(version));
    const auto identifier = info.find("CFBundleIdentifier");
    if (identifier == info.end() || !identifier->is_string() || identifier->get<std::string>() != settings_.identifier)
        return notOurs;
    const auto shortVersion = info.find("CFBundleShortVersionString");
    if (shortVersion == info.end() || !shortVersion->is_string() || shortVersion->get<std::string>() != version)
        return notOurs;

    // What was checked must be what is moved: the staging folder is still the
    // one made above, and the new bundle is a folder, not a link put there since.
    UniqueFd unpackedDir(::openat(stage, "new", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    UniqueFd fresh(unpackedDir.valid()
                       ? ::openat(unpackedDir.get(), found.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                       : -1);
    if (!sameFile(stage, staging) || !fresh.valid()) return Problem(std::string(text::signatureBroken));

    // A signed bundle can still be one that cannot start here; the old
    // bundle would then be replaced by nothing that runs.
    if (auto why = whyNotRunnable(fresh.get())) {
        log("the downloaded app can’t run: " + *why);
        return Problem(std::string(text::notRunnable));
    }
    // The new bundle takes the old one's permissions, not those it was unpacked with.
    struct stat old {};
    if (::fstatat(parent.get(), bundleName.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0)
        ::fchmod(fresh.get(), old.st_mode & 07777);

    // The last point at which a quit stops the install; the swap below is
    // quick and is never left half-done on purpose.
    if (cancelled()) return stopped;
    // The old bundle stays in the staging folder until the new one has run
    // well; a new one that keeps ending abruptly gives way to it again.
    if (const int error = writeTrialRecord(stage); error != 0)
        return platformError(text::cantRecord(staging.string()), error);
    SwapPlaces places;
    places.parent = parent.get();
    places.bundle = bundleName;
    places.incomingDir = unpackedDir.get();
    places.incoming = found;
    places.staging = stage;
    places.aside = "old.app";
    places.restore = "old.app";
    places.incomingFromStaging = "new/" + found;
    if (auto failure = swapBundles(settings_.rename, places)) {
        using Step = SwapFailure::Step;
        switch (failure->step) {
        case Step::Exchange: return platformError(text::cantMove(bundle.string()), failure->error);
        case Step::Journal: return platformError(text::cantRecord(staging.string()), failure->error);
        case Step::MoveAside: return platformError(text::cantMoveAside(bundle.string()), failure->error);
        case Step::MoveIn:
            if (failure->movedBack) return platformError(text::cantMove(bundle.string()), failure->error);
            // Say where the application is now, or nobody will find it; the
            // journal left with it puts it back at the next start.
            keepStaging = true;
            return platformError(text::cantMoveOldLeftAt(bundle.string(), (staging / "old.app").string()),
                                 failure->error);
        }
    }

    // This version, if on trial itself, has proved itself: it ran well
    // enough to update. Its own predecessor goes.
    confirmTrial();
    // Started later, on the main thread.
    return RelaunchTask::make(relaunchHelper(settings_, staging).string(), staging.string(), bundle.string(),
                              settings_.appArguments);
}

}  // namespace

InstallSettings InstallSettings::forBundle(const fs::path& bundle, const std::string& identifier) {
    InstallSettings settings;
    settings.bundle = bundle;
    settings.identifier = identifier;
    settings.helpers = bundle / "Contents" / "Helpers";
    auto cancel = settings.cancel;
    settings.run = [cancel](const std::string& path, const std::vector<std::string>& arguments) {
        return runTool(path, arguments, cancel.get());
    };
    return settings;
}

std::variant<fs::path, Problem> makeStaging(const fs::path& bundle) {
    auto staging = Staging::create(bundle);
    if (!staging) return platformError(text::stagingCantBeMade(bundle.parent_path().string()), errno);
    fs::path path = staging->path();
    holdStaging(std::move(*staging));
    return path;
}

void dropStaging(const fs::path& staging) {
    if (auto held = claimStaging(staging)) {
        held->remove();
        return;
    }
    std::error_code ignored;
    fs::remove_all(staging, ignored);
}

InstallResult install(const InstallSettings& settings, const fs::path& path, const std::string& version) {
    // The folder made by makeStaging, still held by this process; failing
    // that, one nobody else holds.
    auto staging = claimStaging(path);
    if (!staging) staging = Staging::take(path);
    if (!staging) return platformError(text::folderCantOpen(path.string()), EBUSY);
    Installing installing(settings, *staging);
    InstallResult result = installing.run(version);
    if (std::holds_alternative<RelaunchTask>(result) || installing.keepStaging) {
        if (settings.keep) settings.keep(std::move(*staging));
        else staging->holdUntilExit();
    } else {
        staging->remove();
    }
    return result;
}

}  // namespace orvane
