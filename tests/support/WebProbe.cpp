#include "WebProbe.h"

#include "GRef.h"
#include "Spin.h"

namespace orvane {

std::optional<std::string> evaluate(WebKitWebView* view, const std::string& script) {
    struct Outcome {
        bool done = false;
        std::optional<std::string> json;
    } outcome;
    webkit_web_view_evaluate_javascript(
        view, script.c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* out = static_cast<Outcome*>(data);
            GErrorPtr error;
            JSCValue* value =
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, ErrorOut(error));
            if (value) {
                GCharPtr text(jsc_value_to_json(value, 0));
                out->json = text ? std::string(text.get()) : std::string("undefined");
                g_object_unref(value);
            }
            out->done = true;
        },
        &outcome);
    spinUntil([&] { return outcome.done; });
    return outcome.json;
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
