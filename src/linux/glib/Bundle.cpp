#include "Bundle.h"

#include <glib.h>
#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace orvane {
namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

std::string takeMalloced(char* text) {
    std::string out = text ? text : "";
    std::free(text);
    return out;
}

// An Info.plist is a few hundred bytes and two levels deep. The updater reads
// the one of a downloaded bundle before its signature is checked, so a
// hostile file must not cost memory or stack.
constexpr std::uintmax_t kMaxPropertyListBytes = 1 << 20;
constexpr int kMaxPropertyListDepth = 32;

nlohmann::json toJson(plist_t node, int depth = 0) {
    if (depth > kMaxPropertyListDepth) return nullptr;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value != 0;
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return value;
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_STRING: {
        // By pointer and length: the copying getter ends the process on a
        // string that holds a NUL byte.
        uint64_t length = 0;
        const char* value = plist_get_string_ptr(node, &length);
        return value ? std::string(value, static_cast<std::size_t>(length)) : std::string();
    }
    case PLIST_ARRAY: {
        auto array = nlohmann::json::array();
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i)
            array.push_back(toJson(plist_array_get_item(node, i), depth + 1));
        return array;
    }
    case PLIST_DICT: {
        auto object = nlohmann::json::object();
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, &key, &value);
            if (!key) break;
            object[takeMalloced(key)] = value ? toJson(value, depth + 1) : nlohmann::json();
        }
        std::free(iter);
        return object;
    }
    default:
        // Dates, data and keys carry nothing this app reads.
        return nullptr;
    }
}

}  // namespace

std::optional<std::string> readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(out).str();
}

nlohmann::json readPropertyList(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > kMaxPropertyListBytes) return nlohmann::json::object();
    const auto bytes = readFile(file);
    if (!bytes || bytes->size() > UINT32_MAX) return nlohmann::json::object();
    plist_t raw = nullptr;
    // The XML form only, the one the build writes: the library's binary
    // reader hands back keys and strings holding a NUL byte, on which its own
    // getters stop the whole process.
    plist_from_xml(bytes->data(), static_cast<uint32_t>(bytes->size()), &raw);
    PlistPtr root(raw);
    if (!raw || plist_get_node_type(raw) != PLIST_DICT) return nlohmann::json::object();
    return toJson(raw);
}

Bundle Bundle::containing(const std::filesystem::path& executable) {
    const auto linuxDir = executable.parent_path();
    const auto contents = linuxDir.parent_path();
    if (linuxDir.filename() != "Linux" || contents.filename() != "Contents") return {};
    return Bundle(contents.parent_path());
}

Bundle Bundle::running() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return containing(executable);
}

nlohmann::json Bundle::info() const {
    if (empty()) return nlohmann::json::object();
    return readPropertyList(root_ / "Contents" / "Info.plist");
}

std::filesystem::path Bundle::resourcePath(std::string_view name, std::string_view extension) const {
    if (empty()) return {};
    return root_ / "Contents" / "Resources" / (std::string(name) + "." + std::string(extension));
}

std::string Bundle::resource(std::string_view name, std::string_view extension) const {
    if (empty()) return {};
    auto text = readFile(resourcePath(name, extension));
    if (!text || !g_utf8_validate(text->data(), static_cast<gssize>(text->size()), nullptr)) return {};
    return std::move(*text);
}

}  // namespace orvane
