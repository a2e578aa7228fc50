// The real window and web view under Xvfb, with pages from a local server.

#include <gtest/gtest.h>

#include <filesystem>

#include "MainQueueGlib.h"
#include "MainQueueVirtual.h"
#include "MainWindow.h"
#include "PageServer.h"
#include "Spin.h"
#include "WebProbe.h"
#include "Xvfb.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// The page records, at the moment its first script runs, whether the bridge
// was already there; so does its same-site sub-frame.
constexpr const char* kPage = R"(<!doctype html><html><head><title>Light</title>
<script>window.bridgeAtStart = typeof window.__orvane;</script></head>
<body><iframe id="sub" src="/frame"></iframe></body></html>)";
constexpr const char* kFrame = R"(<!doctype html><script>window.bridgeHere = typeof window.__orvane;</script>)";

class MainWindowTest : public testing::Test {
protected:
    static void SetUpTestSuite() { startDisplayAndGtk(); }

    void SetUp() override {
        server.serve("/", {kPage});
        server.serve("/frame", {kFrame});
        server.serve("/other", {"<title>Other</title>"});
        state = fs::temp_directory_path() / ("orvane-window-" + std::to_string(::getpid()) + "-" +
                                             testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(state);
    }
    void TearDown() override { fs::remove_all(state); }

    std::shared_ptr<MainWindow> make(bool inspectable = false) {
        MainWindowSettings settings;
        settings.pageUrl = *Url::parse(server.url("/"));
        settings.version = "1.2.3";
        settings.inspectable = inspectable;
        settings.bundle = Bundle(ORVANE_TEST_BUNDLE);
        settings.windowState = state / "window.ini";
        return MainWindow::create(queue, std::move(settings));
    }

    std::shared_ptr<MainWindow> shown() {
        auto window = make();
        window->show();
        EXPECT_TRUE(waitForLoad(window->webView(), server.url("/")));
        return window;
    }

    MainQueueGlib queue;
    PageServer server;
    fs::path state;
};

TEST_F(MainWindowTest, LoadsThePageWithTheUserAgentSuffixAndTheBridgeInTheTopFrameOnly) {
    auto window = shown();
    ASSERT_GE(server.count("/"), 1u);
    EXPECT_TRUE(server.requests().front().userAgent.ends_with(" Orvane/1.2.3")) << server.requests().front().userAgent;
    EXPECT_EQ(evaluate(window->webView(), "window.bridgeAtStart"), "\"object\"");
    EXPECT_EQ(evaluate(window->webView(), "JSON.stringify(__orvane.info)"),
              R"("{\"platform\":\"linux\",\"version\":\"1.2.3\"}")");
    ASSERT_TRUE(spinUntil([&] {
        return evaluate(window->webView(), "document.getElementById('sub').contentWindow.bridgeHere") ==
               "\"undefined\"";
    })) << "the sub-frame must not get the bridge";
}

TEST_F(MainWindowTest, TitleFollowsTheNonEmptyPageTitle) {
    auto window = make();
    EXPECT_STREQ(gtk_window_get_title(window->window()), "Orvane");
    window->show();
    // The load ends first: a document still without a title when it does shows the app's name.
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));
    ASSERT_TRUE(spinUntil([&] { return g_strcmp0(gtk_window_get_title(window->window()), "Light") == 0; }));
    evaluate(window->webView(), "document.title = ''");
    // The window follows the view's title as it is notified, in the same turn.
    ASSERT_TRUE(spinUntil([&] { return g_strcmp0(webkit_web_view_get_title(window->webView()), "") == 0; }));
    EXPECT_STREQ(gtk_window_get_title(window->window()), "Light");

    // A document without a title of its own does not keep the one before it
    // (the offline page's "Orvane is offline", say): the window is the app's.
    server.serve("/untitled", {"<p>no title"});
    webkit_web_view_load_uri(window->webView(), server.url("/untitled").c_str());
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/untitled")));
    EXPECT_TRUE(spinUntil([&] { return g_strcmp0(gtk_window_get_title(window->window()), "Orvane") == 0; }))
        << gtk_window_get_title(window->window());
}

TEST_F(MainWindowTest, ShowAgainDoesNotReloadAndReloadOffSiteLoadsThePageAfresh) {
    auto window = shown();
    evaluate(window->webView(), "window.marker = 7");
    window->show();
    // A round trip through the page after the showing, and a request of the
    // page's own that has reached the server: a reload asked by the showing
    // would be under way by then, and its document would not keep the marker.
    evaluate(window->webView(), "fetch('/after-show')");
    ASSERT_TRUE(spinUntil([&] { return server.count("/after-show") == 1; }));
    EXPECT_EQ(evaluate(window->webView(), "window.marker"), "7");
    EXPECT_FALSE(webkit_web_view_is_loading(window->webView()));
    EXPECT_EQ(server.count("/"), 1u);

    // Another port is another site: reload() goes back to the page address.
    PageServer elsewhere;
    ASSERT_TRUE(showAt(window->webView(), "<title>Elsewhere</title>", elsewhere.url("/")));
    window->reload();
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));
    EXPECT_EQ(server.count("/"), 2u);

    // On the site, reload() reloads the page that is shown.
    webkit_web_view_load_uri(window->webView(), server.url("/other").c_str());
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/other")));
    window->reload();
    ASSERT_TRUE(spinUntil([&] { return server.count("/other") == 2; }));
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/other")));
}

TEST_F(MainWindowTest, ZoomStepsChangeThePageZoom) {
    auto window = shown();
    window->zoom(+1);
    EXPECT_DOUBLE_EQ(webkit_web_view_get_zoom_level(window->webView()), 1.1);
    window->zoom(+1);
    EXPECT_DOUBLE_EQ(webkit_web_view_get_zoom_level(window->webView()), 1.25);
    window->zoom(-1);
    window->zoom(-1);
    window->zoom(-1);
    EXPECT_DOUBLE_EQ(webkit_web_view_get_zoom_level(window->webView()), 0.9);
    window->zoom(0);
    EXPECT_DOUBLE_EQ(webkit_web_view_get_zoom_level(window->webView()), 1.0);
}

TEST_F(MainWindowTest, WindowSizeAndMaximisedStateSurviveARestart) {
    {
        auto window = make();
        int width = 0, height = 0;
        gtk_window_get_default_size(window->window(), &width, &height);
        EXPECT_EQ(width, MainWindow::kWidth);
        EXPECT_EQ(height, MainWindow::kHeight);
        window->show();
        gtk_window_set_default_size(window->window(), 900, 700);
        bool closed = false;
        window->closed = [&] { closed = true; };
        gtk_window_close(window->window());
        ASSERT_TRUE(spinUntil([&] { return closed; }));
    }
    auto again = make();
    int width = 0, height = 0;
    gtk_window_get_default_size(again->window(), &width, &height);
    EXPECT_EQ(width, 900);
    EXPECT_EQ(height, 700);
}

TEST_F(MainWindowTest, ThrottlingIsOffAndDeveloperExtrasFollowInspectable) {
    auto plain = make(false);
    WebKitSettings* settings = webkit_web_view_get_settings(plain->webView());
    EXPECT_FALSE(webkit_settings_get_enable_developer_extras(settings));
    WebKitFeatureList* features = webkit_settings_get_all_features();
    int checked = 0;
    for (gsize i = 0; i < webkit_feature_list_get_length(features); ++i) {
        WebKitFeature* feature = webkit_feature_list_get(features, i);
        const std::string id = webkit_feature_get_identifier(feature);
        if (id == "HiddenPageDOMTimerThrottling" || id == "HiddenPageDOMTimerThrottlingAutoIncreases" ||
            id == "PageVisibilityBasedProcessSuppression") {
            EXPECT_FALSE(webkit_settings_get_feature_enabled(settings, feature)) << id;
            ++checked;
        }
    }
    webkit_feature_list_unref(features);
    EXPECT_GT(checked, 0) << "this WebKit lists none of the throttling features";

    auto inspectable = make(true);
    EXPECT_TRUE(webkit_settings_get_enable_developer_extras(webkit_web_view_get_settings(inspectable->webView())));
}

}  // namespace
}  // namespace orvane
