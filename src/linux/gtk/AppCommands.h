#pragma once
// The application's commands as actions on the GtkApplication ("app.reload",
// ...), with their keys. The menu, the keys and the shortcuts window all go
// through these actions, so each command works whatever has the focus.

#include <gtk/gtk.h>

#include <memory>
#include <span>

#include "MainWindow.h"

namespace orvane {

struct AppCommand {
    const char* action;  // the action's name on the application
    // Its accelerators, in gtk_accelerator_parse's notation; the first is the
    // one menus show.
    std::span<const char* const> keys;
    void (*run)(MainWindow& window);  // what it does
};

// Every command, those without keys too.
std::span<const AppCommand> appCommands();

// Adds the commands to `app` and sets their keys. They act on `window` while
// it exists: reload, zoom, full screen, the shortcuts and About windows, the
// website in the desktop's browser, and quit (through the window's close, so
// that its frame is saved and an install under way can hold the quit).
void installAppCommands(GtkApplication* app, const std::shared_ptr<MainWindow>& window);

}  // namespace orvane
