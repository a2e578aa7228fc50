#include "WebProbe.h"

#include <memory>

#include "GRef.h"
#include "Spin.h"

namespace orvane {

std::optional<std::string> evaluate(WebKitWebView* view, const std::string& script) {
    struct Outcome {
        bool done = false;
        std::optional<std::string> json;
    };
    // Shared with the callback: an answer that comes after the wait gave up
    // must still find it.
    auto* outcome = new std::shared_ptr<Outcome>(std::make_shared<Outcome>());
    const std::shared_ptr<Outcome> mine = *outcome;
    webkit_web_view_evaluate_javascript(
        view, script.c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            const std::unique_ptr<std::shared_ptr<Outcome>> out(static_cast<std::shared_ptr<Outcome>*>(data));
            GErrorPtr error;
            JSCValue* value =
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, ErrorOut(error));
            if (value) {
                GCharPtr text(jsc_value_to_json(value, 0));
                (*out)->json = text ? std::string(text.get()) : std::string("undefined");
                g_object_unref(value);
            }
            (*out)->done = true;
        },
        outcome);
    spinUntil([&] { return mine->done; });
    return mine->json;
}

bool waitForLoad(WebKitWebView* view, const std::string& uri) {
    return spinUntil([&] {
        const char* current = webkit_web_view_get_uri(view);
        return !webkit_web_view_is_loading(view) && current && (uri.empty() || uri == current);
    });
}

bool showAt(WebKitWebView* view, const std::string& html, const std::string& address) {
    webkit_web_view_load_alternate_html(view, html.c_str(), address.c_str(), address.c_str());
    return waitForLoad(view, address);
}

}  // namespace orvane
