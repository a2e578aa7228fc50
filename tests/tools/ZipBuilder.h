#pragma once
// Writes zip archives for the tests, hostile ones included, with libarchive.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orvane::testing {

struct ZipItem {
    enum class Kind { File, Executable, Folder, Link, Fifo, CharDevice };
    Kind kind = Kind::File;
    std::string name;
    std::string data;  // file content or link target
};

void writeZip(const std::filesystem::path& zip, const std::vector<ZipItem>& items);

// Rewrites the declared uncompressed size of `name` in the central directory
// and in its local header.
void patchDeclaredSize(const std::filesystem::path& zip, const std::string& name, std::uint32_t size);

}  // namespace orvane::testing
