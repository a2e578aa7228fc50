#include "MainWindow.h"

#include <array>

#include "AppValues.h"
#include "EditingKeys.h"
#include "KeyFile.h"
#include "OpenOutside.h"
#include "ScrollZoom.h"
#include "Site.h"
#include "TranslatedPages.h"

namespace orvane {
namespace {

constexpr const char* kPlatform = "linux";
constexpr const char* kFrameName = "Main";
// How long a page that WebKit stopped waiting for may still take to show
// its question before the window closes.
constexpr double kQuestionGraceSeconds = 1;

// WebKit's own throttling is what slows a hidden page down here: a light
// driven by timers must not slow down when the window is covered.
constexpr std::array<const char*, 3> kThrottlingFeatures = {
    "HiddenPageDOMTimerThrottling",
    "HiddenPageDOMTimerThrottlingAutoIncreases",
    "PageVisibilityBasedProcessSuppression",
};

void switchOffThrottling(WebKitSettings* settings) {
    WebKitFeatureList* features = webkit_settings_get_all_features();
    for (const char* wanted : kThrottlingFeatures) {
        for (gsize i = 0; i < webkit_feature_list_get_length(features); ++i) {
            WebKitFeature* feature = webkit_feature_list_get(features, i);
            if (g_strcmp0(webkit_feature_get_identifier(feature), wanted) == 0)
                webkit_settings_set_feature_enabled(settings, feature, FALSE);
        }
    }
    webkit_feature_list_unref(features);
}

void styleWindow(GtkWindow* window) {
    // The window's colour shows through the transparent web view until the
    // page paints, so a dark page never flashes white.
    static GtkCssProvider* provider = [] {
        GtkCssProvider* css = gtk_css_provider_new();
        gtk_css_provider_load_from_data(css, "window.orvane-main { background-color: rgb(22, 25, 32); }", -1);
        gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(css),
                                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        return css;
    }();
    (void)provider;
    gtk_widget_add_css_class(GTK_WIDGET(window), "orvane-main");
}

using WeakWindow = std::weak_ptr<MainWindow>;

// Only this script world has the message handler, so no page script, in any
// frame, can post to it. The relay passes on what the page's bridge script
// sends, after the origin of the document it came from and a line break (an
// origin never holds one; one string costs the trip less than an array), and
// hands the page what comes back: batches in the replies to its messages, and
// batches the app delivers through orvaneDeliver. Both kinds go out one
// microtask after they arrive, so that they reach the page in the order the
// app sent them: a reply settles its promise at once but runs its callback
// only as a microtask, which a batch handed over at once would overtake.
constexpr const char* kRelayWorld = "orvane";
constexpr const char* kHandler = "orvane";
constexpr const char* kRelayScript = R"((() => {
  "use strict";
  const handler = window.webkit?.messageHandlers?.orvane;
  if (!handler) return;
  const hand = (batch) => {
    if (typeof batch === "string") window.dispatchEvent(new CustomEvent("orvane-receive", { detail: batch }));
  };
  globalThis.orvaneDeliver = (batch) => { Promise.resolve(batch).then(hand); };
  window.addEventListener("orvane-post", (event) => {
    if (typeof event.detail === "string") handler.postMessage(self.origin + "\n" + event.detail).then(hand, () => {});
  });
})();)";

// The whole string, by its length: a NUL inside is kept, so that the parser
// refuses the text instead of reading only what comes before it.
std::optional<std::string> wholeString(JSCValue* value) {
    if (!jsc_value_is_string(value)) return std::nullopt;
    const std::unique_ptr<GBytes, decltype(&g_bytes_unref)> bytes(jsc_value_to_string_as_bytes(value), g_bytes_unref);
    if (!bytes) return std::nullopt;
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
    return data ? std::string(data, size) : std::string();
}

}  // namespace

std::string pageInfo(const std::string& version) { return pageInfoJson(kPlatform, version); }

std::shared_ptr<MainWindow> MainWindow::create(MainQueue& queue, MainWindowSettings settings) {
    std::shared_ptr<MainWindow> made(new MainWindow(queue, std::move(settings)));
    made->build();
    return made;
}

MainWindow::MainWindow(MainQueue& queue, MainWindowSettings settings) : queue_(queue), settings_(std::move(settings)) {
    session_ = std::make_unique<PageSession>(
        queue, *this, PageSessionSettings{settings_.pageUrl, settings_.version, settings_.updateRoot},
        std::move(settings_.backends));
}

MainWindow::~MainWindow() {
    navigation_.reset();
    // Signals first: their handlers must never see a half-destroyed window.
    titleWatch_.disconnect();
    loadWatch_.disconnect();
    closeWatch_.disconnect();
    messageWatch_.disconnect();
    navigationWatch_.disconnect();
    heldReply_.release();
    // The session goes while the window it evaluates in is still whole.
    session_.reset();
    if (content_) webkit_user_content_manager_unregister_script_message_handler(content_.get(), kHandler, kRelayWorld);
    if (window_) gtk_window_destroy(window_.get());
}

void MainWindow::build() {
    content_ = adopt(webkit_user_content_manager_new());

    GPtr<WebKitSettings> prefs = adopt(webkit_settings_new());
    // WebKit appends "Orvane/<version>" to its own user agent.
    webkit_settings_set_user_agent_with_application_details(prefs.get(), "Orvane", settings_.version.c_str());

    const std::string script =
        replaceAll(settings_.bundle.resource("bridge", "js"), "__ORVANE_INFO__", pageInfo(settings_.version));
    WebKitUserScript* bridge = webkit_user_script_new(script.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_.get(), bridge);
    webkit_user_script_unref(bridge);

    switchOffThrottling(prefs.get());
    // Only ever switched on: a user who turned it on elsewhere keeps it.
    if (settings_.inspectable) webkit_settings_set_enable_developer_extras(prefs.get(), TRUE);
    webkit_settings_set_enable_back_forward_navigation_gestures(prefs.get(), FALSE);
    // Said, not assumed: a frame must not fill the window with a document it wrote.
    webkit_settings_set_allow_top_navigation_to_data_urls(prefs.get(), FALSE);

    webView_ = adopt(WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "settings", prefs.get(), "user-content-manager", content_.get(), nullptr)));
    const GdkRGBA transparent = {0, 0, 0, 0};
    webkit_web_view_set_background_color(webView_.get(), &transparent);
    gtk_widget_set_hexpand(GTK_WIDGET(webView_.get()), TRUE);
    gtk_widget_set_vexpand(GTK_WIDGET(webView_.get()), TRUE);
    navigation_ = std::make_unique<PageNavigation>(queue_, webView_.get(), navigationSettings());

    // The app is dark by design, whatever the desktop's choice.
    adw_init();
    adw_style_manager_set_color_scheme(adw_style_manager_get_default(), ADW_COLOR_SCHEME_FORCE_DARK);
    window_ = retain(GTK_WINDOW(g_object_new(ADW_TYPE_APPLICATION_WINDOW, nullptr)));
    gtk_window_set_title(window_.get(), settings_.appName.c_str());
    styleWindow(window_.get());
    gtk_widget_set_size_request(GTK_WIDGET(window_.get()), kMinWidth, kMinHeight);
    gtk_window_set_default_size(window_.get(), kWidth, kHeight);
    // Hiding on close keeps the window: the app ends through `closed` instead.
    gtk_window_set_hide_on_close(window_.get(), TRUE);
    header_ = std::make_unique<HeaderBar>(webView_.get(), settings_.appName);
    fullScreenBar_ = std::make_unique<FullScreenBar>(window_.get(), header_->widget(), header_->menuButton());
    // The bar and the page in one column, so that Tab goes from one to the other.
    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_append(GTK_BOX(column), fullScreenBar_->widget());
    toasts_ = ADW_TOAST_OVERLAY(adw_toast_overlay_new());
    adw_toast_overlay_set_child(toasts_, GTK_WIDGET(webView_.get()));
    notices_ = std::make_unique<Notices>(toasts_);
    gtk_box_append(GTK_BOX(column), GTK_WIDGET(toasts_));
    adw_application_window_set_content(ADW_APPLICATION_WINDOW(window_.get()), column);
    addEditingKeys(window_.get(), webView_.get());

    if (auto frame = loadWindowFrame(kFrameName, settings_.windowState)) {
        gtk_window_set_default_size(window_.get(), std::max(frame->width, kMinWidth),
                                    std::max(frame->height, kMinHeight));
        if (frame->maximized) gtk_window_maximize(window_.get());
    }

    const WeakWindow weak = weak_.weak();
    contextMenu_ = std::make_unique<PageContextMenu>(webView_.get(), settings_.inspectable, [weak] {
        if (auto window = weak.lock()) window->reload();
    });
    zoomOnControlScroll(GTK_WIDGET(webView_.get()), [weak](int step) {
        if (auto window = weak.lock()) window->zoom(step);
    });
    titleWatch_ =
        connectWith(webView_.get(), "notify::title", G_CALLBACK(+[](WebKitWebView*, GParamSpec*, WeakWindow* self) {
                        if (auto window = self->lock()) window->titleChanged();
                    }),
                    weak);
    loadWatch_ = connectWith(webView_.get(), "load-changed",
                             G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, WeakWindow* self) {
                                 if (auto window = self->lock()) window->loadChanged(event);
                             }),
                             weak);
    closeWatch_ = connectWith(window_.get(), "close-request", G_CALLBACK(+[](GtkWindow*, WeakWindow* self) -> gboolean {
                                  if (auto window = self->lock()) {
                                      if (window->askPageBeforeClosing()) return TRUE;
                                      window->saveFrame();
                                      // An install under way holds the app
                                      // (the window only hides) until it has
                                      // stopped and cleaned up, or swapped.
                                      if (window->closed && !window->session_->updater().quitWhenSafe(window->closed))
                                          window->closed();
                                  }
                                  return FALSE;
                              }),
                              weak);
    // The page may go. At once when WebKit answers for it (a page without
    // unload handlers). Else WebKit gives the page 50 ms before it says so
    // unasked: a question the page is still on its way to ask gets a moment
    // to show. Once shown, WebKit ignores its answer: PageDialogs tells it.
    pageCloseWatch_ = connectWith(webView_.get(), "close", G_CALLBACK(+[](WebKitWebView*, WeakWindow* self) {
                                      auto window = self->lock();
                                      if (!window || !window->askingPage_ || window->dialogs_->current()) return;
                                      if (window->tryingClose_) return window->closeSoon();
                                      window->closeGrace_ =
                                          window->queue_.after(kQuestionGraceSeconds, [weak = window->weak_.weak()] {
                                              auto main = weak.lock();
                                              if (main && main->askingPage_ && !main->dialogs_->current()) main->quit();
                                          });
                                  }),
                                  weak);
    processWatch_ = connectWith(webView_.get(), "web-process-terminated",
                                G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason, WeakWindow* self) {
                                    if (auto window = self->lock()) window->session_->pageGone();
                                }),
                                weak);
    installBridge();
    installDialogsAndDownloads();
    // Past the page's last control the title bar is next, and before its
    // first one too: the bar is above the page, and the order wraps.
    keyboardFocus_ =
        std::make_unique<PageKeyboardFocus>(window_.get(), webView_.get(), content_.get(), [weak](bool forward) {
            if (auto window = weak.lock()) window->fullScreenBar_->takeFocus(forward);
        });
}

bool MainWindow::askPageBeforeClosing() {
    if (closingNow_ || askingPage_) return false;
    if (!session_->onPage() || dialogs_->current() || !webkit_web_view_get_is_web_process_responsive(webView_.get()))
        return false;
    askingPage_ = true;
    tryingClose_ = true;
    webkit_web_view_try_close(webView_.get());
    tryingClose_ = false;
    return true;
}

void MainWindow::installDialogsAndDownloads() {
    dialogs_ = std::make_unique<PageDialogs>(window_.get(), settings_.appName, webView_.get(), settings_.chooseFiles);
    dialogs_->leaveAnswered = [weak = weak_.weak()](bool leave) {
        auto window = weak.lock();
        if (!window || !window->askingPage_) return;
        if (leave) window->closeSoon();
        else window->askingPage_ = false;
    };
    downloads_ = std::make_unique<Downloads>(
        window_.get(), settings_.appName, webView_.get(), settings_.chooseFiles,
        [weak = weak_.weak()](const std::string& address) {
            const auto window = weak.lock();
            return window && window->navigation_ && window->navigation_->mayDownload(address);
        },
        settings_.unfinishedDownloads);
    downloadsIndicator_ =
        std::make_unique<DownloadsIndicator>(*downloads_, settings_.openDownload, settings_.showDownloadInFolder);
    downloadsIndicator_->finished = [weak = weak_.weak()](std::size_t index) {
        auto window = weak.lock();
        if (!window) return;
        const auto act = [weak](void (DownloadsIndicator::*what)(std::size_t), std::size_t which) {
            return [weak, what, which] {
                if (auto owner = weak.lock()) (owner->downloadsIndicator_.get()->*what)(which);
            };
        };
        window->notices_->downloadFinished(window->downloads_->entries().at(index).name,
                                           act(&DownloadsIndicator::activate, index),
                                           act(&DownloadsIndicator::showInFolder, index));
    };
    header_->packEnd(downloadsIndicator_->widget());
}

PageNavigationSettings MainWindow::navigationSettings() {
    PageNavigationSettings navigation;
    navigation.pageUrl = settings_.pageUrl;
    navigation.offlineTemplate = translatedPage(settings_.bundle.resource("offline", "html"));
    navigation.stoppedTemplate = translatedPage(settings_.bundle.resource("stopped", "html"));
    navigation.movedTemplate = translatedPage(settings_.bundle.resource("moved", "html"));
    navigation.savedPages = settings_.savedPages;
    navigation.retryDelays = settings_.retryDelays;
    navigation.openOutside = [this](const Url& url) { openExternally(url); };
    // Up, for the relaunch after an update, once something shows in the window.
    navigation.shown = [this] {
        if (loadedOnce_) return;
        loadedOnce_ = true;
        if (settings_.firstLoad) settings_.firstLoad();
    };
    navigation.savedCopyShown = [weak = weak_.weak()](std::chrono::system_clock::time_point saved) {
        if (auto window = weak.lock(); window && window->notices_) window->notices_->savedCopyShown(saved);
    };
    navigation.reloadedAfterProcessEnd = [weak = weak_.weak()] {
        if (auto window = weak.lock(); window && window->notices_) window->notices_->pageReloaded();
    };
    navigation.log = [log = session_->logger()](const std::string& line) {
        if (log) log(line);
    };
    return navigation;
}

void MainWindow::installBridge() {
    WebKitUserScript* relay =
        webkit_user_script_new_for_world(kRelayScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                         WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kRelayWorld, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_.get(), relay);
    webkit_user_script_unref(relay);
    // With a reply: what a message's handling queues for the page goes back
    // with it (see PageSession::receivedWithReply).
    webkit_user_content_manager_register_script_message_handler_with_reply(content_.get(), kHandler, kRelayWorld);
    // The registration holds the window weakly: the web view's configuration
    // must not keep it alive. A reply left unanswered goes back empty.
    messageWatch_ = connectWith(content_.get(), "script-message-with-reply-received::orvane",
                                G_CALLBACK(+[](WebKitUserContentManager*, JSCValue* value,
                                               WebKitScriptMessageReply* reply, WeakWindow* self) -> gboolean {
                                    if (auto window = self->lock()) window->received(value, reply);
                                    return TRUE;
                                }),
                                weak_.weak());
    // A reply kept for the next batch belongs to the document that sent its
    // message; the next document gets its batches by script until it posts.
    navigationWatch_ =
        connectWith(webView_.get(), "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, WeakWindow* self) {
                        if (auto window = self->lock()) window->heldReply_.release();
                    }),
                    weak_.weak());
}

void MainWindow::shutdown() {
    navigation_->stop();
    session_->shutdown();
}

void MainWindow::received(JSCValue* value, WebKitScriptMessageReply* reply) {
    // The relay only ever sends the origin, a line break and the text;
    // anything else is not ours.
    const auto whole = wholeString(value);
    const std::size_t lineEnd = whole ? whole->find('\n') : std::string::npos;
    if (lineEnd == std::string::npos) return;
    ScriptMessage message;
    message.mainFrame = true;  // the relay runs in the top frame only
    message.origin = whole->substr(0, lineEnd);
    message.body = whole->substr(lineEnd + 1);
    const auto outcome = session_->receivedWithReply(message);
    if (outcome.batch) return answer(reply, jsc_value_get_context(value), *outcome.batch);
    // Nothing for the page yet: its next batch goes back in this reply.
    if (outcome.accepted) heldReply_.hold(reply, jsc_value_get_context(value));
}

void MainWindow::deliverBatch(const std::string& array) {
    if (heldReply_.send(array)) return;
    // Through the relay, as one string: the same path as a batch in a reply,
    // so that it keeps its place behind one.
    const std::string script = "orvaneDeliver(" + nlohmann::json(array).dump() + ")";
    webkit_web_view_evaluate_javascript(webView_.get(), script.c_str(), static_cast<gssize>(script.size()), kRelayWorld,
                                        nullptr, nullptr, nullptr, nullptr);
}

void MainWindow::evaluateScript(const std::string& script) {
    webkit_web_view_evaluate_javascript(webView_.get(), script.c_str(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
}

void MainWindow::openExternally(const Url& url) {
    if (settings_.openExternal) settings_.openExternal(url);
    else openWithDesktop(window(), url);
}

void MainWindow::quit() {
    // Through the window's close, so that its frame is saved on the way out.
    closingNow_ = true;
    gtk_window_close(window());
}

void MainWindow::close() { gtk_window_close(window()); }

void MainWindow::closeSoon() {
    // Not from inside the view's or the dialog's own signal: the close destroys them.
    queue_.async([weak = weak_.weak()] {
        if (auto window = weak.lock()) window->quit();
    });
}

std::optional<Url> MainWindow::currentAddress() const {
    const char* uri = webkit_web_view_get_uri(webView_.get());
    if (!uri) return std::nullopt;
    return Url::parse(uri);
}

void MainWindow::show() {
    if (!webkit_web_view_get_uri(webView_.get())) load();
    gtk_window_present(window_.get());
    gtk_widget_grab_focus(GTK_WIDGET(webView_.get()));
}

void MainWindow::load() {
    // A dialog the page waits on would hold the load back behind it.
    dialogs_->closeAll();
    navigation_->load();
}

void MainWindow::reload() {
    if (session_->onPage()) {
        dialogs_->closeAll();
        webkit_web_view_reload(webView_.get());
        return;
    }
    load();
}

void MainWindow::loadChanged(WebKitLoadEvent event) {
    // The offline page or another document took the page's place.
    if (event == WEBKIT_LOAD_COMMITTED && !session_->onPage()) session_->pageGone();
    if (event != WEBKIT_LOAD_FINISHED) return;
    // A document that ends its load without a title shows the app's name,
    // not the title of the one before it.
    const char* title = webkit_web_view_get_title(webView_.get());
    if (!title || !*title) gtk_window_set_title(window_.get(), settings_.appName.c_str());
    if (session_->onPage()) session_->updater().pageLoaded();
}

void MainWindow::zoom(int step) {
    webkit_web_view_set_zoom_level(webView_.get(), zoomStep(webkit_web_view_get_zoom_level(webView_.get()), step));
}

void MainWindow::titleChanged() {
    const char* title = webkit_web_view_get_title(webView_.get());
    if (title && *title) gtk_window_set_title(window_.get(), title);
}

void MainWindow::saveFrame() {
    WindowFrame frame;
    gtk_window_get_default_size(window_.get(), &frame.width, &frame.height);
    frame.maximized = gtk_window_is_maximized(window_.get());
    if (frame.width > 0 && frame.height > 0) saveWindowFrame(kFrameName, frame, settings_.windowState);
}

}  // namespace orvane
