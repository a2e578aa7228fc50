#pragma once
// Reads a bundle folder into the entries that CodeResources lists, without
// following any link: every folder and file is opened relative to its parent's
// descriptor with O_NOFOLLOW, so the tree read is the tree that is there.

#include "CodeResources.h"

#include <stdexcept>
#include <vector>

namespace orvane {

struct ScanError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Every entry under the folder open at `root` (CodeResources and its signature
// excepted), sorted by path. Throws ScanError on what a bundle may not hold
// (fifos, sockets, devices, set-id bits), on read errors, and beyond
// CODE_RESOURCES_MAX_ENTRIES entries.
std::vector<CodeResource> scanBundle(int root);

}  // namespace orvane
