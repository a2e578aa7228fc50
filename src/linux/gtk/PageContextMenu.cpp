#include "PageContextMenu.h"

#include <algorithm>
#include <array>
#include <vector>

#include "ShellTexts.h"

namespace orvane {
namespace {

// Navigation belongs to the app, not to the page's menu; the app never opens
// a second window; saving is not this menu's business.
constexpr std::array kDropped = {
    WEBKIT_CONTEXT_MENU_ACTION_GO_BACK,
    WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD,
    WEBKIT_CONTEXT_MENU_ACTION_STOP,
    WEBKIT_CONTEXT_MENU_ACTION_RELOAD,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK,
    WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK,
};

bool dropped(WebKitContextMenuAction action, bool inspectable) {
    if (action == WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT) return !inspectable;
    return std::find(kDropped.begin(), kDropped.end(), action) != kDropped.end();
}

bool isSeparator(WebKitContextMenuItem* item) { return webkit_context_menu_item_is_separator(item); }

}  // namespace

void tidyContextMenu(WebKitContextMenu* menu, bool inspectable, GAction* reload) {
    // Kept in order, Inspect Element aside: it goes last, after Reload.
    std::vector<GPtr<WebKitContextMenuItem>> kept;
    GPtr<WebKitContextMenuItem> inspect;
    for (GList* node = webkit_context_menu_get_items(menu); node; node = node->next) {
        auto* item = WEBKIT_CONTEXT_MENU_ITEM(node->data);
        const WebKitContextMenuAction action = webkit_context_menu_item_get_stock_action(item);
        if (dropped(action, inspectable)) continue;
        GPtr<WebKitContextMenuItem> held = retain(item);
        if (action == WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT) inspect = std::move(held);
        // No separator first or twice in a row where the dropped items were.
        else if (!isSeparator(item) || (!kept.empty() && !isSeparator(kept.back().get())))
            kept.push_back(std::move(held));
    }
    while (!kept.empty() && isSeparator(kept.back().get())) kept.pop_back();

    webkit_context_menu_remove_all(menu);
    for (const auto& item : kept) webkit_context_menu_append(menu, item.get());
    if (!kept.empty()) webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
    webkit_context_menu_append(menu, webkit_context_menu_item_new_from_gaction(reload, shellTexts::reload, nullptr));
    if (inspect) {
        webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
        webkit_context_menu_append(menu, inspect.get());
    }
}

PageContextMenu::PageContextMenu(WebKitWebView* view, bool inspectable, std::function<void()> reload)
    : inspectable_(inspectable), reload_(std::move(reload)), action_(adopt(g_simple_action_new("reload", nullptr))) {
    // Both handlers go with this object (the connections' destructors), so
    // neither can run on what is left of it.
    reloadWatch_ = SignalConnection(
        action_.get(),
        g_signal_connect(action_.get(), "activate",
                         G_CALLBACK(+[](GSimpleAction*, GVariant*, PageContextMenu* self) { self->reload_(); }), this));
    menuWatch_ = SignalConnection(
        view, g_signal_connect(view, "context-menu",
                               G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu* menu, WebKitHitTestResult*,
                                              PageContextMenu* self) -> gboolean {
                                   tidyContextMenu(menu, self->inspectable_, G_ACTION(self->action_.get()));
                                   return FALSE;  // show it
                               }),
                               this));
}

}  // namespace orvane
