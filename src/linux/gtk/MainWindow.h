#pragma once
// The one application window: the web view showing the control page, page
// loading, zoom and the title that follows the page's. It is the page
// session's host on WebKitGTK: it relays the page's messages to the session
// and evaluates the session's scripts; the session does the rest.

#include <adwaita.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <filesystem>
#include <memory>
#include <string>

#include "Bundle.h"
#include "Downloads.h"
#include "DownloadsIndicator.h"
#include "FileChooser.h"
#include "FullScreenBar.h"
#include "GRef.h"
#include "HeaderBar.h"
#include "HeldReply.h"
#include "MainQueue.h"
#include "Notices.h"
#include "PageContextMenu.h"
#include "PageDialogs.h"
#include "PageHost.h"
#include "PageKeyboardFocus.h"
#include "PageNavigation.h"
#include "PageSession.h"
#include "Url.h"
#include "WeakPtr.h"

namespace orvane {

struct MainWindowSettings {
    Url pageUrl;
    std::string version;
    std::string appName = "Orvane";  // in the menu, the About window and the dialogs' titles
    bool inspectable = false;
    Bundle bundle;                      // where bridge.js and offline.html come from
    std::filesystem::path windowState;  // key file the window frame is saved in
    // What the page session works through (Bluetooth, updater, log), chosen
    // by the app's composition or by a test.
    PageBackends backends;
    // Hands an https, http or mailto address to the desktop; the default
    // asks the desktop's handler for it.
    std::function<void(const Url&)> openExternal;
    // The bundle an update replaces: the running one in the app. Empty, the
    // updater refuses to install (tests never replace the build's bundle).
    std::filesystem::path updateRoot;
    // Called once, when the window first shows a document (the page, its
    // saved copy or the offline page; a failed load is not one): the app is
    // up.
    std::function<void()> firstLoad;
    // Where the page's last good copy is kept for when its server can't be
    // reached; empty keeps none.
    std::filesystem::path savedPages;
    // Where the hidden files of downloads under way are listed, so that the
    // next start removes what a kill left; empty keeps no list.
    std::filesystem::path unfinishedDownloads;
    // The offline page's pauses between its own retries.
    RetryDelays retryDelays;
    // Asks the user for files to upload or where to save a download; empty,
    // the desktop's chooser. Opens a finished download; empty, the desktop's
    // handler for its type.
    FileChooser chooseFiles;
    std::function<void(const std::string& path)> openDownload;
    // Shows a finished download in its folder; empty, the desktop's file manager does.
    std::function<void(const std::string& path)> showDownloadInFolder;
};

class MainWindow final : public PageHost {
public:
    static constexpr int kWidth = 1240, kHeight = 860, kMinWidth = 560, kMinHeight = 480;

    // Builds the window and its web view; loads nothing until show().
    static std::shared_ptr<MainWindow> create(MainQueue& queue, MainWindowSettings settings);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Loads the page when nothing is loaded yet, then brings the window forward.
    void show();
    // Loads the page address afresh.
    void load();
    // Reloads in place on the page's site, else loads the page address.
    void reload();
    // +1 zooms in one level, -1 out, 0 back to the normal size.
    void zoom(int step);

    // The app is ending: the Bluetooth backend goes now, while the loop can
    // still carry its last calls, so that no link outlives the app (a light
    // stays bound to a central that never let go of it). Page messages for
    // Bluetooth are dropped from here on.
    void shutdown();

    // Queues one message for the page; batches go out once per loop turn.
    void deliver(nlohmann::json message) { session_->deliver(std::move(message)); }

    // PageHost.
    void evaluateScript(const std::string& script) override;
    void deliverBatch(const std::string& array) override;
    std::optional<Url> currentAddress() const override;
    void openExternally(const Url& url) override;
    // Closes at once: the page is not asked (an update's relaunch, a signal).
    void quit() override;
    // The user's close (Quit, the close button): a page that asks to be
    // warned before it is left is asked first, as a reload or a link does.
    // A page busy with a dialog is not; a second close while it is asked
    // closes.
    void close();

    // Called when the window is closing: the frame is saved, then `closed` runs.
    std::function<void()> closed;

    GtkWindow* window() const { return window_.get(); }
    WebKitWebView* webView() const { return webView_.get(); }
    const MainWindowSettings& settings() const { return settings_; }
    PageSession& session() { return *session_; }
    // The title bar, with the app's menu; other controls can go at its end.
    HeaderBar& headerBar() { return *header_; }
    FullScreenBar& fullScreenBar() { return *fullScreenBar_; }
    PageNavigation& navigation() { return *navigation_; }
    PageDialogs& dialogs() { return *dialogs_; }
    Downloads& downloads() { return *downloads_; }
    DownloadsIndicator& downloadsIndicator() { return *downloadsIndicator_; }
    Notices& notices() { return *notices_; }

private:
    MainWindow(MainQueue& queue, MainWindowSettings settings);
    void build();
    PageNavigationSettings navigationSettings();
    void titleChanged();
    void loadChanged(WebKitLoadEvent event);
    void saveFrame();
    void installBridge();
    void received(JSCValue* value, WebKitScriptMessageReply* reply);
    void installDialogsAndDownloads();
    // Whether the close under way waits for the page's answer first.
    bool askPageBeforeClosing();
    // The page agreed to go: the window closes on the next turn.
    void closeSoon();

    MainQueue& queue_;
    MainWindowSettings settings_;
    GPtr<GtkWindow> window_;
    GPtr<WebKitWebView> webView_;
    GPtr<WebKitUserContentManager> content_;
    std::unique_ptr<PageSession> session_;
    std::unique_ptr<HeaderBar> header_;
    std::unique_ptr<FullScreenBar> fullScreenBar_;
    std::unique_ptr<PageKeyboardFocus> keyboardFocus_;
    AdwToastOverlay* toasts_ = nullptr;  // the window owns it
    std::unique_ptr<Notices> notices_;
    std::unique_ptr<PageContextMenu> contextMenu_;
    std::unique_ptr<PageNavigation> navigation_;
    std::unique_ptr<PageDialogs> dialogs_;
    std::unique_ptr<Downloads> downloads_;
    std::unique_ptr<DownloadsIndicator> downloadsIndicator_;
    bool loadedOnce_ = false;
    bool askingPage_ = false, closingNow_ = false;
    bool tryingClose_ = false;  // inside WebKit's try-close: it answered for the page
    Task closeGrace_;
    SignalConnection titleWatch_, loadWatch_, closeWatch_, messageWatch_, pageCloseWatch_, processWatch_;
    // The page bridge's: a reply kept for the next batch, let go on navigation.
    HeldReply heldReply_;
    SignalConnection navigationWatch_;
    // Last: gone first, so no callback reaches a half-destroyed window.
    WeakPtrFactory<MainWindow> weak_{this};
};

// The page information object handed to the bridge script on this platform.
std::string pageInfo(const std::string& version);

}  // namespace orvane
