#include "Unzip.h"
#include "UniqueFd.h"
#include "ZipDirectory.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace orvane {
namespace {

constexpr std::size_t MAX_PATH = 4096;
constexpr std::size_t MAX_NAME = 255;
constexpr std::size_t READ_BLOCK = 1 << 20;
// Folder descriptors kept open at most, well below the usual limit of 1024.
constexpr std::size_t MAX_OPEN_FOLDERS = 128;

struct ArchiveFree {
    void operator()(archive* a) const { archive_read_free(a); }
};

struct Refusal {
    std::string why;
    bool outOfSpace = false;
};

std::string errorOf(archive* a) {
    const char* text = archive_error_string(a);
    return text ? text : "damaged archive";
}

[[noreturn]] void refuse(std::string why, bool outOfSpace = false) { throw Refusal{std::move(why), outOfSpace}; }

[[noreturn]] void refuseErrno(const std::string& name, const char* what) {
    const bool full = errno == ENOSPC || errno == EDQUOT;
    refuse(name + ": " + what + ": " + std::strerror(errno), full);
}

bool plainText(std::string_view text) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '\\') return false;
    }
    return true;
}

// The components of an entry name; refuses absolute, "..", ".", empty
// components, control characters, backslashes and drive letters.
std::vector<std::string> components(std::string_view name, bool& folder) {
    if (name.empty() || name.size() > MAX_PATH) refuse("an entry has an empty or too long name");
    if (!plainText(name)) refuse(std::string(name) + ": control character or backslash in the name");
    if (name.front() == '/') refuse(std::string(name) + ": absolute name");
    if (name.size() >= 2 && name[1] == ':') refuse(std::string(name) + ": drive letter in the name");
    folder = name.back() == '/';
    if (folder) name.remove_suffix(1);
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        auto end = name.find('/', start);
        auto part = name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty() || part == "." || part.size() > MAX_NAME) refuse(std::string(name) + ": malformed name");
        if (part == "..") refuse(std::string(name) + ": \"..\" in the name");
        parts.emplace_back(part);
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// A link stays inside the folder when its target is relative, climbs with
// leading ".." only as far as the folder itself, and then only descends: every
// step after the climb is a name inside the tree, and by the same rule every
// link among those names stays inside too.
void checkLinkTarget(const std::string& name, std::string_view target, std::size_t depth) {
    if (target.empty() || target.size() > MAX_PATH || !plainText(target)) refuse(name + ": malformed link target");
    if (target.front() == '/') refuse(name + ": link to an absolute path");
    std::size_t climbs = 0;
    bool descending = false;
    std::size_t start = 0;
    while (start <= target.size()) {
        auto end = target.find('/', start);
        if (end == std::string_view::npos) end = target.size();
        auto part = target.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") refuse(name + ": malformed link target");
        if (part == "..") {
            if (descending) refuse(name + ": link target climbs after descending");
            if (++climbs > depth) refuse(name + ": link leads outside the folder");
        } else {
            descending = true;
        }
    }
}

class Extraction {
public:
    Extraction(int root, UnzipLimits limits) : root_(root), limits_(std::move(limits)) {}

    void entry(archive* a, archive_entry* item) {
        if (++count_ > limits_.entries) refuse("too many entries");
        const char* raw = archive_entry_pathname(item);
        if (!raw) refuse("an entry has no readable name");
        bool folderName = false;
        auto parts = components(raw, folderName);
        std::string path = join(parts, parts.size());

        if (archive_entry_hardlink(item)) refuse(path + ": hard link");
        if (archive_entry_is_encrypted(item)) refuse(path + ": encrypted entry");
        auto type = archive_entry_filetype(item);
        if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK)
            refuse(path + ": neither a file, a folder nor a link");
        if (folderName && type != AE_IFDIR) refuse(path + ": malformed name");
        if (archive_entry_size_is_set(item)) {
            auto size = archive_entry_size(item);
            if (size < 0 || static_cast<std::uint64_t>(size) > limits_.totalBytes - written_)
                refuse(path + ": too large");
        }
        if (!seen_.insert(path).second) refuse(path + ": named twice");

        int parent = parentOf(parts);
        const std::string& name = parts.back();
        switch (type) {
        case AE_IFDIR: folder(parent, name, path); break;
        case AE_IFLNK: link(parent, name, path, item, parts.size() - 1); break;
        default: file(a, parent, name, path, item); break;
        }
    }

private:
    static std::string join(const std::vector<std::string>& parts, std::size_t count) {
        std::string out;
        for (std::size_t i = 0; i < count; ++i) {
            if (i) out += '/';
            out += parts[i];
        }
        return out;
    }

    static UniqueFd openFolder(int parent, const std::string& name, const std::vector<std::string>& parts,
                               std::size_t count) {
        UniqueFd fd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (fd.get() < 0) {
            const std::string path = join(parts, count);
            if (errno == ELOOP || errno == ENOTDIR) refuse(path + ": passes through a link or a file");
            refuseErrno(path, "cannot be opened");
        }
        return fd;
    }

    // The parent folder of an entry, made as needed. The folders on the way
    // to the last entry's parent stay open, so an entry costs only the steps
    // where its path differs from the last one's, however deep both lie.
    // Every folder is one that this extraction made or opened without
    // following a link, and no later entry can replace it (nothing existing is
    // ever overwritten), so a kept descriptor stays valid.
    int parentOf(const std::vector<std::string>& parts) {
        const std::size_t depth = parts.size() - 1;
        std::size_t common = 0;
        while (common < open_.size() && common < depth && open_[common].name == parts[common]) ++common;
        while (open_.size() > common) {
            if (open_.back().fd.valid()) --descriptors_;
            open_.pop_back();
        }
        for (std::size_t i = common; i < depth; ++i) {
            const int at = folderAt(i, parts);
            if (::mkdirat(at, parts[i].c_str(), 0755) != 0 && errno != EEXIST)
                refuseErrno(join(parts, i + 1), "cannot be made");
            open_.push_back({parts[i], openFolder(at, parts[i], parts, i + 1)});
            ++descriptors_;
            keepWithinBudget();
        }
        return folderAt(depth, parts);
    }

    // The descriptor of the folder `levels` steps below the root along the
    // kept path, opened again from its nearest open ancestor if it had to be
    // closed.
    int folderAt(std::size_t levels, const std::vector<std::string>& parts) {
        if (levels == 0) return root_;
        if (open_[levels - 1].fd.valid()) return open_[levels - 1].fd.get();
        std::size_t from = levels - 1;
        while (from > 0 && !open_[from - 1].fd.valid()) --from;
        for (std::size_t i = from; i < levels; ++i) {
            const int at = i == 0 ? root_ : open_[i - 1].fd.get();
            open_[i].fd = openFolder(at, open_[i].name, parts, i + 1);
            ++descriptors_;
        }
        const int fd = open_[levels - 1].fd.get();
        keepWithinBudget();
        return fd;
    }

    // Deep archives would otherwise need a descriptor per level; the
    // shallowest are given up first, as entries mostly move among the deepest.
    void keepWithinBudget() {
        for (auto& level : open_) {
            if (descriptors_ <= MAX_OPEN_FOLDERS) return;
            if (level.fd.valid() && &level != &open_.back()) {
                level.fd = UniqueFd();
                --descriptors_;
            }
        }
    }

    void folder(int parent, const std::string& name, const std::string& path) {
        if (::mkdirat(parent, name.c_str(), 0755) != 0) {
            if (errno != EEXIST) refuseErrno(path, "cannot be made");
            // An existing real folder only.
            UniqueFd existing(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!existing.valid()) {
                if (errno == ELOOP || errno == ENOTDIR) refuse(path + ": passes through a link or a file");
                refuseErrno(path, "cannot be opened");
            }
        }
    }

    void link(int parent, const std::string& name, const std::string& path, archive_entry* item, std::size_t depth) {
        const char* target = archive_entry_symlink(item);
        if (!target) refuse(path + ": link without a target");
        checkLinkTarget(path, target, depth);
        if (::symlinkat(target, parent, name.c_str()) != 0) refuseErrno(path, "cannot be made");
    }

    void file(archive* a, int parent, const std::string& name, const std::string& path, archive_entry* item) {
        UniqueFd out(::openat(parent, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (out.get() < 0) refuseErrno(path, "cannot be made");
        std::uint64_t end = 0;
        while (true) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            int status = archive_read_data_block(a, &block, &size, &offset);
            if (status == ARCHIVE_EOF) break;
            if (status != ARCHIVE_OK) refuse(path + ": " + errorOf(a));
            if (offset < 0 || static_cast<std::uint64_t>(offset) + size > limits_.totalBytes - written_)
                refuse(path + ": too large");
            writeAt(out.get(), static_cast<const char*>(block), size, static_cast<off_t>(offset), path);
            end = std::max<std::uint64_t>(end, static_cast<std::uint64_t>(offset) + size);
        }
        if (::ftruncate(out.get(), static_cast<off_t>(end)) != 0) refuseErrno(path, "cannot be written");
        written_ += end;
        bool executable = (archive_entry_perm(item) & 0111) != 0;
        if (::fchmod(out.get(), executable ? 0755 : 0644) != 0) refuseErrno(path, "cannot be written");
        if (archive_entry_mtime_is_set(item)) {
            timespec times[2] = {{0, UTIME_OMIT}, {archive_entry_mtime(item), archive_entry_mtime_nsec(item)}};
            ::futimens(out.get(), times);
        }
    }

    static void writeAt(int fd, const char* data, std::size_t size, off_t offset, const std::string& path) {
        while (size > 0) {
            ssize_t wrote = ::pwrite(fd, data, size, offset);
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote <= 0) refuseErrno(path, "cannot be written");
            data += wrote;
            size -= static_cast<std::size_t>(wrote);
            offset += wrote;
        }
    }

    int root_;
    UnzipLimits limits_;
    std::uint64_t count_ = 0;
    std::uint64_t written_ = 0;
    std::unordered_set<std::string> seen_;
    struct Level {
        std::string name;
        UniqueFd fd;  // closed when over the budget; opened again when needed
    };
    std::vector<Level> open_;  // the folders leading to the last entry's parent
    std::size_t descriptors_ = 0;
};

}  // namespace

std::optional<std::uint64_t> freeBytesAt(int folder) {
    struct statvfs info {};
    if (::fstatvfs(folder, &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::string unzip(const std::string& zip, const std::string& folder, const UnzipLimits& given, bool* outOfSpace) {
    try {
        UniqueFd input(::open(zip.c_str(), O_RDONLY | O_CLOEXEC));
        if (input.get() < 0) refuseErrno(zip, "cannot be opened");
        const auto directory = checkZipDirectory(input.get(), given.entries);
        if (!directory.problem.empty()) refuse(zip + ": " + directory.problem);

        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) refuseErrno(folder, "cannot be made");
        UniqueFd root(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (root.get() < 0) refuseErrno(folder, "is not a folder");

        // What may be written at most, by the tightest bound.
        UnzipLimits limits = given;
        struct stat info {};
        if (::fstat(input.get(), &info) != 0) refuseErrno(zip, "cannot be read");
        const auto zipBytes = static_cast<std::uint64_t>(info.st_size);
        const std::uint64_t declared = directory.declaredBytes;
        const auto mb = [](std::uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB"; };
        if (declared > limits.totalBytes) refuse(zip + ": unpacks to " + mb(declared) + ", more than any update");
        if (zipBytes <= limits.totalBytes / limits.expansion) limits.totalBytes = zipBytes * limits.expansion;
        if (declared > limits.totalBytes)
            refuse(zip + ": unpacks to " + mb(declared) + ", more than " + std::to_string(given.expansion) +
                   " times its own size");
        if (const auto free = limits.freeBytes ? limits.freeBytes(root.get()) : std::nullopt) {
            const std::uint64_t room = *free > limits.spareBytes ? *free - limits.spareBytes : 0;
            if (declared > room)
                refuse(folder + ": not enough free space: " + mb(declared) + " needed with " + mb(limits.spareBytes) +
                           " to spare, " + mb(*free) + " free",
                       true);
            limits.totalBytes = std::min(limits.totalBytes, room);
        }

        std::unique_ptr<archive, ArchiveFree> a(archive_read_new());
        if (!a) refuse("out of memory");
        // The seekable reader takes the entry list from the central directory,
        // the part of a zip that unzip tools agree on. It reads the same open
        // file that was just checked.
        archive_read_support_format_zip_seekable(a.get());
        if (archive_read_open_fd(a.get(), input.get(), READ_BLOCK) != ARCHIVE_OK) refuse(zip + ": " + errorOf(a.get()));

        Extraction extraction(root.get(), limits);
        while (true) {
            archive_entry* item = nullptr;
            int status = archive_read_next_header(a.get(), &item);
            if (status == ARCHIVE_EOF) break;
            if (status != ARCHIVE_OK) refuse(zip + ": " + errorOf(a.get()));
            extraction.entry(a.get(), item);
        }
        return {};
    } catch (const Refusal& refusal) {
        if (outOfSpace) *outOfSpace = refusal.outOfSpace;
        return refusal.why;
    }
}

}  // namespace orvane
