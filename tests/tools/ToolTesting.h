#pragma once
// Helpers for tests that run the bundle's helper tools as processes on real
// files in a private temporary folder.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace orvane::testing {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// The program's exit status, or -1 when it could not start or was killed.
int run(const std::vector<std::string>& argv);

std::string readText(const std::filesystem::path& file);
void writeText(const std::filesystem::path& file, const std::string& text);

// Every entry under `root` (links not followed) with its type, mode bits and
// content or target, so that two snapshots differ when anything was touched.
std::map<std::string, std::string> snapshot(const std::filesystem::path& root);

}  // namespace orvane::testing
