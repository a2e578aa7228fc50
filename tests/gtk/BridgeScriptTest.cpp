// The page's side of the bridge (bridge.js) in a real web view, on its own:
// which requests it refuses, and how a request with a time-out ends.

#include <gtest/gtest.h>
#include <webkit/webkit.h>

#include <fstream>
#include <iterator>
#include <string>

#include <nlohmann/json.hpp>

#include "Spin.h"
#include "WebProbe.h"
#include "Xvfb.h"

namespace orvane {
namespace {

using nlohmann::json;

std::string bridgeScript() {
    std::ifstream in(std::string(ORVANE_TEST_BUNDLE) + "/Contents/Resources/bridge.js");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const auto at = text.find("__ORVANE_INFO__");
    if (at != std::string::npos) text.replace(at, 15, R"({"platform":"linux","version":"test"})");
    return text;
}

class BridgeScriptTest : public testing::Test {
protected:
    static void SetUpTestSuite() { startDisplayAndGtk(); }

    void SetUp() override {
        const std::string script = bridgeScript();
        ASSERT_NE(script.find("__orvane"), std::string::npos);
        WebKitUserContentManager* content = webkit_user_content_manager_new();
        WebKitUserScript* user = webkit_user_script_new(script.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(content, user);
        webkit_user_script_unref(user);
        view = WEBKIT_WEB_VIEW(
            g_object_ref_sink(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", content, nullptr)));
        g_object_unref(content);
        // What the page posts is recorded where the native side would listen.
        webkit_web_view_load_html(view, R"(<!doctype html><script>
            window.posted = [];
            addEventListener("orvane-post", (e) => posted.push(JSON.parse(e.detail)));
            window.outcome = (promise) => promise.then(
                (m) => ({resolved: m}), (e) => ({rejected: e.name, message: e.message}));
          </script>)",
                                  "http://127.0.0.1/");
        ASSERT_TRUE(waitForLoad(view));
    }
    void TearDown() override { g_object_unref(view); }

    // Runs `script`, which sets window.done, and returns window.done as JSON.
    std::string run(const std::string& script) {
        evaluate(view, "window.done = undefined; (async () => { " + script + " })()");
        std::string result;
        spinUntil([&] {
            result = evaluate(view, "window.done === undefined ? null : window.done").value_or("null");
            return result != "null";
        });
        return result;
    }

    WebKitWebView* view = nullptr;
};

TEST_F(BridgeScriptTest, RequestsThatNeverGetAnAnswerAreRefusedAtOnceAndNotSent) {
    for (const char* type : {"scan", "disconnect", "hello", "log", "update", "open"}) {
        const std::string result = run(std::string("const r = await outcome(__orvane.request({t: \"") + type +
                                       "\"})); window.done = [r.rejected, posted.length];");
        EXPECT_EQ(result, R"(["TypeError",0])") << type;
    }
    // The answered ones go out.
    EXPECT_EQ(json::parse(run(R"(__orvane.request({t: "connect", id: "x"}); window.done = posted;)")),
              json::parse(R"([{"t":"connect","id":"x","req":1}])"));
}

TEST_F(BridgeScriptTest, ATimedOutRequestRejectsAndIsForgotten) {
    const std::string result = run(R"(
        const r = await outcome(__orvane.request({t: "connect", id: "x"}, {timeout: 10}));
        // The late answer finds nothing to settle; the listeners still get it.
        let heard = 0;
        __orvane.on("res", () => heard++);
        __orvane.receive({t: "res", req: posted[0].req, ok: true});
        window.done = [r.rejected, heard];)");
    EXPECT_EQ(result, R"(["TimeoutError",1])");
}

TEST_F(BridgeScriptTest, AnAnsweredRequestWithATimeOutResolvesAndBadTimeOutsAreRefused) {
    EXPECT_EQ(json::parse(run(R"(
        const p = outcome(__orvane.request({t: "services", id: "x"}, {timeout: 60000}));
        __orvane.receive({t: "res", req: posted[0].req, ok: true, services: []});
        window.done = await p;)")),
              json::parse(R"({"resolved":{"t":"res","req":1,"ok":true,"services":[]}})"));
    for (const char* timeout : {"-1", "\"5\"", "NaN", "Infinity"}) {
        const std::string result = run(std::string("const r = await outcome(__orvane.request({t: \"write\"}, "
                                                   "{timeout: ") +
                                       timeout + "})); window.done = r.rejected;");
        EXPECT_EQ(result, R"("TypeError")") << timeout;
    }
}

TEST_F(BridgeScriptTest, HelloRejectsWhatWaitsIncludingRequestsWithATimeOut) {
    EXPECT_EQ(run(R"(
        const a = outcome(__orvane.request({t: "connect", id: "x"}, {timeout: 60000}));
        const b = outcome(__orvane.request({t: "notify", id: "x"}));
        __orvane.post({t: "hello"});
        window.done = [(await a).message, (await b).message];)"),
              R"(["The bridge was reset.","The bridge was reset."])");
}

}  // namespace
}  // namespace orvane
