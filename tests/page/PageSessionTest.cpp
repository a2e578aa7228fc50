// The page session against a fake window, in virtual time: what it accepts
// from the page, where each message type goes, and what reaches the page.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CaseName.h"
#include "MainQueueVirtual.h"
#include "PageHostFake.h"
#include "PageSession.h"
#include "Sha256.h"
#include "UpdaterFakes.h"

namespace orvane {
namespace {

using nlohmann::json;

// Counts manifest fetches: the visible start of an update check.
class ManifestCounter final : public ManifestSource {
public:
    explicit ManifestCounter(int& fetches) : fetches_(fetches) {}
    void fetch(const Url&, double, std::function<void(ManifestResponse)>) override { ++fetches_; }

private:
    int& fetches_;
};

class Session {
public:
    explicit Session(const std::string& page, const std::function<void(PageBackends&)>& adjust = {}) {
        host.address = Url::parse(page);
        PageBackends backends;
        // A central is made only for a Bluetooth request that needs one; this
        // one answers as a computer without Bluetooth LE.
        backends.makeCentral = [this](const std::weak_ptr<CentralDelegate>&) {
            ++centrals;
            return std::unique_ptr<Central>();
        };
        backends.updater.manifest = std::make_unique<ManifestCounter>(fetches);
        backends.log = [this](const std::string& line) { logged.push_back(line); };
        if (adjust) adjust(backends);
        session = std::make_unique<PageSession>(
            queue, host, PageSessionSettings{*Url::parse(page), "1.0.0", "/apps/Orvane.app"}, std::move(backends));
    }

    void post(const std::string& origin, const std::string& body, bool mainFrame = true) {
        session->received({mainFrame, origin, body});
        queue.runUntilIdle();
    }

    // Everything the page was sent, in order, one batch per line.
    std::string delivered() const {
        std::string out;
        for (const auto& script : host.scripts) out += script + "\n";
        return out;
    }

    // What the message led to, as the outside sees it.
    std::string summary() const {
        std::string out;
        for (const auto& u : host.opened) out += "open " + u + ";";
        for (const auto& l : logged) out += "log " + l + ";";
        if (fetches) out += "update;";
        if (centrals) out += "bluetooth;";
        return out;
    }

    MainQueueVirtual queue;
    PageHostFake host;
    std::vector<std::string> logged;
    int fetches = 0, centrals = 0;
    std::unique_ptr<PageSession> session;
};

struct InboundCase {
    const char* name;
    const char* page;
    bool mainFrame;
    std::optional<std::string> origin;
    std::optional<std::string> body;
    std::string expected;  // Session::summary(); "" means dropped
};

class Inbound : public ::testing::TestWithParam<InboundCase> {};

TEST_P(Inbound, ChecksOriginAndShapeThenRoutes) {
    const auto& c = GetParam();
    Session s(c.page);
    s.session->received({c.mainFrame, c.origin, c.body});
    s.queue.runUntilIdle();
    EXPECT_EQ(s.summary(), c.expected);
}

constexpr const char* kPage = "https://orvane.app/";
constexpr const char* kOrigin = "https://orvane.app";
const std::string kLog = R"({"t":"log","text":"hi"})";
const std::string kLogged = "log Orvane page: hi;";

INSTANTIATE_TEST_SUITE_P(
    Origins, Inbound,
    ::testing::Values(
        InboundCase{"TopFrameOfThePageIsAccepted", kPage, true, kOrigin, kLog, kLogged},
        InboundCase{"SubFrameIsDropped", kPage, false, kOrigin, kLog, ""},
        InboundCase{"OtherSchemeIsDropped", kPage, true, "http://orvane.app", kLog, ""},
        InboundCase{"SchemeComparedExactly", kPage, true, "HTTPS://orvane.app", kLog, ""},
        InboundCase{"HostComparedLowerCased", kPage, true, "https://Orvane.APP", kLog, kLogged},
        InboundCase{"OtherHostIsDropped", kPage, true, "https://evil.example", kLog, ""},
        InboundCase{"LocalhostIsNotTheLoopbackAddress", "http://127.0.0.1:8080/", true, "http://localhost:8080", kLog,
                    ""},
        InboundCase{"SamePortIsAccepted", "http://127.0.0.1:18431/", true, "http://127.0.0.1:18431", kLog, kLogged},
        InboundCase{"OtherPortIsDropped", "http://127.0.0.1:18431/", true, "http://127.0.0.1:18432", kLog, ""},
        InboundCase{"ExplicitDefaultPortOfThePageMatchesTheOrigin", "http://127.0.0.1:80/", true, "http://127.0.0.1",
                    kLog, kLogged},
        InboundCase{"ExplicitHttpsPortOfThePageMatchesTheOrigin", "https://orvane.app:443/", true, kOrigin, kLog,
                    kLogged},
        InboundCase{"OpaqueOriginIsDropped", kPage, true, "null", kLog, ""},
        InboundCase{"NoOriginIsDropped", kPage, true, std::nullopt, kLog, ""},
        InboundCase{"PageWithoutHostDropsEverything", "control", true, kOrigin, kLog, ""}),
    CaseName());

INSTANTIATE_TEST_SUITE_P(
    Shapes, Inbound,
    ::testing::Values(InboundCase{"BodyNotAStringIsDropped", kPage, true, kOrigin, std::nullopt, ""},
                      InboundCase{"NotJsonIsDropped", kPage, true, kOrigin, "{t: log}", ""},
                      InboundCase{"NulAndMoreAfterTheObjectIsDropped", kPage, true, kOrigin,
                                  std::string(R"({"t":"open","url":"https://x.example/"})") + '\0' + "junk", ""},
                      InboundCase{"ArrayAtTheTopIsDropped", kPage, true, kOrigin, R"([{"t":"log"}])", ""},
                      InboundCase{"NumberTypeIsDropped", kPage, true, kOrigin, R"({"t":5})", ""},
                      InboundCase{"MissingTypeIsDropped", kPage, true, kOrigin, R"({"text":"x"})", ""},
                      InboundCase{"AbsurdNestingIsDroppedNotParsed", kPage, true, kOrigin,
                                  R"({"t":"log","a":)" + std::string(100000, '[') + std::string(100000, ']') + "}", ""},
                      InboundCase{"BracketsInsideStringsDoNotCount", kPage, true, kOrigin,
                                  R"({"t":"log","text":")" + std::string(1000, '[') + R"("})",
                                  "log Orvane page: " + std::string(1000, '[') + ";"}),
    CaseName());

INSTANTIATE_TEST_SUITE_P(
    Types, Inbound,
    ::testing::Values(
        InboundCase{"ScanGoesToBluetooth", kPage, true, kOrigin, R"({"t":"scan","on":true})", "bluetooth;"},
        InboundCase{"ConnectGoesToBluetooth", kPage, true, kOrigin,
                    R"({"t":"connect","req":1,"id":"0F6B2E8C-6A3B-4E55-9C1D-2B7E8F0A1C3D"})", "bluetooth;"},
        InboundCase{"TypeInCapitalsIsDropped", kPage, true, kOrigin, R"({"t":"SCAN","on":true})", ""},
        InboundCase{"UnknownTypeIsDropped", kPage, true, kOrigin, R"({"t":"scna","on":true})", ""},
        InboundCase{"UpdateStartsACheck", kPage, true, kOrigin, R"({"t":"update","force":true})", "update;"},
        InboundCase{"LogWithoutTextIsThePrefixAlone", kPage, true, kOrigin, R"({"t":"log"})", "log Orvane page: ;"},
        InboundCase{"LogKeepsPercentSigns", kPage, true, kOrigin, R"({"t":"log","text":"%s %n %%"})",
                    "log Orvane page: %s %n %%;"},
        InboundCase{"OpenHttps", kPage, true, kOrigin, R"({"t":"open","url":"https://x.example/a"})",
                    "open https://x.example/a;"},
        InboundCase{"OpenHttp", kPage, true, kOrigin, R"({"t":"open","url":"http://x.example/"})",
                    "open http://x.example/;"},
        InboundCase{"OpenMailto", kPage, true, kOrigin, R"({"t":"open","url":"mailto:a@b.example"})",
                    "open mailto:a@b.example;"},
        InboundCase{"OpenFileDoesNothing", kPage, true, kOrigin, R"({"t":"open","url":"file:///etc/passwd"})", ""},
        InboundCase{"OpenFtpDoesNothing", kPage, true, kOrigin, R"({"t":"open","url":"ftp://x.example/"})", ""},
        InboundCase{"OpenCapitalSchemeDoesNothing", kPage, true, kOrigin, R"({"t":"open","url":"HTTPS://x.example/"})",
                    ""},
        InboundCase{"OpenMalformedDoesNothing", kPage, true, kOrigin, R"({"t":"open","url":"https://a b/"})", ""},
        InboundCase{"OpenWithoutUrlDoesNothing", kPage, true, kOrigin, R"({"t":"open"})", ""}),
    CaseName());

TEST(PageSession, EveryBluetoothRequestIsAnsweredThroughThePage) {
    // Without a central the bridge answers each numbered request with an
    // error; each answer reaching the page shows the type was routed there.
    Session s(kPage);
    const std::vector<std::string> requests = {
        R"({"t":"connect","req":1,"id":"0F6B2E8C-6A3B-4E55-9C1D-2B7E8F0A1C3D"})",
        R"({"t":"services","req":2,"id":"0F6B2E8C-6A3B-4E55-9C1D-2B7E8F0A1C3D"})",
        R"({"t":"write","req":3,"id":"0F6B2E8C-6A3B-4E55-9C1D-2B7E8F0A1C3D","svc":"1910","chr":"2b11","data":"00"})",
        R"({"t":"notify","req":4,"id":"0F6B2E8C-6A3B-4E55-9C1D-2B7E8F0A1C3D","svc":"1910","chr":"2b10","on":true})",
    };
    for (const auto& request : requests) s.post(kOrigin, request);
    const std::string page = s.delivered();
    for (int req = 1; req <= 4; ++req)
        EXPECT_NE(page.find(R"("req":)" + std::to_string(req)), std::string::npos) << req << ": " << page;
}

TEST(PageSession, BatchesGoOutOncePerTurnAndOnlyToThePagesOrigin) {
    Session s("http://127.0.0.1:18431/");
    s.session->deliver({{"t", "a"}});
    s.session->deliver({{"t", "b"}});
    s.queue.runUntilIdle();
    EXPECT_EQ(s.delivered(), "window.__orvane && [{\"t\":\"a\"},{\"t\":\"b\"}].forEach(m => __orvane.receive(m))\n");

    // The same host on another port is another origin: nothing goes there,
    // and nothing of it arrives later either.
    s.host.scripts.clear();
    s.host.address = Url::parse("http://127.0.0.1:18432/");
    s.session->deliver({{"t", "lost"}});
    s.queue.runUntilIdle();
    s.host.address = Url::parse("http://127.0.0.1:18431/x");
    s.session->deliver({{"t", "kept"}});
    s.queue.runUntilIdle();
    EXPECT_EQ(s.delivered(), "window.__orvane && [{\"t\":\"kept\"}].forEach(m => __orvane.receive(m))\n");
}

TEST(PageSession, PageWithAnExplicitDefaultPortHearsAnswers) {
    // WebKit shows "http://127.0.0.1:80/" as "http://127.0.0.1/"; the page
    // must still get the answers to the requests it sends.
    Session s("http://127.0.0.1:80/");
    s.host.address = Url::parse("http://127.0.0.1/");
    s.post("http://127.0.0.1", R"({"t":"connect","req":9,"id":"0F6B2E8C-6A3B-4E55-9C1D-2B7E8F0A1C3D"})");
    EXPECT_NE(s.delivered().find(R"("req":9)"), std::string::npos) << s.delivered();
}

struct OriginCase {
    const char* name;
    const char* page;
    const char* shown;  // the host's address; its origin posts
};

class OneOriginRule : public ::testing::TestWithParam<OriginCase> {};

TEST_P(OneOriginRule, AcceptsExactlyWhereItDelivers) {
    // A page whose requests are acted on must hear the answers, and a page
    // that would not hear them must not be obeyed.
    const auto& c = GetParam();
    Session s(c.page);
    s.host.address = Url::parse(c.shown);
    const auto shown = *Url::parse(c.shown);
    std::string origin = shown.scheme.value_or("") + "://" + shown.host.value_or("");
    if (shown.port) origin += ":" + std::to_string(*shown.port);
    s.post(origin, R"({"t":"connect","req":5,"id":"0F6B2E8C-6A3B-4E55-9C1D-2B7E8F0A1C3D"})");
    const bool actedOn = s.centrals > 0;
    s.session->deliver({{"t", "ping"}});
    s.queue.runUntilIdle();
    const bool heard = s.delivered().find("ping") != std::string::npos;
    EXPECT_EQ(actedOn, heard) << "accepted " << actedOn << ", delivered " << heard;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OneOriginRule,
    ::testing::Values(OriginCase{"Same", "http://127.0.0.1:18431/", "http://127.0.0.1:18431/x"},
                      OriginCase{"OtherPort", "http://127.0.0.1:18431/", "http://127.0.0.1:18432/"},
                      OriginCase{"ExplicitDefaultPort", "http://127.0.0.1:80/", "http://127.0.0.1/"},
                      OriginCase{"HttpsDefaultPort", "https://orvane.app:443/", "https://orvane.app/"},
                      OriginCase{"OtherHost", "http://127.0.0.1:18431/", "http://localhost:18431/"},
                      OriginCase{"UpperCaseHost", "https://orvane.app/", "https://ORVANE.app/"}),
    CaseName());

TEST(PageSession, AnUpdateThatRelaunchesQuitsThroughTheHost) {
    const std::string archive = "PK archive bytes";
    auto fetches = std::make_shared<std::vector<testing::ManifestSourceFake::Fetch>>();
    auto downloads = std::make_shared<std::vector<testing::ArchiveSessionFake::Download>>();
    Session s("https://orvane.example/app/", [&](PageBackends& backends) {
        auto source = std::make_unique<testing::ManifestSourceFake>();
        source->fetches = fetches;
        backends.updater.manifest = std::move(source);
        backends.updater.makeSession = [&] { return std::make_unique<testing::ArchiveSessionFake>(downloads); };
        backends.updater.readOnlyVolume = [](const std::filesystem::path&) { return false; };
        backends.updater.writable = [](const std::filesystem::path&) { return true; };
        backends.updater.makeStaging = [] { return std::filesystem::path("/apps/.orvane-update-Orvane.app-x"); };
        backends.updater.install = [](const std::filesystem::path&, const std::string&) -> InstallResult {
            return RelaunchTask::make("/apps/.orvane-update-Orvane.app-x/old.app/Contents/Helpers/relaunch",
                                      "/apps/.orvane-update-Orvane.app-x", "/apps/Orvane.app");
        };
        backends.updater.background = [](const std::function<void()>& work) { work(); };
        backends.updater.startRelaunch = [](const RelaunchTask&) { return true; };
    });
    s.post("https://orvane.example", R"({"t":"update"})");
    ASSERT_EQ(fetches->size(), 1u);
    fetches->back().done(
        {R"({"linux": {"version": "2.0.0", "file": "a.zip", "sha256": ")" + sha256Text(archive) + R"(", "size": 1}})",
         200, std::nullopt});
    s.queue.runUntilIdle();
    ASSERT_EQ(downloads->size(), 1u);
    downloads->back().callbacks.finished(200, sha256Text(archive));
    downloads->back().callbacks.completed(std::nullopt);
    s.queue.runUntilIdle();
    EXPECT_NE(s.delivered().find("restarting"), std::string::npos) << s.delivered();
    s.queue.advance(1);
    EXPECT_EQ(s.host.quits, 1);
}

TEST(PageSession, AFlushQueuedBeforeTheSessionEndsDoesNothing) {
    Session s(kPage);
    s.session->deliver({{"t", "late"}});
    s.session.reset();
    s.queue.runUntilIdle();
    EXPECT_TRUE(s.host.scripts.empty());
}

TEST(PageSession, AfterShutdownBluetoothRequestsAreDropped) {
    Session s(kPage);
    s.session->shutdown();
    s.post(kOrigin, R"({"t":"connect","req":1,"id":"0F6B2E8C-6A3B-4E55-9C1D-2B7E8F0A1C3D"})");
    s.post(kOrigin, kLog);
    EXPECT_EQ(s.summary(), kLogged);
    EXPECT_EQ(s.delivered(), "");
}

}  // namespace
}  // namespace orvane
