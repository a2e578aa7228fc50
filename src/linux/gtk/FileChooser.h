#pragma once
// How the window asks the user for files: to upload to the page, or where to
// save a download. The app asks through the desktop's chooser; a test answers
// in its place.

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace orvane {

struct FileQuestion {
    enum class Kind { openOne, openMany, save };
    Kind kind = Kind::openOne;
    // Saving: the name the chooser starts with.
    std::string suggestedName;
    // Opening: the page's accepted types, when it named any (borrowed).
    GtkFileFilter* filter = nullptr;
};

// The chosen paths, or none when the user cancelled. Called once.
using FileAnswer = std::function<void(std::vector<std::string>)>;
using FileChooser = std::function<void(GtkWindow* parent, const FileQuestion&, FileAnswer)>;

// The desktop's chooser (GtkFileChooserNative), modal on `parent`. Folders
// are never chosen; a save may create them.
void askDesktop(GtkWindow* parent, const FileQuestion& question, FileAnswer answer);

}  // namespace orvane
