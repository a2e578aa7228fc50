#include <gtest/gtest.h>

#include "PageBridge.h"

namespace orvane {
namespace {

using nlohmann::json;

TEST(AcceptedMessage, HugeRequestNumbersPassUnchanged) {
    // The Bluetooth bridge decides what a number that does not fit means; the
    // page bridge must only carry it there without converting it.
    const auto accepted = acceptedMessage({true, "https://orvane.app", R"({"t":"write","req":1e300})"},
                                          *Url::parse("https://orvane.app/"));
    ASSERT_TRUE(accepted);
    EXPECT_TRUE((*accepted)["req"].is_number_float());
}

TEST(Outbox, OneFlushPerTurnCarriesEverythingInOrder) {
    Outbox outbox;
    EXPECT_TRUE(outbox.add({{"t", "a"}})) << "the first message asks for a flush";
    EXPECT_FALSE(outbox.add({{"t", "b"}})) << "the second travels with it";
    EXPECT_EQ(outbox.take(true), R"(window.__orvane && [{"t":"a"},{"t":"b"}].forEach(m => __orvane.receive(m)))");
    EXPECT_EQ(outbox.take(true), std::nullopt) << "an empty batch evaluates nothing";
    EXPECT_TRUE(outbox.add({{"t", "c"}})) << "after a flush the next message asks for a new one";
}

TEST(Outbox, OffSiteBatchesAreDroppedAndNeverArriveLater) {
    Outbox outbox;
    outbox.add({{"t", "lost"}});
    EXPECT_EQ(outbox.take(false), std::nullopt);
    EXPECT_TRUE(outbox.add({{"t", "kept"}}));
    EXPECT_EQ(outbox.take(true), R"(window.__orvane && [{"t":"kept"}].forEach(m => __orvane.receive(m)))");
}

TEST(Outbox, SlashesStayUnescapedAndBadUtf8IsRepaired) {
    const auto script = deliveryScript({{{"t", "adv"}, {"name", "a/b"}}, {{"t", "adv"}, {"name", "\xff"}}});
    EXPECT_NE(script.find(R"("name":"a/b")"), std::string::npos) << script;
    EXPECT_NE(script.find("\"name\":\"\xEF\xBF\xBD\""), std::string::npos) << script;
}

}  // namespace
}  // namespace orvane
