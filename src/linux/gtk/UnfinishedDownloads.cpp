#include "UnfinishedDownloads.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <sstream>

#include "Bundle.h"

namespace orvane {
namespace {

constexpr std::string_view kSuffix = ".part";
constexpr std::size_t kTagLength = 6;
// WebKit writes a download beside its destination under this suffix and
// renames it only when the transfer ends.
constexpr const char* kEngineSuffix = ".wkdownload";

}  // namespace

std::string UnfinishedDownloads::partName(const std::string& name, const std::string& tag) {
    return "." + name + "." + tag + std::string(kSuffix);
}

bool UnfinishedDownloads::isPartName(const std::string& fileName) {
    // "." + at least one character + "." + tag + ".part"
    if (fileName.size() < 1 + 1 + 1 + kTagLength + kSuffix.size()) return false;
    if (fileName.front() != '.' || !fileName.ends_with(kSuffix)) return false;
    const std::size_t tagAt = fileName.size() - kSuffix.size() - kTagLength;
    if (fileName[tagAt - 1] != '.') return false;
    return std::all_of(fileName.begin() + static_cast<std::ptrdiff_t>(tagAt),
                       fileName.begin() + static_cast<std::ptrdiff_t>(tagAt + kTagLength),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

void UnfinishedDownloads::removeLeftovers() {
    if (list_.empty()) return;
    const auto listed = readFile(list_);
    if (!listed) return;
    std::istringstream lines(*listed);
    for (std::string part; std::getline(lines, part);) {
        const std::filesystem::path path(part);
        if (!path.is_absolute() || !isPartName(path.filename().string())) continue;
        g_remove(part.c_str());
        g_remove((part + kEngineSuffix).c_str());
    }
    parts_.clear();
    save();
}

void UnfinishedDownloads::add(const std::string& part) {
    // One path per line: a folder with a line break in its name goes unlisted.
    if (part.find('\n') != std::string::npos) return;
    parts_.push_back(part);
    save();
}

void UnfinishedDownloads::forget(const std::string& part) {
    const auto before = parts_.size();
    std::erase(parts_, part);
    if (parts_.size() != before) save();
}

void UnfinishedDownloads::save() const {
    if (list_.empty()) return;
    if (parts_.empty()) {
        g_remove(list_.c_str());
        return;
    }
    if (g_mkdir_with_parents(list_.parent_path().c_str(), 0700) != 0) return;
    std::string text;
    for (const auto& part : parts_) text += part + "\n";
    // At worst a leftover stays: the download itself goes on.
    g_file_set_contents_full(list_.c_str(), text.data(), static_cast<gssize>(text.size()),
                             G_FILE_SET_CONTENTS_CONSISTENT, 0600, nullptr);
}

}  // namespace orvane
