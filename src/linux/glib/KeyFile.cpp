#include "KeyFile.h"

#include <glib.h>

#include <cstdlib>
#include <memory>

#include "Bundle.h"

namespace orvane {
namespace {

struct KeyFileUnref {
    void operator()(GKeyFile* file) const { g_key_file_unref(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileUnref>;

std::filesystem::path xdgDir(const char* variable, const char* fallbackUnderHome) {
    // Read every time, not cached like GLib's, so that a test can point it elsewhere.
    const char* set = std::getenv(variable);
    if (set && *set == '/') return std::filesystem::path(set) / "orvane";
    return std::filesystem::path(g_get_home_dir()) / fallbackUnderHome / "orvane";
}

KeyFilePtr parse(const std::string& text) {
    KeyFilePtr file(g_key_file_new());
    if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE, nullptr)) return nullptr;
    return file;
}

KeyFilePtr loadFile(const std::filesystem::path& path) {
    auto text = readFile(path);
    return text ? parse(*text) : nullptr;
}

constexpr const char* kDefaultsGroup = "defaults";

}  // namespace

std::filesystem::path userConfigDir() { return xdgDir("XDG_CONFIG_HOME", ".config"); }
std::filesystem::path userStateDir() { return xdgDir("XDG_STATE_HOME", ".local/state"); }
std::filesystem::path userCacheDir() { return xdgDir("XDG_CACHE_HOME", ".cache"); }

UserDefaults UserDefaults::load(const std::filesystem::path& file) {
    UserDefaults defaults;
    defaults.text_ = readFile(file);
    return defaults;
}

std::optional<std::string> UserDefaults::string(const std::string& key) const {
    if (!text_) return std::nullopt;
    auto file = parse(*text_);
    if (!file) return std::nullopt;
    std::unique_ptr<char, decltype(&g_free)> value(
        g_key_file_get_string(file.get(), kDefaultsGroup, key.c_str(), nullptr), g_free);
    if (!value) return std::nullopt;
    return std::string(value.get());
}

bool UserDefaults::boolean(const std::string& key) const {
    if (!text_) return false;
    auto file = parse(*text_);
    if (!file) return false;
    GError* error = nullptr;
    const bool value = g_key_file_get_boolean(file.get(), kDefaultsGroup, key.c_str(), &error);
    if (error) {
        g_error_free(error);
        return false;
    }
    return value;
}

std::optional<WindowFrame> loadWindowFrame(const std::string& name, const std::filesystem::path& file) {
    auto keys = loadFile(file);
    if (!keys) return std::nullopt;
    GError* error = nullptr;
    WindowFrame frame;
    frame.width = g_key_file_get_integer(keys.get(), name.c_str(), "width", &error);
    if (!error) frame.height = g_key_file_get_integer(keys.get(), name.c_str(), "height", &error);
    if (error) {
        g_error_free(error);
        return std::nullopt;
    }
    frame.maximized = g_key_file_get_boolean(keys.get(), name.c_str(), "maximized", nullptr);
    // Beyond any screen, the file is damaged: the window opens at its default.
    constexpr int kLargest = 16384;
    if (frame.width <= 0 || frame.height <= 0 || frame.width > kLargest || frame.height > kLargest) return std::nullopt;
    return frame;
}

bool saveWindowFrame(const std::string& name, const WindowFrame& frame, const std::filesystem::path& file) {
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    // Keep whatever else the file holds; start afresh only if it is unreadable.
    auto keys = loadFile(file);
    if (!keys) keys.reset(g_key_file_new());
    g_key_file_set_integer(keys.get(), name.c_str(), "width", frame.width);
    g_key_file_set_integer(keys.get(), name.c_str(), "height", frame.height);
    g_key_file_set_boolean(keys.get(), name.c_str(), "maximized", frame.maximized);
    GError* error = nullptr;
    const bool saved = g_key_file_save_to_file(keys.get(), file.c_str(), &error);
    if (error) g_error_free(error);
    return saved;
}

}  // namespace orvane
