#pragma once
// Tab between the page and the window's own controls. WebKitGTK does not
// do it: past the page's last control (or Shift+Tab before its first) the
// page lets go of its focus but the window does not, and no key brings it
// out again; tabbing into the web view leaves the page with nothing
// focused. A script in a world of its own, which no page script reaches,
// tells when a Tab left the page (`left` moves the focus on) and focuses
// the page's first control (or its last) when a Tab comes in.

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <functional>

#include "GRef.h"
#include "WeakPtr.h"

namespace orvane {

class PageKeyboardFocus {
public:
    PageKeyboardFocus(GtkWindow* window, WebKitWebView* view, WebKitUserContentManager* content,
                      std::function<void(bool forward)> left);
    ~PageKeyboardFocus();
    PageKeyboardFocus(const PageKeyboardFocus&) = delete;
    PageKeyboardFocus& operator=(const PageKeyboardFocus&) = delete;

private:
    bool inView() const;
    void tabbed(bool forward);

    GtkWindow* window_;  // the window owns the view and the controller
    WebKitWebView* view_;
    GPtr<WebKitUserContentManager> content_;
    std::function<void(bool forward)> left_;
    GtkEventController* keys_ = nullptr;
    SignalConnection messageWatch_, keyWatch_;
    guint pending_ = 0;
    guint32 tabInPageTime_ = 0;  // of the last Tab the page was given
    WeakPtrFactory<PageKeyboardFocus> weak_{this};
};

}  // namespace orvane
