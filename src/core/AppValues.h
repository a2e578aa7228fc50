#pragma once
// How the app-wide values are worked out from what the configuration holds.
// Reading the files is the shell's job; these rules are pure so that every
// precedence case is tested without touching the disk.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

#include "Url.h"

namespace orvane {

// The bundle's short version string, or "dev" when it has none.
std::string versionFrom(const nlohmann::json& info);

// Where the page address of a run came from.
enum class PageUrlSource { commandLine, userDefault, bundle, builtIn };

struct PageAddress {
    Url url;
    PageUrlSource source;
    // The configured value that was not a page address, when the built-in
    // address stands in for it.
    std::optional<std::string> rejected = std::nullopt;
};

// A page address is absolute, "http" or "https" (as WebKit writes them, in
// lower case: the site's messages are matched against it) and has a host.
// Anything else ("127.0.0.1:8137", a bare word, "file:") cannot be loaded as
// the page, and counts as malformed.
std::optional<Url> pageAddressIn(std::string_view text);

// The one log line that says a configured address was not used.
std::string rejectedPageAddressLine(const PageAddress& address);

// The command line's address for this run first (the caller has checked it),
// then the user default, then the bundle's "OVPageURL", then the built-in
// address. A user default that is present but malformed falls back to the
// built-in address, not to the bundle's entry.
PageAddress pageAddressFrom(const std::optional<std::string>& commandLine,
                            const std::optional<std::string>& userDefault, const nlohmann::json& info,
                            std::string_view builtIn);

// The same without a command line.
Url pageUrlFrom(const std::optional<std::string>& userDefault, const nlohmann::json& info, std::string_view builtIn);

// {"platform": ..., "version": ...} as compact JSON with slashes escaped.
std::string pageInfoJson(std::string_view platform, std::string_view version);

// Every occurrence of `placeholder` in `text` replaced by `value`.
std::string replaceAll(std::string text, std::string_view placeholder, std::string_view value);

// The application's name for menus and dialogs: "CFBundleName" or "Orvane".
std::string appNameFrom(const nlohmann::json& info);

}  // namespace orvane
