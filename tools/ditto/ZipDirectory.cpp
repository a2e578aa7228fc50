#include "ZipDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace orvane {
namespace {

constexpr std::uint32_t END_SIGNATURE = 0x06054b50;
constexpr std::uint32_t END64_LOCATOR_SIGNATURE = 0x07064b50;
constexpr std::uint32_t END64_SIGNATURE = 0x06064b50;
constexpr std::uint32_t CENTRAL_SIGNATURE = 0x02014b50;
constexpr std::size_t END_SIZE = 22;
constexpr std::size_t CENTRAL_SIZE = 46;
constexpr unsigned UNIX_HOST = 3;
constexpr std::uint64_t ZIP64_EXTRA = 0x0001;
// The end record sits within the last 22 bytes plus a comment of at most 64 KB.
constexpr std::size_t MAX_TAIL = END_SIZE + 0xffff;

std::uint64_t little(const unsigned char* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

bool readAt(int fd, void* into, std::size_t size, std::uint64_t offset) {
    auto* out = static_cast<unsigned char*>(into);
    while (size > 0) {
        ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (got <= 0) return false;
        out += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

// The declared unpacked size of an entry whose 32-bit field says it is in
// the zip64 extra field; nothing when that field is missing or short.
std::optional<std::uint64_t> zip64Size(const std::vector<unsigned char>& extra) {
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const auto id = little(&extra[at], 2);
        const auto length = little(&extra[at + 2], 2);
        if (at + 4 + length > extra.size()) return std::nullopt;
        if (id == ZIP64_EXTRA && length >= 8) return little(&extra[at + 4], 8);
        at += 4 + length;
    }
    return std::nullopt;
}

std::string readDirectory(int zip, std::uint64_t maxEntries, std::uint64_t& declared) {
    struct stat info {};
    if (::fstat(zip, &info) != 0 || !S_ISREG(info.st_mode)) return "not a file";
    auto size = static_cast<std::uint64_t>(info.st_size);
    if (size < END_SIZE) return "not a zip archive";

    auto tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(size, MAX_TAIL));
    std::vector<unsigned char> tail(tailSize);
    if (!readAt(zip, tail.data(), tailSize, size - tailSize)) return "cannot be read";
    std::size_t end = tailSize - END_SIZE + 1;
    do {
        --end;
    } while (end > 0 && little(&tail[end], 4) != END_SIGNATURE);
    if (little(&tail[end], 4) != END_SIGNATURE) return "not a zip archive";

    std::uint64_t count = little(&tail[end + 10], 2);
    std::uint64_t offset = little(&tail[end + 16], 4);
    std::uint64_t endAt = size - tailSize + end;
    if (count == 0xffff || offset == 0xffffffff) {
        // Zip64: the locator just before the end record points at the real one.
        unsigned char locator[20], record[56];
        if (endAt < sizeof locator || !readAt(zip, locator, sizeof locator, endAt - sizeof locator) ||
            little(locator, 4) != END64_LOCATOR_SIGNATURE)
            return "damaged zip64 directory";
        std::uint64_t recordAt = little(locator + 8, 8);
        if (recordAt > size - sizeof record || !readAt(zip, record, sizeof record, recordAt) ||
            little(record, 4) != END64_SIGNATURE)
            return "damaged zip64 directory";
        count = little(record + 32, 8);
        offset = little(record + 48, 8);
    }
    if (count > maxEntries) return "too many entries";
    if (offset > size) return "damaged central directory";

    std::vector<unsigned char> header(CENTRAL_SIZE);
    std::string name;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (offset > size - CENTRAL_SIZE || !readAt(zip, header.data(), CENTRAL_SIZE, offset) ||
            little(header.data(), 4) != CENTRAL_SIGNATURE)
            return "damaged central directory";
        unsigned host = header[5];
        auto nameLength = little(&header[28], 2);
        auto extraLength = little(&header[30], 2);
        auto commentLength = little(&header[32], 2);
        auto type = static_cast<mode_t>(little(&header[38], 4) >> 16) & S_IFMT;
        if (host == UNIX_HOST && type != 0 && type != S_IFREG && type != S_IFDIR && type != S_IFLNK) {
            name.resize(nameLength);
            if (!readAt(zip, name.data(), nameLength, offset + CENTRAL_SIZE)) return "damaged central directory";
            return name + ": neither a file, a folder nor a link";
        }
        std::uint64_t unpacked = little(&header[24], 4);
        if (unpacked == 0xffffffff) {
            std::vector<unsigned char> extra(extraLength);
            if (!readAt(zip, extra.data(), extraLength, offset + CENTRAL_SIZE + nameLength))
                return "damaged central directory";
            const auto wide = zip64Size(extra);
            if (!wide) return "damaged zip64 size";
            unpacked = *wide;
        }
        // Saturates rather than wraps: an absurd sum is refused as too large.
        declared = unpacked > UINT64_MAX - declared ? UINT64_MAX : declared + unpacked;
        offset += CENTRAL_SIZE + nameLength + extraLength + commentLength;
    }
    return {};
}

}  // namespace

ZipDirectory checkZipDirectory(int zip, std::uint64_t maxEntries) {
    ZipDirectory out;
    out.problem = readDirectory(zip, maxEntries, out.declaredBytes);
    return out;
}

}  // namespace orvane
