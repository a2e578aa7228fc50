#include "Swap.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// The place's identity before an exchange: after one it names another folder.
std::optional<ino_t> inodeOf(int dir, const std::string& name) {
    struct stat info {};
    if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    return info.st_ino;
}

// Before an exchange: where the former bundle will lie, and what the place
// held, so that recovery can tell whether the exchange happened.
int writeExchangeJournal(int staging, const SwapPlaces& places, ino_t place) {
    return writeRecord(
        staging, kJournalName,
        {{"bundle", places.bundle},
         {"restore", places.restore},
         {"exchange", {{"from", places.incomingFromStaging}, {"aside", places.aside}, {"place", place}}}});
}

// A path inside the staging folder, never out of it.
bool pathInside(const nlohmann::json& value) {
    if (!value.is_string()) return false;
    const auto& path = value.get_ref<const std::string&>();
    if (path.empty() || path.front() == '/') return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto end = std::min(path.find('/', start), path.size());
        if (!plainName(nlohmann::json(path.substr(start, end - start)))) return false;
        start = end + 1;
    }
    return true;
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
    const auto place = inodeOf(p.parent, p.bundle);
    const bool journalled = place && !p.incomingFromStaging.empty();
    if (journalled) {
        if (const int error = writeExchangeJournal(p.staging, p, *place); error != 0)
            return SwapFailure{Step::Journal, error};
    }
    if (rename(p.incomingDir, p.incoming.c_str(), p.parent, p.bundle.c_str(), RENAME_EXCHANGE) == 0) {
        // The place was never empty; the old bundle now lies where the new
        // one was, and takes its name in the staging folder.
        rename(p.incomingDir, p.incoming.c_str(), p.staging, p.aside.c_str(), 0);
        ::fsync(p.parent);
        if (journalled) dropJournal(p.staging);
        return std::nullopt;
    }
    const int exchangeError = errno;
    if (!exchangeUnsupported(exchangeError)) {
        if (journalled) dropJournal(p.staging);
        return SwapFailure{Step::Exchange, exchangeError};
    }

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
    if (const auto exchange = journal->find("exchange"); exchange != journal->end()) {
        const auto moved = exchange->is_object() ? exchange->value("from", nlohmann::json()) : nlohmann::json();
        const auto aside = exchange->is_object() ? exchange->value("aside", nlohmann::json()) : nlohmann::json();
        const auto before = exchange->is_object() ? exchange->value("place", nlohmann::json()) : nlohmann::json();
        if (!pathInside(moved) || !plainName(aside) || !before.is_number_unsigned()) {
            dropJournal(staging);
            return "an unreadable swap journal was dropped";
        }
        // The place still holds what it held: the exchange never happened.
        // Else the former bundle still lies where the new one was, unless
        // its move aside was done.
        const auto now = inodeOf(parent, place);
        const std::string formerAt = moved.get<std::string>(), asideName = aside.get<std::string>();
        if (now && *now != before.get<ino_t>() && exists(staging, formerAt)) {
            if (rename(staging, formerAt.c_str(), staging, asideName.c_str(), 0) != 0)
                return "the swap of " + place + " broke off after its exchange and " + formerAt +
                       " can’t be moved aside (" + std::generic_category().message(errno) + ")";
            dropJournal(staging);
            return "the swap of " + place + " broke off after its exchange; the bundle it replaced was moved aside";
        }
        dropJournal(staging);
        return std::nullopt;
    }
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
