// The whole update as the user meets it: version 1.0.0 of the built app runs
// from a bundle in a temporary folder, its page asks for an update, version
// 1.1.0 is served from this machine, and the bundle is replaced and the new
// version started in its place.

#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "SignedBundles.h"
#include "Spin.h"
#include "ToolTesting.h"
#include "UpdateServer.h"
#include "Xvfb.h"
#include "GRef.h"
#include "Sha256.h"
#include "Install.h"

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

// A copy of the built bundle announcing `version`.
void copyBuiltBundle(const fs::path& to, const std::string& version) {
    fs::create_directories(to.parent_path());
    fs::copy(ORVANE_TEST_BUNDLE, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::remove_all(to / "Contents/_CodeSignature");
    testing::writeText(to / "Contents/Info.plist", testing::infoPlist(ORVANE_TEST_BUNDLE_ID, version));
}

class UpdateEndToEndTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { startDisplayAndGtk(); }

    void SetUp() override {
        if (std::string(SIGNING_KEY).empty()) GTEST_SKIP() << "no secret key for the built-in public key";
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
        // Whatever still runs from the temporary bundle goes, by its own pid.
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::error_code error;
            const auto exe = fs::read_symlink(entry.path() / "exe", error);
            if (!error && exe.string().starts_with(dir.path().string())) ::kill(std::stoi(entry.path().filename()), SIGKILL);
        }
        if (bus) g_test_dbus_down(bus.get());
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

    GPtr<GTestDBus> bus;
    TempDir dir;
    testing::UpdateServer server;
};

TEST_F(UpdateEndToEndTest, ReplacesTheBundleAndStartsTheNewVersion) {
    const fs::path bundle = dir / "apps/Orvane.app";
    copyBuiltBundle(bundle, "1.0.0");

    const fs::path release = dir / "release/Orvane.app";
    copyBuiltBundle(release, "1.1.0");
    testing::signBundle(release);
    const std::string archive = testing::zipBytes(testing::zipItems(release, "Orvane.app/"));
    server.serve("/app/", {200, kPage, testing::UpdateServer::Response::Mode::Whole, "", "text/html; charset=utf-8"});
    server.serve("/app/downloads/app.json",
                 {200, R"({"linux": {"version": "1.1.0", "file": "Orvane-1.1.0.zip", "sha256": ")" + sha256Text(archive) +
                           R"(", "size": )" + std::to_string(archive.size()) + "}}"});
    server.serve("/app/downloads/Orvane-1.1.0.zip", {200, archive});

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
    for (const auto& entry : fs::directory_iterator(bundle.parent_path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(kStagingPrefix)) << "staging folder left behind";

    // The new version asks too, and is current.
    ASSERT_TRUE(spinUntil([&] { return wasTold(R"({"state":"current","t":"update"})"); }, 30))
        << ::testing::PrintToString(told());
}

}  // namespace
}  // namespace orvane
