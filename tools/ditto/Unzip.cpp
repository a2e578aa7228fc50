#include "Unzip.h"
#include "ZipDirectory.h"
#include "UniqueFd.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

struct ArchiveFree {
    void operator()(archive* a) const { archive_read_free(a); }
};

struct Refusal {
    std::string why;
};

std::string errorOf(archive* a) {
    const char* text = archive_error_string(a);
    return text ? text : "damaged archive";
}

[[noreturn]] void refuse(std::string why) { throw Refusal{std::move(why)}; }

[[noreturn]] void refuseErrno(const std::string& name, const char* what) {
    refuse(name + ": " + what + ": " + std::strerror(errno));
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
        if (part.empty() || part == "." || part.size() > MAX_NAME)
            refuse(std::string(name) + ": malformed name");
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
    if (target.empty() || target.size() > MAX_PATH || !plainText(target))
        refuse(name + ": malformed link target");
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
    Extraction(int root, const UnzipLimits& limits) : root_(root), limits_(limits) {}

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

    static UniqueFd openFolder(int parent, const std::string& name, const std::string& path) {
        UniqueFd fd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (fd.get() < 0) {
            if (errno == ELOOP || errno == ENOTDIR) refuse(path + ": passes through a link or a file");
            refuseErrno(path, "cannot be opened");
        }
        return fd;
    }

    // The parent folder of an entry, made as needed; entries of one folder
    // usually come together, so the last parent is kept open.
    int parentOf(const std::vector<std::string>& parts) {
        if (parts.size() == 1) return root_;
        std::string parentPath = join(parts, parts.size() - 1);
        if (parentFd_.get() >= 0 && parentPath == parentPath_) return parentFd_.get();
        UniqueFd current;
        int at = root_;
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
            std::string sofar = join(parts, i + 1);
            if (::mkdirat(at, parts[i].c_str(), 0755) != 0 && errno != EEXIST)
                refuseErrno(sofar, "cannot be made");
            current = openFolder(at, parts[i], sofar);
            at = current.get();
        }
        parentFd_ = std::move(current);
        parentPath_ = std::move(parentPath);
        return parentFd_.get();
    }

    void folder(int parent, const std::string& name, const std::string& path) {
        if (::mkdirat(parent, name.c_str(), 0755) != 0) {
            if (errno != EEXIST) refuseErrno(path, "cannot be made");
            openFolder(parent, name, path);  // an existing real folder only
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
    UniqueFd parentFd_;
    std::string parentPath_;
};

}  // namespace

std::string unzip(const std::string& zip, const std::string& folder, const UnzipLimits& limits) {
    try {
        UniqueFd input(::open(zip.c_str(), O_RDONLY | O_CLOEXEC));
        if (input.get() < 0) refuseErrno(zip, "cannot be opened");
        auto directory = checkZipDirectory(input.get(), limits.entries);
        if (!directory.empty()) refuse(zip + ": " + directory);

        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) refuseErrno(folder, "cannot be made");
        UniqueFd root(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (root.get() < 0) refuseErrno(folder, "is not a folder");

        std::unique_ptr<archive, ArchiveFree> a(archive_read_new());
        if (!a) refuse("out of memory");
        // The seekable reader takes the entry list from the central directory,
        // the part of a zip that unzip tools agree on. It reads the same open
        // file that was just checked.
        archive_read_support_format_zip_seekable(a.get());
        if (archive_read_open_fd(a.get(), input.get(), READ_BLOCK) != ARCHIVE_OK)
            refuse(zip + ": " + errorOf(a.get()));

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
        return refusal.why;
    }
}

}  // namespace orvane
