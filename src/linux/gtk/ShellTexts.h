#pragma once
// Every text the application's own controls show: the primary menu, the
// keyboard shortcuts window and the About window. `name` is the app's name
// (appNameFrom).

#include <string>
#include <string_view>

#include "Translated.h"

#include "Url.h"

namespace orvane::shellTexts {

inline constexpr Text reload = Text("Reload");
inline constexpr Text zoomIn = Text("Zoom In");
inline constexpr Text zoomOut = Text("Zoom Out");
inline constexpr Text actualSize = Text("Actual Size");
inline constexpr Text fullScreen = Text("Full Screen");
inline constexpr Text keyboardShortcuts = Text("Keyboard Shortcuts");
inline constexpr Text mainMenu = Text("Main Menu");

inline std::string about(std::string_view name) { return fill(tr("About {name}"), {{"name", name}}); }
inline std::string website(std::string_view name) { return fill(tr("{name} Website"), {{"name", name}}); }
inline std::string quit(std::string_view name) { return fill(tr("Quit {name}"), {{"name", name}}); }
inline constexpr Text quitPlain = Text("Quit");
inline constexpr Text closeWindow = Text("Close Window");

// The shortcuts window's groups and the entries only it lists.
inline constexpr Text groupApplication = Text("Application");
inline constexpr Text groupView = Text("View");
inline constexpr Text groupEditing = Text("Editing");
inline constexpr Text moveFocus = Text("Move Between the Page and the Title Bar");
inline constexpr Text zoomInByWheel = Text("Or Ctrl and scroll up");
inline constexpr Text zoomOutByWheel = Text("Or Ctrl and scroll down");
inline constexpr Text undo = Text("Undo");
inline constexpr Text redo = Text("Redo");
inline constexpr Text cut = Text("Cut");
inline constexpr Text copy = Text("Copy");
inline constexpr Text paste = Text("Paste");
inline constexpr Text selectAll = Text("Select All");

// The About window's comments: what the app is for, and the site its page
// comes from when the address names one.
inline std::string aboutCredits(const Url& page) {
    if (!page.host) return tr("Controls the Govee H617C light strip over Bluetooth.");
    return fill(tr("Controls the Govee H617C light strip over Bluetooth, from its page on {site}."),
                {{"site", *page.host}});
}
// Notices at the window's foot.
inline std::string savedCopyShown(std::string_view when) {
    return fill(tr("The page can’t be reached: this is its copy saved {when}."), {{"when", when}});
}
inline constexpr Text pageReloaded = Text("The page stopped unexpectedly and was loaded again.");
inline std::string downloadFinished(std::string_view name) { return fill(tr("“{name}” downloaded"), {{"name", name}}); }
inline constexpr Text openDownload = Text("Open");
inline constexpr Text showInFolder = Text("Show in _Folder");

inline std::string aboutDevelopers(std::string_view name) {
    return fill(tr("The {name} developers"), {{"name", name}});
}

}  // namespace orvane::shellTexts
