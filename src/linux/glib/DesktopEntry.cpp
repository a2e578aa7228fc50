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
std::optional<std::string> writeWhole(const fs::path& file, std::string_view text) {
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    if (error) return file.parent_path().string() + ": " + error.message();
    GError* writeError = nullptr;
    if (!g_file_set_contents(file.c_str(), text.data(), static_cast<gssize>(text.size()), &writeError)) {
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

}  // namespace

std::optional<std::string> desktopEntryText(std::string_view templateText, const fs::path& bundle) {
    const fs::path executable = bundle / "Contents" / "Linux" / "orvane";
    const fs::path icon = bundle / "Contents" / "Resources" / "orvane.svg";
    if (!writable(executable.native()) || !writable(icon.native())) return std::nullopt;
    std::string text(templateText);
    text = replaceAll(std::move(text), "{exec}", execArgument(executable.native()));
    text = replaceAll(std::move(text), "{tryexec}", stringValue(executable.native()));
    return replaceAll(std::move(text), "{icon}", stringValue(icon.native()));
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
    const auto text = desktopEntryText(templateText, bundle.root());
    if (!text) return "the bundle's path cannot be written in a desktop entry: " + bundle.root().string();
    const auto icon = readFile(bundle.resourcePath(kIcon, "svg"));
    if (!icon) return "the bundle has no " + std::string(kIcon) + ".svg";
    // The icon first, so that an entry never names an icon the theme lacks.
    if (auto problem = writeWhole(desktopIconPath(applicationId), *icon)) return problem;
    return writeWhole(desktopEntryPath(applicationId), *text);
}

bool refreshDesktopEntry(const Bundle& bundle, const std::string& applicationId) {
    if (bundle.empty()) return false;
    const auto installed = readFile(desktopEntryPath(applicationId));
    if (!installed) return false;
    // Only the bundle's place is checked, so that changes the user made to
    // the entry survive as long as the bundle stays where it is.
    const auto executable = (bundle.root() / "Contents" / "Linux" / "orvane").native();
    if (!writable(executable)) return false;
    const bool samePlace = installed->find("\nTryExec=" + stringValue(executable) + "\n") != std::string::npos;
    if (samePlace && fs::exists(desktopIconPath(applicationId))) return false;
    return !installDesktopEntry(bundle, applicationId);
}

}  // namespace orvane
