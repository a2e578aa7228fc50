#include "PageKeyboardFocus.h"

#include <string>

namespace orvane {
namespace {

using WeakFocus = std::weak_ptr<PageKeyboardFocus>;

constexpr const char* kWorld = "orvane-focus";
constexpr const char* kHandler = "focusExit";
// Leaving: the page's own handling of the key runs first (a page that keeps
// Tab for itself is left alone); the focus has moved by the next task.
// Entering: the first (or last) control in the page's Tab order, as far as
// a script can tell it: positive tabindex first, then document order.
constexpr const char* kScript = R"((() => {
  "use strict";
  const handler = window.webkit?.messageHandlers?.focusExit;
  if (!handler) return;
  const nothingFocused = () => {
    const now = document.activeElement;
    return !now || now === document.body || now === document.documentElement;
  };
  addEventListener("keydown", (event) => {
    if (event.key !== "Tab" || event.ctrlKey || event.altKey || event.metaKey) return;
    setTimeout(() => {
      if (!event.defaultPrevented && nothingFocused()) handler.postMessage(event.shiftKey ? "backward" : "forward");
    });
  }, true);
  const candidates = "a[href], area[href], button, input, select, textarea, iframe, summary, [tabindex], " +
    "[contenteditable]:not([contenteditable='false']), audio[controls], video[controls]";
  globalThis.orvaneFocusEnter = (forward) => {
    if (!nothingFocused()) return;
    const order = [...document.querySelectorAll(candidates)]
      .filter((element) => element.tabIndex >= 0 && !element.disabled && !element.closest("[inert]") &&
        (element.checkVisibility ? element.checkVisibility({ visibilityProperty: true }) : element.getClientRects().length > 0))
      .map((element, index) => ({ element, index }))
      .sort((a, b) => {
        const rank = (entry) => entry.element.tabIndex > 0 ? entry.element.tabIndex : Infinity;
        return rank(a) - rank(b) || a.index - b.index;
      });
    const chosen = forward ? order[0] : order[order.length - 1];
    chosen?.element.focus();
  };
})();)";

}  // namespace

PageKeyboardFocus::PageKeyboardFocus(GtkWindow* window, WebKitWebView* view, WebKitUserContentManager* content,
                                     std::function<void(bool forward)> left)
    : window_(window), view_(view), content_(retain(content)), left_(std::move(left)) {
    WebKitUserScript* script =
        webkit_user_script_new_for_world(kScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                         WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kWorld, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
    webkit_user_content_manager_register_script_message_handler(content, kHandler, kWorld);
    auto received = +[](WebKitUserContentManager*, JSCValue* value, WeakFocus* weak) {
        const auto self = weak->lock();
        if (!self || !jsc_value_is_string(value) || !self->inView()) return;
        const GCharPtr direction(jsc_value_to_string(value));
        self->left_(g_strcmp0(direction.get(), "backward") != 0);
    };
    messageWatch_ = connectWith(content, "script-message-received::focusExit", G_CALLBACK(received), weak_.weak());

    // Seen before the window moves the focus for the key; where the focus
    // went is known once it has.
    keys_ = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys_, GTK_PHASE_CAPTURE);
    auto pressed = +[](GtkEventControllerKey* controller, guint key, guint, GdkModifierType state, WeakFocus* weak) {
        const auto self = weak->lock();
        if (!self) return gboolean(FALSE);
        const bool tab = key == GDK_KEY_Tab || key == GDK_KEY_ISO_Left_Tab || key == GDK_KEY_KP_Tab;
        if (!tab || (state & (GDK_CONTROL_MASK | GDK_ALT_MASK))) return gboolean(FALSE);
        const bool forward = !(state & GDK_SHIFT_MASK) && key != GDK_KEY_ISO_Left_Tab;
        const guint32 time = gtk_event_controller_get_current_event_time(GTK_EVENT_CONTROLLER(controller));
        // A Tab the page let go comes back to the window as the same event
        // (WebKit hands on what the page did not use), before or after the
        // script's word that the focus left: either way it moves the focus
        // once, here, and the window's own Tab handling does not move it on.
        if (time != 0 && time == self->tabInPageTime_) {
            self->tabInPageTime_ = 0;
            if (self->inView()) self->left_(forward);
            return gboolean(TRUE);
        }
        if (self->inView()) self->tabInPageTime_ = time;
        else self->tabbed(forward);
        return gboolean(FALSE);
    };
    keyWatch_ = connectWith(keys_, "key-pressed", G_CALLBACK(pressed), weak_.weak());
    gtk_widget_add_controller(GTK_WIDGET(window_), keys_);
}

PageKeyboardFocus::~PageKeyboardFocus() {
    if (pending_) g_source_remove(pending_);
    messageWatch_.disconnect();
    keyWatch_.disconnect();
    gtk_widget_remove_controller(GTK_WIDGET(window_), keys_);
    webkit_user_content_manager_unregister_script_message_handler(content_.get(), kHandler, kWorld);
}

bool PageKeyboardFocus::inView() const {
    GtkWidget* focus = gtk_window_get_focus(window_);
    return focus && (focus == GTK_WIDGET(view_) || gtk_widget_is_ancestor(focus, GTK_WIDGET(view_)));
}

void PageKeyboardFocus::tabbed(bool forward) {
    if (pending_) g_source_remove(pending_);
    struct Check {
        WeakFocus self;
        bool forward;
    };
    pending_ = g_idle_add_full(
        G_PRIORITY_DEFAULT,
        +[](gpointer data) -> gboolean {
            const auto* check = static_cast<Check*>(data);
            const auto self = check->self.lock();
            if (!self) return G_SOURCE_REMOVE;
            self->pending_ = 0;
            if (!self->inView()) return G_SOURCE_REMOVE;
            const std::string call = std::string("orvaneFocusEnter(") + (check->forward ? "true" : "false") + ")";
            webkit_web_view_evaluate_javascript(self->view_, call.c_str(), -1, kWorld, nullptr, nullptr, nullptr,
                                                nullptr);
            return G_SOURCE_REMOVE;
        },
        new Check{weak_.weak(), forward}, +[](gpointer data) { delete static_cast<Check*>(data); });
}

}  // namespace orvane
