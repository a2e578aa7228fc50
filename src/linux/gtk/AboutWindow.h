#pragma once
// The About window: the app's name, version and icon, and what it is for.

#include <adwaita.h>
#include <gtk/gtk.h>

#include <filesystem>
#include <string>

#include "Url.h"

namespace orvane {

struct AboutContent {
    std::string name;
    std::string version;
    Url pageUrl;                 // its site is named in the comments and is the website
    std::filesystem::path icon;  // the bundle's icon; none shown when missing
};

// Shows a new About window, modal over `parent`; it goes away when closed.
GtkWindow* showAbout(GtkWindow* parent, const AboutContent& content);

}  // namespace orvane
