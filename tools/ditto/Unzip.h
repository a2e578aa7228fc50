#pragma once
// Unpacks a zip archive into a folder and refuses anything that could reach
// outside it: absolute names, "..", links that lead outside the folder, names
// that pass through a link, an entry named twice, hard links, devices, fifos,
// and absurd sizes or entry counts. What it may write is bounded three ways:
// an absolute cap, a ratio to the archive's own size that real releases never
// reach (so a small archive cannot fill the disk), and the free space of the
// file system less a spare margin, checked against the declared sizes before
// anything is written and against the bytes really written as it goes. Every file is created relative to its
// parent folder's descriptor with O_NOFOLLOW | O_EXCL, so no existing entry is
// followed or replaced. On refusal the entries written so far stay inside the
// folder; nothing outside it is touched.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace orvane {

// Free bytes an unprivileged writer has on the file system of the open
// folder `folder` (fstatvfs); nothing when that cannot be found out.
std::optional<std::uint64_t> freeBytesAt(int folder);

struct UnzipLimits {
    std::uint64_t entries = 100'000;
    std::uint64_t totalBytes = 2ull << 30;  // far beyond any bundle of ours
    // Unpacked bytes per archive byte. Deflate shrinks program code about 3
    // to 1 and text rarely past 10 to 1; only made-up content (zeros,
    // repeats) comes near deflate's limit of about 1000 to 1.
    std::uint64_t expansion = 32;
    // Left free on the file system after unpacking, for the app and everything else.
    std::uint64_t spareBytes = 128ull << 20;
    std::function<std::optional<std::uint64_t>(int folder)> freeBytes = freeBytesAt;
};

// Empty on success, else why the archive was refused; `outOfSpace`, when
// given, says whether the reason was the free space.
std::string unzip(const std::string& zip, const std::string& folder, const UnzipLimits& limits = {},
                  bool* outOfSpace = nullptr);

}  // namespace orvane
