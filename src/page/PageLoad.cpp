#include "PageLoad.h"

#include <algorithm>
#include <utility>

#include "PageBridge.h"
#include "PageTexts.h"
#include "Site.h"

namespace orvane {

PageLoad::PageLoad(MainQueue& queue, PageLoadHost& host, Url page, std::function<void(const std::string&)> log,
                   RetryDelays delays)
    : queue_(queue), host_(host), page_(std::move(page)), log_(std::move(log)), delays_(delays), delay_(delays.first) {}

void PageLoad::load() {
    // The user (or the app) asks: the page gets its chances again.
    processEnds_.clear();
    loadAfresh();
}

void PageLoad::loadAfresh() {
    triedCache_ = false;
    retrying_ = false;
    copyRequested_ = false;
    behindCopy_ = false;
    retryTask_.cancel();
    loadPage();
}

void PageLoad::loadPage() {
    lastTry_ = queue_.now();
    host_.loadPage();
    // Timed from here, not from the engine's start: a load it refuses to
    // start at all (a port it never connects to) must still end in a failure.
    started(page_);
}

void PageLoad::navigatedInSite() {
    triedCache_ = false;
    retrying_ = false;
}

void PageLoad::processEnded() {
    retryTask_.cancel();
    deadline_.cancel();
    loading_.reset();
    underWay_ = false;
    offline_ = false;
    copyRequested_ = false;
    behindCopy_ = false;
    const auto now = queue_.now();
    const auto window =
        std::chrono::duration_cast<MainQueue::Clock::duration>(std::chrono::duration<double>(kProcessEndWindowSeconds));
    std::erase_if(processEnds_, [&](auto when) { return now - when >= window; });
    processEnds_.push_back(now);
    // Reloading a page whose process dies at once, at once and for ever,
    // spins the machine (and soon aborts the engine itself).
    if (processEnds_.size() > kProcessEndsInARow) {
        if (log_) log_(std::string(pageSentences::processKeepsEnding));
        host_.showStopped();
        return;
    }
    if (log_) log_(std::string(pageSentences::processEnded));
    host_.reloadingAfterProcessEnd();
    if (processEnds_.size() == 1) {
        loadAfresh();
        return;
    }
    const double pause = kProcessEndPauseSeconds * static_cast<double>(1u << (processEnds_.size() - 2));
    retryTask_ = queue_.after(pause, [weak = weak_.weak()] {
        if (const auto self = weak.lock()) self->loadAfresh();
    });
}

void PageLoad::networkChanged() {
    // A retry under way will tell. Otherwise the pauses start again from the
    // first, which a network that comes and goes does not skip: the next
    // retry comes once the first pause since the last try has passed.
    if (!(offline_ || behindCopy_) || retrying_ || probing_) return;
    retryTask_.cancel();
    delay_ = delays_.first;
    const double since = std::chrono::duration<double>(queue_.now() - lastTry_).count();
    if (since >= delays_.first) {
        retry();
        return;
    }
    scheduleRetry(delays_.first - since);
}

void PageLoad::stop() {
    deadline_.cancel();
    retryTask_.cancel();
    offline_ = false;
    behindCopy_ = false;
}

void PageLoad::started(std::optional<Url> address) {
    // Anything loading in the copy's place ends the quiet probes; a copy
    // that shows again starts them again.
    if (std::exchange(behindCopy_, false)) retryTask_.cancel();
    loading_ = std::move(address);
    markUnderWay();
    deadline_.cancel();
    deadline_ = queue_.after(kDeadlineSeconds, [weak = weak_.weak()] {
        if (const auto self = weak.lock()) self->deadlinePassed();
    });
}

void PageLoad::committed(bool offlinePage) {
    deadline_.cancel();
    loading_.reset();
    underWay_ = false;
    if (offlinePage) return;
    // Something real shows: the offline page's retries are over.
    offline_ = false;
    retrying_ = false;
    retryTask_.cancel();
    delay_ = delays_.first;
    // The saved copy is only a stand-in: the page is asked for behind it.
    behindCopy_ = std::exchange(copyRequested_, false);
    if (behindCopy_) scheduleRetry(delay_);
}

void PageLoad::deadlinePassed() {
    const auto address = loading_;
    // Stopping may report the load as cancelled, which is not the failure:
    // the deadline is.
    host_.stopLoading();
    failed(address, {false, std::string(pageSentences::timedOut)});
}

void PageLoad::failed(const std::optional<Url>& address, const LoadError& error) {
    deadline_.cancel();
    loading_.reset();
    underWay_ = false;
    if (error.cancelled) {
        // A quiet retry called off by something else (a click on the
        // offline page) is tried again later: the retries must not end here.
        if (std::exchange(retrying_, false) && offline_) scheduleRetry(delay_);
        return;
    }
    if (address && !sameSite(address, page_)) {
        // A main-frame load off the site that looked like a sub-frame's to the
        // navigation policy: it belongs to the desktop like any other, and the
        // page, still shown, did not fail.
        if (const auto url = Url::parse(address->text); url && openableOutside(*url)) host_.openExternally(*url);
        return;
    }
    if (retrying_) {
        // The offline page stays; only a new kind of failure is worth a line.
        retrying_ = false;
        triedCache_ = true;
        if (error.description != lastFailure_) logFailure(error.description);
        lastFailure_ = error.description;
        delay_ = std::min(delay_ * 2, delays_.longest);
        scheduleRetry(delay_);
        return;
    }
    logFailure(error.description);
    lastFailure_ = error.description;
    if (!triedCache_) {
        triedCache_ = true;
        if (host_.showSavedCopy()) {
            copyRequested_ = true;
            return;
        }
        logFailure(std::string(pageSentences::noSavedCopy));
    }
    showOffline();
}

void PageLoad::logFailure(const std::string& why) {
    if (log_) log_(std::string(pageSentences::didNotLoad) + why);
}

void PageLoad::showOffline() {
    offline_ = true;
    // Its start is reported later, maybe after the first retry is due.
    markUnderWay();
    host_.showOffline();
    scheduleRetry(delay_);
}

void PageLoad::markUnderWay() {
    underWay_ = true;
    underWaySince_ = queue_.now();
}

void PageLoad::scheduleRetry(double seconds) {
    retryTask_.cancel();
    retryTask_ = queue_.after(seconds, [weak = weak_.weak()] {
        if (const auto self = weak.lock()) self->retry();
    });
}

void PageLoad::retry() {
    if (behindCopy_) return probe();
    // The offline page still on its way: its showing would be taken for
    // the page's (the engine names it by the address asked for next).
    const double waited = std::chrono::duration<double>(queue_.now() - underWaySince_).count();
    if (underWay_ && waited < kDeadlineSeconds) return scheduleRetry(delay_);
    retrying_ = true;
    triedCache_ = false;
    loadPage();
}

void PageLoad::probe() {
    lastTry_ = queue_.now();
    probing_ = true;
    host_.probePage([weak = weak_.weak()](bool answers) {
        if (const auto self = weak.lock()) self->probed(answers);
    });
}

void PageLoad::probed(bool answers) {
    probing_ = false;
    // Something else has shown meanwhile (the user's reload, a link).
    if (!behindCopy_) return;
    if (answers) {
        if (log_) log_(std::string(pageSentences::answersAgain));
        loadAfresh();
        return;
    }
    delay_ = std::min(delay_ * 2, delays_.longest);
    scheduleRetry(delay_);
}

}  // namespace orvane
