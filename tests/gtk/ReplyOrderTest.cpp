// Batches reach the page by two ways: with the reply to one of its messages,
// and delivered by the app on its own. The page must get them in the order
// the app sent them, even when a delivery follows a reply at once, and a
// reply kept for a later batch must not outlive its document.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "MainQueueGlib.h"
#include "MainWindow.h"
#include "PageServer.h"
#include "Spin.h"
#include "WebProbe.h"
#include "Xvfb.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// Each round: a request answered at once (its answer goes back with the
// reply), then a log message, during whose handling the app delivers a
// "ping" on its own, after that reply has left.
constexpr const char* kPage = R"(<!doctype html><title>Order</title><script>
  window.order = [];
  __orvane.on("res", () => order.push("res"));
  __orvane.on("ping", () => order.push("ping"));
  window.go = (rounds) => {
    for (let i = 0; i < rounds; i++) {
      __orvane.request({t: "connect", id: "not-a-device"}).catch(() => {});
      __orvane.post({t: "log", text: "kick"});
    }
  };
</script>)";

class ReplyOrderTest : public testing::Test {
protected:
    static void SetUpTestSuite() { startDisplayAndGtk(); }

    void SetUp() override {
        server.serve("/", {kPage});
        server.serve("/again", {kPage});
        MainWindowSettings settings;
        settings.pageUrl = *Url::parse(server.url("/"));
        settings.version = "1.0.0";
        settings.bundle = Bundle(ORVANE_TEST_BUNDLE);
        settings.windowState = state;
        settings.backends.log = [this](const std::string& line) {
            logged.push_back(line);
            if (line == "Orvane page: kick") window->deliverBatch(R"([{"t":"ping"}])");
        };
        window = MainWindow::create(queue, std::move(settings));
        window->show();
        ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));
    }
    void TearDown() override {
        window.reset();
        fs::remove(state);
    }

    MainQueueGlib queue;
    PageServer server;
    fs::path state = fs::temp_directory_path() / ("orvane-reply-order-" + std::to_string(::getpid()) + ".ini");
    std::vector<std::string> logged;
    std::shared_ptr<MainWindow> window;
};

TEST_F(ReplyOrderTest, ADeliveryRightAfterAReplyArrivesAfterIt) {
    constexpr int rounds = 50;
    evaluate(window->webView(), "go(" + std::to_string(rounds) + ")");
    std::string expected = "[";
    for (int i = 0; i < rounds; ++i) expected += std::string(i ? "," : "") + R"("res","ping")";
    expected += "]";
    std::string order;
    ASSERT_TRUE(spinUntil([&] {
        order = evaluate(window->webView(), "window.order").value_or("?");
        return order.size() >= expected.size();
    })) << order;
    EXPECT_EQ(order, expected);
}

TEST_F(ReplyOrderTest, ABatchAfterTheDocumentChangedReachesTheNewOne) {
    // The log message gets no answer: its reply is kept for the next batch,
    // and must not take that batch with it when its document goes.
    evaluate(window->webView(), R"(__orvane.post({t: "log", text: "waiting"}))");
    ASSERT_TRUE(spinUntil([&] { return !logged.empty(); }));
    webkit_web_view_load_uri(window->webView(), server.url("/again").c_str());
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/again")));
    window->deliver({{"t", "ping"}});
    EXPECT_TRUE(spinUntil([&] { return evaluate(window->webView(), "window.order") == R"(["ping"])"; }));
}

}  // namespace
}  // namespace orvane
