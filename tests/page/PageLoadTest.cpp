// The page's load failures in virtual time: the retry from the saved copy,
// the offline page and its own retries, the deadline, and what is logged.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "MainQueueVirtual.h"
#include "OfflinePage.h"
#include "PageLoad.h"

namespace orvane {
namespace {

constexpr const char* kPage = "https://lights.example/";

class ViewFake final : public PageLoadHost {
public:
    void loadPage() override { calls.emplace_back("load"); }
    bool showSavedCopy() override {
        calls.emplace_back("copy");
        return hasCopy;
    }
    void showOffline() override { calls.emplace_back("offline"); }
    void showStopped() override { calls.emplace_back("stopped"); }
    void reloadingAfterProcessEnd() override { calls.emplace_back("told"); }
    void stopLoading() override { calls.emplace_back("stop"); }
    void openExternally(const Url& url) override { calls.emplace_back("open " + url.text); }
    void probePage(std::function<void(bool)> done) override {
        calls.emplace_back("probe");
        probed = std::move(done);
    }

    // What was asked since the last look.
    std::vector<std::string> take() { return std::exchange(calls, {}); }

    bool hasCopy = false;
    std::vector<std::string> calls;
    std::function<void(bool)> probed;  // the last probe's answer
};

using Calls = std::vector<std::string>;

class PageLoadTest : public testing::Test {
protected:
    std::vector<std::string> takeLog() { return std::exchange(log, {}); }
    // The host's view of one failed main-frame load of the page.
    void fail(const std::string& why, const char* address = kPage) {
        loads.started(Url::parse(address));
        loads.failed(Url::parse(address), {false, why});
    }

    MainQueueVirtual queue;
    ViewFake view;
    std::vector<std::string> log;
    PageLoad loads{queue, view, *Url::parse(kPage), [this](const std::string& line) { log.push_back(line); },
                   RetryDelays{10, 60}};
};

TEST_F(PageLoadTest, FirstFailureShowsTheSavedCopyAndTheNextTheOfflinePage) {
    view.hasCopy = true;
    loads.load();
    fail("Could not connect");
    EXPECT_EQ(view.take(), (Calls{"load", "copy"}));
    EXPECT_EQ(takeLog(), (Calls{"Orvane: page didn't load: Could not connect"}));
    EXPECT_TRUE(loads.triedCache());

    // The copy showed; the flag stays until something clears it, so the next
    // failure goes straight to the offline page.
    loads.committed(false);
    fail("Could not resolve host");
    EXPECT_EQ(view.take(), (Calls{"offline"}));
    EXPECT_EQ(takeLog(), (Calls{"Orvane: page didn't load: Could not resolve host"}));

    // A link back into the site starts afresh: the copy is tried again.
    loads.navigatedInSite();
    fail("Could not connect");
    EXPECT_EQ(view.take(), (Calls{"copy"}));
}

TEST_F(PageLoadTest, NoSavedCopyIsAFailedRetryAndShowsTheOfflinePage) {
    loads.load();
    fail("Could not connect");
    EXPECT_EQ(view.take(), (Calls{"load", "copy", "offline"}));
    EXPECT_EQ(takeLog(), (Calls{"Orvane: page didn't load: Could not connect",
                                "Orvane: page didn't load: There is no saved copy of the page."}));
    EXPECT_TRUE(loads.offline());
}

TEST_F(PageLoadTest, CancelledLoadsAreNotFailures) {
    loads.load();
    loads.started(Url::parse(kPage));
    loads.failed(Url::parse(kPage), {true, "Load request cancelled"});
    EXPECT_EQ(view.take(), (Calls{"load"}));
    EXPECT_TRUE(takeLog().empty());
    EXPECT_FALSE(loads.triedCache());
    // Nor does the deadline of the cancelled load fire later.
    queue.advance(PageLoad::kDeadlineSeconds * 2);
    EXPECT_TRUE(view.take().empty());
}

TEST_F(PageLoadTest, ALoadThatShowsNothingWithinTheDeadlineFailsAsTimedOut) {
    view.hasCopy = true;
    loads.load();
    loads.started(Url::parse(kPage));
    queue.advance(PageLoad::kDeadlineSeconds - 1);
    EXPECT_EQ(view.take(), (Calls{"load"}));
    // The stop reports the load as cancelled; that must not hide the failure.
    view.calls.clear();
    queue.advance(1);
    EXPECT_EQ(view.take(), (Calls{"stop", "copy"}));
    EXPECT_EQ(takeLog(), (Calls{"Orvane: page didn't load: The request timed out."}));

    // A load that commits in time is left alone.
    loads.load();
    view.take();
    loads.started(Url::parse(kPage));
    loads.committed(false);
    queue.advance(PageLoad::kDeadlineSeconds * 2);
    EXPECT_TRUE(view.take().empty());

    // So is one the engine never starts (it refuses some ports without a word).
    loads.load();
    queue.advance(PageLoad::kDeadlineSeconds);
    EXPECT_EQ(view.take(), (Calls{"load", "stop", "copy"}));
    EXPECT_EQ(takeLog(), (Calls{"Orvane: page didn't load: The request timed out."}));
}

TEST_F(PageLoadTest, AFailureOffTheSiteIsNotThePagesAndGoesToTheDesktop) {
    loads.load();
    view.take();
    fail("Could not resolve host", "https://news.example/story");
    fail("Unsupported scheme", "tel:+15550100");
    EXPECT_EQ(view.take(), (Calls{"open https://news.example/story"}));
    EXPECT_TRUE(takeLog().empty());
    EXPECT_FALSE(loads.triedCache());
    // Another page of the site failing is the page's failure.
    fail("Could not connect", "https://lights.example/help");
    EXPECT_EQ(view.take(), (Calls{"copy", "offline"}));
}

TEST_F(PageLoadTest, OfflinePageRetriesWithAGrowingPauseQuietlyUnlessTheFailureChanges) {
    loads.load();
    fail("Could not connect");
    loads.committed(true);  // the offline page itself
    view.take();
    takeLog();

    const std::vector<double> pauses = {10, 20, 40, 60, 60};
    for (std::size_t i = 0; i < pauses.size(); ++i) {
        SCOPED_TRACE(i);
        queue.advance(pauses[i] - 0.5);
        EXPECT_TRUE(view.take().empty());
        queue.advance(0.5);
        EXPECT_EQ(view.take(), (Calls{"load"}));
        // The offline page stays; nothing new to say.
        fail(i == 2 ? "Could not resolve host" : "Could not connect");
        EXPECT_TRUE(view.take().empty());
        EXPECT_EQ(takeLog().size(), i == 2 || i == 3 ? 1u : 0u);
    }

    // The network changing tries at once, the last try being a first pause
    // old; the page showing ends the retries.
    queue.advance(10);
    loads.networkChanged();
    EXPECT_EQ(view.take(), (Calls{"load"}));
    loads.networkChanged();  // one retry at a time
    EXPECT_TRUE(view.take().empty());
    // A retry that something else calls off (a click on the offline page)
    // leaves the retries going; once it ended them for good.
    loads.started(Url::parse(kPage));
    loads.failed(Url::parse(kPage), {true, "Load request cancelled"});
    EXPECT_TRUE(loads.offline());
    queue.advance(loads.nextRetryDelay());
    EXPECT_EQ(view.take(), (Calls{"load"}));
    loads.started(Url::parse(kPage));
    loads.committed(false);
    EXPECT_FALSE(loads.offline());
    EXPECT_EQ(queue.pending(), 0u);
    loads.networkChanged();
    EXPECT_TRUE(view.take().empty());
    EXPECT_EQ(loads.nextRetryDelay(), 10);
}

// A retry due while the offline page was still on its way started the page's
// load; the offline page's showing then read as the page's (the view already
// named the page's address) and ended the retries for good.
TEST_F(PageLoadTest, ARetryWaitsForTheOfflinePageToShow) {
    loads.load();
    fail("Could not connect");
    EXPECT_EQ(view.take(), (Calls{"load", "copy", "offline"}));
    // Its start is reported after the first retry was due, or before.
    queue.advance(10);
    loads.started(std::nullopt);  // the offline page, a document of the app's own
    queue.advance(10);
    EXPECT_TRUE(view.take().empty()) << "no load while another is under way";
    loads.committed(true);
    queue.advance(loads.nextRetryDelay());
    EXPECT_EQ(view.take(), (Calls{"load"}));
    EXPECT_TRUE(loads.offline());
    // An offline page the engine never reports holds the retries up only
    // as long as a load may take.
    loads.load();
    fail("Could not connect");
    EXPECT_EQ(view.take(), (Calls{"load", "copy", "offline"}));
    queue.advance(PageLoad::kDeadlineSeconds + 40);
    EXPECT_EQ(view.take(), (Calls{"load"}));
}

// After a failed start the saved copy showed for good, without its scripts
// and styles, and nothing noticed the server coming back.
TEST_F(PageLoadTest, BehindTheSavedCopyThePageIsAskedForQuietlyAndLoadedOnceItAnswers) {
    view.hasCopy = true;
    loads.load();
    fail("Could not connect");
    loads.started(Url::parse(kPage));  // the copy, under the page address
    loads.committed(false);
    EXPECT_TRUE(loads.behindCopy());
    EXPECT_EQ(view.take(), (Calls{"load", "copy"}));
    takeLog();

    // Asked for after the offline page's pauses, without a word in the log
    // or a load in the view while the server does not answer.
    for (const double pause : {10.0, 20.0}) {
        SCOPED_TRACE(pause);
        queue.advance(pause - 0.5);
        EXPECT_TRUE(view.take().empty());
        queue.advance(0.5);
        EXPECT_EQ(view.take(), (Calls{"probe"}));
        loads.networkChanged();  // one probe at a time
        EXPECT_TRUE(view.take().empty());
        view.probed(false);
    }
    EXPECT_TRUE(takeLog().empty());
    // The network changing asks once the first pause since the last try has passed.
    loads.networkChanged();
    queue.advance(10);
    EXPECT_EQ(view.take(), (Calls{"probe"}));
    view.probed(true);
    EXPECT_EQ(view.take(), (Calls{"load"}));
    EXPECT_EQ(takeLog(), (Calls{"Orvane: the page's server answers again; loading the page"}));
    loads.started(Url::parse(kPage));
    loads.committed(false);
    EXPECT_FALSE(loads.behindCopy());
    EXPECT_EQ(queue.pending(), 0u) << "the live page shows: nothing more to ask";

    // The user going elsewhere in the copy ends the probes too; a late answer is dropped.
    loads.load();
    fail("Could not connect");
    loads.started(Url::parse(kPage));
    loads.committed(false);
    queue.advance(10);
    EXPECT_EQ(view.take(), (Calls{"load", "copy", "probe"}));
    loads.started(Url::parse("https://lights.example/help"));
    view.probed(true);
    EXPECT_TRUE(view.take().empty());
    loads.committed(false);
    EXPECT_EQ(queue.pending(), 0u);
}

TEST_F(PageLoadTest, ProcessEndedLogsAndLoadsThePageAfresh) {
    loads.load();
    fail("Could not connect");
    view.take();
    takeLog();
    loads.processEnded();
    EXPECT_EQ(takeLog(), (Calls{"Orvane: the page's process ended; loading it again"}));
    EXPECT_EQ(view.take(), (Calls{"told", "load"}));
    EXPECT_FALSE(loads.triedCache());
}

// 100 changes of the network in 10 s once made 101 loads of the page.
TEST_F(PageLoadTest, ANetworkThatKeepsChangingDoesNotSkipThePauses) {
    loads.load();
    fail("Could not connect");
    loads.committed(true);
    view.take();
    queue.advance(10);
    EXPECT_EQ(view.take(), (Calls{"load"}));
    fail("Could not connect");
    for (int i = 0; i < 100; ++i) {
        queue.advance(0.1);
        loads.networkChanged();
        if (!view.calls.empty()) fail("Could not connect");
    }
    // The pause before was 20 s; the changes brought it down to the first,
    // 10 s after the last try, and no more.
    EXPECT_EQ(view.take(), (Calls{"load"}));
    EXPECT_EQ(loads.nextRetryDelay(), 20) << "the failure after it doubled the pause again";
}

TEST_F(PageLoadTest, AProcessThatKeepsEndingIsReloadedAfterGrowingPausesThenNoMore) {
    loads.load();
    loads.committed(false);
    view.take();
    const std::string ended = "Orvane: the page's process ended; loading it again";
    // The first end reloads at once, the next after 1 s, then 2 s; the user
    // is told each time.
    loads.processEnded();
    EXPECT_EQ(view.take(), (Calls{"told", "load"}));
    for (double pause : {1.0, 2.0}) {
        SCOPED_TRACE(pause);
        loads.committed(false);
        loads.processEnded();
        EXPECT_EQ(view.take(), (Calls{"told"}));
        queue.advance(pause - 0.01);
        EXPECT_TRUE(view.take().empty());
        queue.advance(0.01);
        EXPECT_EQ(view.take(), (Calls{"load"}));
    }
    EXPECT_EQ(takeLog(), (Calls{ended, ended, ended}));
    // The fourth in a minute: it stops, and says so, with nothing pending.
    loads.processEnded();
    EXPECT_EQ(view.take(), (Calls{"stopped"}));
    EXPECT_EQ(takeLog(), (Calls{"Orvane: the page's process keeps ending; not loading it again until asked"}));
    EXPECT_EQ(queue.pending(), 0u);

    // The user's Reload gives it its chances again.
    loads.load();
    EXPECT_EQ(view.take(), (Calls{"load"}));
    loads.processEnded();
    EXPECT_EQ(view.take(), (Calls{"told", "load"}));
    loads.committed(false);
    // An end long after the ones before counts as a first again.
    queue.advance(PageLoad::kProcessEndWindowSeconds);
    loads.processEnded();
    EXPECT_EQ(view.take(), (Calls{"told", "load"}));
}

TEST(OfflinePage, NamesThePageAndItsHostAsWritten) {
    const auto page = *Url::parse("https://lights.example:8443/?from=app&lt=1&x='y'");
    EXPECT_EQ(offlinePage("<a href=\"__PAGE_URL__\">__HOST__</a> __HOST__", page),
              "<a href=\"https://lights.example:8443/?from=app&amp;lt=1&amp;x=&#39;y&#39;\">lights.example</a> "
              "lights.example");
    EXPECT_EQ(offlinePage("", page), "");
}

TEST(OfflinePage, AMovedPageNamesWhereItLeadsWithoutLettingEitherAddressAddPlaceholders) {
    const auto page = *Url::parse("http://lights.example/?a=__TARGET_URL__");
    const auto target = *Url::parse("https://wifi.example/login?next=__PAGE_URL__&b='1'&c=__HOST__");
    EXPECT_EQ(movedPage("__PAGE_URL__|__HOST__|__TARGET_HOST__|<a href=\"__TARGET_URL__\">", page, target),
              "http://lights.example/?a=__TARGET_URL__|lights.example|wifi.example|"
              "<a href=\"https://wifi.example/login?next=__PAGE_URL__&amp;b=&#39;1&#39;&amp;c=__HOST__\">");
}

}  // namespace
}  // namespace orvane
