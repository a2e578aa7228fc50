#include "ToolTesting.h"

#include "Spawn.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace orvane::testing {

TempDir::TempDir() {
    auto pattern = (std::filesystem::temp_directory_path() / "orvane-tools-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

int run(const std::vector<std::string>& argv) { return spawnAndWait(argv); }

std::string readText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeText(const std::filesystem::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::map<std::string, std::string> snapshot(const std::filesystem::path& root) {
    std::map<std::string, std::string> entries;
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        struct stat info {};
        ::lstat(it->path().c_str(), &info);
        std::string description = std::to_string(info.st_mode) + " ";
        if (S_ISLNK(info.st_mode)) description += std::filesystem::read_symlink(it->path()).string();
        else if (S_ISREG(info.st_mode)) description += readText(it->path());
        entries[it->path().lexically_relative(root).string()] = description;
    }
    return entries;
}

}  // namespace orvane::testing
