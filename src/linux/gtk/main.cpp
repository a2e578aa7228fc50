// Process entry: one GtkApplication per user session, one AppDelegate for the
// whole run. A second launch activates the first instance and ends.

#include <gtk/gtk.h>

#include <memory>

#include "GRef.h"
#include "AppDelegate.h"
#include "AppInfo.h"

namespace {

std::string applicationId() {
    const auto& values = orvane::info();
    auto it = values.find("CFBundleIdentifier");
    if (it != values.end() && it->is_string() &&
        g_application_id_is_valid(it->get_ref<const std::string&>().c_str()))
        return it->get<std::string>();
    return ORVANE_BUNDLE_ID;
}

}  // namespace

int main(int argc, char** argv) {
    (void)argc;
    // Before anything can start a thread or a process.
    auto ready = orvane::ReadySignal::take();
    auto app = orvane::adopt(gtk_application_new(applicationId().c_str(), G_APPLICATION_DEFAULT_FLAGS));
    orvane::AppDelegate delegate(app.get(), std::move(ready));
    g_signal_connect(app.get(), "activate", G_CALLBACK(+[](GApplication*, gpointer self) {
                         static_cast<orvane::AppDelegate*>(self)->activated();
                     }),
                     &delegate);
    g_signal_connect(app.get(), "shutdown", G_CALLBACK(+[](GApplication*, gpointer self) {
                         static_cast<orvane::AppDelegate*>(self)->shutdown();
                     }),
                     &delegate);
    // The app takes no arguments: a relaunch may pass some, and they must not
    // be taken as files to open.
    char* args[] = {argv[0], nullptr};
    g_application_run(G_APPLICATION(app.get()), 1, args);
    return 0;
}
