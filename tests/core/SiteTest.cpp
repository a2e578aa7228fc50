#include <gtest/gtest.h>

#include "CaseName.h"
#include "Site.h"

namespace orvane {
namespace {

struct SiteCase {
    const char* name;
    const char* page;
    const char* address;  // nullptr: no address
    bool expected;
};

class SameSite : public testing::TestWithParam<SiteCase> {};

TEST_P(SameSite, ComparesSchemeHostAndPort) {
    const auto& c = GetParam();
    const auto page = Url::parse(c.page);
    ASSERT_TRUE(page);
    std::optional<Url> address;
    if (c.address) {
        address = Url::parse(c.address);
        ASSERT_TRUE(address) << c.address;
    }
    EXPECT_EQ(sameSite(address, *page), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SameSite,
    testing::Values(SiteCase{"PageItself", "https://orvane.app/", "https://orvane.app/", true},
                    SiteCase{"OtherPathQueryFragment", "https://orvane.app/", "https://u@orvane.app/a/b?q=1#f", true},
                    SiteCase{"UpperCaseHost", "https://orvane.app/", "https://ORVANE.App/", true},
                    SiteCase{"ExplicitDefaultPort", "https://orvane.app/", "https://orvane.app:443/", true},
                    SiteCase{"PageWithExplicitDefaultPort", "http://127.0.0.1:80/", "http://127.0.0.1/", true},
                    SiteCase{"DefaultPortOfTheOtherScheme", "http://127.0.0.1:443/", "http://127.0.0.1/", false},
                    SiteCase{"SamePort", "http://127.0.0.1:8080/", "http://127.0.0.1:8080/x", true},
                    SiteCase{"OtherPort", "http://127.0.0.1:8080/", "http://127.0.0.1:8081/", false},
                    SiteCase{"OtherScheme", "https://orvane.app/", "http://orvane.app/", false},
                    SiteCase{"SchemeCaseCounts", "https://orvane.app/", "HTTPS://orvane.app/", false},
                    SiteCase{"OtherHost", "https://orvane.app/", "https://evil.example/", false},
                    SiteCase{"NoAddress", "https://orvane.app/", nullptr, false},
                    SiteCase{"AboutBlankIsOffSite", "https://orvane.app/", "about:blank", false},
                    SiteCase{"BothRelative", "control", "other", true},
                    SiteCase{"RelativePageAgainstAbsolute", "control", "https://orvane.app/", false}),
    CaseName());

struct ZoomCase {
    const char* name;
    double current;
    int step;
    double expected;
};

class Zoom : public testing::TestWithParam<ZoomCase> {};

TEST_P(Zoom, StepsThroughTheLevels) {
    const auto& c = GetParam();
    EXPECT_DOUBLE_EQ(zoomStep(c.current, c.step), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Zoom,
    testing::Values(
        ZoomCase{"InFromNormal", 1.0, +1, 1.1}, ZoomCase{"OutFromNormal", 1.0, -1, 0.9},
        ZoomCase{"ResetFromAnywhere", 1.75, 0, 1.0}, ZoomCase{"InAtTopStays", 2.0, +1, 2.0},
        ZoomCase{"OutAtBottomStays", 0.5, -1, 0.5}, ZoomCase{"WithinToleranceCountsAsLevel", 1.0005, +1, 1.1},
        ZoomCase{"JustAboveCountsAsNextLevel", 1.002, +1, 1.25}, ZoomCase{"BetweenLevelsInGoesUp", 0.7, +1, 0.8},
        ZoomCase{"BetweenLevelsOutGoesDown", 0.7, -1, 0.67}, ZoomCase{"AboveTheTopCountsFromNormalIn", 3.0, +1, 1.1},
        ZoomCase{"AboveTheTopCountsFromNormalOut", 2.5, -1, 0.9},
        ZoomCase{"NotANumber", std::numeric_limits<double>::quiet_NaN(), +1, 1.1},
        ZoomCase{"FarBelowClampsToBottom", 0.1, -1, 0.5}, ZoomCase{"HugeStepClamps", 1.0, 1000000, 2.0}),
    CaseName());

TEST(BrowsersBlockPort, TheFetchStandardsBadPortsOnly) {
    for (const char* blocked : {"http://127.0.0.1:9/", "https://h:6000/", "http://h:10080/x", "http://h:25/"})
        EXPECT_TRUE(browsersBlockPort(*Url::parse(blocked))) << blocked;
    for (const char* allowed : {"http://127.0.0.1:8000/", "https://h/", "http://h/", "http://h:8080/", "http://h:26/"})
        EXPECT_FALSE(browsersBlockPort(*Url::parse(allowed))) << allowed;
}

TEST(UrlParse, KeepsSchemeAndHostAsWritten) {
    const auto url = Url::parse("HTTPS://Orvane.App:8443/p?q#f");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme, "HTTPS");
    EXPECT_EQ(url->host, "Orvane.App");
    EXPECT_EQ(url->port, 8443);
    EXPECT_EQ(url->path, "/p");
    EXPECT_EQ(url->query, "q");
    EXPECT_EQ(url->fragment, "f");
}

TEST(UrlParse, RejectsEmptyAndMalformedAcceptsReferences) {
    EXPECT_FALSE(Url::parse(""));
    EXPECT_FALSE(Url::parse("http://a b/"));
    EXPECT_FALSE(Url::parse("http://x/\"<script>"));
    EXPECT_FALSE(Url::parse("http://x:99999999999/"));
    const auto bare = Url::parse("control");
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->scheme);
    EXPECT_FALSE(bare->host);
    const auto mail = Url::parse("mailto:someone@example.com");
    ASSERT_TRUE(mail);
    EXPECT_EQ(mail->scheme, "mailto");
    EXPECT_FALSE(mail->host);
}

TEST(UrlResolve, FindsAddressesNextToThePage) {
    EXPECT_EQ(Url::parse("https://h.example/app")->resolve("downloads/app.json")->text,
              "https://h.example/downloads/app.json");
    EXPECT_EQ(Url::parse("https://h.example/app/")->resolve("downloads/app.json")->text,
              "https://h.example/app/downloads/app.json");
}

}  // namespace
}  // namespace orvane
