// Where the page may go and what shows when it does not load, with the real
// web view under Xvfb and pages from local servers. Another host name or
// port of the same machine is another site.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "CaseName.h"
#include "FakeInput.h"
#include "MainQueueGlib.h"
#include "MainWindow.h"
#include "PageServer.h"
#include "Spin.h"
#include "WebProbe.h"
#include "Xvfb.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPage = R"(<!doctype html><html><head><title>Light</title></head><body>
<script>
window.marker = 1;
addEventListener("message", (event) => { if (event.data === "framed") window.framed = true; });
</script></body></html>)";
// Served to the page as a frame from another site: it tells the page it loaded.
constexpr const char* kFrame = R"(<!doctype html><script>parent.postMessage("framed", "*")</script>)";

std::string jsString(const std::string& text) { return nlohmann::json(text).dump(); }

// A port nothing listens on (a server was there a moment ago).
unsigned freePort() { return PageServer().port(); }

class NavigationTest : public testing::Test {
protected:
    static void SetUpTestSuite() { startDisplayAndGtk(); }

    void SetUp() override {
        server.serve("/", {kPage});
        server.serve("/frame", {kFrame});
        server.serve("/with-frame", {std::string("<title>Framed</title>") + kPage + "<iframe src=\"" +
                                     server.url("/frame", "localhost") + "\"></iframe>"});
        state = fs::temp_directory_path() / ("orvane-navigation-" + std::to_string(::getpid()) + "-" +
                                             testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(state);
    }
    void TearDown() override { fs::remove_all(state); }

    std::shared_ptr<MainWindow> make(const std::string& page, RetryDelays retries = {0.2, 0.4}) {
        MainWindowSettings settings;
        settings.pageUrl = *Url::parse(page);
        settings.version = "1.2.3";
        settings.bundle = Bundle(ORVANE_TEST_BUNDLE);
        settings.windowState = state / "window.ini";
        settings.savedPages = state / "cache";
        // Short pauses: the offline page's retries are the subject, not their length.
        settings.retryDelays = retries;
        settings.openExternal = [this](const Url& url) { opened.push_back(url.text); };
        settings.backends.log = [this](const std::string& line) { log.push_back(line); };
        settings.firstLoad = [this] {
            ++firstLoads;
            logAtFirstLoad = log.size();
        };
        return MainWindow::create(queue, std::move(settings));
    }

    std::shared_ptr<MainWindow> shown(const std::string& page) {
        auto window = make(page);
        window->show();
        EXPECT_TRUE(waitForLoad(window->webView(), page));
        return window;
    }

    // The page's own script follows a link it makes to where `href` (a
    // script expression) says: a click, as the user's.
    static std::string follow(const std::string& href, const std::string& target = "") {
        return "(() => { const a = document.createElement('a'); a.href = " + href +
               (target.empty() ? "" : "; a.target = " + jsString(target)) +
               "; document.body.append(a); a.click(); return true; })()";
    }
    static std::string click(const std::string& address, const std::string& target = "") {
        return follow(jsString(address), target);
    }

    // Proves that what came before has been decided: the view handles its
    // navigations in order, so once this one reached the desktop, so did
    // (or did not) everything before it. Its click counts as the user's.
    void settle(MainWindow& window) {
        const std::string sentinel = server.url("/sentinel-" + std::to_string(++sentinels), "localhost");
        window.navigation().handOffs().userActed();
        evaluate(window.webView(), click(sentinel));
        ASSERT_TRUE(spinUntil([&] { return !opened.empty() && opened.back() == sentinel; }));
        opened.pop_back();
    }

    MainQueueGlib queue;
    PageServer server;
    fs::path state;
    std::vector<std::string> opened;
    std::vector<std::string> log;
    int firstLoads = 0;
    std::size_t logAtFirstLoad = 0;
    int sentinels = 0;
};

// One way the page can try to go somewhere; SITE, OTHER and DOWN in the
// address stand for the page's site, another reachable site and a site that
// does not answer.
struct LeaveCase {
    const char* name;
    enum Kind { link, blankLink, windowOpen, refresh } kind;
    const char* address;
    bool opensOutside;
};

class LeaveTest : public NavigationTest, public testing::WithParamInterface<LeaveCase> {};

TEST_P(LeaveTest, GoesToTheDesktopOrNowhereAndThePageStays) {
    const auto& c = GetParam();
    auto window = shown(server.url("/"));
    const std::string down = "http://127.0.0.1:" + std::to_string(freePort());
    std::string address = c.address;
    for (const auto& [token, value] : {std::pair<std::string, std::string>{"SITE", server.url("")},
                                       {"OTHER", server.url("", "localhost")},
                                       {"DOWN", down}})
        if (address.starts_with(token)) address.replace(0, token.size(), value);

    std::string script;
    switch (c.kind) {
    case LeaveCase::link: script = click(address); break;
    case LeaveCase::blankLink: script = click(address, "_blank"); break;
    case LeaveCase::windowOpen: script = "window.open(" + jsString(address) + "), true"; break;
    // A navigation no one clicked: it looks like a frame's own load until its response.
    case LeaveCase::refresh:
        script = R"(document.head.insertAdjacentHTML('beforeend', '<meta http-equiv="refresh" content="0;url=)";
        script += address + R"(">'), true)";
        break;
    }
    evaluate(window->webView(), script);
    if (c.opensOutside) {
        ASSERT_TRUE(spinUntil([&] { return !opened.empty(); }));
        EXPECT_EQ(opened, std::vector<std::string>{address});
        opened.clear();
    }
    settle(*window);
    EXPECT_TRUE(opened.empty()) << opened.front();
    EXPECT_STREQ(webkit_web_view_get_uri(window->webView()), server.url("/").c_str());
    EXPECT_EQ(evaluate(window->webView(), "window.marker"), "1") << "the page was replaced";
    EXPECT_TRUE(log.empty()) << log.front();
    EXPECT_FALSE(window->navigation().loads().triedCache());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LeaveTest,
    testing::Values(LeaveCase{"LinkToAnotherSite", LeaveCase::link, "OTHER/story?a=1", true},
                    LeaveCase{"LinkToASiteThatDoesNotAnswer", LeaveCase::link, "DOWN/story", true},
                    LeaveCase{"BlankLinkOnTheSite", LeaveCase::blankLink, "SITE/help", true},
                    LeaveCase{"BlankLinkToAnotherSite", LeaveCase::blankLink, "OTHER/help", true},
                    LeaveCase{"WindowOpenOnTheSite", LeaveCase::windowOpen, "SITE/help", true},
                    LeaveCase{"WindowOpenToAnotherSite", LeaveCase::windowOpen, "OTHER/help", true},
                    LeaveCase{"MailtoLink", LeaveCase::link, "mailto:help@lights.example", true},
                    LeaveCase{"TelLink", LeaveCase::link, "tel:+15550100", false},
                    LeaveCase{"FileLink", LeaveCase::link, "file:///etc/hostname", false},
                    LeaveCase{"UnclickedNavigationToAnotherSite", LeaveCase::refresh, "OTHER/story", true},
                    LeaveCase{"UnclickedNavigationToASiteThatDoesNotAnswer", LeaveCase::refresh, "DOWN/story", true}),
    CaseName());

TEST_F(NavigationTest, ASubFrameLoadsAnotherSite) {
    auto window = shown(server.url("/with-frame"));
    ASSERT_TRUE(spinUntil([&] { return evaluate(window->webView(), "window.framed === true") == "true"; }));
    EXPECT_GE(server.count("/frame"), 1u);
    EXPECT_TRUE(opened.empty());
}

TEST_F(NavigationTest, DataAndBlobAddressesLoadInPlace) {
    auto window = shown(server.url("/"));
    // WebKit itself refuses a page's own navigation of the top frame to a
    // data address; one the app asks for passes the policy like any.
    webkit_web_view_load_uri(window->webView(), "data:text/html,<title>Data</title>");
    ASSERT_TRUE(spinUntil([&] { return g_strcmp0(webkit_web_view_get_title(window->webView()), "Data") == 0; }));

    window->load();
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));
    evaluate(window->webView(), follow("URL.createObjectURL(new Blob(['<title>Blob</title>'], {type: 'text/html'}))"));
    ASSERT_TRUE(spinUntil([&] { return g_strcmp0(webkit_web_view_get_title(window->webView()), "Blob") == 0; }));
    EXPECT_TRUE(g_str_has_prefix(webkit_web_view_get_uri(window->webView()), "blob:"));
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(log.empty());
}

// A frame of another site, filling the page, that sends the window to a
// document it wrote when the user clicks in it.
struct TakeoverCase {
    const char* name;
    const char* address;  // a script expression, run in the frame
};

class TakeoverTest : public NavigationTest, public testing::WithParamInterface<TakeoverCase> {};

TEST_P(TakeoverTest, AFramedSiteCannotFillTheWindowWithItsOwnDocument) {
    if (!test::fakeInputAvailable()) GTEST_SKIP() << "no XTEST to click with";
    server.serve("/takeover", {std::string(R"(<!doctype html><title>Forged</title><body style="margin:0;height:100vh">
<script>addEventListener("click", () => { parent.postMessage("clicked", "*"); top.location = )") +
                               GetParam().address + "; });</script>"});
    server.serve("/with-takeover", {std::string(kPage) + R"(<script>addEventListener("message", (e) => {
  if (e.data === "clicked") window.clicked = true; });</script>
<iframe style="position:fixed;inset:0;width:100%;height:100%;border:0" src=")" +
                                    server.url("/takeover", "localhost") + "\"></iframe>"});
    auto window = shown(server.url("/with-takeover"));
    ASSERT_TRUE(
        spinUntil([&] { return server.count("/takeover") > 0 && !webkit_web_view_is_loading(window->webView()); }));
    test::pointAt(GTK_WIDGET(window->webView()));
    test::clickPrimary();
    ASSERT_TRUE(spinUntil([&] { return evaluate(window->webView(), "window.clicked === true") == "true"; }));
    // The frame's navigation goes through the blob store first, so nothing
    // in the view's own order tells when it was decided: it gets a while.
    EXPECT_FALSE(spinUntil(
        [&] {
            return g_strcmp0(webkit_web_view_get_uri(window->webView()), server.url("/with-takeover").c_str()) != 0;
        },
        5));
    settle(*window);
    EXPECT_STREQ(webkit_web_view_get_uri(window->webView()), server.url("/with-takeover").c_str());
    EXPECT_EQ(evaluate(window->webView(), "window.marker"), "1") << "the page was replaced";
    EXPECT_STRNE(webkit_web_view_get_title(window->webView()), "Forged");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TakeoverTest,
    testing::Values(TakeoverCase{"ThroughABlob",
                                 "URL.createObjectURL(new Blob(['<title>Forged</title>'], {type: 'text/html'}))"},
                    TakeoverCase{"ThroughADataAddress", "'data:text/html,<title>Forged</title>'"}),
    CaseName());

// What the page address answered as text is no document to keep: shown
// later as the saved copy, its text would run as the page's script.
TEST_F(NavigationTest, OnlyAnHtmlPageIsKeptAsTheSavedCopy) {
    const unsigned port = freePort();
    const std::string page = "http://127.0.0.1:" + std::to_string(port) + "/";
    auto up = std::make_unique<PageServer>(port);
    up->serve("/", {"<title>Text</title><script>window.ran = true</script>", "text/plain; charset=utf-8"});
    auto window = shown(page);
    EXPECT_EQ(evaluate(window->webView(), "window.ran === true"), "false") << "live, the text stays text";
    up.reset();

    window->reload();
    ASSERT_TRUE(spinUntil([&] { return window->navigation().loads().offline() && log.size() == 2; }));
    EXPECT_EQ(log[1], "Orvane: page didn't load: There is no saved copy of the page.");
    EXPECT_FALSE(fs::exists(window->navigation().savedPage().file()));
}

// A page, or a frame of another site in it, that tries to flood the
// desktop with windows; with a click of the user's, or none.
struct FloodCase {
    const char* name;
    bool inFrame;
    const char* script;  // runs on the user's click; OTHER is another site
};

class FloodTest : public NavigationTest, public testing::WithParamInterface<FloodCase> {};

TEST_P(FloodTest, HandsTheDesktopOneAddressAndLogsTheRestOnce) {
    const auto& c = GetParam();
    if (!test::fakeInputAvailable()) GTEST_SKIP() << "no XTEST to click with";
    std::string script = c.script;
    for (std::size_t at; (at = script.find("OTHER")) != std::string::npos;)
        script.replace(at, 5, server.url("/away", c.inFrame ? "127.0.0.1" : "localhost"));
    const std::string run = "const flood = () => { " + script + "; parent.postMessage('flooded', '*'); };\n" +
                            "addEventListener('click', flood, {once: true});";
    const std::string body = R"(<!doctype html><body style="margin:0;height:100vh"><script>)" + run + "</script>";
    const std::string page = std::string(kPage) + R"(<script>addEventListener("message", (e) => {
  if (e.data === "flooded") window.flooded = true; });</script>)";
    server.serve("/flooder", {body});
    server.serve("/flooded", {page + R"(<iframe style="position:fixed;inset:0;width:100%;height:100%;border:0" src=")" +
                              server.url("/flooder", "localhost") + "\"></iframe>"});
    server.serve("/flooding", {page + body});
    const std::string address = server.url(c.inFrame ? "/flooded" : "/flooding");
    auto window = shown(address);
    ASSERT_TRUE(spinUntil([&] { return !webkit_web_view_is_loading(window->webView()); }));
    test::pointAt(GTK_WIDGET(window->webView()));
    test::clickPrimary();
    // Each window.open is decided before the script goes on: all of them are, by the end.
    ASSERT_TRUE(spinUntil([&] { return evaluate(window->webView(), "window.flooded === true") == "true"; }, 30));
    settle(*window);
    EXPECT_EQ(opened.size(), 1u) << ::testing::PrintToString(opened);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) { return line.starts_with("Orvane: not opening "); }),
              1)
        << ::testing::PrintToString(log);
    EXPECT_STREQ(webkit_web_view_get_uri(window->webView()), address.c_str());
}

INSTANTIATE_TEST_SUITE_P(Cases, FloodTest,
                         testing::Values(FloodCase{"WindowOpenLoopOnOneClick", false,
                                                   "for (let i = 0; i < 500; ++i) window.open('OTHER?' + i)"},
                                         FloodCase{"WindowOpenLoopInAFrameOnOneClick", true,
                                                   "for (let i = 0; i < 50; ++i) window.open('OTHER?' + i)"}),
                         CaseName());

// A script sending the page to another site, again and again, with no click
// (as on a timer): each is decided before the next, so that none is lost to
// the next one calling it off.
TEST_F(NavigationTest, AScriptSettingTheLocationWithoutAClickHandsTheDesktopOne) {
    auto window = shown(server.url("/"));
    const auto decided = [&] { return opened.size() + window->navigation().handOffs().refusals(); };
    for (std::size_t i = 0; i < 4; ++i) {
        evaluate(window->webView(),
                 "location = " + jsString(server.url("/away?" + std::to_string(i), "localhost")) + ", true");
        ASSERT_TRUE(spinUntil([&] { return decided() == i + 1; }, 60)) << i;
    }
    EXPECT_EQ(opened, std::vector<std::string>{server.url("/away?0", "localhost")});
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) { return line.starts_with("Orvane: not opening "); }),
              1)
        << ::testing::PrintToString(log);
    EXPECT_STREQ(webkit_web_view_get_uri(window->webView()), server.url("/").c_str());
}

// Each run of the run command has a page address of its own (its port).
TEST(SavedPages, OtherCopiesUnusedForAMonthGoAndNothingElse) {
    const fs::path dir = fs::temp_directory_path() / ("orvane-saved-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const SavedPage current(dir, *Url::parse("http://127.0.0.1:8000/"));
    current.write("<title>Light</title>");
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 31);
    for (const char* name : {"page-0123456789abcdef.html", "page-fedcba9876543210.html", "notes.html"})
        std::ofstream(dir / name) << "x";
    for (const fs::path& aged : {dir / "page-0123456789abcdef.html", dir / "notes.html", current.file()})
        fs::last_write_time(aged, old);
    current.forgetOthersUnused();
    EXPECT_FALSE(fs::exists(dir / "page-0123456789abcdef.html"));
    EXPECT_TRUE(fs::exists(dir / "page-fedcba9876543210.html")) << "written lately";
    EXPECT_TRUE(fs::exists(dir / "notes.html")) << "not ours";
    EXPECT_EQ(current.read(), "<title>Light</title>") << "this page's own copy, however old";
    SavedPage(dir / "missing", *Url::parse("http://127.0.0.1:8000/")).forgetOthersUnused();
    fs::remove_all(dir);
}

TEST_F(NavigationTest, AStoppedServerShowsTheSavedCopyWithAWorkingBridge) {
    const unsigned port = freePort();
    const std::string page = "http://127.0.0.1:" + std::to_string(port) + "/";
    auto up = std::make_unique<PageServer>(port);
    up->serve("/", {kPage});
    auto window = shown(page);
    const fs::path copy = window->navigation().savedPage().file();
    ASSERT_TRUE(spinUntil([&] { return fs::exists(copy); }));
    up.reset();

    window->reload();
    ASSERT_TRUE(spinUntil([&] { return log.size() == 1 && !webkit_web_view_is_loading(window->webView()); }));
    EXPECT_TRUE(log[0].starts_with("Orvane: page didn't load: ")) << log[0];
    EXPECT_STREQ(webkit_web_view_get_uri(window->webView()), page.c_str());
    EXPECT_EQ(evaluate(window->webView(), "window.marker"), "1");
    EXPECT_TRUE(window->navigation().loads().triedCache());
    // The window says it is a copy, and from when.
    AdwToast* notice = window->notices().current();
    ASSERT_NE(notice, nullptr);
    EXPECT_THAT(window->notices().text(), testing::StartsWith("The page can’t be reached: this is its copy saved "));
    // The copy is the page's origin: its messages are taken.
    evaluate(window->webView(), "__orvane.post({t: 'log', text: 'from the copy'}), true");
    ASSERT_TRUE(spinUntil([&] { return log.size() == 2; }));
    EXPECT_EQ(log[1], "Orvane page: from the copy");
}

TEST_F(NavigationTest, WithoutACopyTheOfflinePageShowsAndThePageComesBackByItself) {
    const unsigned port = freePort();
    // The query would read as "<=1" if the offline page took it as markup.
    const std::string page = "http://127.0.0.1:" + std::to_string(port) + "/?from=app&lt=1";
    auto window = make(page);
    window->show();
    ASSERT_TRUE(spinUntil([&] { return window->navigation().loads().offline() && log.size() == 2; }));
    ASSERT_TRUE(waitForLoad(window->webView(), "about:blank"));
    EXPECT_TRUE(log[0].starts_with("Orvane: page didn't load: ")) << log[0];
    EXPECT_EQ(log[1], "Orvane: page didn't load: There is no saved copy of the page.");
    EXPECT_EQ(firstLoads, 1);
    EXPECT_EQ(logAtFirstLoad, 2u) << "up once the offline page shows, not at the failed load before it";
    EXPECT_EQ(evaluate(window->webView(), "document.getElementById('host').textContent"), "\"127.0.0.1\"");
    EXPECT_EQ(evaluate(window->webView(), "document.getElementById('address').textContent"), jsString(page));
    EXPECT_EQ(evaluate(window->webView(), "document.getElementById('retry').href"), jsString(page));

    // Try Again is a fresh load: it fails as the first did, and says so again.
    evaluate(window->webView(), "document.getElementById('retry').click(), true");
    ASSERT_TRUE(spinUntil([&] { return log.size() == 4; }));
    EXPECT_EQ(log[2], log[0]);
    EXPECT_EQ(log[3], log[1]);

    // The retries by themselves are quiet, and show the page once it answers.
    PageServer back(port);
    back.serve("/", {kPage});
    ASSERT_TRUE(waitForLoad(window->webView(), page));
    EXPECT_EQ(evaluate(window->webView(), "window.marker"), "1");
    EXPECT_FALSE(window->navigation().loads().offline());
    EXPECT_EQ(log.size(), 4u);
    EXPECT_EQ(firstLoads, 1);
}

// Its raw error page once stayed for good, with no retry.
TEST_F(NavigationTest, AServerErrorAtThePageAddressIsAFailedLoad) {
    server.serve("/busy", {"<title>Busy</title>Service Unavailable", "text/html", 503});
    auto window = make(server.url("/busy"));
    window->show();
    ASSERT_TRUE(spinUntil([&] { return window->navigation().loads().offline() && log.size() == 2; }));
    EXPECT_EQ(log[0], "Orvane: page didn't load: The server answered with status 503.");
    EXPECT_EQ(log[1], "Orvane: page didn't load: There is no saved copy of the page.");
    ASSERT_TRUE(spinUntil([&] { return firstLoads == 1; })) << "the offline page shows: the app is up";
    EXPECT_STRNE(webkit_web_view_get_title(window->webView()), "Busy");

    // The offline page's own retries show the page once the server is well.
    server.serve("/busy", {kPage});
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/busy")));
    EXPECT_EQ(evaluate(window->webView(), "window.marker"), "1");
}

// The landing page went to the browser unasked and the window stayed blank
// for good, with no log line and no retry.
TEST_F(NavigationTest, APageAddressThatLeadsToAnotherSiteShowsWhereWithAButtonForTheBrowser) {
    const std::string elsewhere = server.url("/login?next=1", "localhost");
    server.serve("/moved", {"", "text/html", 302, elsewhere});
    auto window = make(server.url("/moved"));
    window->show();
    ASSERT_TRUE(spinUntil([&] { return window->navigation().loads().offline() && log.size() == 2; }));
    EXPECT_EQ(log[0], "Orvane: page didn't load: The page's address now leads to another site: " + elsewhere + ".");
    EXPECT_TRUE(opened.empty()) << "nothing goes to the browser unasked";
    ASSERT_TRUE(spinUntil([&] { return evaluate(window->webView(), "!!document.getElementById('open')") == "true"; }));
    EXPECT_EQ(evaluate(window->webView(), "document.getElementById('target').textContent"), "\"localhost\"");
    EXPECT_EQ(evaluate(window->webView(), "document.getElementById('open').href"), jsString(elsewhere));
    // Its button is the user's hand-off to the browser.
    window->navigation().userActed();
    evaluate(window->webView(), "document.getElementById('open').click(), true");
    ASSERT_TRUE(spinUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened, std::vector<std::string>{elsewhere});

    // The quiet retries go on, and show the page once its address leads to it again.
    server.serve("/moved", {kPage});
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/moved"))) << testing::PrintToString(log);
    EXPECT_EQ(evaluate(window->webView(), "window.marker"), "1");
}

// Where the redirect led did not answer: the failure was taken for another
// site's and its address handed to the browser, the window left blank.
TEST_F(NavigationTest, APageAddressLeadingToASiteThatFailsIsThePagesFailure) {
    const std::string elsewhere = "http://localhost:" + std::to_string(freePort()) + "/login";
    server.serve("/moved", {"", "text/html", 302, elsewhere});
    auto window = make(server.url("/moved"));
    window->show();
    ASSERT_TRUE(spinUntil([&] { return window->navigation().loads().offline() && log.size() == 2; }));
    EXPECT_TRUE(log[0].starts_with("Orvane: page didn't load: ")) << log[0];
    ASSERT_TRUE(spinUntil([&] { return evaluate(window->webView(), "!!document.getElementById('open')") == "true"; }));
    EXPECT_EQ(evaluate(window->webView(), "document.getElementById('open').href"), jsString(elsewhere));
    EXPECT_TRUE(opened.empty()) << opened.front();
}

// Behind the saved copy nothing tried again: it showed for good, without its
// scripts and styles, after the server was back.
TEST_F(NavigationTest, BehindTheSavedCopyTheLivePageComesBackByItself) {
    const unsigned port = freePort();
    const std::string page = "http://127.0.0.1:" + std::to_string(port) + "/";
    auto up = std::make_unique<PageServer>(port);
    up->serve("/", {kPage});
    auto window = shown(page);
    ASSERT_TRUE(spinUntil([&] { return fs::exists(window->navigation().savedPage().file()); }));
    up.reset();
    window->reload();
    ASSERT_TRUE(spinUntil([&] { return window->navigation().loads().behindCopy(); }));
    evaluate(window->webView(), "window.fromTheCopy = true");

    up = std::make_unique<PageServer>(port);
    up->serve("/", {kPage});
    ASSERT_TRUE(spinUntil([&] {
        return !window->navigation().loads().behindCopy() && !webkit_web_view_is_loading(window->webView()) &&
               evaluate(window->webView(), "window.fromTheCopy === undefined && window.marker") == "1";
    }));
    EXPECT_EQ(log.back(), "Orvane: the page's server answers again; loading the page");
}

TEST_F(NavigationTest, APageOnAPortWebKitRefusesEndsOnTheOfflinePage) {
    // WebKit shows an empty document in its place and reports no failure.
    // The retries, each another empty document in the offline page's place
    // for a moment, are not the subject here.
    auto window = make("http://127.0.0.1:9/", {60, 60});
    window->show();
    ASSERT_TRUE(spinUntil([&] { return window->navigation().loads().offline() && log.size() == 2; }));
    ASSERT_TRUE(spinUntil([&] {
        return evaluate(window->webView(), "document.getElementById('retry')?.href") == "\"http://127.0.0.1:9/\"";
    }));
    EXPECT_EQ(log[0], "Orvane: page didn't load: The address was refused (its port is one that web browsers block).");
}

// An empty document the page asked for is no refused load of the page.
TEST_F(NavigationTest, ALinkToAnEmptyDocumentShowsIt) {
    auto window = shown(server.url("/"));
    evaluate(window->webView(), click("about:blank"));
    ASSERT_TRUE(spinUntil([&] {
        return g_strcmp0(webkit_web_view_get_uri(window->webView()), "about:blank") == 0 &&
               !webkit_web_view_is_loading(window->webView());
    }));
    // Anything the view would do after it has had its turn.
    settle(*window);
    EXPECT_STREQ(webkit_web_view_get_uri(window->webView()), "about:blank");
    EXPECT_FALSE(window->navigation().loads().offline());
    EXPECT_TRUE(log.empty()) << ::testing::PrintToString(log);
}

// Reloaded at once each time, a page whose process dies as it starts once
// spun for ever and soon made WebKit abort the whole app.
TEST_F(NavigationTest, AContentProcessThatKeepsEndingStopsOnAPageThatSaysSo) {
    auto window = shown(server.url("/"));
    WebKitWebView* view = window->webView();
    for (std::size_t end = 1; end <= 4; ++end) {
        SCOPED_TRACE(end);
        webkit_web_view_terminate_web_process(view);
        ASSERT_TRUE(spinUntil([&] { return log.size() == end; }));
        if (end < 4) {
            ASSERT_TRUE(waitForLoad(view, server.url("/")));
        }
    }
    EXPECT_EQ(log.back(), "Orvane: the page's process keeps ending; not loading it again until asked");
    ASSERT_TRUE(
        spinUntil([&] { return g_strcmp0(webkit_web_view_get_title(view), "The control page keeps stopping") == 0; }));
    EXPECT_EQ(evaluate(view, "document.getElementById('retry').href"), jsString(server.url("/")));
    evaluate(view, "document.getElementById('retry').click(), true");
    ASSERT_TRUE(waitForLoad(view, server.url("/")));
    EXPECT_EQ(evaluate(view, "window.marker"), "1");
}

TEST_F(NavigationTest, AnEndedContentProcessLoadsThePageAddressAgain) {
    server.serve("/other", {"<title>Other</title>"});
    auto window = shown(server.url("/"));
    evaluate(window->webView(), click(server.url("/other")));
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/other")));

    EXPECT_EQ(window->notices().current(), nullptr);
    webkit_web_view_terminate_web_process(window->webView());
    ASSERT_TRUE(spinUntil([&] { return !log.empty(); }));
    EXPECT_EQ(log, std::vector<std::string>{"Orvane: the page's process ended; loading it again"});
    ASSERT_NE(window->notices().current(), nullptr) << "the window says so";
    EXPECT_EQ(window->notices().text(), "The page stopped unexpectedly and was loaded again.");
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));
    EXPECT_EQ(evaluate(window->webView(), "window.marker"), "1");
}

}  // namespace
}  // namespace orvane
