#pragma once
// The floor: a bare WebKitGTK web view in a window of its own whose native
// side answers each script message, with nothing of Orvane's between. Each
// kind of run has its own way of answering, so that each delivery path has
// its own floor:
//   evaluate  a new script text per answer (webkit_web_view_evaluate_javascript)
//   call      one constant function called with the answer as its argument
//   reply     the answer as the reply of a handler registered with reply
//   relay     the same, through a script world of its own and events both
//             ways, as Orvane's messages go (the floor of that design)
//   through   the reply, once `through` has finished its work: the floor of
//             a page's request that waits on something else, such as a
//             D-Bus call (the page idles meanwhile, and waking costs)
//   relay through
//             the same through the relay world: the floor of the design

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <functional>
#include <string>

#include "GRef.h"

namespace orvane::bench {

class EchoView {
public:
    EchoView();
    ~EchoView();
    EchoView(const EchoView&) = delete;
    EchoView& operator=(const EchoView&) = delete;

    WebKitWebView* view() const { return view_.get(); }
    // The page it must show (served by the caller): runs `run(kind, n)`.
    static const char* page();
    // Set when the page has posted "done".
    bool done = false;
    // The work a "through" message waits for; it calls `answer` when done.
    std::function<void(std::function<void()> answer)> through;

private:
    void echo(JSCValue* value);
    void call(JSCValue* value);
    // Sends `answer` as the reply once `through` has finished.
    void answerThrough(GPtr<JSCValue> answer, WebKitScriptMessageReply* reply);

    GPtr<WebKitUserContentManager> content_;
    GPtr<GtkWindow> window_;
    GPtr<WebKitWebView> view_;
};

// Switches off WebKit's throttling of hidden pages, as the app's window does.
void switchOffThrottling(WebKitSettings* settings);

}  // namespace orvane::bench
