// ditto run as a process on archives built here: a faithful unpack, and
// hostile archives that must fail without touching anything outside DIR.

#include "ToolTesting.h"
#include "ZipBuilder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>

namespace orvane::testing {
namespace {

namespace fs = std::filesystem;
using Kind = ZipItem::Kind;

class DittoTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(dir / "canary");
        writeText(dir / "canary" / "keep", "the canary");
    }

    int unzip(const std::vector<ZipItem>& items) {
        writeZip(dir / "update.zip", items);
        return run({DITTO, "-x", "-k", (dir / "update.zip").string(), (dir / "new").string()});
    }

    TempDir dir;
};

TEST_F(DittoTest, UnpacksFilesFoldersModesAndInnerLinksFaithfully) {
    std::string large(3 << 20, '\0');
    std::mt19937 random(7);
    for (auto& byte : large) byte = static_cast<char>(random());
    std::vector<ZipItem> items = {
        {Kind::Folder, "Orvane.app/", ""},
        {Kind::Folder, "Orvane.app/Contents/", ""},
        {Kind::File, "Orvane.app/Contents/Info.plist", "<plist/>"},
        {Kind::Executable, "Orvane.app/Contents/Linux/orvane", "#!/bin/sh\necho new\n"},  // parent implied
        {Kind::File, "Orvane.app/Contents/Resources/large.bin", large},
        {Kind::File, "Orvane.app/Contents/Resources/größe 1.txt", "unicode and a space"},
        {Kind::Link, "Orvane.app/Contents/Resources/orvane", "../Linux/orvane"},
        {Kind::Folder, "Orvane.app/Contents/Frameworks/Kit/Versions/A/", ""},
        {Kind::Executable, "Orvane.app/Contents/Frameworks/Kit/Versions/A/Kit", "kit"},
        {Kind::Link, "Orvane.app/Contents/Frameworks/Kit/Versions/Current", "A"},
        {Kind::Link, "Orvane.app/Contents/Frameworks/Kit/Kit", "Versions/Current/Kit"},
        {Kind::Folder, "Orvane.app/Contents/Empty/", ""},
    };
    ASSERT_EQ(unzip(items), 0);

    auto found = snapshot(dir / "new");
    for (const auto& item : items) {
        std::string name = item.name.back() == '/' ? item.name.substr(0, item.name.size() - 1) : item.name;
        SCOPED_TRACE(name);
        ASSERT_TRUE(found.contains(name));
        found.erase(name);
        fs::path path = dir / "new" / name;
        struct stat info {};
        ASSERT_EQ(::lstat(path.c_str(), &info), 0);
        switch (item.kind) {
        case Kind::Folder: EXPECT_TRUE(S_ISDIR(info.st_mode)); break;
        case Kind::Link:
            EXPECT_TRUE(S_ISLNK(info.st_mode));
            EXPECT_EQ(fs::read_symlink(path).string(), item.data);
            break;
        default:
            EXPECT_TRUE(S_ISREG(info.st_mode));
            EXPECT_EQ(info.st_mode & 07777, item.kind == Kind::Executable ? 0755u : 0644u);
            EXPECT_EQ(readText(path), item.data);
            EXPECT_EQ(info.st_mtim.tv_sec, 1'700'000'000);
        }
    }
    // Only the implied parent folders are left over.
    EXPECT_EQ(found.size(), 5u);
    for (const auto& [name, description] : found)
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(dir / "new" / name))) << name;
    EXPECT_EQ(readText(dir / "new/Orvane.app/Contents/Frameworks/Kit/Kit"), "kit");
}

struct Hostile {
    const char* name;
    std::function<std::vector<ZipItem>(const fs::path& dir)> items;
    std::function<void(const fs::path& zip)> patch = nullptr;
};

void PrintTo(const Hostile& row, std::ostream* out) { *out << row.name; }

class DittoHostileTest : public DittoTest, public ::testing::WithParamInterface<Hostile> {};

TEST_P(DittoHostileTest, FailsAndTouchesNothingOutsideTheFolder) {
    writeZip(dir / "update.zip", GetParam().items(dir.path()));
    if (GetParam().patch) GetParam().patch(dir / "update.zip");
    auto before = snapshot(dir.path());

    EXPECT_EQ(run({DITTO, "-x", "-k", (dir / "update.zip").string(), (dir / "new").string()}), 1);

    auto after = snapshot(dir.path());
    std::erase_if(after, [](const auto& entry) { return entry.first == "new" || entry.first.starts_with("new/"); });
    EXPECT_EQ(after, before);
}

INSTANTIATE_TEST_SUITE_P(
    Archives, DittoHostileTest,
    ::testing::Values(
        Hostile{"AbsoluteName",
                [](const fs::path& d) {
                    return std::vector<ZipItem>{{Kind::File, (d / "canary/pwned").string(), "x"}};
                }},
        Hostile{"DotDot",
                [](const fs::path&) {
                    return std::vector<ZipItem>{{Kind::File, "../canary/pwned", "x"}};
                }},
        Hostile{"DotDotInside",
                [](const fs::path&) {
                    return std::vector<ZipItem>{{Kind::File, "a/../../canary/pwned", "x"}};
                }},
        Hostile{"BackslashName",
                [](const fs::path&) {
                    return std::vector<ZipItem>{{Kind::File, "..\\canary\\pwned", "x"}};
                }},
        Hostile{"LinkOutsideThenThroughIt",
                [](const fs::path&) {
                    return std::vector<ZipItem>{{Kind::Link, "l", "../canary"}, {Kind::File, "l/pwned", "x"}};
                }},
        Hostile{
            "LinkToAbsoluteFolderThenThroughIt",
            [](const fs::path& d) {
                return std::vector<ZipItem>{{Kind::Link, "l", (d / "canary").string()}, {Kind::File, "l/pwned", "x"}};
            }},
        Hostile{"LinkClimbingTooFar",
                [](const fs::path&) {
                    return std::vector<ZipItem>{{Kind::Link, "a/l", "../../canary"}};
                }},
        Hostile{"LinkUpThenClimbingThroughIt",
                [](const fs::path&) {
                    // a/b/up points at the folder itself, so up/../.. would leave it.
                    return std::vector<ZipItem>{{Kind::Folder, "a/b/", ""},
                                                {Kind::Link, "a/b/up", "../.."},
                                                {Kind::Link, "z", "a/b/up/../../../canary"},
                                                {Kind::File, "z/pwned", "x"}};
                }},
        Hostile{"ThroughAnInsideLink",
                [](const fs::path&) {
                    return std::vector<ZipItem>{
                        {Kind::Folder, "sub/", ""}, {Kind::Link, "l", "sub"}, {Kind::File, "l/f", "x"}};
                }},
        Hostile{"FolderThenLinkOfTheSameName",
                [](const fs::path&) {
                    return std::vector<ZipItem>{
                        {Kind::Folder, "sub/", ""}, {Kind::Folder, "d/", ""}, {Kind::Link, "d", "sub"}};
                }},
        Hostile{"DuplicateFile",
                [](const fs::path&) {
                    return std::vector<ZipItem>{{Kind::File, "f", "one"}, {Kind::File, "f", "two"}};
                }},
        Hostile{"FileThenFolderOfTheSameName",
                [](const fs::path&) {
                    return std::vector<ZipItem>{{Kind::File, "f", "one"}, {Kind::File, "f/g", "two"}};
                }},
        Hostile{"Fifo",
                [](const fs::path&) {
                    return std::vector<ZipItem>{{Kind::Fifo, "pipe", ""}};
                }},
        Hostile{"Device",
                [](const fs::path&) {
                    return std::vector<ZipItem>{{Kind::CharDevice, "tty", ""}};
                }},
        Hostile{"AbsurdDeclaredSize",
                [](const fs::path&) {
                    return std::vector<ZipItem>{{Kind::File, "big", "x"}};
                },
                [](const fs::path& zip) { patchDeclaredSize(zip, "big", 0xfffffff0u); }},
        Hostile{"FarMoreUnpackedThanPacked",
                // 64 MB of zeros in about 64 KB: no release shrinks like that.
                [](const fs::path&) {
                    return std::vector<ZipItem>{{Kind::File, "zeros", std::string(64 << 20, '\0')}};
                }},
        Hostile{"NotAZip", [](const fs::path&) { return std::vector<ZipItem>{}; },
                [](const fs::path& zip) { writeText(zip, "not a zip archive"); }}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(DittoTest, UnpacksADeepArchiveWhoseEntriesMoveUpAndDown) {
    // Deeper than the folders ditto keeps open at once, with entries that
    // alternate between deep parents and climb back to shallow ones.
    std::vector<std::string> chain;
    std::string path;
    for (int level = 0; level < 300; ++level) {
        path += (level ? "/d" : "d") + std::to_string(level % 10);
        chain.push_back(path);
    }
    std::vector<ZipItem> items;
    std::map<std::string, std::string> expected;
    auto add = [&](const std::string& name) {
        items.push_back({Kind::File, name, name.substr(name.size() - 8)});
        expected[name] = items.back().data;
    };
    for (int i = 0; i < 400; ++i) {
        const std::string& deep = chain[299 - (i % 2)];
        add(deep + (i % 2 ? "/x" : "/y") + std::to_string(10000000 + i));
        if (i % 50 == 0) add(chain[i % 7] + "/s" + std::to_string(10000000 + i));
        if (i % 80 == 0) add(chain[150 + i % 3] + "/m" + std::to_string(10000000 + i));
    }
    ASSERT_EQ(unzip(items), 0);
    for (const auto& [name, data] : expected) ASSERT_EQ(readText(dir / "new" / name), data) << name;
    EXPECT_EQ(snapshot(dir / "new").size(), expected.size() + chain.size());
}

TEST(DittoUsageTest, OtherArgumentFormsAreUsageErrors) {
    TempDir dir;
    std::string zip = (dir / "a.zip").string(), out = (dir / "out").string();
    writeZip(zip, {{Kind::File, "f", "x"}});
    for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                  {"-x", zip, out},
                                                                  {"-k", zip, out},
                                                                  {"-x", "-k", zip},
                                                                  {"-x", "-k", zip, out, out},
                                                                  {"-c", "-k", zip, out},
                                                                  {"-x", "-x", "-k", zip, out}}) {
        std::vector<std::string> argv = {DITTO};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_EQ(run(argv), 2) << ::testing::PrintToString(args);
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(run({DITTO, "-xk", zip, out}), 0);
}

}  // namespace
}  // namespace orvane::testing
