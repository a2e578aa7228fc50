#pragma once
// Every text the application's own controls show: the primary menu, the
// keyboard shortcuts window and the About window. `name` is the app's name
// (appNameFrom).

#include <string>
#include <string_view>

#include "Url.h"

namespace orvane::shellTexts {

inline constexpr const char* reload = "Reload";
inline constexpr const char* zoomIn = "Zoom In";
inline constexpr const char* zoomOut = "Zoom Out";
inline constexpr const char* actualSize = "Actual Size";
inline constexpr const char* fullScreen = "Full Screen";
inline constexpr const char* keyboardShortcuts = "Keyboard Shortcuts";
inline constexpr const char* mainMenu = "Main Menu";

inline std::string about(std::string_view name) { return "About " + std::string(name); }
inline std::string website(std::string_view name) { return std::string(name) + " Website"; }
inline std::string quit(std::string_view name) { return "Quit " + std::string(name); }
inline constexpr const char* quitPlain = "Quit";
inline constexpr const char* closeWindow = "Close Window";

// The shortcuts window's groups and the entries only it lists.
inline constexpr const char* groupApplication = "Application";
inline constexpr const char* groupView = "View";
inline constexpr const char* groupEditing = "Editing";
inline constexpr const char* zoomInByWheel = "Or Ctrl and scroll up";
inline constexpr const char* zoomOutByWheel = "Or Ctrl and scroll down";
inline constexpr const char* undo = "Undo";
inline constexpr const char* redo = "Redo";
inline constexpr const char* cut = "Cut";
inline constexpr const char* copy = "Copy";
inline constexpr const char* paste = "Paste";
inline constexpr const char* selectAll = "Select All";

// The About window's comments: what the app is for, and the site its page
// comes from (nothing after the line break when the address has no host).
inline std::string aboutCredits(const Url& page) {
    return "Controls the Govee H617C light strip on the orvane over Bluetooth.\n" + page.host.value_or("");
}

}  // namespace orvane::shellTexts
