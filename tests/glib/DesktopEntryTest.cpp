// The desktop entry written for a bundle wherever it lies: the escaping of
// its paths, and when it is written again.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "CaseName.h"
#include "DesktopEntry.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTemplate = "[Desktop Entry]\nExec={exec}\nTryExec={tryexec}\nIcon=app.example.Test\n";

struct PathCase {
    const char* name;
    const char* bundle;
    const char* expected;  // the entry, or "" when none can be written
};

class DesktopEntryPaths : public testing::TestWithParam<PathCase> {};

TEST_P(DesktopEntryPaths, AreQuotedAndEscapedAsTheDesktopReadsThem) {
    const auto text = desktopEntryText(kTemplate, std::string(GetParam().bundle) + "/Contents/Linux/orvane");
    EXPECT_EQ(text.value_or(""), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DesktopEntryPaths,
    testing::Values(PathCase{"Plain", "/opt/Orvane.app",
                             "[Desktop Entry]\nExec=\"/opt/Orvane.app/Contents/Linux/orvane\"\n"
                             "TryExec=/opt/Orvane.app/Contents/Linux/orvane\nIcon=app.example.Test\n"},
                    PathCase{"SpacesStayInOneArgument", "/home/a b/My Apps/Orvane.app",
                             "[Desktop Entry]\nExec=\"/home/a b/My Apps/Orvane.app/Contents/Linux/orvane\"\n"
                             "TryExec=/home/a b/My Apps/Orvane.app/Contents/Linux/orvane\n"
                             "Icon=app.example.Test\n"},
                    // Quoting escapes " ` $ \ and doubles %; then every backslash is doubled as in any string value.
                    PathCase{"ShellAndFieldCodeCharacters", "/x/\"`$\\%f/O.app",
                             "[Desktop Entry]\nExec=\"/x/\\\\\"\\\\`\\\\$\\\\\\\\%%f/O.app/Contents/Linux/orvane\"\n"
                             "TryExec=/x/\"`$\\\\%f/O.app/Contents/Linux/orvane\n"
                             "Icon=app.example.Test\n"},
                    PathCase{"LineBreakRefused", "/x/a\nExec=evil/O.app", ""},
                    PathCase{"NotUtf8Refused", "/x/\xff/O.app", ""}),
    CaseName());

class DesktopEntryFiles : public testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(dir);
        for (const char* place : {"first", "second"}) {
            fs::create_directories(dir / place / "Orvane.app" / "Contents" / "Resources");
            std::ofstream(dir / place / "Orvane.app" / "Contents" / "Resources" / "orvane.desktop.in") << kTemplate;
            std::ofstream(dir / place / "Orvane.app" / "Contents" / "Resources" / "orvane.svg") << "<svg/>";
        }
        setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_DATA_HOME");
        fs::remove_all(dir);
    }
    std::string installed() {
        std::ifstream in(dir / "data" / "applications" / "app.example.Test.desktop");
        return {std::istreambuf_iterator<char>(in), {}};
    }
    fs::path dir = fs::temp_directory_path() / ("orvane-desktop-" + std::to_string(::getpid()));
    Bundle first{dir / "first" / "Orvane.app"}, second{dir / "second" / "Orvane.app"};
};

TEST_F(DesktopEntryFiles, AreWrittenAgainOnlyOnceInstalledAndOnlyWhenTheBundleMoved) {
    EXPECT_EQ(desktopEntryPath("app.example.Test"), dir / "data" / "applications" / "app.example.Test.desktop");
    EXPECT_FALSE(refreshDesktopEntry(first, "app.example.Test")) << "never installed: nothing is written";
    EXPECT_FALSE(fs::exists(desktopEntryPath("app.example.Test")));

    EXPECT_EQ(installDesktopEntry(first, "app.example.Test"), std::nullopt);
    const fs::path launcher = dir / "data" / "orvane" / "launch-app.example.Test";
    EXPECT_NE(installed().find("\nTryExec=" + launcher.string() + "\n"), std::string::npos) << installed();
    EXPECT_NE(readFile(launcher).value_or("").find("\nplace='" + first.root().string() + "'\n"), std::string::npos);
    EXPECT_EQ(fs::status(launcher).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);

    // The user's own change to it stays while the bundle stays.
    std::ofstream(desktopEntryPath("app.example.Test"), std::ios::app) << "NoDisplay=false\n";
    EXPECT_FALSE(refreshDesktopEntry(first, "app.example.Test"));
    EXPECT_NE(installed().find("NoDisplay=false"), std::string::npos);

    EXPECT_TRUE(refreshDesktopEntry(second, "app.example.Test"));
    EXPECT_NE(readFile(launcher).value_or("").find("\nplace='" + second.root().string() + "'\n"), std::string::npos);

    // An entry from before the launcher, naming the bundle's own program, is written anew.
    std::ofstream(desktopEntryPath("app.example.Test"))
        << "[Desktop Entry]\nTryExec=" << (second.root() / "Contents/Linux/orvane").string() << "\n";
    EXPECT_TRUE(refreshDesktopEntry(second, "app.example.Test"));
    EXPECT_NE(installed().find("\nTryExec=" + launcher.string() + "\n"), std::string::npos) << installed();

    // The entry names its icon as the theme finds it; an icon removed comes back at the next start.
    const fs::path icon = dir / "data" / "icons" / "hicolor" / "scalable" / "apps" / "app.example.Test.svg";
    EXPECT_EQ(readFile(icon), "<svg/>");
    fs::remove(icon);
    EXPECT_TRUE(refreshDesktopEntry(second, "app.example.Test"));
    EXPECT_EQ(readFile(icon), "<svg/>");

    EXPECT_EQ(installDesktopEntry(Bundle(), "app.example.Test"), "this Orvane is not running from its bundle");
}

}  // namespace
}  // namespace orvane
