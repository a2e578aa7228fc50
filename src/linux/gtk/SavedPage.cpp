#include "SavedPage.h"

#include <glib.h>

#include "Bundle.h"
#include "GRef.h"

namespace orvane {

SavedPage::SavedPage(const std::filesystem::path& directory, const Url& page) {
    if (directory.empty()) return;
    const GCharPtr digest(
        g_compute_checksum_for_string(G_CHECKSUM_SHA256, page.text.c_str(), static_cast<gssize>(page.text.size())));
    file_ = directory / ("page-" + std::string(digest.get(), 16) + ".html");
}

void SavedPage::forgetOthersUnused(std::chrono::hours unused) const {
    namespace fs = std::filesystem;
    if (file_.empty()) return;
    std::error_code error;
    const auto before = fs::file_time_type::clock::now() - unused;
    for (const auto& entry : fs::directory_iterator(file_.parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (entry.path() == file_) continue;
        // Only our own copies: "page-" and 16 hex digits.
        if (name.size() != 26 || !name.starts_with("page-") || !name.ends_with(".html")) continue;
        if (!entry.is_regular_file(error) || entry.last_write_time(error) >= before || error) continue;
        fs::remove(entry.path(), error);
    }
}

std::optional<std::string> SavedPage::read() const {
    if (file_.empty()) return std::nullopt;
    return readFile(file_);
}

void SavedPage::write(std::string_view document) const {
    if (file_.empty()) return;
    if (g_mkdir_with_parents(file_.parent_path().c_str(), 0700) != 0) return;
    // A copy that cannot be written only means an older (or no) copy later.
    g_file_set_contents_full(file_.c_str(), document.data(), static_cast<gssize>(document.size()),
                             G_FILE_SET_CONTENTS_CONSISTENT, 0600, nullptr);
}

}  // namespace orvane
