// What goes back with the reply to a page message (receivedWithReply): the
// batch waiting for the page, in order, taken out of the next flush.

#include <gtest/gtest.h>

#include <memory>

#include "MainQueueVirtual.h"
#include "PageHostFake.h"
#include "PageSession.h"

namespace orvane {
namespace {

constexpr const char* kPage = "https://orvane.app/";
constexpr const char* kOrigin = "https://orvane.app";
// Answered at once, without Bluetooth: the id is no device's.
constexpr const char* kConnect = R"({"t":"connect","req":7,"id":"not-a-device"})";
constexpr const char* kAnswer = R"({"error":"Unknown device.","ok":false,"req":7,"t":"res"})";

struct ReplySession {
    ReplySession() {
        host.address = Url::parse(kPage);
        PageBackends backends;
        backends.makeCentral = [](const std::weak_ptr<CentralDelegate>&) { return std::unique_ptr<Central>(); };
        session = std::make_unique<PageSession>(queue, host, PageSessionSettings{*Url::parse(kPage), "1.0.0", {}},
                                                std::move(backends));
    }
    std::optional<std::string> send(const char* body) {
        return session->receivedWithReply({true, kOrigin, body}).batch;
    }

    MainQueueVirtual queue;
    PageHostFake host;
    std::unique_ptr<PageSession> session;
};

TEST(ReplyBatch, CarriesWhatWasQueuedBeforeTheAnswerAndTheFlushThenSendsOnlyWhatCameLater) {
    ReplySession s;
    s.session->deliver({{"t", "adv"}, {"n", 1}});  // its flush is scheduled, not run yet
    EXPECT_EQ(s.send(kConnect), std::string(R"([{"n":1,"t":"adv"},)") + kAnswer + "]");
    s.session->deliver({{"t", "adv"}, {"n", 2}});
    s.queue.runUntilIdle();
    ASSERT_EQ(s.host.scripts.size(), 1u);
    EXPECT_EQ(s.host.scripts[0], R"(window.__orvane && [{"n":2,"t":"adv"}].forEach(m => __orvane.receive(m)))");
}

TEST(ReplyBatch, NothingWaitingOrThePageNotShownSendsNothingBackAndNothingLater) {
    ReplySession s;
    EXPECT_EQ(s.send(R"({"t":"log","text":"no answer"})"), std::nullopt);
    // Another site shown: the answer is dropped as a flush would drop it.
    s.host.address = Url::parse("https://other.example/");
    EXPECT_EQ(s.send(kConnect), std::nullopt);
    s.host.address = Url::parse(kPage);
    s.queue.runUntilIdle();
    EXPECT_TRUE(s.host.scripts.empty());
    // A message from elsewhere is not handled at all.
    const auto foreign = s.session->receivedWithReply({true, "https://other.example", kConnect});
    EXPECT_FALSE(foreign.accepted);
    EXPECT_EQ(foreign.batch, std::nullopt);
    EXPECT_TRUE(s.session->receivedWithReply({true, kOrigin, R"({"t":"log"})"}).accepted);
}

}  // namespace
}  // namespace orvane
