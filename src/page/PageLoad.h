#pragma once
// What happens when the page does not load: the first failure of a load of
// the page retries from the saved copy, the next shows the offline page, and
// while the offline page shows the page is tried again by itself (when the
// network changes, else after a growing pause). Behind the saved copy the
// page is asked for quietly on the same schedule, and loaded in its place
// once its server answers with it. Each failure writes one log
// line; a load that shows nothing within the deadline counts as failed. A
// content process that keeps ending is reloaded after a growing pause, and
// after a few ends in a row not at all: a page says so.
// Toolkit-free: the host tells it the main frame's load events and does the
// loading it asks for.
//
// Main thread only. The host outlives it.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "MainQueue.h"
#include "Url.h"
#include "WeakPtr.h"

namespace orvane {

// The loads the failure handling asks of the view showing the page.
class PageLoadHost {
public:
    virtual ~PageLoadHost() = default;
    // Loads the page address from the network, by the protocol's cache rules.
    virtual void loadPage() = 0;
    // Shows the last good copy of the page under the page address, so that
    // its origin and bridge work; false when there is no copy.
    virtual bool showSavedCopy() = 0;
    // Shows the offline page in place of the page.
    virtual void showOffline() = 0;
    // Asks the page's server for the page without showing anything: `done`
    // gets true when it answers with the page itself.
    virtual void probePage(std::function<void(bool answers)> done) = 0;
    // Shows, in place of the page, that its process kept ending and that it
    // is not loaded again until the user asks.
    virtual void showStopped() = 0;
    // Stops the load under way.
    virtual void stopLoading() = 0;
    // Hands an https, http or mailto address to the desktop.
    virtual void openExternally(const Url& url) = 0;
    // The page's process ended and the page is loaded again: the user is
    // told, as the page starts afresh (its links closed).
    virtual void reloadingAfterProcessEnd() {}
};

// Why a main-frame load ended before it showed anything.
struct LoadError {
    // Called off: by a new load, by the app itself, or by the navigation
    // policy. Not a failure.
    bool cancelled = false;
    std::string description;
};

// The pauses between the offline page's own retries: `first`, doubling up to `longest`.
struct RetryDelays {
    double first = 10;
    double longest = 5 * 60;
};

class PageLoad {
public:
    static constexpr double kDeadlineSeconds = 60;
    // Ends of the content process closer together than this count as in a
    // row; after this many in a row, the page is not loaded again.
    static constexpr double kProcessEndWindowSeconds = 60;
    static constexpr std::size_t kProcessEndsInARow = 3;
    // The pause before loading again after the second end in a row, doubling.
    static constexpr double kProcessEndPauseSeconds = 1;

    PageLoad(MainQueue& queue, PageLoadHost& host, Url page, std::function<void(const std::string&)> log,
             RetryDelays delays = {});
    PageLoad(const PageLoad&) = delete;
    PageLoad& operator=(const PageLoad&) = delete;

    // A fresh load of the page address that the app starts (first show,
    // reload off the site, Try Again).
    void load();
    // An allowed navigation inside the site that the user or the page set off.
    void navigatedInSite();
    // The page's content process ended: the page address loads again (at
    // once the first time, then after a growing pause), or after too many
    // ends in a row, the host shows that it stopped.
    void processEnded();
    // The desktop's network came or went: the offline page's retry comes
    // now, or as soon as the first pause since the last try has passed.
    void networkChanged();
    // The app is ending: no more retries or deadlines.
    void stop();

    // The main frame's load events. `address` is where the load goes.
    void started(std::optional<Url> address);
    void committed(bool offlinePage);
    void failed(const std::optional<Url>& address, const LoadError& error);

    bool triedCache() const { return triedCache_; }
    bool offline() const { return offline_; }
    // The saved copy shows, and the page is asked for behind it.
    bool behindCopy() const { return behindCopy_; }
    double nextRetryDelay() const { return delay_; }
    // Where the main frame's load under way goes, if one is.
    const std::optional<Url>& loading() const { return loading_; }

private:
    void loadAfresh();
    void loadPage();
    void logFailure(const std::string& why);
    void showOffline();
    // The offline page's next retry, in `seconds`.
    void scheduleRetry(double seconds);
    void markUnderWay();
    void retry();
    void probe();
    void probed(bool answers);
    void deadlinePassed();

    MainQueue& queue_;
    PageLoadHost& host_;
    Url page_;
    std::function<void(const std::string&)> log_;
    RetryDelays delays_;
    // The current attempt to load the page has been retried from the saved copy.
    bool triedCache_ = false;
    bool offline_ = false;
    // The load under way is one of the offline page's own retries: it fails quietly.
    bool retrying_ = false;
    // A load has been asked for or has started, and has neither shown nor
    // failed: the view's address is already the next load's once that is
    // asked for, so a retry waits until this one is through (for at most
    // the deadline, should the engine never report it).
    bool underWay_ = false;
    MainQueue::Clock::time_point underWaySince_{};
    // The saved copy was asked for; its commit starts the quiet probes.
    bool copyRequested_ = false;
    bool behindCopy_ = false;
    bool probing_ = false;  // a probe is under way
    double delay_;
    // Why the page last failed to load, to tell a new kind of failure.
    std::string lastFailure_;
    std::optional<Url> loading_;
    MainQueue::Clock::time_point lastTry_{};
    // When the content process ended lately, oldest first.
    std::vector<MainQueue::Clock::time_point> processEnds_;
    Task deadline_, retryTask_;
    // Last: gone first, so no timer reaches a half-destroyed object.
    WeakPtrFactory<PageLoad> weak_{this};
};

}  // namespace orvane
