#include <gtest/gtest.h>

#include <cstdint>

#include "CaseName.h"
#include "PageBridge.h"

namespace orvane {
namespace {

using nlohmann::json;

// What each route saw.
struct Seen {
    std::vector<std::string> opened, logged;
    int updates = 0;
    std::vector<json> bluetooth;
    std::string summary() const {
        std::string out;
        for (const auto& u : opened) out += "open " + u + ";";
        for (const auto& l : logged) out += "log " + l + ";";
        if (updates) out += "update " + std::to_string(updates) + ";";
        for (const auto& m : bluetooth) out += "bt " + m.value("t", std::string("?")) + ";";
        return out;
    }
};

PageRoutes routesInto(Seen& seen) {
    return {[&](const Url& url) { seen.opened.push_back(url.text); },
            [&](const std::string& line) { seen.logged.push_back(line); }, [&] { ++seen.updates; },
            [&](const json& message) { seen.bluetooth.push_back(message); }};
}

struct InboundCase {
    const char* name;
    const char* page;
    bool mainFrame;
    const char* scheme;  // nullptr: none
    const char* host;
    std::optional<std::string> body;
    std::string expected;  // Seen::summary(); "" means dropped
};

class Inbound : public testing::TestWithParam<InboundCase> {};

TEST_P(Inbound, ChecksOriginAndShapeThenRoutes) {
    const auto& c = GetParam();
    ScriptMessage message;
    message.mainFrame = c.mainFrame;
    if (c.scheme) message.originScheme = c.scheme;
    if (c.host) message.originHost = c.host;
    message.body = c.body;
    Seen seen;
    receive(message, *Url::parse(c.page), routesInto(seen));
    EXPECT_EQ(seen.summary(), c.expected);
}

constexpr const char* kPage = "https://orvane.app/";
const std::string kLog = R"({"t":"log","text":"hi"})";

INSTANTIATE_TEST_SUITE_P(
    Cases, Inbound,
    testing::Values(
        InboundCase{"TopFrameOfTheSiteIsAccepted", kPage, true, "https", "orvane.app", kLog, "log Orvane page: hi;"},
        InboundCase{"SubFrameIsDropped", kPage, false, "https", "orvane.app", kLog, ""},
        InboundCase{"OtherSchemeIsDropped", kPage, true, "http", "orvane.app", kLog, ""},
        InboundCase{"SchemeComparedExactly", kPage, true, "HTTPS", "orvane.app", kLog, ""},
        InboundCase{"HostComparedLowerCased", kPage, true, "https", "Orvane.APP", kLog, "log Orvane page: hi;"},
        InboundCase{"OtherHostIsDropped", kPage, true, "https", "evil.example", kLog, ""},
        InboundCase{"LocalhostIsNotTheLoopbackAddress", "http://127.0.0.1:8080/", true, "http", "localhost",
                    kLog, ""},
        InboundCase{"PortIsNotCompared", "http://127.0.0.1:8080/", true, "http", "127.0.0.1", kLog,
                    "log Orvane page: hi;"},
        InboundCase{"OpaqueOriginIsDropped", kPage, true, nullptr, nullptr, kLog, ""},
        InboundCase{"PageWithoutHostDropsEverything", "control", true, "https", "orvane.app", kLog, ""},
        InboundCase{"BodyNotAStringIsDropped", kPage, true, "https", "orvane.app", std::nullopt, ""},
        InboundCase{"NotJsonIsDropped", kPage, true, "https", "orvane.app", "{t: log}", ""},
        InboundCase{"ArrayAtTheTopIsDropped", kPage, true, "https", "orvane.app", R"([{"t":"log"}])", ""},
        InboundCase{"NumberTypeIsDropped", kPage, true, "https", "orvane.app", R"({"t":5})", ""},
        InboundCase{"MissingTypeIsDropped", kPage, true, "https", "orvane.app", R"({"text":"x"})", ""},
        InboundCase{"TypeInCapitalsGoesToBluetooth", kPage, true, "https", "orvane.app", R"({"t":"LOG"})",
                    "bt LOG;"},
        InboundCase{"UnknownTypeGoesToBluetooth", kPage, true, "https", "orvane.app", R"({"t":"hello"})",
                    "bt hello;"},
        InboundCase{"UpdateIgnoresOtherMembers", kPage, true, "https", "orvane.app",
                    R"({"t":"update","force":true})", "update 1;"},
        InboundCase{"LogWithoutTextIsThePrefixAlone", kPage, true, "https", "orvane.app", R"({"t":"log"})",
                    "log Orvane page: ;"},
        InboundCase{"LogKeepsPercentSigns", kPage, true, "https", "orvane.app", R"({"t":"log","text":"%s %n %%"})",
                    "log Orvane page: %s %n %%;"},
        InboundCase{"OpenHttps", kPage, true, "https", "orvane.app", R"({"t":"open","url":"https://x.example/a"})",
                    "open https://x.example/a;"},
        InboundCase{"OpenHttp", kPage, true, "https", "orvane.app", R"({"t":"open","url":"http://x.example/"})",
                    "open http://x.example/;"},
        InboundCase{"OpenMailto", kPage, true, "https", "orvane.app", R"({"t":"open","url":"mailto:a@b.example"})",
                    "open mailto:a@b.example;"},
        InboundCase{"OpenFileDoesNothing", kPage, true, "https", "orvane.app", R"({"t":"open","url":"file:///etc/passwd"})",
                    ""},
        InboundCase{"OpenFtpDoesNothing", kPage, true, "https", "orvane.app", R"({"t":"open","url":"ftp://x.example/"})",
                    ""},
        InboundCase{"OpenCapitalSchemeDoesNothing", kPage, true, "https", "orvane.app",
                    R"({"t":"open","url":"HTTPS://x.example/"})", ""},
        InboundCase{"OpenMalformedDoesNothing", kPage, true, "https", "orvane.app", R"({"t":"open","url":"https://a b/"})",
                    ""},
        InboundCase{"OpenWithoutUrlDoesNothing", kPage, true, "https", "orvane.app", R"({"t":"open"})", ""},
        InboundCase{"AbsurdNestingIsDroppedNotParsed", kPage, true, "https", "orvane.app",
                    R"({"t":"x","a":)" + std::string(100000, '[') + std::string(100000, ']') + "}", ""},
        InboundCase{"BracketsInsideStringsDoNotCount", kPage, true, "https", "orvane.app",
                    R"({"t":"log","text":")" + std::string(1000, '[') + R"("})",
                    "log Orvane page: " + std::string(1000, '[') + ";"}),
    CaseName());

TEST(InboundNumbers, HugeRequestNumbersReachTheBridgeUnchanged) {
    // The bridge decides what a number that does not fit means; the page
    // bridge must only carry it there without converting it.
    Seen seen;
    ScriptMessage message{true, "https", "orvane.app", R"({"t":"write","req":1e300})"};
    receive(message, *Url::parse(kPage), routesInto(seen));
    ASSERT_EQ(seen.bluetooth.size(), 1u);
    EXPECT_TRUE(seen.bluetooth[0]["req"].is_number_float());
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
