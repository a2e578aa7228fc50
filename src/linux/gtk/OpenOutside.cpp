#include "OpenOutside.h"

#include <string>

#include "GRef.h"
#include "Log.h"

namespace orvane {

void openWithDesktop(GtkWindow* parent, const Url& url) {
    // The launch context lets the desktop raise the browser for this app's window.
    GPtr<GdkAppLaunchContext> context =
        adopt(gdk_display_get_app_launch_context(gtk_widget_get_display(GTK_WIDGET(parent))));
    g_app_info_launch_default_for_uri_async(
        url.text.c_str(), G_APP_LAUNCH_CONTEXT(context.get()), nullptr,
        +[](GObject*, GAsyncResult* result, gpointer data) {
            const std::unique_ptr<std::string> address(static_cast<std::string*>(data));
            GErrorPtr error;
            if (!g_app_info_launch_default_for_uri_finish(result, ErrorOut(error)))
                logLine("Orvane: couldn't open " + *address + ": " + error->message);
        },
        new std::string(url.text));
}

}  // namespace orvane
