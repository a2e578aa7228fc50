// Orvane as a screen reader meets it: the app under Xvfb with its
// accessibility bridge on, read through AT-SPI by a small script
// (accessible-names.py, python3-gi with the Atspi typelib) on a private bus.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "PrivateBus.h"
#include "RunProcesses.h"
#include "Xvfb.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

// The script's button lines, "role<TAB>name", before and after the line
// "-- after pressing ...".
struct Heard {
    std::vector<std::string> before, after;
};

Heard heard(const std::string& output) {
    Heard lines;
    std::istringstream in(output);
    bool pressed = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("-- after pressing")) pressed = true;
        else if (line.find('\t') != std::string::npos) (pressed ? lines.after : lines.before).push_back(line);
    }
    return lines;
}

bool has(const std::vector<std::string>& lines, const std::string& name) {
    for (const auto& line : lines)
        if (line.ends_with("\t" + name)) return true;
    return false;
}

// The ☰ button once read "GtkMenuButton" and the zoom buttons "GtkImage":
// every button has a name of words, the menu's too.
TEST(Accessibility, EveryButtonHasANameOfWords) {
    Xvfb display;
    unsetenv("DISPLAY");  // for Orvane only: no D-Bus autolaunch in this process
    PrivateBus session;
    const fs::path folder = fs::temp_directory_path() / ("orvane-a11y-" + std::to_string(::getpid()));
    const Environment env = desktopEnvironment(display.display(), session.address()) + xdgFoldersUnder(folder);
    // The bridge on, whatever the test's own environment says.
    auto made = launcher(env);
    g_subprocess_launcher_unsetenv(made.get(), "NO_AT_BRIDGE");
    g_subprocess_launcher_unsetenv(made.get(), "GTK_A11Y");
    const std::string program = (kBundle / "Contents/Linux/orvane").string();
    const std::string page = refusedAddress();
    GErrorPtr error;
    auto app = adopt(
        g_subprocess_launcher_spawn(made.get(), ErrorOut(error), program.c_str(), "--page-url", page.c_str(), nullptr));
    ASSERT_TRUE(app) << error->message;
    ASSERT_TRUE(appWindowShows(display.display()));

    // Debian's own interpreter, where python3-gi lives.
    const Ran read = finish(spawn({"/usr/bin/python3", ORVANE_SOURCE_DIR "/tests/run/accessible-names.py",
                                   ORVANE_BUNDLE_ID, "--press", "Main Menu"},
                                  env)
                                .get());
    g_subprocess_send_signal(app.get(), SIGTERM);
    finish(app.get());
    std::error_code ignored;
    fs::remove_all(folder, ignored);

    ASSERT_EQ(read.status, 0) << read.output;
    const Heard lines = heard(read.output);
    EXPECT_TRUE(has(lines.before, "Main Menu")) << read.output;
    EXPECT_TRUE(has(lines.after, "Zoom In")) << read.output;
    EXPECT_TRUE(has(lines.after, "Zoom Out")) << read.output;
    for (const auto& line : lines.before) {
        const std::string name = line.substr(line.find('\t') + 1);
        EXPECT_FALSE(name.empty() || name.starts_with("Gtk")) << line;
    }
    for (const auto& line : lines.after) {
        const std::string name = line.substr(line.find('\t') + 1);
        EXPECT_FALSE(name.empty() || name.starts_with("Gtk")) << line;
    }
}

}  // namespace
}  // namespace orvane::test
