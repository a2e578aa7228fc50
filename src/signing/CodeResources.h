#pragma once
// The sealed list of a bundle's contents, stored in
// Contents/_CodeSignature/CodeResources and signed with minisign beside it
// (CodeResources.minisig). Text, UTF-8, lines ending in "\n", no other line
// ending:
//
//   orvane-code-resources 1
//   dir<TAB>PATH
//   file<TAB>PATH<TAB>SIZE<TAB>SHA256
//   exec<TAB>PATH<TAB>SIZE<TAB>SHA256
//   link<TAB>PATH<TAB>TARGET
//
// One line per entry of the bundle (the bundle folder itself, CodeResources
// and CodeResources.minisig excepted), sorted by the bytes of PATH, each path
// once. PATH is relative to the bundle folder with "/" between components;
// "exec" is a regular file whose owner may execute it; SIZE is decimal bytes
// without leading zeros; SHA256 is 64 lower-case hex digits; TARGET is the
// link's text exactly as stored. In PATH and TARGET the bytes 0x00-0x20, "%"
// and 0x7F are written as "%" and two upper-case hex digits, and no other
// byte is. Every path's parent folder is itself listed. The reader accepts
// only this canonical form, so one list has exactly one text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

struct CodeResource {
    enum class Kind { Directory, File, Executable, Link };

    Kind kind = Kind::File;
    std::string path;
    std::uint64_t size = 0;  // files only
    std::string sha256;      // files only, lower-case hex
    std::string target;      // links only

    bool operator==(const CodeResource&) const = default;
};

inline constexpr std::string_view CODE_SIGNATURE_DIR = "Contents/_CodeSignature";
inline constexpr std::string_view CODE_RESOURCES_PATH = "Contents/_CodeSignature/CodeResources";
inline constexpr std::string_view CODE_SIGNATURE_PATH = "Contents/_CodeSignature/CodeResources.minisig";
// Bounds that keep a hostile list from exhausting memory.
inline constexpr std::size_t CODE_RESOURCES_MAX_BYTES = std::size_t{64} * 1024 * 1024;
inline constexpr std::size_t CODE_RESOURCES_MAX_ENTRIES = 200'000;

// `entries` sorted by path (as `scanBundle` returns them).
std::string formatCodeResources(const std::vector<CodeResource>& entries);

// The entries of a CodeResources text, or nothing with the reason in `problem`.
std::optional<std::vector<CodeResource>> parseCodeResources(std::string_view text, std::string& problem);

const char* kindName(CodeResource::Kind kind);

}  // namespace orvane
