#pragma once
// The update manifest, "downloads/app.json" next to the page:
//   {"linux": {"version": "1.2.0", "file": "Orvane-1.2.0.zip", "sha256": "...", "size": 123}}
// Only the member of this platform is read (a macOS build reads "mac").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

struct ManifestOffer {
    std::string version;
    std::string file;       // not yet checked: a version that is not newer wins over a bad name
    std::string sha256;     // lower-cased as read; its form is not checked
    std::int64_t size = 0;  // a whole JSON number, else 0
};

// Nothing when the text is not a JSON object whose platform member is an
// object holding the strings "version", "file" and "sha256".
std::optional<ManifestOffer> readManifest(std::string_view body, std::string_view platform);

// Whether an archive name is one or more of A-Z a-z 0-9 . _ - and nothing else.
bool validArchiveName(std::string_view file);

}  // namespace orvane
