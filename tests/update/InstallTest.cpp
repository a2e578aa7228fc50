// Installation with real signed bundles, the real ditto and codesign and the
// real relaunch script, in temporary folders: every failure at its step with
// what it leaves, the swap with its rollback, and the relaunch.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "CaseName.h"
#include "SignedBundles.h"
#include "Spin.h"
#include "ToolTesting.h"
#include "Sha256.h"
#include "Install.h"
#include "Processes.h"
#include "Spawn.h"

namespace orvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kId = "app.orvane.Orvane";

// The one folder an installation may add beside the bundle.
std::vector<fs::path> stagingFolders(const fs::path& folder) {
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(kStagingPrefix)) out.push_back(entry.path());
    return out;
}

class InstallTest : public ::testing::Test {
public:
    void SetUp() override {
        if (std::string(SIGNING_KEY).empty()) GTEST_SKIP() << "no secret key for the built-in public key";
        fs::create_directories(apps);
        makeBundle(running, kId, "1.0.0", "#!/bin/sh\necho old\n");
        fs::permissions(running, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
        before = snapshot(running);
        settings = InstallSettings::forBundle(running, kId);
        settings.helpers = HELPERS;
    }

    // A signed bundle made in a scratch folder, as zip items under `prefix`.
    std::vector<ZipItem> signedBundle(const std::string& prefix, const std::string& version = "2.0.0",
                                      const std::string& identifier = kId,
                                      const std::function<void(const fs::path&)>& afterSigning = {},
                                      const std::string& executable = "#!/bin/sh\necho new\n",
                                      const std::string& key = "") {
        const fs::path made = scratch / std::to_string(made_++) / "Orvane.app";
        makeBundle(made, identifier, version, executable);
        signBundle(made, key);
        if (afterSigning) afterSigning(made);
        return zipItems(made, prefix);
    }

    InstallResult installItems(const std::vector<ZipItem>& items, const std::string& version = "2.0.0") {
        archive = zipBytes(items);
        return installArchive(version);
    }
    // As the updater does: `archive` downloaded into a fresh staging folder, then installed from there.
    InstallResult installArchive(const std::string& version) {
        auto made = makeStaging(settings.bundle);
        if (const auto* problem = std::get_if<Problem>(&made)) return *problem;
        const fs::path staging = std::get<fs::path>(made);
        writeText(staging / "update.zip", archive);
        return install(settings, staging, version);
    }

    std::vector<ZipItem> bundle(const std::string& prefix, const std::string& version = "2.0.0",
                                const std::string& identifier = kId,
                                const std::function<void(const fs::path&)>& after = {}, const std::string& key = "") {
        return signedBundle(prefix, version, identifier, after, "#!/bin/sh\necho new\n", key);
    }
    fs::path scratchFolder() { return scratch; }
    std::string problem(const InstallResult& result) {
        const auto* found = std::get_if<Problem>(&result);
        return found ? found->description() : "(no problem)";
    }

    fs::path staging() {
        auto found = stagingFolders(apps);
        EXPECT_EQ(found.size(), 1u);
        return found.empty() ? fs::path() : found.front();
    }

    TempDir dir;
    fs::path apps = dir / "apps";
    fs::path running = apps / "Orvane.app";
    fs::path scratch = dir / "scratch";
    std::map<std::string, std::string> before;
    InstallSettings settings;
    std::string archive;
    int made_ = 0;
};

// ---- failures before the swap: the running bundle is untouched ----

struct RefusedCase {
    const char* name;
    std::function<std::vector<ZipItem>(InstallTest&)> items;
    std::string version;
    std::string problem;
};

void PrintTo(const RefusedCase& row, std::ostream* out) { *out << row.name; }

class InstallRefused : public InstallTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(InstallRefused, LeavesTheRunningBundleAndKeepsTheStagingFolder) {
    const auto result = installItems(GetParam().items(*this), GetParam().version);
    EXPECT_EQ(problem(result), GetParam().problem);
    EXPECT_EQ(snapshot(running), before) << "the running bundle is untouched";
    const fs::path stage = staging();
    ASSERT_FALSE(stage.empty());
    EXPECT_EQ(sha256Text(readText(stage / "update.zip")), sha256Text(archive)) << "the download as it came";
    EXPECT_FALSE(fs::exists(stage / "old.app"));
    // Nothing beside the bundle but the staging folder; nothing above it.
    std::set<std::string> beside;
    for (const auto& entry : fs::directory_iterator(apps)) beside.insert(entry.path().filename().string());
    EXPECT_EQ(beside, (std::set<std::string>{"Orvane.app", stage.filename().string()}));
    std::set<std::string> top;
    for (const auto& entry : fs::directory_iterator(dir.path())) top.insert(entry.path().filename().string());
    top.erase("scratch");
    EXPECT_EQ(top, std::set<std::string>{"apps"});
}

const std::string kUnpack = "The download couldn’t be unpacked.";
const std::string kSignature = "The downloaded app’s signature is broken.";

std::vector<ZipItem> with(std::vector<ZipItem> items, std::vector<ZipItem> more) {
    items.insert(items.end(), more.begin(), more.end());
    return items;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstallRefused,
    ::testing::Values(
        RefusedCase{"EmptyArchive", [](InstallTest&) { return std::vector<ZipItem>{}; }, "2.0.0", kUnpack},
        RefusedCase{"AppInASubfolder", [](InstallTest& test) { return test.bundle("Release/Orvane.app/"); }, "2.0.0", kUnpack},
        RefusedCase{"NoAppAtTheTop", [](InstallTest& test) { return test.bundle("Orvane/"); }, "2.0.0", kUnpack},
        RefusedCase{"IdentifierDiffers", [](InstallTest& test) { return test.bundle("Orvane.app/", "2.0.0", "app.other.Thing"); },
                    "2.0.0", "The download isn’t Orvane 2.0.0."},
        RefusedCase{"ShortVersionDiffers", [](InstallTest& test) { return test.bundle("Orvane.app/", "2.0"); }, "2.0.0",
                    "The download isn’t Orvane 2.0.0."},
        // The signature is checked before the download's Info.plist is read,
        // and the list of signed files names it.
        RefusedCase{"NoInfoPlist",
                    [](InstallTest& test) {
                        auto items = test.bundle("Orvane.app/");
                        std::erase_if(items, [](const ZipItem& i) { return i.name == "Orvane.app/Contents/Info.plist"; });
                        return items;
                    },
                    "2.0.0", kSignature},
        RefusedCase{"TamperedFile",
                    [](InstallTest& test) {
                        return test.bundle("Orvane.app/", "2.0.0", kId, [](const fs::path& b) {
                            writeText(b / "Contents/Linux/orvane", "#!/bin/sh\necho evil\n");
                        });
                    },
                    "2.0.0", kSignature},
        RefusedCase{"AddedFile",
                    [](InstallTest& test) {
                        return test.bundle("Orvane.app/", "2.0.0", kId,
                                        [](const fs::path& b) { writeText(b / "Contents/Resources/extra.js", "1"); });
                    },
                    "2.0.0", kSignature},
        RefusedCase{"Unsigned",
                    [](InstallTest& test) {
                        return test.bundle("Orvane.app/", "2.0.0", kId,
                                        [](const fs::path& b) { fs::remove_all(b / "Contents/_CodeSignature"); });
                    },
                    "2.0.0", kSignature},
        RefusedCase{"ShipsATrustingCodesignOfItsOwn",
                    [](InstallTest& test) {
                        return test.bundle("Orvane.app/", "2.0.0", kId, [](const fs::path& b) {
                            // Only the running bundle's tools count, never the download's.
                            fs::create_directories(b / "Contents/Helpers");
                            writeText(b / "Contents/Helpers/codesign", "#!/bin/sh\nexit 0\n");
                            fs::permissions(b / "Contents/Helpers/codesign", fs::perms::owner_all);
                        });
                    },
                    "2.0.0", kSignature},
        RefusedCase{"SignedWithAnotherKey",
                    [](InstallTest& test) {
                        fs::create_directories(test.scratchFolder());
                        return test.bundle("Orvane.app/", "2.0.0", kId, {}, otherKey(test.scratchFolder()).string());
                    },
                    "2.0.0", kSignature},
        RefusedCase{"PathTraversal",
                    [](InstallTest& test) {
                        return with(test.bundle("Orvane.app/"), {{ZipItem::Kind::File, "../../escaped", "x"}});
                    },
                    "2.0.0", kUnpack},
        RefusedCase{"LinkPointingOutside",
                    [](InstallTest& test) {
                        return with(test.bundle("Orvane.app/"),
                                    {{ZipItem::Kind::Link, "Orvane.app/Contents/up", "../../../../.."},
                                     {ZipItem::Kind::File, "Orvane.app/Contents/up/escaped", "x"}});
                    },
                    "2.0.0", kUnpack},
        RefusedCase{"EntryNamedLikeTheDownload",
                    [](InstallTest& test) {
                        return with(test.bundle("Orvane.app/"), {{ZipItem::Kind::File, "../update.zip", "replaced"}});
                    },
                    "2.0.0", kUnpack}),
    CaseName());

TEST_F(InstallTest, TwoAppsAtTheTopInstallsTheFirstListed) {
    auto items = with(signedBundle("A.app/"), signedBundle("B.app/"));
    const auto result = installItems(items);
    ASSERT_TRUE(std::holds_alternative<RelaunchTask>(result)) << problem(result);
    const auto left = stagingFolders(apps).front() / "new";
    // One went into place; the other stays where it was unpacked.
    EXPECT_EQ(fs::exists(left / "A.app") + fs::exists(left / "B.app"), 1);
}

TEST_F(InstallTest, UnwritableFolderFailsBeforeAnythingIsWritten) {
    // Root passes every permission check; an immutable folder stops even root.
    const bool root = ::geteuid() == 0;
    if (root ? run({"/usr/bin/chattr", "+i", apps.string()}) != 0 : (fs::permissions(apps, fs::perms::owner_read | fs::perms::owner_exec), false))
        GTEST_SKIP() << "cannot make a folder unwritable here";
    const auto result = installItems(signedBundle("Orvane.app/"));
    if (root) run({"/usr/bin/chattr", "-i", apps.string()});
    else fs::permissions(apps, fs::perms::owner_all);
    EXPECT_TRUE(problem(result).starts_with("A folder for the update can’t be made in " + apps.string() + " (")) << problem(result);
    EXPECT_EQ(snapshot(running), before);
    EXPECT_TRUE(stagingFolders(apps).empty());
}

TEST_F(InstallTest, WhatIsSwappedAfterTheSignatureCheckIsRefused) {
    // Between the check and the move, something replaces the checked bundle
    // or the staging folder by a link to another copy.
    for (int target = 0; target < 2; ++target) {
        SCOPED_TRACE(target == 0 ? "bundle replaced by a link" : "staging folder replaced by a link");
        const auto real = settings.run;
        settings.run = [&, target](const std::string& path, const std::vector<std::string>& arguments) {
            const int status = real(path, arguments);
            if (path.ends_with("/codesign") && status == 0) {
                const fs::path checked = arguments.back();
                const fs::path moved = target == 0 ? checked : checked.parent_path().parent_path();
                fs::rename(moved, moved.string() + ".checked");
                fs::create_directory_symlink(moved.string() + ".checked", moved);
            }
            return status;
        };
        const auto result = installItems(signedBundle("Orvane.app/"));
        EXPECT_EQ(problem(result), kSignature);
        EXPECT_EQ(snapshot(running), before);
        settings.run = real;
    }
}

// ---- the swap ----

void expectInstalled(InstallTest& test, const fs::path& running, const InstallResult& result,
                     const std::map<std::string, std::string>& before, const fs::path& staging) {
    (void)test;
    ASSERT_TRUE(std::holds_alternative<RelaunchTask>(result)) << std::get<Problem>(result).description();
    EXPECT_EQ(readText(running / "Contents/Linux/orvane"), "#!/bin/sh\necho new\n");
    EXPECT_EQ(snapshot(staging / "old.app"), before) << "the old bundle is kept whole as old.app";
    struct stat info {};
    ASSERT_EQ(::stat(running.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0750u) << "the new bundle keeps the old bundle root's mode";
    EXPECT_EQ(std::get<RelaunchTask>(result),
              RelaunchTask::make(::getpid(), staging.string(), running.string()));
}

TEST_F(InstallTest, SwapsInOneExchange) {
    std::vector<unsigned> flags;
    settings.rename = [&flags](int a, const char* b, int c, const char* d, unsigned f) {
        flags.push_back(f);
        return ::renameat2(a, b, c, d, f);
    };
    const auto result = installItems(signedBundle("Orvane.app/"));
    expectInstalled(*this, running, result, before, staging());
    EXPECT_EQ(flags.front(), unsigned(RENAME_EXCHANGE));
    EXPECT_EQ(fs::directory_iterator(staging() / "new"), fs::directory_iterator()) << "nothing left in new";
}

// A rename that fails: exchanges are unsupported, and call `failAt` (counted
// over plain moves) fails with `error`.
std::function<int(int, const char*, int, const char*, unsigned)> failing(int failAt, int error, int exchangeError = EINVAL) {
    auto moves = std::make_shared<int>(0);
    return [=](int a, const char* b, int c, const char* d, unsigned f) {
        if (f & RENAME_EXCHANGE) {
            errno = exchangeError;
            return -1;
        }
        if (++*moves == failAt) {
            errno = error;
            return -1;
        }
        return ::renameat2(a, b, c, d, f);
    };
}

TEST_F(InstallTest, WithoutExchangeMovesTwice) {
    settings.rename = failing(0, 0);
    const auto result = installItems(signedBundle("Orvane.app/"));
    expectInstalled(*this, running, result, before, staging());
}

TEST_F(InstallTest, SecondMoveFailingPutsTheOldBundleBackByteForByte) {
    settings.rename = failing(2, EIO);
    const auto result = installItems(signedBundle("Orvane.app/"));
    EXPECT_EQ(problem(result), "The new version can’t be moved to " + running.string() + " (Input/output error).");
    EXPECT_EQ(snapshot(running), before);
    EXPECT_FALSE(fs::exists(staging() / "old.app"));
    EXPECT_TRUE(fs::exists(staging() / "new/Orvane.app"));
}

TEST_F(InstallTest, AFailedRollBackSaysWhereTheOldBundleIs) {
    // The second move fails, and so does every move after it.
    auto second = failing(2, EIO);
    auto moves = std::make_shared<int>(0);
    settings.rename = [second, moves](int a, const char* b, int c, const char* d, unsigned f) {
        if (!(f & RENAME_EXCHANGE) && ++*moves > 2) {
            errno = EIO;
            return -1;
        }
        return second(a, b, c, d, f);
    };
    const auto result = installItems(signedBundle("Orvane.app/"));
    EXPECT_EQ(problem(result), "The new version can’t be moved to " + running.string() + ", and the old one is left at " +
                                   (staging() / "old.app").string() + " (Input/output error).");
    EXPECT_EQ(snapshot(staging() / "old.app"), before) << "the old bundle is whole where the message says";
}

TEST_F(InstallTest, FirstMoveFailingChangesNothing) {
    settings.rename = failing(1, EACCES);
    const auto result = installItems(signedBundle("Orvane.app/"));
    EXPECT_EQ(problem(result), running.string() + " can’t be moved aside (Permission denied).");
    EXPECT_EQ(snapshot(running), before);
}

TEST_F(InstallTest, ExchangeRefusedForAnotherReasonChangesNothing) {
    settings.rename = failing(1, 0, EXDEV);
    const auto result = installItems(signedBundle("Orvane.app/"));
    EXPECT_TRUE(problem(result).ends_with("(Invalid cross-device link).")) << problem(result);
    EXPECT_EQ(snapshot(running), before);
}

// ---- tools ----

TEST(InstallRun, DiscardsOutputAndReportsStatusOrMinusOne) {
    TempDir dir;
    EXPECT_EQ(orvane::run("/bin/sh", {"-c", "echo out; echo err >&2; exit 3"}), 3);
    EXPECT_EQ(orvane::run("/bin/sh", {"-c", "kill -9 $$"}), -1);
    EXPECT_EQ(orvane::run((dir / "missing").string(), {}), -1);
    // Arguments arrive as they are, never through a shell.
    EXPECT_EQ(orvane::run("/bin/sh", {"-c", "[ \"$1\" = \"\\$(touch x) 'a' \\\"b\\\"\" ]", "sh", "$(touch x) 'a' \"b\""}), 0);
}

// ---- the relaunch ----

// A process for the relaunch script to wait for.
pid_t startSleeper() { return spawn({"/bin/sleep", "60"}); }

TEST_F(InstallTest, RelaunchWaitsForTheProcessRemovesStagingAndStartsTheNewVersion) {
    // A hostile install location: quotes, a command substitution, a newline,
    // a leading dash and spaces must all reach the script as plain text.
    const fs::path odd = dir / "-o 'q' \"d\" $(touch pwned) `touch pwned2`\n x";
    fs::create_directories(odd);
    const fs::path bundle = odd / "Orvane.app";
    fs::rename(running, bundle);
    settings = InstallSettings::forBundle(bundle, kId);
    settings.helpers = HELPERS;
    const pid_t sleeper = startSleeper();
    ASSERT_GT(sleeper, 0);
    settings.pid = sleeper;

    // The stand-in for the new version writes down how it was started.
    const std::string standIn =
        "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$0\" > \"$(dirname \"$0\")/../../../relaunched\"\n";
    archive = zipBytes(signedBundle("Orvane.app/", "2.0.0", kId, {}, standIn));
    const auto result = installArchive("2.0.0");
    ASSERT_TRUE(std::holds_alternative<RelaunchTask>(result)) << problem(result);
    const auto& task = std::get<RelaunchTask>(result);
    ASSERT_EQ(task.arguments.size(), 6u);
    const fs::path stage = task.arguments[4];
    ASSERT_TRUE(startDetached(task));

    spinFor(0.6);
    EXPECT_TRUE(fs::exists(stage)) << "the script waits while the process lives";
    EXPECT_FALSE(fs::exists(odd / "relaunched"));

    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
    ASSERT_TRUE(spinUntil([&] { return fs::exists(odd / "relaunched"); }, 10));
    spinFor(0.1);
    EXPECT_EQ(readText(odd / "relaunched"), "0|" + (bundle / "Contents/Linux/orvane").string())
        << "the new executable starts with no arguments";
    EXPECT_FALSE(fs::exists(stage)) << "the staging folder is removed";
    EXPECT_FALSE(fs::exists("pwned") || fs::exists(odd / "pwned") || fs::exists("pwned2"));
}

}  // namespace
}  // namespace orvane::testing
