#include "AppCommands.h"

#include <array>
#include <functional>

#include "AboutWindow.h"
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
// The editing keys are not among them: the web view handles them itself,
// in the page and in its text fields, and a key set here would be taken
// before the view could see it.
constexpr std::array<AppCommandKeys, 9> kCommands = {{
    {"reload", kReload},
    {"zoom-in", kZoomIn},
    {"zoom-out", kZoomOut},
    {"zoom-reset", kZoomReset},
    {"fullscreen", kFullScreen},
    {"shortcuts", kShortcuts},
    {"about", {}},
    {"website", {}},
    {"quit", kQuit},
}};

void toggleFullScreen(GtkWindow* window) {
    if (gtk_window_is_fullscreen(window)) gtk_window_unfullscreen(window);
    else gtk_window_fullscreen(window);
}

void showAboutOf(MainWindow& main) {
    const MainWindowSettings& settings = main.settings();
    showAbout(main.window(),
              {settings.appName, settings.version, settings.pageUrl, settings.bundle.resourcePath("orvane", "svg")});
}

using Command = std::function<void(MainWindow&)>;

Command commandFor(std::string_view action) {
    if (action == "reload") return [](MainWindow& main) { main.reload(); };
    if (action == "zoom-in") return [](MainWindow& main) { main.zoom(+1); };
    if (action == "zoom-out") return [](MainWindow& main) { main.zoom(-1); };
    if (action == "zoom-reset") return [](MainWindow& main) { main.zoom(0); };
    if (action == "fullscreen") return [](MainWindow& main) { toggleFullScreen(main.window()); };
    if (action == "shortcuts") return [](MainWindow& main) { showShortcuts(main.window()); };
    if (action == "about") return showAboutOf;
    if (action == "website") return [](MainWindow& main) { main.openExternally(main.settings().pageUrl); };
    // Through the window's close: its frame is saved on the way out.
    return [](MainWindow& main) { main.quit(); };
}

// What an action's handler holds: the window weakly, and what to do with it.
struct Handler {
    std::weak_ptr<MainWindow> window;
    Command command;
    GApplication* app;  // outlives its actions
};

}  // namespace

std::span<const AppCommandKeys> appCommandKeys() { return kCommands; }

void installAppCommands(GtkApplication* app, const std::shared_ptr<MainWindow>& window) {
    for (const AppCommandKeys& entry : kCommands) {
        GSimpleAction* action = g_simple_action_new(entry.action, nullptr);
        g_signal_connect_data(
            action, "activate", G_CALLBACK(+[](GSimpleAction* activated, GVariant*, Handler* handler) {
                if (auto main = handler->window.lock()) handler->command(*main);
                // Without its window the app has nothing to save: quit ends it at once.
                else if (g_strcmp0(g_action_get_name(G_ACTION(activated)), "quit") == 0)
                    g_application_quit(handler->app);
            }),
            new Handler{window, commandFor(entry.action), G_APPLICATION(app)},
            [](gpointer handler, GClosure*) { delete static_cast<Handler*>(handler); }, GConnectFlags(0));
        g_action_map_add_action(G_ACTION_MAP(app), G_ACTION(action));
        g_object_unref(action);

        std::vector<const char*> keys(entry.keys.begin(), entry.keys.end());
        keys.push_back(nullptr);
        const std::string name = std::string("app.") + entry.action;
        gtk_application_set_accels_for_action(app, name.c_str(), keys.data());
    }
}

}  // namespace orvane
