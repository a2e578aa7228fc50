#include "BundleScan.h"

#include "Sha256.h"
#include "UniqueFd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace orvane {
namespace {

// Deeper than any real bundle, shallow enough to keep descriptors bounded.
constexpr int MAX_DEPTH = 64;
constexpr std::size_t READ_CHUNK = 1 << 20;

struct DirClose {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

[[noreturn]] void fail(const std::string& path, const char* what, int error = 0) {
    std::string message = path.empty() ? std::string(".") : path;
    message += ": ";
    message += what;
    if (error != 0) {
        message += ": ";
        message += std::strerror(error);
    }
    throw ScanError(message);
}

std::string join(const std::string& parent, const char* name) {
    return parent.empty() ? std::string(name) : parent + "/" + name;
}

bool excluded(const std::string& path) { return path == CODE_RESOURCES_PATH || path == CODE_SIGNATURE_PATH; }

void hashFile(int dir, const char* name, const std::string& path, CodeResource& entry,
              std::vector<unsigned char>& buffer) {
    UniqueFd fd(::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) fail(path, "cannot be opened", errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) fail(path, "cannot be examined", errno);
    if (!S_ISREG(info.st_mode)) fail(path, "changed while it was read");
    Sha256 sha;
    std::uint64_t total = 0;
    while (true) {
        ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            fail(path, "cannot be read", errno);
        }
        if (got == 0) break;
        sha.update({buffer.data(), static_cast<std::size_t>(got)});
        total += static_cast<std::uint64_t>(got);
    }
    entry.size = total;
    entry.sha256 = hex(sha.finish());
}

void scanFolder(int dir, const std::string& path, int depth, std::vector<CodeResource>& out,
                std::vector<unsigned char>& buffer) {
    if (depth > MAX_DEPTH) fail(path, "is nested too deeply");
    int copy = ::dup(dir);
    if (copy < 0) fail(path, "cannot be listed", errno);
    std::unique_ptr<DIR, DirClose> listing(::fdopendir(copy));
    if (!listing) {
        ::close(copy);
        fail(path, "cannot be listed", errno);
    }
    while (true) {
        errno = 0;
        dirent* item = ::readdir(listing.get());
        if (!item) {
            if (errno != 0) fail(path, "cannot be listed", errno);
            break;
        }
        const char* name = item->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        std::string child = join(path, name);
        if (excluded(child)) continue;
        if (out.size() >= CODE_RESOURCES_MAX_ENTRIES) fail(child, "one entry too many");

        struct stat info {};
        if (::fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) != 0) fail(child, "cannot be examined", errno);
        CodeResource entry;
        entry.path = child;
        if (S_ISDIR(info.st_mode)) {
            entry.kind = CodeResource::Kind::Directory;
            out.push_back(std::move(entry));
            UniqueFd sub(::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (sub.get() < 0) fail(child, "cannot be opened", errno);
            scanFolder(sub.get(), child, depth + 1, out, buffer);
        } else if (S_ISREG(info.st_mode)) {
            if (info.st_mode & (S_ISUID | S_ISGID)) fail(child, "has a set-id bit");
            entry.kind = (info.st_mode & S_IXUSR) ? CodeResource::Kind::Executable : CodeResource::Kind::File;
            hashFile(dir, name, child, entry, buffer);
            out.push_back(std::move(entry));
        } else if (S_ISLNK(info.st_mode)) {
            entry.kind = CodeResource::Kind::Link;
            std::string target(4097, '\0');
            ssize_t length = ::readlinkat(dir, name, target.data(), target.size());
            if (length < 0) fail(child, "cannot be read", errno);
            if (static_cast<std::size_t>(length) >= target.size()) fail(child, "has too long a target");
            target.resize(static_cast<std::size_t>(length));
            entry.target = std::move(target);
            out.push_back(std::move(entry));
        } else {
            fail(child, "is neither a file, a folder nor a link");
        }
    }
}

}  // namespace

std::vector<CodeResource> scanBundle(int root) {
    std::vector<CodeResource> entries;
    std::vector<unsigned char> buffer(READ_CHUNK);
    scanFolder(root, std::string(), 0, entries, buffer);
    std::sort(entries.begin(), entries.end(),
              [](const CodeResource& a, const CodeResource& b) { return a.path < b.path; });
    return entries;
}

}  // namespace orvane
