#pragma once
// A first look at a zip's central directory, before libarchive reads it:
// libarchive turns entries of other types (fifos, devices, sockets) into plain
// files, so their Unix type is checked here, as is the number of entries.

#include <cstdint>
#include <string>

namespace orvane {

// Empty when the directory holds at most `maxEntries` entries, each of them a
// file, folder or link (or of no declared Unix type); else why not.
std::string checkZipDirectory(int zip, std::uint64_t maxEntries);

}  // namespace orvane
