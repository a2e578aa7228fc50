// The updater over real HTTP: its libsoup manifest fetch and archive download
// against a local SoupServer, with the installation itself stood in for.

#include <gtest/gtest.h>

#include "CaseName.h"
#include "Install.h"
#include "MainQueueGlib.h"
#include "MainQueueVirtual.h"
#include "ManifestSourceSoup.h"
#include "Sha256.h"
#include "Spin.h"
#include "ToolTesting.h"
#include "UpdateServer.h"
#include "UpdaterFakes.h"
#include "UpdaterLinux.h"

namespace orvane::testing {
namespace {

using Mode = UpdateServer::Response::Mode;
using States = std::vector<std::string>;

std::string bytes(std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 7919) >> 3);
    return out;
}

class UpdaterSoupTest : public ::testing::Test {
public:
    // An updater on `queue` that talks to `server` for real and stores the
    // download in a real staging folder, but installs nothing and relaunches
    // nothing.
    void make(MainQueue& queue, const std::string& pagePath = "/app/index.html") {
        UpdaterParts parts = linuxUpdaterParts(queue, Bundle());
        parts.quit = [this] { ++record.quits; };
        parts.readOnlyVolume = [](const std::filesystem::path&) { return false; };
        parts.writable = [](const std::filesystem::path&) { return true; };
        parts.makeStaging = [this] { return makeStaging(apps / "Orvane.app"); };
        if (spaceFree) parts.freeSpace = [this](const std::filesystem::path&) { return spaceFree; };
        parts.install = [this](const std::filesystem::path& staging, const std::string& version) -> InstallResult {
            // On the worker: only its own copies, handed back through the main loop.
            installed = readText(staging / "update.zip");
            installedVersion = version;
            return RelaunchTask::make("/nowhere/relaunch", "/nowhere/staging", "/nowhere/Orvane.app");
        };
        parts.startRelaunch = [this](const RelaunchTask& task) {
            record.relaunches.push_back(task);
            return true;
        };
        parts.log = [this](const std::string& line) { record.log.push_back(line); };
        updater = std::make_unique<Updater>(
            queue, UpdaterSettings{*Url::parse(server.url(pagePath)), "1.0.0", "/nowhere/Orvane.app"},
            std::move(parts));
        updater->send = [this](const nlohmann::json& event) { record.events.push_back(event); };
    }

    // The manifest announces the archive's own size unless `extra` gives one.
    void offer(const std::string& archive, std::string extra = "", Mode mode = Mode::Whole,
               const std::string& sha256 = "") {
        if (extra.find("\"size\"") == std::string::npos) extra += R"(, "size": )" + std::to_string(archive.size());
        server.serve("/app/downloads/app.json",
                     {200, R"({"linux": {"version": "1.1.0", "file": "Orvane-1.1.0.zip", "sha256": ")" +
                               (sha256.empty() ? sha256Text(archive) : sha256) + "\"" + extra + "}}"});
        server.serve("/app/downloads/Orvane-1.1.0.zip", {200, archive, mode});
    }

    bool ended() const {
        const auto states = record.states();
        return !states.empty() &&
               (states.back() == "error" || states.back() == "current" || states.back() == "restarting");
    }
    // Runs the cycle to its end, then until what was queued behind it has run,
    // so that a second outcome would show.
    void runCycle() {
        updater->start();
        ASSERT_TRUE(spinUntil([&] { return ended(); }));
        ASSERT_TRUE(afterPendingEvents());
    }
    std::vector<double> progress() const {
        std::vector<double> out;
        for (const auto& event : record.events)
            if (event["state"] == "downloading") out.push_back(event["progress"].get<double>());
        return out;
    }

    // What the download left beside the bundle.
    std::vector<std::string> beside() const {
        std::vector<std::string> out;
        for (const auto& entry : std::filesystem::directory_iterator(apps)) out.push_back(entry.path().filename());
        return out;
    }

    MainQueueGlib glib;
    TempDir dir;
    std::filesystem::path apps = dir.path();
    UpdateServer server;
    UpdaterRecord record;
    std::string installed, installedVersion;
    std::optional<std::int64_t> spaceFree;  // what the disk is said to have; the real figure when unset
    std::unique_ptr<Updater> updater;
};

TEST_F(UpdaterSoupTest, DownloadsWithProgressAndHandsTheArchiveToTheInstallation) {
    const std::string archive = bytes(3 * 1024 * 1024 + 17);
    offer(archive);
    make(glib);
    runCycle();
    const auto states = record.states();
    ASSERT_EQ(states.back(), "restarting") << record.lastError();
    EXPECT_EQ(installed, archive);
    EXPECT_EQ(installedVersion, "1.1.0");
    const auto fractions = progress();
    ASSERT_GE(fractions.size(), 3u);
    EXPECT_EQ(fractions.front(), 0);
    EXPECT_EQ(fractions.back(), 1);
    for (std::size_t i = 1; i + 1 < fractions.size(); ++i) {
        EXPECT_GE(fractions[i] - fractions[i - 1], 0.05 - 1e-12) << i;
        EXPECT_LT(fractions[i], 1);
    }
    EXPECT_EQ(states[states.size() - 2], "installing");
    EXPECT_EQ(record.relaunches.size(), 1u);
}

TEST_F(UpdaterSoupTest, WithoutLengthProgressUsesTheManifestSize) {
    const std::string archive = bytes(std::size_t{1024} * 1024);
    offer(archive, "", Mode::NoLength);
    make(glib);
    runCycle();
    ASSERT_EQ(record.states().back(), "restarting") << record.lastError();
    const auto fractions = progress();
    EXPECT_GE(fractions.size(), 3u);
    EXPECT_EQ(fractions.back(), 1);
    EXPECT_EQ(std::count(fractions.begin(), fractions.end(), 1.0), 1);
}

struct FailureCase {
    const char* name;
    std::function<void(UpdaterSoupTest&, UpdateServer&)> serve;
    std::string error;  // the whole text, or its start when it ends in "("
};

class UpdaterSoupFailure : public UpdaterSoupTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UpdaterSoupFailure, EndsWithOneError) {
    GetParam().serve(*this, server);
    make(glib);
    runCycle();
    const auto states = record.states();
    EXPECT_EQ(std::count(states.begin(), states.end(), "error"), 1);
    ASSERT_EQ(states.back(), "error");
    const auto& expected = GetParam().error;
    if (expected.ends_with("(")) {
        EXPECT_TRUE(record.lastError().starts_with(expected)) << record.lastError();
        EXPECT_TRUE(record.lastError().ends_with(").")) << record.lastError();
    } else {
        EXPECT_EQ(record.lastError(), expected);
    }
    EXPECT_TRUE(installed.empty());
    EXPECT_FALSE(updater->busy());
    EXPECT_TRUE(beside().empty()) << "no staging folder left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdaterSoupFailure,
    ::testing::Values(
        FailureCase{"ManifestNotFound", [](auto&, UpdateServer&) {}, "The update information couldn’t be read."},
        FailureCase{"ManifestServerError",
                    [](auto&, UpdateServer& s) {
                        s.serve("/app/downloads/app.json", {500, R"({"linux": {}})"});
                    },
                    "The update information couldn’t be read."},
        FailureCase{"ManifestTooLarge",
                    [](auto&, UpdateServer& s) {
                        s.serve("/app/downloads/app.json",
                                {200, R"({"linux": {"version": "9", "file": "a.zip", "sha256": "x"}, "pad": ")" +
                                          std::string(2 << 20, 'x') + "\"}"});
                    },
                    "The update information couldn’t be read."},
        FailureCase{"ManifestRedirectedElsewhere",
                    [](auto&, UpdateServer& s) {
                        s.serve("/app/downloads/app.json", {302, "", Mode::Whole, "http://localhost:9/app.json"});
                    },
                    "The update information couldn’t be read."},
        FailureCase{"ArchiveNotFound",
                    [](UpdaterSoupTest& test, UpdateServer& s) {
                        test.offer("zip");
                        s.serve("/app/downloads/Orvane-1.1.0.zip", {404, "not here"});
                    },
                    "The download failed (404)."},
        FailureCase{"ArchiveRedirectedElsewhere",
                    [](UpdaterSoupTest& test, UpdateServer& s) {
                        test.offer("zip");
                        s.serve("/app/downloads/Orvane-1.1.0.zip", {301, "", Mode::Whole, "https://127.0.0.1:1/x.zip"});
                    },
                    "The download failed (301)."},
        FailureCase{"ConnectionCut", [](UpdaterSoupTest& test, auto&) { test.offer(bytes(4 << 20), "", Mode::Cut); },
                    "The download failed ("},
        FailureCase{"DigestMismatch",
                    [](UpdaterSoupTest& test, auto&) { test.offer("zip", "", Mode::Whole, sha256Text("other")); },
                    "The download is damaged or incomplete. Try again."},
        // The manifest's size bounds what is stored: a server sending more
        // is stopped there, not when the disk is full.
        FailureCase{"LongerThanAnnounced",
                    [](UpdaterSoupTest& test, auto&) { test.offer(bytes(3 << 20), R"(, "size": 1048576)"); },
                    "The download failed (larger than the update information says)."},
        FailureCase{
            "LongerThanAnnouncedWithoutLength",
            [](UpdaterSoupTest& test, auto&) { test.offer(bytes(3 << 20), R"(, "size": 1048576)", Mode::NoLength); },
            "The download failed (larger than the update information says)."},
        FailureCase{"WithoutSize",
                    [](UpdaterSoupTest& test, UpdateServer& s) {
                        test.offer("zip");
                        s.serve("/app/downloads/app.json",
                                {200, R"({"linux": {"version": "9", "file": "Orvane-1.1.0.zip", "sha256": ")" +
                                          sha256Text("zip") + "\"}}"});
                    },
                    "The update information is wrong."},
        FailureCase{"NotEnoughSpace",
                    [](UpdaterSoupTest& test, auto&) {
                        test.offer(bytes(1 << 20));
                        test.spaceFree = (std::int64_t(128) << 20) + (1 << 20) - 1;
                    },
                    "There isn’t enough free space in /nowhere for the update."},
        FailureCase{"TruncatedWithoutLength",
                    [](UpdaterSoupTest& test, UpdateServer& s) {
                        test.offer(bytes(100000), "", Mode::NoLength);
                        s.serve("/app/downloads/Orvane-1.1.0.zip", {200, bytes(50000), Mode::NoLength});
                    },
                    "The download is damaged or incomplete. Try again."}),
    CaseName());

TEST_F(UpdaterSoupTest, FollowsARedirectWithinTheSite) {
    const std::string archive = bytes(1000);
    offer(archive);
    server.serve("/app/downloads/Orvane-1.1.0.zip", {302, "", Mode::Whole, "/files/real.zip"});
    server.serve("/files/real.zip", {200, archive});
    make(glib);
    runCycle();
    EXPECT_EQ(record.states().back(), "restarting") << record.lastError();
    EXPECT_EQ(installed, archive);
}

struct PageCase {
    const char* name;
    const char* page;
    const char* manifest;
};

class UpdaterManifestAddress : public UpdaterSoupTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(UpdaterManifestAddress, ReplacesTheLastPathSegment) {
    make(glib, GetParam().page);
    runCycle();
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], GetParam().manifest);
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdaterManifestAddress,
                         ::testing::Values(PageCase{"FolderWithSlash", "/app/", "/app/downloads/app.json"},
                                           PageCase{"FolderWithoutSlash", "/app", "/downloads/app.json"},
                                           PageCase{"PageInFolder", "/app/index.html", "/app/downloads/app.json"},
                                           PageCase{"WithQuery", "/app/?x=1#y", "/app/downloads/app.json"}),
                         CaseName());

TEST_F(UpdaterSoupTest, ManifestThatNeverComesTimesOutAfterTwentySeconds) {
    server.serve("/app/downloads/app.json", {200, "", Mode::Silent});
    MainQueueVirtual virtualTime;
    make(virtualTime);
    updater->start();
    ASSERT_TRUE(spinUntil([&] { return server.requests().size() == 1; }));
    virtualTime.advance(19.9);
    ASSERT_TRUE(afterPendingEvents());
    virtualTime.runUntilIdle();
    EXPECT_EQ(record.states(), States{"checking"});
    virtualTime.advance(0.2);
    ASSERT_TRUE(spinUntil([&] {
        virtualTime.runUntilIdle();
        return ended();
    }));
    EXPECT_EQ(record.lastError(), "The update information didn’t load (The request timed out.).");
}

TEST_F(UpdaterSoupTest, ManifestFromAClosedPortDidNotLoad) {
    make(glib);
    updater = nullptr;
    UpdaterParts parts = linuxUpdaterParts(glib, Bundle());
    updater = std::make_unique<Updater>(glib, UpdaterSettings{*Url::parse("http://127.0.0.1:9/"), "1.0", "/x/O.app"},
                                        std::move(parts));
    updater->send = [this](const nlohmann::json& event) { record.events.push_back(event); };
    runCycle();
    EXPECT_TRUE(record.lastError().starts_with("The update information didn’t load (")) << record.lastError();
}

TEST_F(UpdaterSoupTest, ArchiveThatNeverComesIsTooSlowAfterAMinuteAndIsStopped) {
    offer("zip");
    server.serve("/app/downloads/Orvane-1.1.0.zip", {200, "", Mode::Silent});
    MainQueueVirtual virtualTime;
    make(virtualTime);
    updater->start();
    ASSERT_TRUE(spinUntil([&] {
        virtualTime.runUntilIdle();
        return server.requests().size() == 2;
    }));
    virtualTime.advance(Updater::kSlowWindowSeconds + Updater::kSlowCheckSeconds);
    EXPECT_EQ(record.states(), (States{"checking", "downloading", "error"}));
    EXPECT_EQ(record.lastError(), "The download failed (too slow).");
    EXPECT_TRUE(beside().empty()) << "no staging folder left behind";
}

// As when the app quits mid-download: nothing of the download stays beside the bundle.
TEST_F(UpdaterSoupTest, DestroyingTheUpdaterMidDownloadStopsQuietlyAndLeavesNothing) {
    server.serve("/app/downloads/app.json",
                 {200, R"({"linux": {"version": "1.1.0", "file": "a.zip", "sha256": "x", "size": 9}})"});
    server.serve("/app/downloads/a.zip", {200, "", Mode::Silent});
    make(glib);
    updater->start();
    ASSERT_TRUE(spinUntil([&] { return server.requests().size() == 2; }));
    ASSERT_FALSE(beside().empty());
    updater.reset();
    ASSERT_TRUE(afterPendingEvents());
    EXPECT_EQ(record.states(), (States{"checking", "downloading"}));
    EXPECT_TRUE(beside().empty()) << beside().front();
}

}  // namespace
}  // namespace orvane::testing
