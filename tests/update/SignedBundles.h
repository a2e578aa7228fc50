#pragma once
// Real bundles for update tests: made in a folder, signed with the build's
// development key by the build's codesign, and packed as zip archives.

#include <filesystem>
#include <string>
#include <vector>

#include "ZipBuilder.h"

namespace orvane::testing {

// The Info.plist of a bundle with this identifier and short version.
std::string infoPlist(const std::string& identifier, const std::string& version);

// A small bundle: Info.plist, Contents/Linux/orvane (a real program that
// runs the given script, Contents/Resources/run.sh, with $1 the path it was
// started as), a resource and a link inside the bundle.
void makeBundle(const std::filesystem::path& bundle, const std::string& identifier, const std::string& version,
                const std::string& executable = "#!/bin/sh\nexit 0\n");

// Signs with `secretKey` (the key the build's codesign trusts when empty).
void signBundle(const std::filesystem::path& bundle, const std::string& secretKey = "");

// The folder's entries as zip items named `prefix` + their relative path.
std::vector<ZipItem> zipItems(const std::filesystem::path& folder, const std::string& prefix);

// The bytes of a zip holding `items`.
std::string zipBytes(const std::vector<ZipItem>& items);

// A fresh passwordless key pair in `folder` that codesign does not trust; the secret key.
std::filesystem::path otherKey(const std::filesystem::path& folder);

}  // namespace orvane::testing
