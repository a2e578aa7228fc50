// The whole update as the user meets it: version 1.0.0 of the built app runs
// from a bundle in a temporary folder, its page asks for an update, version
// 1.1.0 is served from this machine, and the bundle is replaced and the new
// version started in its place.

#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "GRef.h"
#include "Sha256.h"
#include "SignedBundles.h"
#include "Spin.h"
#include "Staging.h"
#include "ToolTesting.h"
#include "UpdateServer.h"
#include "Xvfb.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// The page tells the server, one request after the other, which version
// loaded it and every update event; then it asks for an update.
constexpr const char* kPage = R"(<!doctype html><title>Update</title><script>
  let told = Promise.resolve();
  const tell = (what) => told = told.then(() => fetch("/tell?" + encodeURIComponent(what)));
  __orvane.on("update", (m) => tell(JSON.stringify(m)));
  addEventListener("load", () => { tell("loaded " + __orvane.info.version); __orvane.post({t: "update"}); });
</script>)";

// The same page, without asking for an update: what the old version loads
// when the test has seen enough.
constexpr const char* kQuietPage = R"(<!doctype html><title>Update</title><script>
  let told = Promise.resolve();
  const tell = (what) => told = told.then(() => fetch("/tell?" + encodeURIComponent(what)));
  __orvane.on("update", (m) => tell(JSON.stringify(m)));
  addEventListener("load", () => tell("loaded " + __orvane.info.version));
</script>)";

// A copy of the built bundle announcing `version`.
void copyBuiltBundle(const fs::path& to, const std::string& version) {
    fs::create_directories(to.parent_path());
    fs::copy(ORVANE_TEST_BUNDLE, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::remove_all(to / "Contents/_CodeSignature");
    testing::writeText(to / "Contents/Info.plist", testing::infoPlist(ORVANE_TEST_BUNDLE_ID, version));
}

class UpdateRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() { startDisplayAndGtk(); }

    void SetUp() override {
        // A private bus unsets DISPLAY (an earlier test's may have, too); the
        // app needs the test's display.
        const std::string display = gdk_display_get_name(gdk_display_get_default());
        bus = adopt(g_test_dbus_new(G_TEST_DBUS_NONE));
        g_test_dbus_up(bus.get());
        g_setenv("DISPLAY", display.c_str(), TRUE);
        fs::create_directories(dir / "config/orvane");
        std::ofstream(dir / "config/orvane/defaults.ini") << "[defaults]\npageURL=" << server.url("/app/") << "\n";
    }

    void TearDown() override {
        endWhatRunsFrom(dir.path());
        if (bus) g_test_dbus_down(bus.get());
    }

    // Whatever runs from a bundle under `folder` goes, by its own pid.
    // Waits until they are gone, so that a next start is not taken for a second instance.
    static void endWhatRunsFrom(const fs::path& folder) {
        const auto killAll = [&] {
            bool any = false;
            for (const auto& entry : fs::directory_iterator("/proc")) {
                std::error_code error;
                const auto exe = fs::read_symlink(entry.path() / "exe", error);
                if (error || !exe.string().starts_with(folder.string())) continue;
                ::kill(std::stoi(entry.path().filename()), SIGKILL);
                any = true;
            }
            return any;
        };
        spinUntil([&] { return !killAll(); }, 10);
    }

    GPtr<GSubprocess> launch(const fs::path& bundle) {
        GPtr<GSubprocessLauncher> launcher = adopt(g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE));
        g_subprocess_launcher_setenv(launcher.get(), "XDG_CONFIG_HOME", (dir / "config").c_str(), TRUE);
        g_subprocess_launcher_setenv(launcher.get(), "XDG_STATE_HOME", (dir / "state").c_str(), TRUE);
        GErrorPtr error;
        const std::string exe = (bundle / "Contents/Linux/orvane").string();
        auto process = adopt(g_subprocess_launcher_spawn(launcher.get(), ErrorOut(error), exe.c_str(), nullptr));
        EXPECT_TRUE(process) << (error ? error->message : "");
        return process;
    }

    // What the pages told the server, in order.
    std::vector<std::string> told() const {
        std::vector<std::string> out;
        for (const auto& request : server.requests()) {
            if (!request.starts_with("/tell?")) continue;
            GCharPtr text(g_uri_unescape_string(request.c_str() + 6, nullptr));
            out.emplace_back(text.get());
        }
        return out;
    }
    bool wasTold(const std::string& what) const {
        const auto all = told();
        return std::find(all.begin(), all.end(), what) != all.end();
    }

    static int stagingFolders(const fs::path& folder) {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(folder))
            count += entry.path().filename().string().starts_with(kStagingPrefix);
        return count;
    }

    // The new version runs on trial: the version it replaced stays beside it
    // in the update's folder, which the new one holds while it runs.
    static void expectOnTrial(const fs::path& bundle, const std::string& kept) {
        ASSERT_EQ(stagingFolders(bundle.parent_path()), 1);
        fs::path folder;
        for (const auto& entry : fs::directory_iterator(bundle.parent_path()))
            if (entry.path().filename().string().starts_with(kStagingPrefix)) folder = entry.path();
        EXPECT_NE(testing::readText(folder / "old.app/Contents/Info.plist").find("<string>" + kept + "</string>"),
                  std::string::npos);
        EXPECT_EQ(nlohmann::json::parse(testing::readText(folder / "trial")).value("running", false), true);
        EXPECT_FALSE(Staging::take(folder)) << "held by the new version";
    }

    // Serves `archive` as `version`, the page that asks for it, and the manifest.
    void offerArchive(const std::string& archive, const std::string& version) {
        const std::string file = "Orvane-" + version + ".zip";
        server.serve("/app/",
                     {200, kPage, testing::UpdateServer::Response::Mode::Whole, "", "text/html; charset=utf-8"});
        server.serve("/app/downloads/app.json",
                     {200, R"({"linux": {"version": ")" + version + R"(", "file": ")" + file + R"(", "sha256": ")" +
                               sha256Text(archive) + R"(", "size": )" + std::to_string(archive.size()) + "}}"});
        server.serve("/app/downloads/" + file, {200, archive});
    }

    // Serves `release` as version 1.1.0.
    void offer(const fs::path& release) {
        testing::signBundle(release);
        offerArchive(testing::zipBytes(testing::zipItems(release, "Orvane.app/")), "1.1.0");
    }

    // The update events the running version told, as states in order, up to `until`.
    std::vector<std::string> states(const std::string& until) const {
        std::vector<std::string> out;
        for (const auto& text : told()) {
            if (text == until) break;
            if (text.starts_with("loaded")) continue;
            const auto state = nlohmann::json::parse(text).at("state").get<std::string>();
            if (out.empty() || out.back() != state) out.push_back(state);
        }
        return out;
    }

    GPtr<GTestDBus> bus;
    TempDir dir;
    testing::UpdateServer server;
};

class UpdateEndToEndTest : public UpdateRun {
protected:
    void SetUp() override {
        if (std::string(SIGNING_KEY).empty()) GTEST_SKIP() << "no secret key for the built-in public key";
        UpdateRun::SetUp();
    }
};

TEST_F(UpdateEndToEndTest, ReplacesTheBundleAndStartsTheNewVersion) {
    const fs::path bundle = dir / "apps/Orvane.app";
    copyBuiltBundle(bundle, "1.0.0");

    const fs::path release = dir / "release/Orvane.app";
    copyBuiltBundle(release, "1.1.0");
    offer(release);

    auto first = launch(bundle);
    ASSERT_TRUE(first);
    ASSERT_TRUE(spinUntil([&] { return wasTold("loaded 1.1.0"); }, 120))
        << "requests: " << ::testing::PrintToString(server.requests());

    // The old version's events, in order, up to its end.
    std::vector<std::string> states;
    std::vector<double> progress;
    for (const auto& text : told()) {
        if (text == "loaded 1.1.0") break;
        if (text.starts_with("loaded")) continue;
        const auto event = nlohmann::json::parse(text);
        EXPECT_EQ(event["t"], "update");
        if (event["state"] == "downloading") progress.push_back(event["progress"].get<double>());
        if (states.empty() || states.back() != event["state"]) states.push_back(event["state"]);
    }
    EXPECT_EQ(told().front(), "loaded 1.0.0");
    EXPECT_EQ(states, (std::vector<std::string>{"checking", "downloading", "installing", "restarting"}));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress.back(), 1);

    // The old process ended by itself, cleanly; the new one runs from the same place.
    ASSERT_TRUE(spinUntil([&] { return g_subprocess_get_identifier(first.get()) == nullptr; }, 10));
    EXPECT_TRUE(g_subprocess_get_if_exited(first.get()));
    EXPECT_EQ(g_subprocess_get_exit_status(first.get()), 0);
    EXPECT_NE(testing::readText(bundle / "Contents/Info.plist").find("<string>1.1.0</string>"), std::string::npos);
    expectOnTrial(bundle, "1.0.0");

    // The new version asks too, and is current.
    ASSERT_TRUE(spinUntil([&] { return wasTold(R"({"state":"current","t":"update"})"); }, 30))
        << ::testing::PrintToString(told());
}

TEST_F(UpdateEndToEndTest, ANewVersionThatCannotRunIsUndoneAndTheOldOneTellsItsPage) {
    const fs::path bundle = dir / "apps/Orvane.app";
    copyBuiltBundle(bundle, "1.0.0");
    const auto before = testing::readText(bundle / "Contents/Linux/orvane");

    // Signed and well formed, but its executable ends at once.
    const fs::path release = dir / "release/Orvane.app";
    copyBuiltBundle(release, "1.1.0");
    fs::copy_file("/bin/false", release / "Contents/Linux/orvane", fs::copy_options::overwrite_existing);
    offer(release);

    auto first = launch(bundle);
    ASSERT_TRUE(first);
    // Once the archive has gone out, the page stops asking, or the old
    // version would try again on its next start.
    ASSERT_TRUE(spinUntil([&] { return wasTold(R"({"state":"installing","t":"update"})"); }, 120))
        << ::testing::PrintToString(told());
    server.serve("/app/",
                 {200, kQuietPage, testing::UpdateServer::Response::Mode::Whole, "", "text/html; charset=utf-8"});

    const std::string why =
        R"({"error":"The new version didn’t start, so Orvane went back to this one (it ended with status 1).",)"
        R"("state":"error","t":"update"})";
    ASSERT_TRUE(spinUntil([&] { return wasTold(why); }, 120)) << ::testing::PrintToString(told());
    const auto all = told();
    EXPECT_EQ(std::count(all.begin(), all.end(), "loaded 1.0.0"), 2) << "the old version came back";
    EXPECT_EQ(std::count(all.begin(), all.end(), "loaded 1.1.0"), 0);
    EXPECT_EQ(testing::readText(bundle / "Contents/Linux/orvane"), before);
    EXPECT_NE(testing::readText(bundle / "Contents/Info.plist").find("<string>1.0.0</string>"), std::string::npos);
    EXPECT_EQ(stagingFolders(bundle.parent_path()), 0) << "the old version's start removed what was left";
}

// Two releases as scripts/release made them (their downloads/ folders in
// ORVANE_RELEASE_FIRST and ORVANE_RELEASE_SECOND, signed with one key): the
// first, unpacked as a user would, updates itself to the second; and it
// refuses the second's archive once a file in it was changed after signing.
// Run by CI (scripts/release-check), which builds the releases.
class ReleaseUpdateTest : public UpdateRun {
protected:
    struct Release {
        std::string version;
        fs::path archive;
    };

    static Release release(const char* variable) {
        const char* folder = std::getenv(variable);
        if (!folder) return {};
        const auto manifest = nlohmann::json::parse(testing::readText(fs::path(folder) / "app.json")).at("linux");
        return {manifest.at("version"), fs::path(folder) / manifest.at("file").get<std::string>()};
    }

    void SetUp() override {
        if (first.archive.empty() || second.archive.empty())
            GTEST_SKIP() << "ORVANE_RELEASE_FIRST and ORVANE_RELEASE_SECOND name no releases (scripts/release-check)";
        UpdateRun::SetUp();
    }

    // The first release, unpacked as a user would.
    fs::path install(const std::string& folder) const {
        EXPECT_EQ(testing::run({"/usr/bin/unzip", "-q", first.archive.string(), "-d", (dir / folder).string()}), 0);
        return dir / folder / "Orvane.app";
    }

    static bool verifies(const fs::path& bundle) {
        return testing::run({(bundle / "Contents/Helpers/codesign").string(), "--verify", "--deep", "--strict",
                             bundle.string()}) == 0;
    }

    static std::string versionOf(const fs::path& bundle) {
        const auto plist = testing::readText(bundle / "Contents/Info.plist");
        const auto key = plist.find("<key>CFBundleShortVersionString</key>");
        const auto start = plist.find("<string>", key) + 8;
        return plist.substr(start, plist.find("</string>", start) - start);
    }

    Release first = release("ORVANE_RELEASE_FIRST"), second = release("ORVANE_RELEASE_SECOND");
};

TEST_F(ReleaseUpdateTest, TheFirstUpdatesItselfToTheSecondAndRefusesAnArchiveChangedAfterSigning) {
    const fs::path bundle = install("apps");
    ASSERT_TRUE(fs::exists(bundle / "Contents/Info.plist"));
    ASSERT_EQ(versionOf(bundle), first.version);
    ASSERT_TRUE(verifies(bundle));
    offerArchive(testing::readText(second.archive), second.version);

    auto running = launch(bundle);
    ASSERT_TRUE(running);
    const std::string loadedSecond = "loaded " + second.version;
    ASSERT_TRUE(spinUntil([&] { return wasTold(loadedSecond); }, 180)) << ::testing::PrintToString(told());
    EXPECT_EQ(told().front(), "loaded " + first.version);
    EXPECT_EQ(states(loadedSecond), (std::vector<std::string>{"checking", "downloading", "installing", "restarting"}));
    // The new version runs from where the old one was, answers its page, and its bundle verifies.
    ASSERT_TRUE(spinUntil([&] { return wasTold(R"({"state":"current","t":"update"})"); }, 60))
        << ::testing::PrintToString(told());
    EXPECT_EQ(versionOf(bundle), second.version);
    EXPECT_TRUE(verifies(bundle));
    expectOnTrial(bundle, first.version);
    endWhatRunsFrom(dir / "apps");

    // The second's archive with one byte of its bridge script changed, under a
    // manifest that matches the changed archive: only the signature can tell.
    const fs::path unpacked = dir / "tampered";
    ASSERT_EQ(testing::run({"/usr/bin/unzip", "-q", second.archive.string(), "-d", unpacked.string()}), 0);
    const fs::path script = unpacked / "Orvane.app/Contents/Resources/bridge.js";
    testing::writeText(script, testing::readText(script) + " ");
    const fs::path tampered = dir / "tampered.zip";
    ASSERT_EQ(testing::run({"/bin/sh", "-c", "cd \"$0\" && zip -q -r -y -X \"$1\" Orvane.app", unpacked.string(),
                            tampered.string()}),
              0);

    const fs::path old = install("other");
    ASSERT_TRUE(fs::exists(old / "Contents/Info.plist"));
    server.forgetRequests();
    offerArchive(testing::readText(tampered), second.version);
    auto refused = launch(old);
    ASSERT_TRUE(refused);
    ASSERT_TRUE(spinUntil([&] { return wasTold(R"({"state":"installing","t":"update"})"); }, 180))
        << ::testing::PrintToString(told());
    const std::string why = R"({"error":"The downloaded app’s signature is broken.","state":"error","t":"update"})";
    ASSERT_TRUE(spinUntil([&] { return wasTold(why); }, 60)) << ::testing::PrintToString(told());
    EXPECT_EQ(versionOf(old), first.version);
    EXPECT_TRUE(verifies(old));
    EXPECT_EQ(stagingFolders(old.parent_path()), 0);
}

}  // namespace
}  // namespace orvane
