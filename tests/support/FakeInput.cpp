#include "FakeInput.h"

#include <X11/XKBlib.h>
#include <dlfcn.h>
#include <gdk/x11/gdkx.h>

#include <vector>

namespace orvane::test {
namespace {

// libXtst's entry points, as XTest.h declares them (the header is not
// installed here; the library comes with the X utilities).
struct XTest {
    Bool (*queryExtension)(Display*, int*, int*, int*, int*) = nullptr;
    int (*key)(Display*, unsigned int, Bool, unsigned long) = nullptr;
    int (*button)(Display*, unsigned int, Bool, unsigned long) = nullptr;
    int (*motion)(Display*, int, int, int, unsigned long) = nullptr;
};

Display* xdisplay() { return gdk_x11_display_get_xdisplay(gdk_display_get_default()); }

const XTest* xtest() {
    static const XTest* loaded = []() -> const XTest* {
        void* library = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!library) return nullptr;
        static XTest api;
        api.queryExtension = reinterpret_cast<decltype(api.queryExtension)>(dlsym(library, "XTestQueryExtension"));
        api.key = reinterpret_cast<decltype(api.key)>(dlsym(library, "XTestFakeKeyEvent"));
        api.button = reinterpret_cast<decltype(api.button)>(dlsym(library, "XTestFakeButtonEvent"));
        api.motion = reinterpret_cast<decltype(api.motion)>(dlsym(library, "XTestFakeMotionEvent"));
        if (!api.queryExtension || !api.key || !api.button || !api.motion) return nullptr;
        int event = 0, error = 0, major = 0, minor = 0;
        if (!GDK_IS_X11_DISPLAY(gdk_display_get_default()) ||
            !api.queryExtension(xdisplay(), &event, &error, &major, &minor))
            return nullptr;
        return &api;
    }();
    return loaded;
}

// The keys that produce `modifiers`, Shift added when `keyval` needs it.
std::vector<KeyCode> modifierKeys(GdkModifierType modifiers) {
    std::vector<KeyCode> keys;
    if (modifiers & GDK_CONTROL_MASK) keys.push_back(XKeysymToKeycode(xdisplay(), XK_Control_L));
    if (modifiers & GDK_SHIFT_MASK) keys.push_back(XKeysymToKeycode(xdisplay(), XK_Shift_L));
    if (modifiers & GDK_ALT_MASK) keys.push_back(XKeysymToKeycode(xdisplay(), XK_Alt_L));
    return keys;
}

void hold(const std::vector<KeyCode>& keys, bool down) {
    for (KeyCode key : keys) xtest()->key(xdisplay(), key, down, CurrentTime);
}

}  // namespace

bool fakeInputAvailable() { return xtest() != nullptr; }

void pointAt(GtkWidget* widget) {
    pointAt(widget, gtk_widget_get_width(widget) / 2.0, gtk_widget_get_height(widget) / 2.0);
}

void pointAt(GtkWidget* widget, double x, double y) {
    GtkNative* native = gtk_widget_get_native(widget);
    graphene_point_t middle{};
    const graphene_point_t centre{.x = static_cast<float>(x), .y = static_cast<float>(y)};
    if (!gtk_widget_compute_point(widget, GTK_WIDGET(native), &centre, &middle)) return;
    const Window surface = gdk_x11_surface_get_xid(gtk_native_get_surface(native));
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(xdisplay(), surface, DefaultRootWindow(xdisplay()), static_cast<int>(middle.x),
                          static_cast<int>(middle.y), &rootX, &rootY, &child);
    xtest()->motion(xdisplay(), DefaultScreen(xdisplay()), rootX, rootY, CurrentTime);
    // There is no window manager to give the focus: take it as one would.
    XSetInputFocus(xdisplay(), surface, RevertToParent, CurrentTime);
    XFlush(xdisplay());
}

void pressKeys(const char* accelerator) {
    guint keyval = 0;
    GdkModifierType modifiers{};
    if (!gtk_accelerator_parse(accelerator, &keyval, &modifiers)) return;
    const KeyCode key = XKeysymToKeycode(xdisplay(), keyval);
    // The keypad's digits need Num Lock; another symbol on the shifted
    // level ("question", "plus") needs Shift.
    const bool numLock = IsKeypadKey(keyval) && XkbKeycodeToKeysym(xdisplay(), key, 0, 0) != keyval;
    if (!numLock && XkbKeycodeToKeysym(xdisplay(), key, 0, 0) != keyval)
        modifiers = GdkModifierType(modifiers | GDK_SHIFT_MASK);
    const KeyCode numLockKey = XKeysymToKeycode(xdisplay(), XK_Num_Lock);
    const auto toggleNumLock = [&] {
        xtest()->key(xdisplay(), numLockKey, True, CurrentTime);
        xtest()->key(xdisplay(), numLockKey, False, CurrentTime);
    };
    if (numLock) toggleNumLock();
    const auto held = modifierKeys(modifiers);
    hold(held, true);
    xtest()->key(xdisplay(), key, True, CurrentTime);
    xtest()->key(xdisplay(), key, False, CurrentTime);
    hold(held, false);
    if (numLock) toggleNumLock();
    XFlush(xdisplay());
}

void clickPrimary() {
    xtest()->button(xdisplay(), 1, True, CurrentTime);
    xtest()->button(xdisplay(), 1, False, CurrentTime);
    XFlush(xdisplay());
}

void scrollWheel(bool up, GdkModifierType modifiers) {
    const auto held = modifierKeys(modifiers);
    hold(held, true);
    const unsigned button = up ? 4 : 5;
    xtest()->button(xdisplay(), button, True, CurrentTime);
    xtest()->button(xdisplay(), button, False, CurrentTime);
    hold(held, false);
    XFlush(xdisplay());
}

}  // namespace orvane::test
