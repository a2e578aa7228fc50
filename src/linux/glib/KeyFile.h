#pragma once
// The desktop's places for user settings and saved state: key files under
// $XDG_CONFIG_HOME/orvane and $XDG_STATE_HOME/orvane.

#include <filesystem>
#include <optional>
#include <string>

namespace orvane {

std::filesystem::path userConfigDir();  // $XDG_CONFIG_HOME/orvane
std::filesystem::path userStateDir();   // $XDG_STATE_HOME/orvane
std::filesystem::path userCacheDir();   // $XDG_CACHE_HOME/orvane

// The user's settings, group [defaults] of defaults.ini, read once.
class UserDefaults {
public:
    static UserDefaults load(const std::filesystem::path& file = userConfigDir() / "defaults.ini");
    std::optional<std::string> string(const std::string& key) const;
    bool boolean(const std::string& key) const;  // false when absent or not a boolean

private:
    std::optional<std::string> text_;  // the file's contents
};

struct WindowFrame {
    int width = 0;
    int height = 0;
    bool maximized = false;
};

// The frame saved under `name` in window.ini, when there is a usable one.
std::optional<WindowFrame> loadWindowFrame(const std::string& name,
                                           const std::filesystem::path& file = userStateDir() / "window.ini");
// Saves atomically: a crash mid-write never leaves a damaged file.
bool saveWindowFrame(const std::string& name, const WindowFrame& frame,
                     const std::filesystem::path& file = userStateDir() / "window.ini");

}  // namespace orvane
