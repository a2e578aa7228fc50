// Where the page may go, one row per request: what the view does with it,
// what the desktop gets, and whether the page's load starts afresh.

#include <gtest/gtest.h>

#include "CaseName.h"
#include "NavigationPolicy.h"

namespace orvane {
namespace {

using Verdict = NavigationDecision::Verdict;
using Stage = NavigationStage;

constexpr const char* kPage = "https://lights.example:8443/control";

struct PolicyCase {
    const char* name;
    NavigationRequest request;
    Verdict verdict;
    const char* opened = nullptr;  // what the desktop is handed, if anything
    bool clears = false;
    bool serverFailed = false;
    bool downloadRefused = false;
    bool pageMoved = false;
};

NavigationRequest link(const char* address) { return {Stage::action, address, false, true}; }
NavigationRequest scripted(const char* address, bool gesture) { return {Stage::action, address, true, gesture}; }
NavigationRequest newWindow(const char* address) { return {Stage::newWindow, address, false, true}; }
NavigationRequest response(const char* address, bool mainFrame, bool canShow = true, int status = 200) {
    return {Stage::response, address, true, false, mainFrame, canShow, status};
}
// The load of the page address, redirected to `address`.
NavigationRequest redirectedPage(const char* address) {
    auto request = response(address, true);
    request.loadingPageAddress = true;
    return request;
}

class NavigationPolicyTest : public testing::TestWithParam<PolicyCase> {};

TEST_P(NavigationPolicyTest, Decides) {
    const auto& c = GetParam();
    const auto decision = decideNavigation(c.request, *Url::parse(kPage));
    EXPECT_EQ(decision.verdict, c.verdict);
    if (c.opened) {
        ASSERT_TRUE(decision.openOutside);
        EXPECT_EQ(decision.openOutside->text, c.opened);
    } else {
        EXPECT_FALSE(decision.openOutside) << decision.openOutside->text;
    }
    EXPECT_EQ(decision.clearTriedCache, c.clears);
    EXPECT_EQ(decision.serverFailed, c.serverFailed);
    EXPECT_EQ(decision.downloadRefused, c.downloadRefused);
    EXPECT_EQ(decision.pageMoved, c.pageMoved);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NavigationPolicyTest,
    testing::Values(
        // Inside the site, and the schemes that carry their own content.
        PolicyCase{"LinkInSiteLoadsAndStartsAfresh", link("https://LIGHTS.example:8443/other"), Verdict::allow, nullptr,
                   true},
        PolicyCase{"AppOrScriptLoadInSiteKeepsTheRetryState", scripted(kPage, false), Verdict::allow},
        PolicyCase{"ScriptInSiteWithGestureKeepsTheRetryState", scripted("https://lights.example:8443/x", true),
                   Verdict::allow},
        PolicyCase{"HistoryOrReloadInSiteStartsAfresh",
                   {Stage::action, "https://lights.example:8443/", false, false},
                   Verdict::allow,
                   nullptr,
                   true},
        PolicyCase{"DataStays", link("data:text/html,<b>hi there</b>"), Verdict::allow},
        PolicyCase{"BlobOfTheSiteStays", link("blob:https://lights.example:8443/2f1c"), Verdict::allow},
        // Another site's blob (a frame's) never fills the window: it would speak as the app.
        PolicyCase{"BlobOfAnotherSiteWithGestureIsDropped", scripted("blob:https://ads.example/2f1c", true),
                   Verdict::cancel},
        PolicyCase{"MainFrameResponseOfAnotherSitesBlobIsDropped", response("blob:https://ads.example/2f1c", true),
                   Verdict::cancel},
        PolicyCase{"MainFrameResponseOfAnOpaqueBlobIsDropped", response("blob:null/2f1c", true), Verdict::cancel},
        PolicyCase{"SubFrameResponseOfItsOwnBlobShows", response("blob:https://ads.example/2f1c", false),
                   Verdict::allow},
        PolicyCase{"AboutStays", link("about:blank"), Verdict::allow},
        // Off the site in the main frame: the desktop's, and the view stays.
        PolicyCase{"LinkToAnotherSiteOpensOutside", link("https://news.example/a?b=c"), Verdict::cancel,
                   "https://news.example/a?b=c"},
        PolicyCase{"OtherPortIsAnotherSite", link("https://lights.example:9443/control"), Verdict::cancel,
                   "https://lights.example:9443/control"},
        PolicyCase{"OtherSchemeIsAnotherSite", link("http://lights.example:8443/control"), Verdict::cancel,
                   "http://lights.example:8443/control"},
        PolicyCase{"ScriptWithGestureToAnotherSiteOpensOutside", scripted("http://news.example/", true),
                   Verdict::cancel, "http://news.example/"},
        PolicyCase{"MailtoOpensOutside", link("mailto:help@lights.example"), Verdict::cancel,
                   "mailto:help@lights.example"},
        PolicyCase{"TelIsDropped", link("tel:+15550100"), Verdict::cancel},
        PolicyCase{"FileIsDropped", link("file:///etc/passwd"), Verdict::cancel},
        PolicyCase{"SchemeCaseCountsExactly", link("HTTPS://news.example/"), Verdict::cancel},
        PolicyCase{"UnparsableWebAddressIsDroppedNotOpened", link("https://news.example/a b"), Verdict::cancel},
        PolicyCase{"NoAddressIsCancelled", link(""), Verdict::cancel},
        // What the action stage cannot place: a sub-frame's own load, or a
        // script's without a gesture. It loads; the response stage decides.
        PolicyCase{"FrameLoadOffSiteLoads", scripted("https://video.example/embed", false), Verdict::allow},
        PolicyCase{"FrameLoadOfTelLoads", scripted("tel:+15550100", false), Verdict::allow},
        PolicyCase{"MainFrameResponseOffSiteOpensOutside", response("https://news.example/", true), Verdict::cancel,
                   "https://news.example/"},
        // The page address leading elsewhere is the page's failure, not a
        // hand-off: once the window stayed blank for good.
        PolicyCase{"ThePageAddressRedirectedOffSiteIsAMovedPage", redirectedPage("https://wifi.example/login"),
                   Verdict::cancel, nullptr, false, false, false, true},
        PolicyCase{"ThePageAddressRedirectedInSiteShows", redirectedPage("https://lights.example:8443/v2/"),
                   Verdict::allow},
        PolicyCase{"MainFrameResponseOfFileIsDropped", response("file:///tmp/x.html", true), Verdict::cancel},
        PolicyCase{"SubFrameResponseOffSiteShows", response("https://video.example/embed", false), Verdict::allow},
        PolicyCase{"MainFrameResponseInSiteShows", response(kPage, true), Verdict::allow},
        PolicyCase{"MainFrameDataResponseShows", response("data:text/plain,x", true), Verdict::allow},
        // The site's server failing is a failed load, not a page to show.
        PolicyCase{"MainFrameServerErrorInSiteFails", response(kPage, true, true, 503), Verdict::cancel, nullptr, false,
                   true},
        PolicyCase{"MainFrameNotFoundInSiteShows", response(kPage, true, true, 404), Verdict::allow},
        PolicyCase{"SubFrameServerErrorShows", response(kPage, false, true, 500), Verdict::allow},
        PolicyCase{"ResponseTheViewCannotShowDownloads", response("https://lights.example:8443/log.zip", true, false),
                   Verdict::download},
        PolicyCase{"SubFrameResponseOfTheSiteItCannotShowDownloads",
                   response("https://lights.example:8443/a.bin", false, false), Verdict::download},
        PolicyCase{"SubFrameDownloadOfTheSitesOwnBlobGoes",
                   response("blob:https://lights.example:8443/9a", false, false), Verdict::download},
        // A frame of another site must not open save dialogs on the window.
        PolicyCase{"SubFrameDownloadOffSiteIsRefused", response("https://files.example/a.bin", false, false),
                   Verdict::cancel, nullptr, false, false, true},
        PolicyCase{"SubFrameDownloadOfAnotherSitesBlobIsRefused", response("blob:https://ads.example/9a", false, false),
                   Verdict::cancel, nullptr, false, false, true},
        PolicyCase{"SubFrameDownloadOfADataAddressIsRefused", response("data:application/zip,x", false, false),
                   Verdict::cancel, nullptr, false, false, true},
        // Never a second view: web and mail addresses go outside, the site's too.
        PolicyCase{"NewWindowInSiteOpensOutside", newWindow("https://lights.example:8443/help"), Verdict::cancel,
                   "https://lights.example:8443/help"},
        PolicyCase{"NewWindowOffSiteOpensOutside", newWindow("https://news.example/"), Verdict::cancel,
                   "https://news.example/"},
        PolicyCase{"NewWindowMailtoOpensOutside", newWindow("mailto:a@b.example"), Verdict::cancel,
                   "mailto:a@b.example"},
        PolicyCase{"NewWindowOfBlankOpensNothing", newWindow("about:blank"), Verdict::cancel},
        PolicyCase{"NewWindowOfTelOpensNothing", newWindow("tel:1"), Verdict::cancel}),
    CaseName());

TEST(SchemeOf, IsTheTextBeforeTheColonWhenItIsAScheme) {
    EXPECT_EQ(schemeOf("Data:x"), "Data");
    EXPECT_EQ(schemeOf("view-source+x.y:z"), "view-source+x.y");
    EXPECT_EQ(schemeOf("/relative:path"), "");
    EXPECT_EQ(schemeOf("1abc:x"), "");
    EXPECT_EQ(schemeOf(":x"), "");
    EXPECT_EQ(schemeOf("plain"), "");
}

}  // namespace
}  // namespace orvane
