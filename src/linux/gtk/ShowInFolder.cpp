#include "ShowInFolder.h"

#include <gio/gio.h>

#include <memory>

#include "GRef.h"

namespace orvane {
namespace {

void openFolderOf(const std::string& path) {
    const GCharPtr folder(g_path_get_dirname(path.c_str()));
    const GCharPtr uri(g_filename_to_uri(folder.get(), nullptr, nullptr));
    if (uri) g_app_info_launch_default_for_uri_async(uri.get(), nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

void showInFolder(const std::string& path) {
    const GCharPtr uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
    if (!uri) return;
    GDBusConnection* bus =
        g_application_get_default() ? g_application_get_dbus_connection(g_application_get_default()) : nullptr;
    if (!bus) return openFolderOf(path);
    const char* uris[] = {uri.get(), nullptr};
    g_dbus_connection_call(
        bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1",
        "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            const std::unique_ptr<std::string> file(static_cast<std::string*>(data));
            GErrorPtr error;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, ErrorOut(error));
            if (reply) g_variant_unref(reply);
            // No file manager on the bus (or it failed): the folder at least.
            if (error) openFolderOf(*file);
        },
        new std::string(path));
}

}  // namespace orvane
