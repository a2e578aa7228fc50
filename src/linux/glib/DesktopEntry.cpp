#include "DesktopEntry.h"

#include <glib.h>

#include <cstdlib>

#include "AppValues.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTemplate = "orvane.desktop";
constexpr std::string_view kIcon = "orvane";

bool writable(std::string_view text) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return false;
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

// A string value: only the backslash needs its escape here (no control
// characters get this far).
std::string stringValue(std::string_view text) { return replaceAll(std::string(text), "\\", "\\\\"); }

// One quoted argument of Exec: quoted whole, with the characters that keep a
// meaning inside quotes escaped and % doubled (it starts a field code); then
// written as a string value.
std::string execArgument(std::string_view path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
        if (c == '%') quoted += '%';
    }
    quoted += '"';
    return stringValue(quoted);
}

// Replaces `file` atomically, making its folder first.
std::optional<std::string> writeWhole(const fs::path& file, std::string_view text, int mode = 0666) {
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    if (error) return file.parent_path().string() + ": " + error.message();
    GError* writeError = nullptr;
    if (!g_file_set_contents_full(file.c_str(), text.data(), static_cast<gssize>(text.size()),
                                  G_FILE_SET_CONTENTS_CONSISTENT, mode, &writeError)) {
        std::string message = writeError->message;
        g_error_free(writeError);
        return message;
    }
    return std::nullopt;
}

fs::path dataHome() {
    // Read every time, not cached like GLib's, so that a test can point it elsewhere.
    const char* set = std::getenv("XDG_DATA_HOME");
    if (set && *set == '/') return set;
    return fs::path(g_get_home_dir()) / ".local" / "share";
}

// Single quotes keep everything but themselves; a quote ends the quoting,
// goes in escaped, and starts it again.
std::string shellQuoted(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    quoted += '\'';
    return quoted;
}

// Finds the bundle a cut-off swap kept in its staging folder
// (".orvane-update-NAME-XXXXXX", holding the swap's journal): the one the
// journal names to restore first, any other after it. Each puts the right
// bundle back in the place and starts again from there.
constexpr const char* kLauncherScript = R"sh(#!/bin/sh
# Starts Orvane from the place it was put (written by Orvane; written again
# when the bundle moves). An update cut off between its two moves can leave
# the place empty: a bundle it kept beside the place then starts instead,
# puts the right one back and goes on from the place.
place={place}
app="$place/Contents/Linux/orvane"
if [ ! -x "$app" ]; then
    for folder in "${place%/*}"/.orvane-update-*; do
        case "${folder##*/}" in ".orvane-update-${place##*/}-"??????) ;; *) continue ;; esac
        [ -f "$folder/journal" ] || continue
        restore=$(sed -n 's/.*"restore": *"\([^"\/]*\)".*//p' "$folder/journal")
        for kept in "$folder/$restore" "$folder"/*; do
            [ -n "${kept##*/
}" ] && [ -x "$kept/Contents/Linux/orvane" ] && exec "$kept/Contents/Linux/orvane" "$@"
        done
    done
fi
exec "$app" "$@"
)sh";

}  // namespace

std::optional<std::string> desktopEntryText(std::string_view templateText, const fs::path& program) {
    if (!writable(program.native())) return std::nullopt;
    std::string text(templateText);
    text = replaceAll(std::move(text), "{exec}", execArgument(program.native()));
    return replaceAll(std::move(text), "{tryexec}", stringValue(program.native()));
}

std::optional<std::string> launcherText(const fs::path& bundle) {
    if (!writable(bundle.native())) return std::nullopt;
    return replaceAll(kLauncherScript, "{place}", shellQuoted(bundle.native()));
}

fs::path desktopLauncherPath(const std::string& applicationId) {
    return dataHome() / "orvane" / ("launch-" + applicationId);
}

fs::path desktopEntryPath(const std::string& applicationId) {
    return dataHome() / "applications" / (applicationId + ".desktop");
}

fs::path desktopIconPath(const std::string& applicationId) {
    return dataHome() / "icons" / "hicolor" / "scalable" / "apps" / (applicationId + ".svg");
}

std::optional<std::string> installDesktopEntry(const Bundle& bundle, const std::string& applicationId) {
    if (bundle.empty()) return "this Orvane is not running from its bundle";
    const std::string templateText = bundle.resource(kTemplate, "in");
    if (templateText.empty()) return "the bundle has no " + std::string(kTemplate) + ".in";
    const fs::path launcher = desktopLauncherPath(applicationId);
    const auto script = launcherText(bundle.root());
    if (!script) return "the bundle's path cannot be written in a desktop entry: " + bundle.root().string();
    const auto text = desktopEntryText(templateText, launcher);
    if (!text) return "the launcher's path cannot be written in a desktop entry: " + launcher.string();
    const auto icon = readFile(bundle.resourcePath(kIcon, "svg"));
    if (!icon) return "the bundle has no " + std::string(kIcon) + ".svg";
    // The icon and the launcher first, so that an entry never names what is not there.
    if (auto problem = writeWhole(desktopIconPath(applicationId), *icon)) return problem;
    if (auto problem = writeWhole(launcher, *script, 0755)) return problem;
    return writeWhole(desktopEntryPath(applicationId), *text);
}

bool refreshDesktopEntry(const Bundle& bundle, const std::string& applicationId) {
    if (bundle.empty()) return false;
    const auto installed = readFile(desktopEntryPath(applicationId));
    if (!installed) return false;
    // Only the bundle's place is checked, so that changes the user made to
    // the entry survive as long as the bundle stays where it is. An entry
    // written before there was a launcher names the bundle's own program.
    const fs::path launcher = desktopLauncherPath(applicationId);
    const auto script = launcherText(bundle.root());
    if (!script || !writable(launcher.native())) return false;
    const bool samePlace = installed->find("\nTryExec=" + stringValue(launcher.native()) + "\n") != std::string::npos &&
                           readFile(launcher) == *script;
    if (samePlace && fs::exists(desktopIconPath(applicationId))) return false;
    return !installDesktopEntry(bundle, applicationId);
}

}  // namespace orvane
