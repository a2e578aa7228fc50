#pragma once
// A first look at a zip's central directory, before libarchive reads it:
// libarchive turns entries of other types (fifos, devices, sockets) into plain
// files, so their Unix type is checked here, as is the number of entries; and
// the sizes the entries declare are added up, so that an archive too large
// to unpack is refused before anything is written.

#include <cstdint>
#include <string>

namespace orvane {

struct ZipDirectory {
    std::string problem;              // empty when the directory is acceptable
    std::uint64_t declaredBytes = 0;  // the entries' declared unpacked sizes, added up
};

// The problem is empty when the directory holds at most `maxEntries` entries,
// each of them a file, folder or link (or of no declared Unix type); else it
// says why not. Declared sizes are only a first estimate: the extraction
// counts what it really writes.
ZipDirectory checkZipDirectory(int zip, std::uint64_t maxEntries);

}  // namespace orvane
