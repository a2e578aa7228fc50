#include <gtest/gtest.h>

#include "AppValues.h"
#include "CaseName.h"

namespace orvane {
namespace {

using nlohmann::json;

constexpr const char* kBuiltIn = "https://orvane.app/";

struct PageUrlCase {
    const char* name;
    std::optional<std::string> userDefault;
    json info;
    const char* expected;
    PageUrlSource source;
    std::optional<std::string> commandLine = std::nullopt;
};

class PageUrlPrecedence : public testing::TestWithParam<PageUrlCase> {};

TEST_P(PageUrlPrecedence, PicksTheFirstUsableSource) {
    const auto& c = GetParam();
    const auto address = pageAddressFrom(c.commandLine, c.userDefault, c.info, kBuiltIn);
    EXPECT_EQ(address.url.text, c.expected);
    EXPECT_EQ(address.source, c.source);
    if (!c.commandLine) {
        EXPECT_EQ(pageUrlFrom(c.userDefault, c.info, kBuiltIn).text, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PageUrlPrecedence,
    testing::Values(
        PageUrlCase{"UserDefaultWinsOverBundle",
                    "http://127.0.0.1:9000/x",
                    {{"OVPageURL", "https://bundle.example/"}},
                    "http://127.0.0.1:9000/x",
                    PageUrlSource::userDefault},
        PageUrlCase{"EmptyUserDefaultFallsToBuiltInNotBundle",
                    "",
                    {{"OVPageURL", "https://bundle.example/"}},
                    kBuiltIn,
                    PageUrlSource::builtIn},
        PageUrlCase{"UnparsableUserDefaultFallsToBuiltInNotBundle",
                    "http://bad host/",
                    {{"OVPageURL", "https://bundle.example/"}},
                    kBuiltIn,
                    PageUrlSource::builtIn},
        PageUrlCase{"BundleEntryWithoutUserDefault",
                    std::nullopt,
                    {{"OVPageURL", "https://bundle.example/"}},
                    "https://bundle.example/",
                    PageUrlSource::bundle},
        PageUrlCase{"BundleEntryANumber", std::nullopt, {{"OVPageURL", 42}}, kBuiltIn, PageUrlSource::builtIn},
        PageUrlCase{"NothingConfigured", std::nullopt, json::object(), kBuiltIn, PageUrlSource::builtIn},
        PageUrlCase{"NoInfoAtAll", std::nullopt, json(), kBuiltIn, PageUrlSource::builtIn},
        PageUrlCase{"RelativeReferenceIsMalformed", "control", json::object(), kBuiltIn, PageUrlSource::builtIn},
        PageUrlCase{"HostAndPortWithoutSchemeIsMalformed", "127.0.0.1:8137", json::object(), kBuiltIn,
                    PageUrlSource::builtIn},
        PageUrlCase{"FileAddressIsMalformed", "file:///srv/page.html", json::object(), kBuiltIn,
                    PageUrlSource::builtIn},
        PageUrlCase{"AddressWithoutHostIsMalformed", "http:/page", json::object(), kBuiltIn, PageUrlSource::builtIn},
        PageUrlCase{"UpperCaseSchemeIsMalformed", "HTTPS://x.example/", json::object(), kBuiltIn,
                    PageUrlSource::builtIn},
        PageUrlCase{"MalformedBundleEntryFallsToBuiltIn",
                    std::nullopt,
                    {{"OVPageURL", "bundle.example"}},
                    kBuiltIn,
                    PageUrlSource::builtIn},
        PageUrlCase{"MalformedCommandLineIsPassedOver", "http://127.0.0.1:9000/x", json::object(),
                    "http://127.0.0.1:9000/x", PageUrlSource::userDefault, "127.0.0.1:4000"},
        PageUrlCase{"BadPercentEscapeDoesNotParse", "https://x.example/%zz", json::object(), kBuiltIn,
                    PageUrlSource::builtIn},
        PageUrlCase{"CommandLineWinsOverUserDefaultAndBundle",
                    "http://127.0.0.1:9000/x",
                    {{"OVPageURL", "https://bundle.example/"}},
                    "http://127.0.0.1:4000/",
                    PageUrlSource::commandLine,
                    "http://127.0.0.1:4000/"},
        PageUrlCase{"CommandLineWithNothingConfigured", std::nullopt, json(), "http://127.0.0.1:4000/",
                    PageUrlSource::commandLine, "http://127.0.0.1:4000/"}),
    CaseName());

TEST(PageUrlFallback, NamesTheValueItPassedOverInOneLine) {
    const auto address = pageAddressFrom(std::nullopt, "127.0.0.1:8137", json::object(), kBuiltIn);
    ASSERT_EQ(address.rejected, "127.0.0.1:8137");
    EXPECT_EQ(rejectedPageAddressLine(address),
              "Orvane: the page address \"127.0.0.1:8137\" is not an http or https address; loading "
              "https://orvane.app/ instead");
    // Nothing configured is no fault, and nothing is said.
    EXPECT_FALSE(pageAddressFrom(std::nullopt, std::nullopt, json::object(), kBuiltIn).rejected);
    EXPECT_FALSE(pageAddressFrom(std::nullopt, "https://x.example/", json::object(), kBuiltIn).rejected);
}

TEST(Version, ComesFromTheShortVersionStringOrIsDev) {
    EXPECT_EQ(versionFrom({{"CFBundleShortVersionString", "1.4.2"}}), "1.4.2");
    EXPECT_EQ(versionFrom(json::object()), "dev");
    EXPECT_EQ(versionFrom({{"CFBundleShortVersionString", 3}}), "dev");
    EXPECT_EQ(versionFrom(json()), "dev");
}

TEST(AppName, ComesFromTheBundleNameOrIsOrvane) {
    EXPECT_EQ(appNameFrom({{"CFBundleName", "Lights"}}), "Lights");
    EXPECT_EQ(appNameFrom({{"CFBundleName", true}}), "Orvane");
}

TEST(PageInfo, IsCompactWithSlashesEscaped) {
    const auto text = pageInfoJson("linux", "1.0/beta \"2\"");
    EXPECT_EQ(text, R"({"platform":"linux","version":"1.0\/beta \"2\""})");
    const auto parsed = json::parse(text);
    EXPECT_EQ(parsed["version"], "1.0/beta \"2\"");
}

TEST(ReplaceAll, ReplacesEveryOccurrenceAndNothingElse) {
    EXPECT_EQ(replaceAll("a=__X__;b=__X__", "__X__", "{}"), "a={};b={}");
    EXPECT_EQ(replaceAll("__X_", "__X__", "{}"), "__X_");
    // A value that contains the placeholder is not replaced again.
    EXPECT_EQ(replaceAll("__X__", "__X__", "__X____X__"), "__X____X__");
}

}  // namespace
}  // namespace orvane
