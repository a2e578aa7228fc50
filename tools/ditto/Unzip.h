#pragma once
// Unpacks a zip archive into a folder and refuses anything that could reach
// outside it: absolute names, "..", links that lead outside the folder, names
// that pass through a link, an entry named twice, hard links, devices, fifos,
// and absurd sizes or entry counts. Every file is created relative to its
// parent folder's descriptor with O_NOFOLLOW | O_EXCL, so no existing entry is
// followed or replaced. On refusal the entries written so far stay inside the
// folder; nothing outside it is touched.

#include <cstdint>
#include <string>

namespace orvane {

struct UnzipLimits {
    std::uint64_t entries = 100'000;
    std::uint64_t totalBytes = 2ull << 30;  // far beyond any bundle of ours
};

// Empty on success, else why the archive was refused.
std::string unzip(const std::string& zip, const std::string& folder, const UnzipLimits& limits = {});

}  // namespace orvane
