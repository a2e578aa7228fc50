// The orvane executable as a person or a script starts it: options that print
// and end without a display, a second start in the same session, and the
// desktop entry that follows the bundle wherever it is, with the window's
// class and the application id agreeing with it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "PrivateBus.h"
#include "RunProcesses.h"
#include "Spin.h"
#include "WindowClasses.h"
#include "Xvfb.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

TEST(OrvaneCommand, PrintsHelpAndVersionWithoutADisplayAndRefusesWhatItDoesNotKnow) {
    const Ran help = run(kBundle, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.output.starts_with("Usage: orvane [OPTION]\n")) << help.output;
    EXPECT_NE(help.output.find("--page-url ADDRESS"), std::string::npos) << help.output;

    const Ran version = run(kBundle, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "Orvane " ORVANE_TEST_VERSION "\n");

    const Ran page = run(kBundle, {"--print-page-url", "--page-url", "http://127.0.0.1:9/x"});
    EXPECT_EQ(page.output, "http://127.0.0.1:9/x (the command line)\n");

    const Ran unknown = run(kBundle, {"--page"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.output, "orvane: unknown option --page\nTry 'orvane --help'.\n");
}

TEST(OrvaneCommand, SpeaksTheLanguageTheEnvironmentAsksForFromTheBundlesCatalogs) {
    // C.UTF-8 is on every machine; LANGUAGE picks the catalog.
    const Environment german = {{"LANGUAGE", "de"}, {"LC_ALL", "C.UTF-8"}};
    const Ran help = run(kBundle, {"--help"}, german);
    EXPECT_TRUE(help.output.starts_with("Aufruf: orvane [OPTION]\n")) << help.output;
    EXPECT_NE(help.output.find("--page-url ADRESSE"), std::string::npos) << help.output;

    const Ran unknown = run(kBundle, {"--page"}, german);
    EXPECT_EQ(unknown.output,
              "orvane: unbekannte Option --page\n\u201eorvane --help\u201c gibt weitere Informationen.\n");

    // What scripts read stays as it is.
    const Ran version = run(kBundle, {"--version"}, german);
    EXPECT_EQ(version.output, "Orvane " ORVANE_TEST_VERSION "\n");
}

TEST(OrvaneCommand, AConfiguredAddressThatIsNotAWebAddressIsNamedAndPassedOver) {
    char* made = g_dir_make_tmp("orvane-command-config-XXXXXX", nullptr);
    ASSERT_TRUE(made);
    const fs::path config = made;
    g_free(made);
    fs::create_directories(config / "orvane");
    std::ofstream(config / "orvane" / "defaults.ini") << "[defaults]\npageURL=127.0.0.1:8137\n";
    const Ran page = run(kBundle, {"--print-page-url"}, {{"XDG_CONFIG_HOME", config.string()}});
    fs::remove_all(config);
    EXPECT_EQ(page.status, 0);
    EXPECT_TRUE(
        page.output.starts_with("Orvane: the page address \"127.0.0.1:8137\" is not an http or https "
                                "address; loading https://"))
        << page.output;
    EXPECT_TRUE(page.output.ends_with(" (built in)\n")) << page.output;
    EXPECT_EQ(std::count(page.output.begin(), page.output.end(), '\n'), 2) << page.output;
}

class MovedBundle : public ::testing::Test {
protected:
    void SetUp() override {
        char* made = g_dir_make_tmp("orvane-command-test-XXXXXX", nullptr);
        ASSERT_TRUE(made);
        folder_ = made;
        g_free(made);
        fs::create_directories(folder_ / "My Apps");
        fs::copy(kBundle, folder_ / "My Apps" / "Orvane.app", fs::copy_options::recursive);
    }
    void TearDown() override { fs::remove_all(folder_); }
    fs::path folder_;
};

TEST_F(MovedBundle, KeepsItsDesktopEntryAndWindowClassInAgreement) {
    const std::map<std::string, std::string> data{{"XDG_DATA_HOME", (folder_ / "data").string()}};
    const fs::path entry = folder_ / "data" / "applications" / (std::string(ORVANE_BUNDLE_ID) + ".desktop");
    const Ran installed = run(folder_ / "My Apps" / "Orvane.app", {"--install-desktop-entry"}, data);
    ASSERT_EQ(installed.status, 0) << installed.output;
    EXPECT_EQ(installed.output, entry.string() + "\n");
    const std::string first = readText(entry);
    const fs::path launcher = folder_ / "data" / "orvane" / ("launch-" + std::string(ORVANE_BUNDLE_ID));
    EXPECT_NE(first.find("\nExec=\"" + launcher.string() + "\"\n"), std::string::npos) << first;
    EXPECT_NE(readText(launcher).find("\nplace='" + (folder_ / "My Apps" / "Orvane.app").string() + "'\n"),
              std::string::npos);
    EXPECT_NE(first.find("\nStartupWMClass=" ORVANE_BUNDLE_ID "\n"), std::string::npos) << first;
    // The desktop's own checker, as Debian ships it, takes the entry; its icon is found by name.
    const Ran validated = finish(spawn({"desktop-file-validate", entry.string()}, {}).get());
    EXPECT_EQ(validated.status, 0) << validated.output;
    EXPECT_EQ(validated.output, "");
    EXPECT_NE(first.find("\nIcon=" ORVANE_BUNDLE_ID "\n"), std::string::npos) << first;
    EXPECT_EQ(readText(folder_ / "data/icons/hicolor/scalable/apps" / (std::string(ORVANE_BUNDLE_ID) + ".svg")),
              readText(kBundle / "Contents/Resources/orvane.svg"));

    // The bundle moves; its next start puts the entry right and shows a
    // window of the class the entry names.
    fs::rename(folder_ / "My Apps", folder_ / "Moved");
    Xvfb display;
    unsetenv("DISPLAY");  // for Orvane only: no D-Bus autolaunch in this process
    PrivateBus session;
    auto env = data + desktopEnvironment(display.display(), session.address());
    env["XDG_CONFIG_HOME"] = (folder_ / "config").string();
    env["XDG_STATE_HOME"] = (folder_ / "state").string();
    const fs::path moved = folder_ / "Moved" / "Orvane.app";
    auto first_run = start(moved, {"--page-url", "http://127.0.0.1:9/"}, env);
    EXPECT_TRUE(appWindowShows(display.display())) << "no window of class " ORVANE_BUNDLE_ID;
    EXPECT_NE(readText(launcher).find("\nplace='" + moved.string() + "'\n"), std::string::npos) << readText(launcher);

    // A second start in the same session says what happened instead of nothing.
    const Ran second = run(moved, {}, env);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.output, "orvane: Orvane already runs in this session; its window was brought to the front.\n");
    const Ran withPage = run(moved, {"--page-url", "http://127.0.0.1:9/"}, env);
    EXPECT_EQ(withPage.status, 1);
    EXPECT_NE(withPage.output.find("the page address given (http://127.0.0.1:9/) was not used"), std::string::npos)
        << withPage.output;

    // A plain kill ends it as closing the window does.
    g_subprocess_send_signal(first_run.get(), SIGTERM);
    const Ran ended = finish(first_run.get());
    EXPECT_EQ(ended.status, 0) << ended.output;
    EXPECT_TRUE(fs::exists(folder_ / "state" / "orvane" / "window.ini")) << "the window's size was saved";
}

// A kill between the two moves of a swap (where the file system has no
// atomic exchange) left the place empty, the old bundle in the staging folder
// beside it. Started from there, Orvane puts it back and runs from the place.
TEST_F(MovedBundle, StartedFromAStagingFolderWhoseSwapBrokeOffItPutsThePlaceRightAndRunsFromThere) {
    const fs::path place = folder_ / "My Apps" / "Orvane.app";
    const fs::path staging = folder_ / "My Apps" / ".orvane-update-Orvane.app-k1ll3d";
    fs::create_directories(staging);
    fs::rename(place, staging / "old.app");
    std::ofstream(staging / "journal") << R"({"bundle": "Orvane.app", "restore": "old.app"})"
                                       << "\n";

    const Ran ran = run(staging / "old.app", {"--version"});
    EXPECT_EQ(ran.status, 0);
    EXPECT_NE(ran.output.find("Orvane " ORVANE_TEST_VERSION "\n"), std::string::npos) << ran.output;
    EXPECT_TRUE(fs::is_regular_file(place / "Contents" / "Linux" / "orvane")) << "the place holds its bundle again";
    EXPECT_FALSE(fs::exists(staging / "journal"));
    EXPECT_FALSE(fs::exists(staging / "old.app"));
}

// The same kill, and then the desktop's entry starts Orvane: its launcher
// finds the place empty, starts the bundle the swap kept, and that one puts
// the place right. A quote in the folder's name stays a quote.
TEST_F(MovedBundle, TheDesktopEntryStartsOrvaneWhenAKillLeftThePlaceEmpty) {
    const fs::path apps = folder_ / "Tom's \"Apps\" $HOME";
    fs::rename(folder_ / "My Apps", apps);
    const fs::path place = apps / "Orvane.app";
    const std::map<std::string, std::string> data{{"XDG_DATA_HOME", (folder_ / "data").string()}};
    ASSERT_EQ(run(place, {"--install-desktop-entry"}, data).status, 0);
    const fs::path staging = apps / ".orvane-update-Orvane.app-k1ll3d";
    fs::create_directories(staging / "new.app");
    fs::rename(place, staging / "old.app");
    std::ofstream(staging / "journal") << R"({"bundle":"Orvane.app","restore":"old.app"})"
                                       << "\n";
    // Another update's folder, of another bundle, and one without a journal: not this swap's.
    fs::create_directories(apps / ".orvane-update-Other.app-aaaaaa");
    fs::create_directories(apps / ".orvane-update-Orvane.app-nojrnl");

    const std::string entry =
        readText(folder_ / "data" / "applications" / (std::string(ORVANE_BUNDLE_ID) + ".desktop"));
    const auto exec = entry.find("\nExec=\"");
    ASSERT_NE(exec, std::string::npos) << entry;
    const std::string program = entry.substr(exec + 7, entry.find('"', exec + 7) - exec - 7);
    const Ran ran = finish(spawn({program, "--version"}, {}).get());
    EXPECT_EQ(ran.status, 0) << ran.output;
    EXPECT_NE(ran.output.find("Orvane " ORVANE_TEST_VERSION "\n"), std::string::npos) << ran.output;
    EXPECT_TRUE(fs::is_regular_file(place / "Contents" / "Linux" / "orvane")) << "the place holds its bundle again";
    EXPECT_FALSE(fs::exists(staging / "journal"));
    EXPECT_FALSE(fs::exists(staging / "old.app"));
}

// The relaunch step after an update waits for one byte from the version it
// started; without it, it puts the old version back. A user quitting before
// the page showed, or a second start while another Orvane runs, is no
// failure of that version: it says so too.
class RelaunchedRun : public ::testing::Test {
protected:
    void SetUp() override {
        // A page server that takes connections and never answers: nothing shows.
        silent_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_EQ(::bind(silent_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(silent_, 16), 0);
        ASSERT_EQ(::getsockname(silent_, reinterpret_cast<sockaddr*>(&address), &length), 0);
        page_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
        unsetenv("DISPLAY");  // for Orvane only: no D-Bus autolaunch in this process
        env_ = desktopEnvironment(display_.display(), session_.address()) + xdgFoldersUnder(folder_);
    }
    void TearDown() override {
        ::close(silent_);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    // A socket pair: the end the relaunch step reads, and the one Orvane gets.
    static std::pair<int, int> readySocket() {
        int ends[2] = {-1, -1};
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
        return {ends[0], ends[1]};
    }
    static bool readable(int end, double seconds) {
        pollfd wanted{end, POLLIN, 0};
        return ::poll(&wanted, 1, static_cast<int>(seconds * 1000)) > 0;
    }
    // Whether a byte came on `end` (closed after): the relaunch step's "up".
    static bool heardUp(int end, double seconds) {
        char byte = 0;
        const bool up = readable(end, seconds) && ::read(end, &byte, 1) == 1;
        ::close(end);
        return up;
    }
    bool windowShows() { return appWindowShows(display_.display()); }

    Xvfb display_;
    PrivateBus session_;
    fs::path folder_ = fs::temp_directory_path() / ("orvane-relaunched-" + std::to_string(::getpid()));
    std::map<std::string, std::string> env_;
    int silent_ = -1;
    std::string page_;
};

TEST_F(RelaunchedRun, AQuitBeforeThePageShowedIsNoFailure) {
    auto [ours, theirs] = readySocket();
    auto app = start(kBundle, {"--page-url", page_}, env_, theirs);
    ASSERT_TRUE(windowShows());
    EXPECT_FALSE(readable(ours, 0.5)) << "nothing has shown yet";
    g_subprocess_send_signal(app.get(), SIGTERM);
    EXPECT_TRUE(heardUp(ours, 20)) << "the relaunch step would put the old version back";
    EXPECT_EQ(finish(app.get()).status, 0);
}

TEST_F(RelaunchedRun, AStartWhileAnotherRunsIsNoFailure) {
    auto first = start(kBundle, {"--page-url", page_}, env_);
    ASSERT_TRUE(windowShows());
    auto [ours, theirs] = readySocket();
    const Ran second = finish(start(kBundle, {}, env_, theirs).get());
    EXPECT_EQ(second.status, 0) << second.output;
    EXPECT_TRUE(heardUp(ours, 20)) << "the relaunch step would put the old version back";
    g_subprocess_send_signal(first.get(), SIGTERM);
    finish(first.get());
}

// A new version on trial, the one it replaced kept beside it in the update's
// folder (as the relaunch step leaves them once the new one came up).
class TrialRun : public RelaunchedRun {
protected:
    void SetUp() override {
        RelaunchedRun::SetUp();
        fs::create_directories(staging_);
        fs::copy(kBundle, place_, fs::copy_options::recursive);
        fs::copy(kBundle, staging_ / "old.app", fs::copy_options::recursive);
        std::ofstream(staging_ / "old.app/Contents/Resources/kept") << "the version before";
        std::ofstream(staging_ / "trial") << R"({"running":false,"ended":0,"quits":0,"up":true})";
        refused_ = refusedAddress();
    }

    int trial(const char* key) {
        const auto record = nlohmann::json::parse(readText(staging_ / "trial"), nullptr, false);
        const auto found = record.is_object() ? record.find(key) : record.end();
        if (found == record.end()) return -1;
        return found->is_boolean() ? int(found->get<bool>()) : found->get<int>();
    }
    bool windowGone() { return appWindowShows(display_.display(), false, 30); }
    ino_t recordFile() const {
        struct stat info {};
        return ::stat((staging_ / "trial").c_str(), &info) == 0 ? info.st_ino : 0;
    }
    // One run from the place, up to its window; then ended by the user or
    // killed. Its own record of the run (a new file) tells that it is this
    // run's window that shows, not what is left of the one before.
    Ran runOnce(bool killed) {
        const ino_t before = recordFile();
        auto app = start(place_, {"--page-url", refused_}, env_);
        EXPECT_TRUE(spinUntil([&] { return recordFile() != before || (g_usleep(20000), false); }, 30));
        EXPECT_TRUE(windowShows());
        if (killed) g_subprocess_force_exit(app.get());
        else g_subprocess_send_signal(app.get(), SIGTERM);
        Ran ran = finish(app.get());
        if (!killed) {
            EXPECT_EQ(ran.status, 0) << "a quit ends in order\n" << ran.output;
        }
        EXPECT_TRUE(windowGone());
        return ran;
    }
    bool kept() const { return fs::exists(place_ / "Contents/Resources/kept"); }

    fs::path apps_ = folder_ / "apps";
    fs::path place_ = apps_ / "Orvane.app";
    fs::path staging_ = apps_ / ".orvane-update-Orvane.app-tr1al0";
    std::string refused_;
};

// It loads its page and dies a little later, each time: after two such ends
// the version before it is back in its place, and runs.
TEST_F(TrialRun, ANewVersionThatKeepsEndingAbruptlyGivesWayToTheOneBefore) {
    runOnce(true);
    EXPECT_EQ(trial("running"), 1) << "an end that was no quit";
    EXPECT_FALSE(kept());
    runOnce(true);
    EXPECT_EQ(trial("ended"), 1);

    auto back = start(place_, {"--page-url", refused_}, env_);
    EXPECT_TRUE(windowShows());
    EXPECT_TRUE(spinUntil([&] { return !fs::exists(staging_); }, 30)) << "its start removed the update's folder";
    EXPECT_TRUE(kept()) << "the version before is in the place";
    g_subprocess_send_signal(back.get(), SIGTERM);
    const Ran ran = finish(back.get());
    EXPECT_NE(ran.output.find(R"(the new version failed ({"ended":2}); the one before it is back)"), std::string::npos)
        << ran.output;
    EXPECT_EQ(ran.status, 0);
}

// The relaunch step starts the new version, holding the update's folder for
// it, while the user has started Orvane meanwhile: the start shows the one
// that runs and says "up", and no later start may take it for a version
// that never came up.
TEST_F(TrialRun, ASecondStartFromTheRelaunchStepCountsAsUp) {
    std::ofstream(staging_ / "trial") << R"({"running":false,"ended":0,"quits":0})";
    auto first = start(kBundle, {"--page-url", refused_}, env_);
    ASSERT_TRUE(windowShows());
    const int lock = ::open((staging_ / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    auto [ours, theirs] = readySocket();
    auto made = launcher(env_);
    g_subprocess_launcher_take_fd(made.get(), theirs, 3);
    g_subprocess_launcher_take_fd(made.get(), lock, 4);
    g_subprocess_launcher_setenv(made.get(), "ORVANE_READY_FD", "3", TRUE);
    g_subprocess_launcher_setenv(made.get(), "ORVANE_TRIAL", staging_.c_str(), TRUE);
    const std::string program = (place_ / "Contents/Linux/orvane").string();
    GErrorPtr error;
    auto second = adopt(g_subprocess_launcher_spawn(made.get(), ErrorOut(error), program.c_str(), nullptr));
    ASSERT_TRUE(second) << error->message;
    EXPECT_EQ(finish(second.get()).status, 0);
    EXPECT_TRUE(heardUp(ours, 20));
    EXPECT_EQ(trial("up"), 1);
    EXPECT_EQ(trial("running"), 0) << "it did not run the app";
    g_subprocess_send_signal(first.get(), SIGTERM);
    finish(first.get());
}

// Quits of the user's count for it, and a kill between them starts the
// count of abrupt ends again only; at the third quit the kept version goes.
TEST_F(TrialRun, ANewVersionTheUserQuitsThreeTimesKeepsItsPlace) {
    runOnce(false);
    EXPECT_EQ(trial("running"), 0);
    EXPECT_EQ(trial("quits"), 1);
    runOnce(true);
    runOnce(false);
    EXPECT_EQ(trial("ended"), 0);
    EXPECT_EQ(trial("quits"), 2);
    ASSERT_TRUE(fs::exists(staging_ / "old.app")) << "kept until it has run well";
    runOnce(false);
    EXPECT_FALSE(fs::exists(staging_));
    EXPECT_FALSE(kept());
}

}  // namespace
}  // namespace orvane::test
