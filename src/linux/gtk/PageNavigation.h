#pragma once
// The web view's side of where the page goes and what happens when it does
// not load: it translates WebKit's policy decisions, load events and the end
// of the content process for the navigation policy and the failure handling
// (both portable), and does the loads they ask for: the page, its saved
// copy, the offline page.
//
// Main thread only. The window owns it and outlives it.

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ActionGate.h"
#include "GRef.h"
#include "HttpGet.h"
#include "MainQueue.h"
#include "PageLoad.h"
#include "SavedPage.h"
#include "Url.h"
#include "WeakPtr.h"

namespace orvane {

struct PageNavigationSettings {
    Url pageUrl;
    // The offline page's template (the bundle's offline.html); "" shows an empty document.
    std::string offlineTemplate;
    // The page that says the page's process kept ending (the bundle's stopped.html), filled in the same way.
    std::string stoppedTemplate;
    // The offline page for a page address that leads to another site (the bundle's moved.html).
    std::string movedTemplate;
    // Where the page's last good copy is kept; empty keeps none.
    std::filesystem::path savedPages;
    RetryDelays retryDelays;
    std::function<void(const Url&)> openOutside;
    // A document finished loading and shows: the page, its saved copy or the
    // offline page (not a load that failed, nor WebKit's empty stand-in).
    std::function<void()> shown;
    // The saved copy, written at `saved`, is being shown for the page.
    std::function<void(std::chrono::system_clock::time_point saved)> savedCopyShown;
    // The page's process ended and the page is loaded again.
    std::function<void()> reloadedAfterProcessEnd;
    std::function<void(const std::string& line)> log;
};

class PageNavigation final : public PageLoadHost {
public:
    PageNavigation(MainQueue& queue, WebKitWebView* view, PageNavigationSettings settings);
    ~PageNavigation() override;
    PageNavigation(const PageNavigation&) = delete;
    PageNavigation& operator=(const PageNavigation&) = delete;

    // A fresh load of the page address.
    void load() { loads_.load(); }
    // The app is ending: no more retries.
    void stop() { loads_.stop(); }
    PageLoad& loads() { return loads_; }
    const SavedPage& savedPage() const { return saved_; }
    // The user pressed a key or a button in the view (tests stand in for it).
    void userActed();
    // What the page may still hand to the desktop, and downloads it may
    // still start; fed by the user's own keys and buttons in the view.
    ActionGate& handOffs() { return handOffs_; }
    ActionGate& downloadStarts() { return downloadStarts_; }
    // Whether the page may start the download of `address` now; a refusal
    // is logged once per run of them.
    bool mayDownload(const std::string& address);

    // PageLoadHost.
    void loadPage() override;
    bool showSavedCopy() override;
    void showOffline() override;
    void showStopped() override;
    void stopLoading() override;
    void openExternally(const Url& url) override;
    void probePage(std::function<void(bool answers)> done) override;
    void reloadingAfterProcessEnd() override;

private:
    bool decide(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
    void windowRequested(WebKitNavigationAction* action);
    void loadChanged(WebKitLoadEvent event);
    void committed(const char* uri);
    void refusedLoadFails();
    void loadFailed(WebKitLoadEvent event, const char* uri, GError* error);
    void keepCopy();
    void refuseDownload(const std::string& address, const char* why);

    MainQueue& queue_;
    WebKitWebView* view_;
    PageNavigationSettings settings_;
    SavedPage saved_;
    PageLoad loads_;
    ActionGate handOffs_{true};
    ActionGate downloadStarts_{false};
    // The offline page has been asked for and has not shown yet.
    bool offlineRequested_ = false;
    // The page's load under way was refused and replaced by an empty document.
    bool refused_ = false;
    // The load under way failed before it showed anything.
    bool failed_ = false;
    // The status of the server's error that the policy called the load under way off for.
    std::optional<int> serverFailed_;
    // The main frame's load under way set out for the page address, and the
    // document last committed.
    bool pageRequested_ = false, pageLoadUnderWay_ = false;
    std::string committedUri_;
    // Where the load of the page address under way was redirected off the
    // site, and where the offline page that shows says it leads ("" for the
    // plain offline page).
    std::optional<Url> movedTo_;
    std::string offlineSaysMovedTo_;
    // The quiet requests for the page behind its saved copy.
    GPtr<SoupSession> probeSession_;
    std::shared_ptr<HttpGet> probe_;
    SignalConnection policyWatch_, createWatch_, loadWatch_, failWatch_, processWatch_, networkWatch_, inputWatch_;
    // Last: gone first, so no callback reaches a half-destroyed object.
    WeakPtrFactory<PageNavigation> weak_{this};
};

}  // namespace orvane
