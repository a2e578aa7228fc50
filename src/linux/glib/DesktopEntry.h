#pragma once
// Orvane's entry in the desktop's application list. The bundle carries a
// template; the entry written from it starts a small launcher that names the
// bundle where it lies now, and both are written again when the bundle has
// moved, so that the bundle stays relocatable. The launcher is there for an
// update cut off between its two moves (where the file system cannot
// exchange two folders at once), which leaves the bundle's place empty: it
// then starts the bundle the update kept beside the place, which puts the
// right one back and goes on from there. The entry is named after the
// application id, which is also the window's class, so the desktop matches
// the window to the entry.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Bundle.h"

namespace orvane {

// The template with Exec and TryExec naming `program`, escaped as desktop
// entries require; nothing when the path cannot be written in one (not
// UTF-8, or a control character such as a line break).
std::optional<std::string> desktopEntryText(std::string_view templateText, const std::filesystem::path& program);

// The launcher's shell script for `bundle`; nothing when its path cannot
// be written in a desktop entry.
std::optional<std::string> launcherText(const std::filesystem::path& bundle);

// $XDG_DATA_HOME/orvane/launch-<applicationId>
std::filesystem::path desktopLauncherPath(const std::string& applicationId);

// $XDG_DATA_HOME/applications/<applicationId>.desktop
std::filesystem::path desktopEntryPath(const std::string& applicationId);

// $XDG_DATA_HOME/icons/hicolor/scalable/apps/<applicationId>.svg: the entry
// and the window name their icon by the application id, as the theme finds it.
std::filesystem::path desktopIconPath(const std::string& applicationId);

// Writes the bundle's icon into the user's icon theme, the launcher and the
// entry for `bundle` (each atomically). Nothing on success, else why not.
std::optional<std::string> installDesktopEntry(const Bundle& bundle, const std::string& applicationId);

// When the user has installed the entry and it or its launcher points at
// another place (the bundle moved) or its icon is gone, writes them again.
// Never creates one. True when it wrote.
bool refreshDesktopEntry(const Bundle& bundle, const std::string& applicationId);

}  // namespace orvane
