#include "PageNavigation.h"

#include <sys/stat.h>

#include <gio/gio.h>

#include <memory>
#include <utility>

#include "NavigationPolicy.h"
#include "OfflinePage.h"
#include "PageTexts.h"
#include "Site.h"

namespace orvane {
namespace {

using WeakNavigation = std::weak_ptr<PageNavigation>;

// WebKit loads the offline page from a string with no base address; it also
// shows this address in place of a load it refuses.
constexpr const char* kOfflineAddress = "about:blank";

std::string uriOf(WebKitURIRequest* request) {
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    return uri ? uri : "";
}

// An address as WebKit writes it, even one the strict parser refuses (a data
// address with spaces): its scheme still tells that it is not the site.
std::optional<Url> addressOf(const char* uri) {
    if (!uri || !*uri) return std::nullopt;
    if (auto url = Url::parse(uri)) return url;
    Url unparsed;
    unparsed.text = uri;
    unparsed.scheme = schemeOf(uri);
    return unparsed;
}

// The page address itself, as WebKit writes it back ("http://h:80" comes
// back as "http://h/").
bool isPageAddress(const char* uri, const Url& page) {
    const auto url = uri ? Url::parse(uri) : std::nullopt;
    if (!url || !sameSite(url, page)) return false;
    const auto path = [](const Url& u) { return u.path.empty() ? std::string("/") : u.path; };
    return path(*url) == path(page) && url->query == page.query;
}

}  // namespace

PageNavigation::PageNavigation(MainQueue& queue, WebKitWebView* view, PageNavigationSettings settings)
    : queue_(queue), view_(view), settings_(std::move(settings)), saved_(settings_.savedPages, settings_.pageUrl),
      loads_(queue, *this, settings_.pageUrl, settings_.log, settings_.retryDelays) {
    const WeakNavigation weak = weak_.weak();
    policyWatch_ = connectWith(view, "decide-policy",
                               G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision,
                                              WebKitPolicyDecisionType type, WeakNavigation* self) -> gboolean {
                                   const auto navigation = self->lock();
                                   return navigation && navigation->decide(decision, type);
                               }),
                               weak);
    // A script's window.open comes here rather than through the policy
    // decision that a link aimed at a new window takes.
    createWatch_ =
        connectWith(view, "create",
                    G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction* action, WeakNavigation* self) -> GtkWidget* {
                        if (const auto navigation = self->lock()) navigation->windowRequested(action);
                        return nullptr;
                    }),
                    weak);
    loadWatch_ =
        connectWith(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, WeakNavigation* self) {
                        if (const auto navigation = self->lock()) navigation->loadChanged(event);
                    }),
                    weak);
    failWatch_ = connectWith(view, "load-failed",
                             G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, const char* uri, GError* error,
                                            WeakNavigation* self) -> gboolean {
                                 if (const auto navigation = self->lock()) navigation->loadFailed(event, uri, error);
                                 // WebKit's own error page would only cover what shows.
                                 return TRUE;
                             }),
                             weak);
    processWatch_ =
        connectWith(view, "web-process-terminated",
                    G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason, WeakNavigation* self) {
                        if (const auto navigation = self->lock()) navigation->loads_.processEnded();
                    }),
                    weak);
    // Before the view sees them: a press of a key or a button is the user's
    // own action, which lets the page hand one address to the desktop or
    // start one download.
    GtkEventController* input = gtk_event_controller_legacy_new();
    gtk_event_controller_set_propagation_phase(input, GTK_PHASE_CAPTURE);
    gtk_widget_add_controller(GTK_WIDGET(view), input);
    inputWatch_ =
        connectWith(input, "event", G_CALLBACK(+[](GtkEventControllerLegacy*, GdkEvent* event, WeakNavigation* self) {
                        const GdkEventType type = gdk_event_get_event_type(event);
                        const bool acted = type == GDK_BUTTON_PRESS || type == GDK_KEY_PRESS || type == GDK_TOUCH_BEGIN;
                        if (const auto navigation = self->lock(); navigation && acted) navigation->userActed();
                        return gboolean(FALSE);
                    }),
                    weak);
    networkWatch_ = connectWith(g_network_monitor_get_default(), "network-changed",
                                G_CALLBACK(+[](GNetworkMonitor*, gboolean, WeakNavigation* self) {
                                    if (const auto navigation = self->lock()) navigation->loads_.networkChanged();
                                }),
                                weak);
}

PageNavigation::~PageNavigation() {
    loads_.stop();
    if (probe_) probe_->abandon();
}

bool PageNavigation::decide(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) {
    NavigationRequest request;
    switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION:
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: {
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        request.stage = type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION ? NavigationStage::newWindow
                                                                              : NavigationStage::action;
        request.address = uriOf(webkit_navigation_action_get_request(action));
        request.typeOther = webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_OTHER;
        request.userGesture = webkit_navigation_action_is_user_gesture(action);
        break;
    }
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
        auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        request.stage = NavigationStage::response;
        request.address = uriOf(webkit_response_policy_decision_get_request(response));
        request.mainFrame = webkit_response_policy_decision_is_main_frame_main_resource(response);
        request.canShow = webkit_response_policy_decision_is_mime_type_supported(response);
        WebKitURIResponse* answer = webkit_response_policy_decision_get_response(response);
        request.status = answer ? static_cast<int>(webkit_uri_response_get_status_code(answer)) : 0;
        request.loadingPageAddress = pageLoadUnderWay_;
        break;
    }
    default: return false;
    }
    const auto decided = decideNavigation(request, settings_.pageUrl);
    if (decided.clearTriedCache) loads_.navigatedInSite();
    switch (decided.verdict) {
    case NavigationDecision::Verdict::allow: webkit_policy_decision_use(decision); break;
    case NavigationDecision::Verdict::cancel: webkit_policy_decision_ignore(decision); break;
    case NavigationDecision::Verdict::download: webkit_policy_decision_download(decision); break;
    }
    if (decided.openOutside) openExternally(*decided.openOutside);
    // A navigation that overtakes the page's load before it starts (a click
    // on the offline page as a retry begins) ends it without a word from
    // the engine, even when it is refused itself: the load is called off.
    if (decided.verdict == NavigationDecision::Verdict::cancel && request.stage == NavigationStage::action &&
        std::exchange(pageRequested_, false))
        loads_.failed(settings_.pageUrl, {true, "overtaken by another navigation"});
    // The engine reports the load it now calls off as cancelled; that report
    // becomes the failure, in its turn (see loadFailed).
    if (decided.serverFailed) serverFailed_ = request.status;
    if (decided.pageMoved) movedTo_ = addressOf(request.address.c_str());
    if (decided.downloadRefused) {
        downloadStarts_.refuse();
        refuseDownload(request.address, "it comes from a frame of another site");
    }
    return true;
}

void PageNavigation::userActed() {
    handOffs_.userActed();
    downloadStarts_.userActed();
}

bool PageNavigation::mayDownload(const std::string& address) {
    if (downloadStarts_.take()) return true;
    refuseDownload(address, "the page asked for more than one per click or key press");
    return false;
}

void PageNavigation::refuseDownload(const std::string& address, const char* why) {
    if (!downloadStarts_.tellRefusal() || !settings_.log) return;
    settings_.log("Orvane: not saving " + address + ": " + why);
}

void PageNavigation::windowRequested(WebKitNavigationAction* action) {
    NavigationRequest request;
    request.stage = NavigationStage::newWindow;
    request.address = uriOf(webkit_navigation_action_get_request(action));
    // Never a second view: the answer is always no view, at most the desktop.
    if (const auto decided = decideNavigation(request, settings_.pageUrl); decided.openOutside)
        openExternally(*decided.openOutside);
}

void PageNavigation::loadChanged(WebKitLoadEvent event) {
    const char* uri = webkit_web_view_get_uri(view_);
    switch (event) {
    case WEBKIT_LOAD_STARTED:
        // WebKit names the page shown, not where the load goes, for some
        // loads the page starts itself (a refresh): a load of the page
        // address is one the app asked for, or one from another document.
        pageLoadUnderWay_ =
            isPageAddress(uri, settings_.pageUrl) &&
            (std::exchange(pageRequested_, false) || !isPageAddress(committedUri_.c_str(), settings_.pageUrl));
        failed_ = false;
        serverFailed_.reset();
        movedTo_.reset();
        loads_.started(addressOf(uri));
        break;
    case WEBKIT_LOAD_COMMITTED:
        committedUri_ = uri ? uri : "";
        handOffs_.pageLoaded();
        downloadStarts_.pageLoaded();
        committed(uri);
        break;
    case WEBKIT_LOAD_FINISHED:
        if (std::exchange(refused_, false)) {
            refusedLoadFails();
        } else if (!std::exchange(failed_, false)) {
            keepCopy();
            if (settings_.shown) settings_.shown();
        }
        break;
    case WEBKIT_LOAD_REDIRECTED:
        // The page address leading elsewhere, even where that fails to load.
        if (const auto target = addressOf(uri); pageLoadUnderWay_ && !sameSite(target, settings_.pageUrl))
            movedTo_ = target;
        break;
    }
}

void PageNavigation::committed(const char* uri) {
    const bool offline = g_strcmp0(uri, kOfflineAddress) == 0;
    if (offline && std::exchange(offlineRequested_, false)) {
        loads_.committed(true);
    } else if (const auto& loading = loads_.loading();
               offline && loading && sameSite(loading, settings_.pageUrl) && browsersBlockPort(settings_.pageUrl)) {
        // WebKit shows an empty document, without a word, in place of a load
        // of the page that it refuses to start (a port browsers block). On
        // any other port it is one the page asked for (a link to
        // about:blank), which WebKit starts under the page's address.
        refused_ = true;
    } else {
        loads_.committed(false);
    }
}

void PageNavigation::refusedLoadFails() {
    // On a later turn: WebKit drops a load started while it ends this one.
    queue_.async([weak = weak_.weak()] {
        const auto self = weak.lock();
        if (!self) return;
        const bool wasOffline = self->loads_.offline();
        self->loads_.failed(self->settings_.pageUrl, {false, std::string(pageSentences::refused)});
        // A quiet retry of the offline page has had its empty document put in
        // the offline page's place.
        if (wasOffline && self->loads_.offline()) self->showOffline();
    });
}

void PageNavigation::loadFailed(WebKitLoadEvent event, const char* uri, GError* error) {
    // Once the page has started to show, it stays as far as it came.
    if (event == WEBKIT_LOAD_COMMITTED || event == WEBKIT_LOAD_FINISHED) return;
    failed_ = true;
    LoadError failure;
    // Called off by a new load or by the app; or by the policy, which had
    // its reasons (another site, a download).
    failure.cancelled =
        g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
        g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE);
    failure.description = error ? error->message : "";
    if (const auto status = std::exchange(serverFailed_, std::nullopt); status && failure.cancelled)
        failure = {false, std::string(pageSentences::serverFailed) + std::to_string(*status) + "."};
    if (movedTo_ && failure.cancelled) {
        // The page's failure, under its own address: the redirect's target
        // is not handed to the desktop unasked.
        failure = {false, std::string(pageSentences::leadsElsewhere) + movedTo_->text + "."};
        loads_.failed(settings_.pageUrl, failure);
    } else {
        // A load of the page address fails as the page's, wherever its
        // redirects took it: never a page for the desktop to open unasked.
        loads_.failed(pageLoadUnderWay_ ? std::optional<Url>(settings_.pageUrl) : addressOf(uri), failure);
    }
    // A quiet retry found the page's address leading elsewhere, or no longer:
    // the offline page that shows says what is now the case.
    const std::string movedTo = movedTo_ ? movedTo_->text : "";
    if (loads_.offline() && !offlineRequested_ && movedTo != offlineSaysMovedTo_) showOffline();
}

void PageNavigation::keepCopy() {
    // Only the page itself, straight from its server with a good status: not
    // the saved copy shown again, not an error page, not another page of the site.
    WebKitWebResource* resource = webkit_web_view_get_main_resource(view_);
    if (!resource || saved_.file().empty() || !isPageAddress(webkit_web_resource_get_uri(resource), settings_.pageUrl))
        return;
    WebKitURIResponse* response = webkit_web_resource_get_response(resource);
    const guint status = response ? webkit_uri_response_get_status_code(response) : 0;
    if (status < 200 || status > 299) return;
    // Only an HTML document: the copy is shown as HTML, and the page's server
    // answering text (say, a script's source) must not become script later.
    const char* type = webkit_uri_response_get_mime_type(response);
    if (!type || g_ascii_strcasecmp(type, "text/html") != 0) return;
    webkit_web_resource_get_data(
        resource, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            const std::unique_ptr<WeakNavigation> self(static_cast<WeakNavigation*>(data));
            gsize length = 0;
            const GCharPtr bytes(reinterpret_cast<char*>(
                webkit_web_resource_get_data_finish(WEBKIT_WEB_RESOURCE(source), result, &length, nullptr)));
            const auto navigation = self->lock();
            if (bytes && navigation) navigation->saved_.write(std::string_view(bytes.get(), length));
        },
        new WeakNavigation(weak_.weak()));
}

void PageNavigation::loadPage() {
    pageRequested_ = true;
    // By the protocol's cache rules: WebKit's default for a plain request.
    webkit_web_view_load_uri(view_, settings_.pageUrl.text.c_str());
}

bool PageNavigation::showSavedCopy() {
    const auto copy = saved_.read();
    if (!copy) return false;
    // Under the page address, so that its origin, the bridge and its relative
    // addresses are those of the page.
    const char* page = settings_.pageUrl.text.c_str();
    webkit_web_view_load_alternate_html(view_, copy->c_str(), page, page);
    struct stat written {};
    if (settings_.savedCopyShown && ::stat(saved_.file().c_str(), &written) == 0)
        settings_.savedCopyShown(std::chrono::system_clock::from_time_t(written.st_mtime));
    return true;
}

void PageNavigation::reloadingAfterProcessEnd() {
    if (settings_.reloadedAfterProcessEnd) settings_.reloadedAfterProcessEnd();
}

void PageNavigation::showOffline() {
    offlineRequested_ = true;
    offlineSaysMovedTo_ = movedTo_ ? movedTo_->text : "";
    const std::string page = movedTo_ ? movedPage(settings_.movedTemplate, settings_.pageUrl, *movedTo_)
                                      : offlinePage(settings_.offlineTemplate, settings_.pageUrl);
    webkit_web_view_load_html(view_, page.c_str(), nullptr);
}

void PageNavigation::showStopped() {
    // Shown like the offline page, as the app's own document.
    offlineRequested_ = true;
    webkit_web_view_load_html(view_, offlinePage(settings_.stoppedTemplate, settings_.pageUrl).c_str(), nullptr);
}

void PageNavigation::stopLoading() { webkit_web_view_stop_loading(view_); }

void PageNavigation::probePage(std::function<void(bool answers)> done) {
    // A session of its own: nothing of the page's cookies or cache, and a
    // server that takes the connection but never answers still ends it.
    constexpr guint kProbeSeconds = 30;
    if (!probeSession_) probeSession_ = adopt(soup_session_new_with_options("timeout", kProbeSeconds, nullptr));
    if (probe_) probe_->abandon();
    // The page itself: a good status and an HTML document, at the page's site
    // (HttpGet follows no redirect off it).
    auto answers = std::make_shared<bool>(false);
    HttpGet::Handlers handlers;
    handlers.response = [answers](SoupMessage* message) {
        const char* type = soup_message_headers_get_content_type(soup_message_get_response_headers(message), nullptr);
        *answers = SOUP_STATUS_IS_SUCCESSFUL(soup_message_get_status(message)) && type &&
                   g_ascii_strcasecmp(type, "text/html") == 0;
        return false;
    };
    handlers.done = [answers, done = std::move(done)](const std::optional<std::string>& error) {
        done(*answers && !error);
    };
    probe_ = HttpGet::start(probeSession_.get(), settings_.pageUrl, std::move(handlers));
}

void PageNavigation::openExternally(const Url& url) {
    if (!handOffs_.take()) {
        if (handOffs_.tellRefusal() && settings_.log)
            settings_.log("Orvane: not opening " + url.text +
                          " outside: the page asked for more than one per click or key press");
        return;
    }
    if (settings_.openOutside) settings_.openOutside(url);
}

}  // namespace orvane
