#include "WindowClasses.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace orvane::test {

std::vector<std::string> windowClasses(const std::string& display) {
    std::vector<std::string> names;
    Display* x = XOpenDisplay(display.c_str());
    if (!x) return names;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i) {
            // GDK's hidden leader window carries the class from the moment
            // the display opens, long before the app's window shows.
            XWindowAttributes attributes{};
            if (!XGetWindowAttributes(x, children[i], &attributes) || attributes.map_state != IsViewable) continue;
            XClassHint hint{};
            if (XGetClassHint(x, children[i], &hint)) {
                names.emplace_back(hint.res_name ? hint.res_name : "");
                XFree(hint.res_name);
                XFree(hint.res_class);
            }
        }
        XFree(children);
    }
    XCloseDisplay(x);
    return names;
}

}  // namespace orvane::test
