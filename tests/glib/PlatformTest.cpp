// The bundle and the key files, on real files in a temporary folder.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Bundle.h"
#include "KeyFile.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

class PlatformTest : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("orvane-platform-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    fs::path dir;
};

TEST_F(PlatformTest, ABundleIsFoundOnlyAroundContentsLinux) {
    EXPECT_EQ(Bundle::containing("/opt/Orvane.app/Contents/Linux/orvane").root(), "/opt/Orvane.app");
    EXPECT_TRUE(Bundle::containing("/usr/bin/orvane").empty());
    EXPECT_TRUE(Bundle::containing("/opt/Orvane.app/Contents/MacOS/orvane").empty());
    const Bundle none;
    EXPECT_EQ(none.info(), nlohmann::json::object());
    EXPECT_EQ(none.resource("bridge", "js"), "");
}

TEST_F(PlatformTest, TheBuiltBundleCarriesItsIdentityAndResources) {
    const Bundle built(ORVANE_TEST_BUNDLE);
    const auto info = built.info();
    EXPECT_EQ(info["CFBundleIdentifier"], ORVANE_TEST_BUNDLE_ID);
    EXPECT_EQ(info["CFBundleShortVersionString"], ORVANE_TEST_VERSION);
    EXPECT_EQ(info["CFBundleExecutable"], "orvane");
    EXPECT_NE(built.resource("bridge", "js").find("__ORVANE_INFO__"), std::string::npos);
    EXPECT_NE(built.resource("offline", "html").find("__PAGE_URL__"), std::string::npos);
}

TEST_F(PlatformTest, ResourcesThatAreMissingOrNotUtf8ReadAsEmpty) {
    const Bundle bundle(dir / "X.app");
    write(dir / "X.app/Contents/Resources/good.txt", "h\xC3\xA9llo");
    write(dir / "X.app/Contents/Resources/bad.txt", "h\xFFllo");
    write(dir / "X.app/Contents/Info.plist", "not a property list");
    EXPECT_EQ(bundle.resource("good", "txt"), "h\xC3\xA9llo");
    EXPECT_EQ(bundle.resource("bad", "txt"), "");
    EXPECT_EQ(bundle.resource("missing", "txt"), "");
    EXPECT_EQ(bundle.info(), nlohmann::json::object());
}

TEST_F(PlatformTest, HostilePropertyListsCostNeitherStackNorMemory) {
    // Deep nesting: read, with what lies too deep left out.
    std::string deep =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleName</key><string>X</string>"
        "<key>deep</key>";
    for (int i = 0; i < 20000; ++i) deep += "<array>";
    for (int i = 0; i < 20000; ++i) deep += "</array>";
    deep += "</dict></plist>";
    write(dir / "Deep.app/Contents/Info.plist", deep);
    const auto info = Bundle(dir / "Deep.app").info();
    EXPECT_TRUE(info.empty() || info["CFBundleName"] == "X");
    // Oversized: not read at all.
    write(dir / "Big.app/Contents/Info.plist",
          R"(<?xml version="1.0"?><plist version="1.0"><dict><key>k</key><string>)" + std::string(2 << 20, 'x') +
              "</string></dict></plist>");
    EXPECT_EQ(Bundle(dir / "Big.app").info(), nlohmann::json::object());
    // A binary list is not read, only the XML form the build writes: the
    // library's binary reader makes keys and strings with a NUL inside (here
    // a UTF-16 key), and its own getters then stop the whole process.
    const char nul[] =
        "\x62\x70\x6c\x69\x73\x74\x30\x30\xd1\x01\x02\x63\x00\xe9\x00\x00\x00\x62\x51\x78\x08\x0b\x12\x00"
        "\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00"
        "\x00\x00\x00\x00\x00\x00\x14";
    write(dir / "Nul.app/Contents/Info.plist", std::string(nul, sizeof nul - 1));
    EXPECT_EQ(Bundle(dir / "Nul.app").info(), nlohmann::json::object());
}

TEST_F(PlatformTest, UserDefaultsReadStringsAndBooleans) {
    write(dir / "defaults.ini", "[defaults]\npageURL=http://127.0.0.1:9/\ninspectable=true\nbroken=maybe\n");
    const auto defaults = UserDefaults::load(dir / "defaults.ini");
    EXPECT_EQ(defaults.string("pageURL"), "http://127.0.0.1:9/");
    EXPECT_EQ(defaults.string("other"), std::nullopt);
    EXPECT_TRUE(defaults.boolean("inspectable"));
    EXPECT_FALSE(defaults.boolean("broken"));
    EXPECT_FALSE(UserDefaults::load(dir / "absent.ini").boolean("inspectable"));
    write(dir / "garbage.ini", "\x01\x02 no groups");
    EXPECT_EQ(UserDefaults::load(dir / "garbage.ini").string("pageURL"), std::nullopt);
}

TEST_F(PlatformTest, WindowFrameRoundTripsKeepsOtherGroupsAndIgnoresNonsense) {
    const auto file = dir / "state/window.ini";
    write(file, "[Other]\nkeep=1\n");
    ASSERT_TRUE(saveWindowFrame("Main", {900, 700, true}, file));
    const auto frame = loadWindowFrame("Main", file);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, 900);
    EXPECT_EQ(frame->height, 700);
    EXPECT_TRUE(frame->maximized);
    std::ifstream in(file);
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(in), {}).find("keep=1"), std::string::npos);
    for (const char* damaged : {"[Main]\nwidth=-5\nheight=abc\n", "[Main]\nwidth=2000000000\nheight=700\n"}) {
        write(file, damaged);
        EXPECT_EQ(loadWindowFrame("Main", file), std::nullopt) << damaged;
    }
}

}  // namespace
}  // namespace orvane
