#include "EchoView.h"

#include <array>

namespace orvane::bench {
namespace {

// The page times each round trip itself, like the bridge's page does, with
// a message of the same size as a bridge request.
constexpr const char* kPage = R"(<!doctype html><title>Echo</title><script>
  "use strict";
  let answer = null;
  window.__echo = (m) => { const a = answer; answer = null; if (a) a(m); };
  window.addEventListener("echo-receive", (event) => window.__echo(JSON.parse(event.detail)));
  const handlers = window.webkit.messageHandlers;
  window.samples = [];
  window.run = async (kind, n) => {
    const out = [];
    for (let i = 0; i < n; i++) {
      const text = JSON.stringify({t: "connect", id: "not-a-device", req: i + 1});
      const t0 = performance.now();
      if (kind === "reply") await handlers.echoReply.postMessage(text);
      else if (kind === "through") await handlers.echoThrough.postMessage(text);
      else if (kind === "relay" || kind === "relay through") await new Promise((resolve) => {
        answer = resolve;
        window.dispatchEvent(new CustomEvent(kind === "relay" ? "echo-post" : "echo-post-through", {detail: text}));
      });
      else await new Promise((resolve) => { answer = resolve; handlers[kind === "call" ? "echoCall" : "echo"].postMessage(text); });
      out.push(performance.now() - t0);
    }
    window.samples = out;
    handlers.echo.postMessage("done");
  };
</script>)";

// The relay kinds go the way Orvane's messages go: through a script world
// of its own that alone has the handler, by events both ways, with the
// page's origin and a line break before the text (and here a mark for
// "through" before that).
constexpr const char* kRelayWorld = "echo-relay";
constexpr const char* kRelayScript = R"((() => {
  const handler = window.webkit?.messageHandlers?.echoRelay;
  if (!handler) return;
  const hand = (text) => window.dispatchEvent(new CustomEvent("echo-receive", { detail: text }));
  for (const [type, through] of [["echo-post", false], ["echo-post-through", true]])
    window.addEventListener(type, (event) => {
      handler.postMessage((through ? "1" : "0") + self.origin + "\n" + event.detail).then(hand);
    });
})();)";

std::string textOf(JSCValue* value) {
    GCharPtr text(jsc_value_to_string(value));
    return text ? text.get() : "";
}

}  // namespace

void switchOffThrottling(WebKitSettings* settings) {
    constexpr std::array<const char*, 3> kFeatures = {"HiddenPageDOMTimerThrottling",
                                                      "HiddenPageDOMTimerThrottlingAutoIncreases",
                                                      "PageVisibilityBasedProcessSuppression"};
    WebKitFeatureList* features = webkit_settings_get_all_features();
    for (const char* wanted : kFeatures)
        for (gsize i = 0; i < webkit_feature_list_get_length(features); ++i) {
            WebKitFeature* feature = webkit_feature_list_get(features, i);
            if (g_strcmp0(webkit_feature_get_identifier(feature), wanted) == 0)
                webkit_settings_set_feature_enabled(settings, feature, FALSE);
        }
    webkit_feature_list_unref(features);
}

const char* EchoView::page() { return kPage; }

EchoView::EchoView() {
    content_ = adopt(webkit_user_content_manager_new());
    webkit_user_content_manager_register_script_message_handler(content_.get(), "echo", nullptr);
    webkit_user_content_manager_register_script_message_handler(content_.get(), "echoCall", nullptr);
    webkit_user_content_manager_register_script_message_handler_with_reply(content_.get(), "echoReply", nullptr);
    // The view lives as long as this object; plain handlers do.
    g_signal_connect(content_.get(), "script-message-received::echo",
                     G_CALLBACK(+[](WebKitUserContentManager*, JSCValue* value, EchoView* self) { self->echo(value); }),
                     this);
    g_signal_connect(content_.get(), "script-message-received::echoCall",
                     G_CALLBACK(+[](WebKitUserContentManager*, JSCValue* value, EchoView* self) { self->call(value); }),
                     this);
    g_signal_connect(content_.get(), "script-message-with-reply-received::echoReply",
                     G_CALLBACK(+[](WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
                                    gpointer) -> gboolean {
                         GPtr<JSCValue> answer =
                             adopt(jsc_value_new_string(jsc_value_get_context(value), textOf(value).c_str()));
                         webkit_script_message_reply_return_value(reply, answer.get());
                         return TRUE;
                     }),
                     nullptr);

    webkit_user_content_manager_register_script_message_handler_with_reply(content_.get(), "echoThrough", nullptr);
    g_signal_connect(content_.get(), "script-message-with-reply-received::echoThrough",
                     G_CALLBACK(+[](WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
                                    EchoView* self) -> gboolean {
                         self->answerThrough(
                             adopt(jsc_value_new_string(jsc_value_get_context(value), textOf(value).c_str())), reply);
                         return TRUE;
                     }),
                     this);
    webkit_user_content_manager_register_script_message_handler_with_reply(content_.get(), "echoRelay", kRelayWorld);
    g_signal_connect(content_.get(), "script-message-with-reply-received::echoRelay",
                     G_CALLBACK(+[](WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
                                    EchoView* self) -> gboolean {
                         const std::string whole = textOf(value);
                         GPtr<JSCValue> text = adopt(jsc_value_new_string(jsc_value_get_context(value),
                                                                          whole.substr(whole.find('\n') + 1).c_str()));
                         if (whole.starts_with('1')) self->answerThrough(std::move(text), reply);
                         else webkit_script_message_reply_return_value(reply, text.get());
                         return TRUE;
                     }),
                     this);
    WebKitUserScript* relay =
        webkit_user_script_new_for_world(kRelayScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                         WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kRelayWorld, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_.get(), relay);
    webkit_user_script_unref(relay);

    GPtr<WebKitSettings> settings = adopt(webkit_settings_new());
    switchOffThrottling(settings.get());
    view_ = adopt(WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "settings", settings.get(), "user-content-manager",
                                               content_.get(), nullptr)));
    window_ = retain(GTK_WINDOW(gtk_window_new()));
    gtk_window_set_default_size(window_.get(), 800, 600);
    gtk_window_set_child(window_.get(), GTK_WIDGET(view_.get()));
    gtk_window_present(window_.get());
}

EchoView::~EchoView() {
    g_signal_handlers_disconnect_by_data(content_.get(), this);
    gtk_window_destroy(window_.get());
}

void EchoView::echo(JSCValue* value) {
    const std::string text = textOf(value);
    if (text == "done") {
        done = true;
        return;
    }
    const std::string script = "__echo(" + text + ")";
    webkit_web_view_evaluate_javascript(view_.get(), script.c_str(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
}

void EchoView::answerThrough(GPtr<JSCValue> answer, WebKitScriptMessageReply* reply) {
    webkit_script_message_reply_ref(reply);
    through([reply, answer = std::shared_ptr<JSCValue>(answer.release(), g_object_unref)] {
        webkit_script_message_reply_return_value(reply, answer.get());
        webkit_script_message_reply_unref(reply);
    });
}

void EchoView::call(JSCValue* value) {
    GVariantBuilder arguments;
    g_variant_builder_init(&arguments, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&arguments, "{sv}", "m", g_variant_new_string(textOf(value).c_str()));
    webkit_web_view_call_async_javascript_function(view_.get(), "__echo(m)", -1, g_variant_builder_end(&arguments),
                                                   nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace orvane::bench
