#include "ShortcutsWindow.h"

#include <string>
#include <vector>

#include "AppCommands.h"
#include "GRef.h"
#include "ShellTexts.h"

namespace orvane {
namespace {

struct Entry {
    const char* title;
    std::string keys;  // space-separated accelerators
    const char* subtitle = nullptr;
};

struct Group {
    const char* title;
    std::vector<Entry> entries;
};

// The keys the commands are set to, so that the window never lists others;
// the keypad's, which look the same as the main keys' here, are left out.
std::string keysOf(std::string_view action) {
    std::string keys;
    for (const AppCommand& command : appCommands()) {
        if (action != command.action) continue;
        for (const std::string_view key : command.keys) {
            if (key.find("KP_") != std::string_view::npos) continue;
            // Appended in two steps: GCC 12 at -O3 takes `" " + std::string(key)` for an overlapping copy.
            if (!keys.empty()) keys += ' ';
            keys += key;
        }
    }
    return keys;
}

std::string escaped(const std::string& text) {
    const GCharPtr markup(g_markup_escape_text(text.c_str(), -1));
    return markup.get();
}

std::string property(const char* name, const std::string& value) {
    return "<property name=\"" + std::string(name) + "\">" + escaped(value) + "</property>";
}

std::string interfaceText() {
    namespace t = shellTexts;
    const std::vector<Group> groups = {
        {t::groupApplication,
         {{t::mainMenu, "F10"},
          {t::keyboardShortcuts, keysOf("shortcuts")},
          {t::fullScreen, keysOf("fullscreen")},
          {t::moveFocus, "Tab <Shift>Tab"},
          {t::closeWindow, keysOf("close")},
          {t::quitPlain, keysOf("quit")}}},
        {t::groupView,
         {{t::reload, keysOf("reload")},
          {t::zoomIn, keysOf("zoom-in"), t::zoomInByWheel},
          {t::zoomOut, keysOf("zoom-out"), t::zoomOutByWheel},
          {t::actualSize, keysOf("zoom-reset")}}},
        // The page's own editing keys, handled by the web view.
        {t::groupEditing,
         {{t::undo, "<Control>z"},
          {t::redo, "<Control><Shift>z"},
          {t::cut, "<Control>x"},
          {t::copy, "<Control>c"},
          {t::paste, "<Control>v"},
          {t::selectAll, "<Control>a"}}},
    };
    std::string text =
        "<interface><object class=\"GtkShortcutsWindow\" id=\"window\">"
        "<property name=\"modal\">1</property><child><object class=\"GtkShortcutsSection\">"
        "<property name=\"section-name\">shortcuts</property>";
    for (const Group& group : groups) {
        text += "<child><object class=\"GtkShortcutsGroup\">" + property("title", group.title);
        for (const Entry& entry : group.entries) {
            text += "<child><object class=\"GtkShortcutsShortcut\">" + property("title", entry.title) +
                    property("accelerator", entry.keys);
            if (entry.subtitle) text += property("subtitle", entry.subtitle);
            text += "</object></child>";
        }
        text += "</object></child>";
    }
    return text + "</object></child></object></interface>";
}

}  // namespace

GtkShortcutsWindow* showShortcuts(GtkWindow* parent) {
    GPtr<GtkBuilder> builder = adopt(gtk_builder_new_from_string(interfaceText().c_str(), -1));
    auto* window = GTK_SHORTCUTS_WINDOW(gtk_builder_get_object(builder.get(), "window"));
    gtk_window_set_transient_for(GTK_WINDOW(window), parent);
    // In the application, so that its keys (Ctrl+Q, Ctrl+?) work here too.
    if (parent) gtk_window_set_application(GTK_WINDOW(window), gtk_window_get_application(parent));
    gtk_window_set_destroy_with_parent(GTK_WINDOW(window), TRUE);
    gtk_window_set_hide_on_close(GTK_WINDOW(window), FALSE);
    gtk_window_present(GTK_WINDOW(window));
    return window;
}

}  // namespace orvane
