#pragma once
// The relocatable application bundle the running program came from:
//   <root>/Contents/Info.plist, Contents/Linux/orvane, Contents/Resources/...
// Run from anywhere else, the program has no bundle and no bundle information.

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

class Bundle {
public:
    Bundle() = default;
    explicit Bundle(std::filesystem::path root) : root_(std::move(root)) {}

    // The bundle around this process's executable, or an empty one.
    static Bundle running();
    // The bundle an executable at `executable` would belong to, or an empty one.
    static Bundle containing(const std::filesystem::path& executable);

    bool empty() const { return root_.empty(); }
    const std::filesystem::path& root() const { return root_; }

    // Info.plist as JSON; an empty object when missing or unreadable.
    nlohmann::json info() const;
    std::filesystem::path resourcePath(std::string_view name, std::string_view extension) const;
    // The UTF-8 text of a resource, or "" when missing, unreadable or not UTF-8.
    std::string resource(std::string_view name, std::string_view extension) const;

private:
    std::filesystem::path root_;
};

// An XML property list file as JSON (dates and data become null); an empty
// object when the file is missing, unreadable, in another form or not a
// dictionary.
nlohmann::json readPropertyList(const std::filesystem::path& file);

// The whole file, or nothing when it cannot be read.
std::optional<std::string> readFile(const std::filesystem::path& file);

}  // namespace orvane
