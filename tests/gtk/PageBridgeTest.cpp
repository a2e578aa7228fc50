// Both directions of the page bridge with the real web view: what the page
// sends, from where, and what it receives.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "Log.h"
#include "MainQueueGlib.h"
#include "MainWindow.h"
#include "PageServer.h"
#include "RadioFake.h"
#include "Spin.h"
#include "WebProbe.h"
#include "Xvfb.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// Sends standard error to a file for the life of the object.
class StderrCapture {
public:
    StderrCapture() : file_(fs::temp_directory_path() / ("orvane-stderr-" + std::to_string(::getpid()))) {
        std::fflush(stderr);
        saved_ = dup(2);
        FILE* out = std::fopen(file_.c_str(), "w");
        dup2(fileno(out), 2);
        std::fclose(out);
    }
    ~StderrCapture() {
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        fs::remove(file_);
    }
    std::string text() const {
        std::fflush(stderr);
        std::ifstream in(file_);
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    fs::path file_;
    int saved_ = -1;
};

// The top page posts through the bridge; its same-site sub-frame tries the
// handler directly; a cross-origin frame fires the bridge's event at itself.
constexpr const char* kTop = R"(<!doctype html><title>Top</title>
<script>
  window.handlerInPageWorld = typeof window.webkit?.messageHandlers?.orvane;
  window.got = []; let batch = 0, open = false;
  const track = (m) => {
    if (!open) { open = true; batch++; queueMicrotask(() => open = false); }
    window.got.push([batch, m.n ?? m.state, m.s]);
  };
  __orvane.on("ping", track);
  __orvane.on("state", track);
</script>
<iframe src="/sub"></iframe><iframe id="cross" src="__CROSS__"></iframe>)";
constexpr const char* kSub = R"(<!doctype html><script>
  window.handlerHere = typeof window.webkit?.messageHandlers?.orvane;
  try { window.webkit.messageHandlers.orvane.postMessage('http://127.0.0.1\n{"t":"log","text":"from sub"}'); }
  catch (e) {}
  dispatchEvent(new CustomEvent("orvane-post", {detail: '{"t":"log","text":"from sub event"}'}));
</script>)";
constexpr const char* kCross = R"(<!doctype html><script>
  dispatchEvent(new CustomEvent("orvane-post", {detail: '{"t":"log","text":"from cross"}'}));
</script>)";

class PageBridgeTest : public testing::Test {
protected:
    static void SetUpTestSuite() { startDisplayAndGtk(); }

    void SetUp() override {
        other.serve("/", {"<title>Other</title>"});
        other.serve("/cross", {kCross});
        std::string top = kTop;
        top.replace(top.find("__CROSS__"), 9, other.url("/cross", "localhost"));
        server.serve("/", {top});
        server.serve("/sub", {kSub});
        radio.setAdapter(ManagerState::poweredOn);
        MainWindowSettings settings;
        settings.pageUrl = *Url::parse(server.url("/"));
        settings.version = "1.0.0";
        settings.bundle = Bundle(ORVANE_TEST_BUNDLE);
        settings.windowState = fs::temp_directory_path() / ("orvane-bridge-" + std::to_string(::getpid()) + ".ini");
        settings.backends.makeCentral = radio.factory();
        settings.backends.log = [](const std::string& line) { logLine(line); };
        settings.openExternal = [this](const Url& url) { opened.push_back(url.text); };
        window = MainWindow::create(queue, std::move(settings));
        window->show();
        ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));
    }
    void TearDown() override {
        window.reset();
        fs::remove(fs::temp_directory_path() / ("orvane-bridge-" + std::to_string(::getpid()) + ".ini"));
    }

    void post(const std::string& message) { evaluate(window->webView(), "__orvane.post(" + message + ")"); }
    std::string got() { return evaluate(window->webView(), "window.got").value_or("?"); }

    MainQueueGlib queue;
    PageServer server, other;
    RadioFake radio{queue};
    std::vector<std::string> opened;
    std::shared_ptr<MainWindow> window;
};

TEST_F(PageBridgeTest, OnlyTheTopFrameOfThePageReachesTheNativeSide) {
    StderrCapture captured;
    EXPECT_EQ(evaluate(window->webView(), "window.handlerInPageWorld"), "\"undefined\"");
    ASSERT_TRUE(spinUntil([&] {
        return evaluate(window->webView(), "document.querySelector('iframe').contentWindow.handlerHere") ==
               "\"undefined\"";
    }));
    post(R"({t: "log", text: "from top %s"})");
    post(R"({t: "open", url: "https://example.org/x"})");
    post(R"({t: "open", url: "file:///etc/passwd"})");
    // The page's messages arrive in the order they were posted, the frames'
    // ones (posted as they loaded) first: once this last one is in, every
    // earlier one has been handled.
    post(R"({t: "log", text: "last"})");
    ASSERT_TRUE(spinUntil([&] { return captured.text().find("Orvane page: last") != std::string::npos; }));
    const auto text = captured.text();
    EXPECT_NE(text.find("Orvane page: from top %s\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("from sub"), std::string::npos) << text;
    EXPECT_EQ(text.find("from cross"), std::string::npos) << text;
    EXPECT_EQ(opened, std::vector<std::string>{"https://example.org/x"});
}

TEST_F(PageBridgeTest, HostAndPortAreBothCompared) {
    StderrCapture captured;
    // Same page, reached as "localhost" instead of 127.0.0.1: another host.
    ASSERT_TRUE(showAt(window->webView(), "<title>Elsewhere</title>", server.url("/", "localhost")));
    post(R"({t: "log", text: "from localhost"})");
    // Same host on another port: another origin, which would hear nothing back.
    ASSERT_TRUE(showAt(window->webView(), "<title>Other</title>", other.url("/")));
    post(R"({t: "log", text: "from other port"})");
    webkit_web_view_load_uri(window->webView(), server.url("/").c_str());
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));
    post(R"({t: "log", text: "from the page"})");
    ASSERT_TRUE(spinUntil([&] { return captured.text().find("from the page") != std::string::npos; }));
    EXPECT_EQ(captured.text().find("from localhost"), std::string::npos);
    EXPECT_EQ(captured.text().find("from other port"), std::string::npos);
}

TEST_F(PageBridgeTest, TextWithANulInsideIsRefusedWhole) {
    // The relay hands over the event's text as it is; a NUL must not cut it
    // into a valid message.
    evaluate(window->webView(), R"(dispatchEvent(new CustomEvent("orvane-post",
        {detail: '{"t":"open","url":"https://example.org/cut"}\u0000junk'})))");
    post(R"({t: "open", url: "https://example.org/whole"})");
    ASSERT_TRUE(spinUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened, std::vector<std::string>{"https://example.org/whole"});
}

TEST_F(PageBridgeTest, DeliveriesArriveInOrderOneEvaluationPerBatch) {
    window->deliver({{"t", "ping"}, {"n", 1}, {"s", "a/b"}});
    window->deliver({{"t", "ping"}, {"n", 2}});
    ASSERT_TRUE(spinUntil([&] { return got() == R"([[1,1,"a/b"],[1,2,null]])"; })) << got();
    window->deliver({{"t", "ping"}, {"n", 3}});
    ASSERT_TRUE(spinUntil([&] { return got().ends_with(R"([2,3,null]])"); })) << got();
}

TEST_F(PageBridgeTest, BluetoothRequestsReachTheBridgeAndItsEventsReachThePage) {
    post(R"({t: "scan", on: true})");
    ASSERT_TRUE(spinUntil([&] { return got() == R"([[1,"on",null]])"; })) << got();
    post(R"({t: "hello"})");
    ASSERT_TRUE(spinUntil([&] { return got() == R"([[1,"on",null],[2,"on",null]])"; })) << got();
}

TEST_F(PageBridgeTest, BatchesForAnotherSiteAreDropped) {
    // The page's own document, tracking what it receives, on another host.
    ASSERT_TRUE(showAt(window->webView(), kTop, server.url("/", "localhost")));
    window->deliver({{"t", "ping"}, {"n", 1}});
    // The batch goes out on a later turn of the loop. Once a turn queued after
    // it has run, a script sent to the page then would arrive before got()'s.
    bool turned = false;
    queue.async([&] { turned = true; });
    ASSERT_TRUE(spinUntil([&] { return turned; }));
    EXPECT_EQ(got(), "[]");
    webkit_web_view_load_uri(window->webView(), server.url("/").c_str());
    ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));
    window->deliver({{"t", "ping"}, {"n", 2}});
    ASSERT_TRUE(spinUntil([&] { return got() == R"([[1,2,null]])"; })) << got();
}

}  // namespace
}  // namespace orvane
