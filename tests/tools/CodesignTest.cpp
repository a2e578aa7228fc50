// codesign run as a process: a bundle it signed verifies, and every change to
// the bundle or its signature after signing makes the check fail.

#include "ToolTesting.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

namespace orvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* RESOURCES = "Contents/_CodeSignature/CodeResources";
constexpr const char* SIGNATURE = "Contents/_CodeSignature/CodeResources.minisig";

class CodesignTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(SIGNING_KEY).empty()) GTEST_SKIP() << "no secret key for the built-in public key";
        fs::create_directories(app / "Contents/Linux");
        fs::create_directories(app / "Contents/Resources");
        fs::create_directories(app / "Contents/Helpers");
        writeText(app / "Contents/Info.plist", "<plist><dict/></plist>\n");
        writeText(app / "Contents/Linux/orvane", "#!/bin/sh\necho orvane\n");
        fs::permissions(app / "Contents/Linux/orvane", fs::perms::owner_exec, fs::perm_options::add);
        writeText(app / "Contents/Resources/bridge.js", "window.__orvane = {};\n");
        writeText(app / "Contents/Resources/name with\ttab%", "odd name");
        fs::create_directory_symlink("../Linux", app / "Contents/Resources/bin");
        ASSERT_EQ(run({CODESIGN, "--sign", SIGNING_KEY, app.string()}), 0);
    }

    int verify() { return run({CODESIGN, "--verify", "--deep", "--strict", app.string()}); }

public:
    // A fresh passwordless key pair that codesign does not trust.
    fs::path otherKey() {
        fs::path key = dir / "other.key";
        EXPECT_EQ(run({MINISIGN, "-G", "-W", "-p", (dir / "other.pub").string(), "-s", key.string()}), 0);
        return key;
    }

protected:
    TempDir dir;
    fs::path app = dir / "Orvane.app";
};

TEST_F(CodesignTest, SignedBundleVerifies) {
    EXPECT_EQ(verify(), 0);
    EXPECT_EQ(run({CODESIGN, "--verify", app.string()}), 0);
}

struct Tamper {
    const char* name;
    std::function<void(CodesignTest& test, const fs::path& app)> change;
};

void PrintTo(const Tamper& row, std::ostream* out) { *out << row.name; }

class CodesignTamperTest : public CodesignTest, public ::testing::WithParamInterface<Tamper> {};

TEST_P(CodesignTamperTest, Fails) {
    GetParam().change(*this, app);
    EXPECT_EQ(verify(), 1);
}

void replaceLine(const fs::path& file, std::size_t index, const std::function<std::string(std::string)>& change) {
    std::string text = readText(file);
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    lines.at(index) = change(lines.at(index));
    std::string out;
    for (const auto& line : lines) out += line + "\n";
    writeText(file, out);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, CodesignTamperTest,
    ::testing::Values(
        Tamper{"TamperedFile", [](auto&, const fs::path& a) { writeText(a / "Contents/Resources/bridge.js", "window.evil = 1;\n"); }},
        Tamper{"AddedFile", [](auto&, const fs::path& a) { writeText(a / "Contents/Helpers/extra", "x"); }},
        Tamper{"AddedEmptyFolder", [](auto&, const fs::path& a) { fs::create_directory(a / "Contents/Plugins"); }},
        Tamper{"RemovedFile", [](auto&, const fs::path& a) { fs::remove(a / "Contents/Resources/bridge.js"); }},
        Tamper{"ChangedLinkTarget",
               [](auto&, const fs::path& a) {
                   fs::remove(a / "Contents/Resources/bin");
                   fs::create_directory_symlink("../Helpers", a / "Contents/Resources/bin");
               }},
        Tamper{"FileReplacedByLink",
               [](auto&, const fs::path& a) {
                   fs::remove(a / "Contents/Info.plist");
                   fs::create_symlink("Resources/bridge.js", a / "Contents/Info.plist");
               }},
        Tamper{"ExecutableBitCleared",
               [](auto&, const fs::path& a) {
                   fs::permissions(a / "Contents/Linux/orvane", fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                                   fs::perm_options::remove);
               }},
        Tamper{"ListEditedToMatchTamperedFile",
               [](auto&, const fs::path& a) {
                   writeText(a / "Contents/Resources/bridge.js", "");
                   std::string list = readText(a / RESOURCES);
                   auto at = list.find("Contents/Resources/bridge.js\t");
                   auto end = list.find('\n', at);
                   list.replace(at, end - at, "Contents/Resources/bridge.js\t0\te3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
                   writeText(a / RESOURCES, list);
               }},
        Tamper{"SignedWithAnotherKey",
               [](CodesignTest& test, const fs::path& a) { ASSERT_EQ(run({CODESIGN, "--sign", test.otherKey().string(), a.string()}), 0); }},
        Tamper{"OwnKeyShippedInTheBundle",
               [](CodesignTest& test, const fs::path& a) {
                   auto key = test.otherKey();
                   fs::copy_file(key.parent_path() / "other.pub", a / "Contents/_CodeSignature/minisign.pub");
                   fs::copy_file(key.parent_path() / "other.pub", a / "Contents/Resources/minisign.pub");
                   ASSERT_EQ(run({CODESIGN, "--sign", key.string(), a.string()}), 0);
               }},
        Tamper{"LegacySignatureNotPrehashed",
               [](auto&, const fs::path& a) {
                   ASSERT_EQ(run({MINISIGN, "-S", "-l", "-s", SIGNING_KEY, "-m", (a / RESOURCES).string(), "-x",
                                  (a / SIGNATURE).string()}),
                             0);
               }},
        Tamper{"BrokenGlobalSignature",
               [](auto&, const fs::path& a) {
                   replaceLine(a / SIGNATURE, 3, [](std::string line) {
                       line[0] = line[0] == 'A' ? 'B' : 'A';
                       return line;
                   });
               }},
        Tamper{"ChangedTrustedComment",
               [](auto&, const fs::path& a) { replaceLine(a / SIGNATURE, 2, [](const std::string& line) { return line + " version:9.9.9"; }); }},
        Tamper{"MissingSignature", [](auto&, const fs::path& a) { fs::remove(a / SIGNATURE); }},
        Tamper{"MissingCodeResources", [](auto&, const fs::path& a) { fs::remove(a / RESOURCES); }},
        Tamper{"SignatureFolderIsALink",
               [](auto&, const fs::path& a) {
                   fs::rename(a / "Contents/_CodeSignature", a.parent_path() / "sig");
                   fs::create_directory_symlink(a.parent_path() / "sig", a / "Contents/_CodeSignature");
               }},
        Tamper{"FifoAdded", [](auto&, const fs::path& a) { ASSERT_EQ(::mkfifo((a / "Contents/pipe").c_str(), 0644), 0); }}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(CodesignTest, BundlePathThatIsALinkFails) {
    fs::create_directory_symlink(app, dir / "Link.app");
    EXPECT_EQ(run({CODESIGN, "--verify", "--deep", "--strict", (dir / "Link.app").string()}), 1);
}

TEST(CodesignUsageTest, OtherArgumentFormsAreUsageErrors) {
    for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                  {"--verify"},
                                                                  {"--deep", "--strict", "/tmp"},
                                                                  {"--verify", "a", "b"},
                                                                  {"--verify", "--force", "a"},
                                                                  {"--sign", "k"}}) {
        std::vector<std::string> argv = {CODESIGN};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_EQ(run(argv), 2) << ::testing::PrintToString(args);
    }
}

}  // namespace
}  // namespace orvane::testing
