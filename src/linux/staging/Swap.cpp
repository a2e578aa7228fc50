#include "Swap.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <nlohmann/json.hpp>
#include <system_error>

#include "UniqueFd.h"

namespace orvane {
namespace {

bool exchangeUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

bool exists(int dir, const std::string& name) {
    struct stat info {};
    return ::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// Written whole and on disk before the first move, or not at all.
int writeJournal(int staging, const SwapPlaces& places) {
    return writeRecord(staging, kJournalName, {{"bundle", places.bundle}, {"restore", places.restore}});
}

void dropJournal(int staging) {
    ::unlinkat(staging, kJournalName, 0);
    ::fsync(staging);
}

}  // namespace

int writeRecord(int dir, const char* name, const nlohmann::json& record) {
    const std::string text = record.dump() + "\n";
    const std::string draft = std::string(name) + ".new";
    UniqueFd fd(::openat(dir, draft.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) return errno;
    if (!writeAll(fd.get(), text) || ::fsync(fd.get()) != 0) return errno ? errno : EIO;
    if (::renameat(dir, draft.c_str(), dir, name) != 0) return errno;
    if (::fsync(dir) != 0) return errno;
    return 0;
}

bool plainName(const nlohmann::json& value) {
    if (!value.is_string()) return false;
    const auto& name = value.get_ref<const std::string&>();
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::optional<nlohmann::json> readRecord(int dir, const char* name) {
    constexpr std::size_t kRecordMax = 4096;
    UniqueFd fd(::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    std::string text(kRecordMax, '\0');
    ssize_t got;
    do got = ::read(fd.get(), text.data(), text.size());
    while (got < 0 && errno == EINTR);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    auto record = nlohmann::json::parse(text, nullptr, false);
    return record.is_object() ? record : nlohmann::json::object();
}

int systemRename(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    return ::renameat2(fromDir, from, toDir, to, flags);
}

std::optional<SwapFailure> swapBundles(const Rename& rename, const SwapPlaces& p) {
    using Step = SwapFailure::Step;
    if (rename(p.incomingDir, p.incoming.c_str(), p.parent, p.bundle.c_str(), RENAME_EXCHANGE) == 0) {
        // The place was never empty; the old bundle now lies where the new
        // one was, and takes its name in the staging folder.
        rename(p.incomingDir, p.incoming.c_str(), p.staging, p.aside.c_str(), 0);
        ::fsync(p.parent);
        return std::nullopt;
    }
    const int exchangeError = errno;
    if (!exchangeUnsupported(exchangeError)) return SwapFailure{Step::Exchange, exchangeError};

    if (const int error = writeJournal(p.staging, p); error != 0) return SwapFailure{Step::Journal, error};
    if (rename(p.parent, p.bundle.c_str(), p.staging, p.aside.c_str(), 0) != 0) {
        const int error = errno;
        dropJournal(p.staging);
        return SwapFailure{Step::MoveAside, error};
    }
    if (rename(p.incomingDir, p.incoming.c_str(), p.parent, p.bundle.c_str(), 0) != 0) {
        const int error = errno;
        const bool movedBack = rename(p.staging, p.aside.c_str(), p.parent, p.bundle.c_str(), 0) == 0;
        // A journal stays while the place is empty, for whoever comes next.
        if (movedBack) dropJournal(p.staging);
        return SwapFailure{Step::MoveIn, error, movedBack};
    }
    ::fsync(p.parent);
    dropJournal(p.staging);
    return std::nullopt;
}

std::optional<std::string> recoverSwap(int staging, int parent, const Rename& rename) {
    const auto journal = readRecord(staging, kJournalName);
    if (!journal) return std::nullopt;
    const auto bundle = journal->value("bundle", nlohmann::json());
    const auto restore = journal->value("restore", nlohmann::json());
    if (!plainName(bundle) || !plainName(restore)) {
        dropJournal(staging);
        return "an unreadable swap journal was dropped";
    }
    const std::string place = bundle.get<std::string>(), from = restore.get<std::string>();
    if (exists(parent, place)) {
        dropJournal(staging);
        return std::nullopt;
    }
    if (!exists(staging, from)) return "the swap of " + place + " broke off and " + from + " is gone";
    if (rename(staging, from.c_str(), parent, place.c_str(), 0) != 0)
        return "the swap of " + place + " broke off and " + from + " can’t be put back (" +
               std::generic_category().message(errno) + ")";
    ::fsync(parent);
    dropJournal(staging);
    return "the swap of " + place + " broke off; " + from + " was put back";
}

}  // namespace orvane
