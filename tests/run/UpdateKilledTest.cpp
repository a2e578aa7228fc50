// An update the relaunch step undoes (the new version does not come up), with
// the step killed at each of its moves, on a file system with atomic exchange
// and on one without (a preloaded shim refuses RENAME_EXCHANGE, as NFS and
// FUSE do). Each case ends as a user's would: the desktop entry starts
// Orvane. It must find the version before at the known place, signed and
// whole, nothing left beside it, and its page told that the update failed.

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "CaseName.h"
#include "PrivateBus.h"
#include "RunProcesses.h"
#include "SignedBundles.h"
#include "Spin.h"
#include "Xvfb.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

struct KillCase {
    std::string name;
    bool exchange;  // the file system has RENAME_EXCHANGE
    int before;     // the move the step dies just before (0: none)
    int after;      // the move the step dies right after (0: none)
};

void PrintTo(const KillCase& row, std::ostream* out) { *out << row.name; }

class UpdateKilled : public ::testing::TestWithParam<KillCase> {
protected:
    void SetUp() override {
        if (std::string(SIGNING_KEY).empty()) GTEST_SKIP() << "no secret key for the built-in public key";
        fs::create_directories(staging_);
        version(place_, "new");
        version(staging_ / "old.app", "old");
        // As the install leaves it: the version before kept, the new one on trial.
        std::ofstream(staging_ / "trial") << R"({"running":false,"ended":0,"quits":0})";
        unsetenv("DISPLAY");  // for Orvane only: no D-Bus autolaunch in this process
        env_ = xdgFoldersUnder(folder_);
        const Ran entry = run(place_, {"--install-desktop-entry"}, env_);
        ASSERT_EQ(entry.status, 0) << entry.output;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    // A copy of the build's bundle that says which it is, signed.
    static void version(const fs::path& bundle, const std::string& which) {
        fs::copy(kBundle, bundle, fs::copy_options::recursive);
        std::ofstream(bundle / "Contents/Resources/version-of-test") << which;
        orvane::testing::signBundle(bundle);
    }

    std::set<std::string> besideThePlace() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(apps_)) names.insert(entry.path().filename().string());
        return names;
    }

    fs::path folder_ = fs::temp_directory_path() / ("orvane-update-killed-" + std::to_string(::getpid()));
    fs::path apps_ = folder_ / "apps";
    fs::path place_ = apps_ / "Orvane.app";
    fs::path staging_ = apps_ / ".orvane-update-Orvane.app-k1ll3d";
    Environment env_;
    std::string refused_ = refusedAddress();
};

TEST_P(UpdateKilled, TheDesktopEntryStartsTheVersionBeforeWholeAndItsPageIsTold) {
    const KillCase& row = GetParam();
    // The relaunch step, with the new version failing at once (no display).
    Environment step = env_;
    step["LD_PRELOAD"] = RENAME_KILL_SHIM;
    // The shim loads ahead of a sanitizer's runtime.
    const char* asan = std::getenv("ASAN_OPTIONS");
    step["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
    if (!row.exchange) step["ORVANE_SHIM_NO_EXCHANGE"] = "1";
    if (row.before) step["ORVANE_SHIM_KILL_BEFORE_MOVE"] = std::to_string(row.before);
    if (row.after) step["ORVANE_SHIM_KILL_AFTER_MOVE"] = std::to_string(row.after);
    auto relaunch = spawn({(kBundle / "Contents/Helpers/relaunch").string(), "--limit", "30", staging_.string(),
                           place_.string(), "--", "--page-url", refused_},
                          step);
    const Ran stepRan = finish(relaunch.get());
    ASSERT_TRUE(g_subprocess_get_if_signaled(relaunch.get()) && g_subprocess_get_term_sig(relaunch.get()) == SIGKILL)
        << "the kill came: " << stepRan.output;

    // The user starts Orvane from the desktop.
    Xvfb display;
    PrivateBus session;
    const Environment desktop = env_ + desktopEnvironment(display.display(), session.address());
    const fs::path launcher = folder_ / "DATA/orvane" / ("launch-" + std::string(ORVANE_BUNDLE_ID));
    auto app = spawn({launcher.string(), "--page-url", refused_}, desktop);
    EXPECT_TRUE(appWindowShows(display.display()));
    EXPECT_TRUE(spinUntil([&] { return !fs::exists(staging_) || (g_usleep(50000), false); }, 30))
        << "the start removes the update's folder";
    g_subprocess_send_signal(app.get(), SIGTERM);
    const Ran ran = finish(app.get());

    EXPECT_EQ(readText(place_ / "Contents/Resources/version-of-test"), "old");
    const Ran verified =
        finish(spawn({(kBundle / "Contents/Helpers/codesign").string(), "--verify", place_}, {}).get());
    EXPECT_EQ(verified.status, 0) << verified.output;
    EXPECT_EQ(besideThePlace(), std::set<std::string>{"Orvane.app"});
    EXPECT_NE(ran.output.find("Orvane: update failed: "), std::string::npos) << "its page is told\n" << ran.output;
    EXPECT_EQ(ran.status, 0) << ran.output;
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateKilled,
                         ::testing::Values(KillCase{"WithoutExchangeBeforeTheFirstMove", false, 1, 0},
                                           KillCase{"WithoutExchangeBetweenTheMoves", false, 2, 0},
                                           KillCase{"WithoutExchangeAfterTheMoves", false, 0, 2},
                                           KillCase{"BeforeTheExchange", true, 1, 0},
                                           KillCase{"BetweenTheExchangeAndTheMoveAside", true, 2, 0},
                                           KillCase{"AfterTheMoveAside", true, 0, 2}),
                         CaseName());

}  // namespace
}  // namespace orvane::test
