#pragma once
// The page's right-click menu: the page's own and its editing items stay,
// a browser's navigation and every item that would open another window or
// download go, and Reload is added.

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <functional>

#include "GRef.h"

namespace orvane {

// Tidies `menu` in place: drops Back, Forward, Stop and WebKit's Reload, the
// items that open another window or download, and Inspect Element unless
// `inspectable`; adds `reload` (an action without a parameter) as Reload.
void tidyContextMenu(WebKitContextMenu* menu, bool inspectable, GAction* reload);

class PageContextMenu {
public:
    // Tidies every menu `view` shows; its Reload calls `reload`.
    PageContextMenu(WebKitWebView* view, bool inspectable, std::function<void()> reload);
    PageContextMenu(const PageContextMenu&) = delete;
    PageContextMenu& operator=(const PageContextMenu&) = delete;

private:
    bool inspectable_;
    std::function<void()> reload_;
    GPtr<GSimpleAction> action_;
    SignalConnection menuWatch_, reloadWatch_;
};

}  // namespace orvane
