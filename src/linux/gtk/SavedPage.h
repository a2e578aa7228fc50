#pragma once
// The last good copy of the page document, kept by the app itself so that
// the page still shows (its origin and bridge working) while its server
// cannot be reached. WebKit has no cache-only load to ask for instead.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Url.h"

namespace orvane {

class SavedPage {
public:
    // One file per page address in `directory`, so that a copy never shows
    // under another address. An empty directory keeps nothing.
    SavedPage(const std::filesystem::path& directory, const Url& page);

    std::optional<std::string> read() const;
    // Replaces the copy whole or not at all: a crash mid-way leaves the old one.
    void write(std::string_view document) const;
    const std::filesystem::path& file() const { return file_; }

    // Removes the copies beside this one that no load has written for
    // `unused`: a page address that changes (the run command's port) would
    // otherwise leave one copy per address for good. This page's own copy
    // stays however old: it may be all there is to show.
    void forgetOthersUnused(std::chrono::hours unused = std::chrono::hours(24 * 30)) const;

private:
    std::filesystem::path file_;
};

}  // namespace orvane
