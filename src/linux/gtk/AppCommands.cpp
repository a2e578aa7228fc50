#include "AppCommands.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "AboutWindow.h"
#include "GRef.h"
#include "ShortcutsWindow.h"

namespace orvane {
namespace {

constexpr std::array<const char*, 2> kReload = {"<Control>r", "F5"};
// Ctrl+Equal is Ctrl+Plus without Shift on most layouts.
constexpr std::array<const char*, 3> kZoomIn = {"<Control>plus", "<Control>equal", "<Control>KP_Add"};
constexpr std::array<const char*, 2> kZoomOut = {"<Control>minus", "<Control>KP_Subtract"};
constexpr std::array<const char*, 2> kZoomReset = {"<Control>0", "<Control>KP_0"};
constexpr std::array<const char*, 1> kFullScreen = {"F11"};
constexpr std::array<const char*, 1> kShortcuts = {"<Control>question"};
constexpr std::array<const char*, 1> kQuit = {"<Control>q"};
constexpr std::array<const char*, 1> kClose = {"<Control>w"};

void toggleFullScreen(MainWindow& main) {
    if (gtk_window_is_fullscreen(main.window())) gtk_window_unfullscreen(main.window());
    else gtk_window_fullscreen(main.window());
}

void showAboutOf(MainWindow& main) {
    const MainWindowSettings& settings = main.settings();
    showAbout(main.window(),
              {settings.appName, settings.version, settings.pageUrl, settings.bundle.resourcePath("orvane", "svg")});
}

// The editing keys are not among them: the web view handles them itself,
// in the page and in its text fields, and a key set here would be taken
// before the view could see it (undo and redo: EditingKeys).
constexpr std::array<AppCommand, 11> kCommands = {{
    {"reload", kReload, [](MainWindow& main) { main.reload(); }},
    {"zoom-in", kZoomIn, [](MainWindow& main) { main.zoom(+1); }},
    {"zoom-out", kZoomOut, [](MainWindow& main) { main.zoom(-1); }},
    {"zoom-reset", kZoomReset, [](MainWindow& main) { main.zoom(0); }},
    {"fullscreen", kFullScreen, toggleFullScreen},
    {"shortcuts", kShortcuts, [](MainWindow& main) { showShortcuts(main.window()); }},
    {"about", {}, showAboutOf},
    {"website", {}, [](MainWindow& main) { main.openExternally(main.settings().pageUrl); }},
    // Through the window's close: its frame is saved on the way out, and
    // a page that asks to be warned is asked.
    {"quit", kQuit, [](MainWindow& main) { main.close(); }},
    // The one window: closing it ends the app, as Quit does.
    {"close", kClose, [](MainWindow& main) { main.close(); }},
    // A signal's: the page is not asked, the run ends.
    {"quit-now", {}, [](MainWindow& main) { main.quit(); }},
}};

// What an action's handler holds: the window weakly, and what to do with it.
struct Handler {
    std::weak_ptr<MainWindow> window;
    const AppCommand& command;
    GApplication* app;  // outlives its actions
};

}  // namespace

std::span<const AppCommand> appCommands() { return kCommands; }

void installAppCommands(GtkApplication* app, const std::shared_ptr<MainWindow>& window) {
    for (const AppCommand& entry : kCommands) {
        GSimpleAction* action = g_simple_action_new(entry.action, nullptr);
        connectForLife(action, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, Handler* handler) {
                           if (auto main = handler->window.lock()) handler->command.run(*main);
                           // Without its window the app has nothing to save: quit ends it at once.
                           else if (std::string_view(handler->command.action).starts_with("quit"))
                               g_application_quit(handler->app);
                       }),
                       Handler{window, entry, G_APPLICATION(app)});
        g_action_map_add_action(G_ACTION_MAP(app), G_ACTION(action));
        g_object_unref(action);

        std::vector<const char*> keys(entry.keys.begin(), entry.keys.end());
        keys.push_back(nullptr);
        const std::string name = std::string("app.") + entry.action;
        gtk_application_set_accels_for_action(app, name.c_str(), keys.data());
    }
}

}  // namespace orvane
