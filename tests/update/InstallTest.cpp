// Installation with real signed bundles, the real ditto and codesign and the
// real relaunch helper, in temporary folders: every failure at its step with
// what it leaves, the swap with its rollback, kills at each step of a swap,
// and the relaunch with its way back.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <thread>

#include "CaseName.h"
#include "Install.h"
#include "Processes.h"
#include "Sha256.h"
#include "SignedBundles.h"
#include "Spin.h"
#include "Staging.h"
#include "Swap.h"
#include "ToolTesting.h"
#include "Trial.h"
#include "UniqueFd.h"
#include "UpdateTexts.h"

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
        settings.log = [this](const std::string& line) { log.push_back(line); };
        // The staging folder of a successful install stays held by the test,
        // which lets go of it where the app would end.
        settings.keep = [this](Staging&& staging) { kept.push_back(std::move(staging)); };
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
    // The app ends: its hold on the staging folder goes.
    void appEnds() { kept.clear(); }
    bool logged(const std::string& start) const {
        return std::any_of(log.begin(), log.end(), [&](const std::string& line) { return line.starts_with(start); });
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
    std::vector<std::string> log;
    std::vector<Staging> kept;
};

// ---- failures before the swap: the running bundle is untouched, nothing is left ----

struct RefusedCase {
    const char* name;
    std::function<std::vector<ZipItem>(InstallTest&)> items;
    std::string version;
    std::string problem;
};

void PrintTo(const RefusedCase& row, std::ostream* out) { *out << row.name; }

class InstallRefused : public InstallTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(InstallRefused, LeavesTheRunningBundleAndNothingBesideIt) {
    const auto result = installItems(GetParam().items(*this), GetParam().version);
    EXPECT_EQ(problem(result), GetParam().problem);
    EXPECT_EQ(snapshot(running), before) << "the running bundle is untouched";
    // The staging folder went with what was unpacked in it; nothing above it either.
    std::set<std::string> beside;
    for (const auto& entry : fs::directory_iterator(apps)) beside.insert(entry.path().filename().string());
    EXPECT_EQ(beside, std::set<std::string>{"Orvane.app"});
    std::set<std::string> top;
    for (const auto& entry : fs::directory_iterator(dir.path())) top.insert(entry.path().filename().string());
    top.erase("scratch");
    EXPECT_EQ(top, std::set<std::string>{"apps"});
    EXPECT_TRUE(kept.empty());
}

const std::string kUnpack = "The download couldn’t be unpacked.";
const std::string kSignature = "The downloaded app’s signature is broken.";
const std::string kNotRunnable = "The downloaded app can’t run on this computer.";

std::vector<ZipItem> with(std::vector<ZipItem> items, std::vector<ZipItem> more) {
    items.insert(items.end(), more.begin(), more.end());
    return items;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstallRefused,
    ::testing::Values(
        RefusedCase{"EmptyArchive", [](InstallTest&) { return std::vector<ZipItem>{}; }, "2.0.0", kUnpack},
        RefusedCase{"AppInASubfolder", [](InstallTest& test) { return test.bundle("Release/Orvane.app/"); }, "2.0.0",
                    kUnpack},
        RefusedCase{"NoAppAtTheTop", [](InstallTest& test) { return test.bundle("Orvane/"); }, "2.0.0", kUnpack},
        RefusedCase{"IdentifierDiffers",
                    [](InstallTest& test) { return test.bundle("Orvane.app/", "2.0.0", "app.other.Thing"); }, "2.0.0",
                    "The download isn’t Orvane 2.0.0."},
        RefusedCase{"ShortVersionDiffers", [](InstallTest& test) { return test.bundle("Orvane.app/", "2.0"); }, "2.0.0",
                    "The download isn’t Orvane 2.0.0."},
        // The signature is checked before the download's Info.plist is read,
        // and the list of signed files names it.
        RefusedCase{"NoInfoPlist",
                    [](InstallTest& test) {
                        auto items = test.bundle("Orvane.app/");
                        std::erase_if(items,
                                      [](const ZipItem& i) { return i.name == "Orvane.app/Contents/Info.plist"; });
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
                        return test.bundle("Orvane.app/", "2.0.0", kId, [](const fs::path& b) {
                            writeText(b / "Contents/Resources/extra.js", "1");
                        });
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
        // Exactly one bundle at the top, named as the running one.
        RefusedCase{"TwoAppsAtTheTop",
                    [](InstallTest& test) { return with(test.bundle("Orvane.app/"), test.bundle("Other.app/")); },
                    "2.0.0", kUnpack},
        RefusedCase{"SignedBundleOfAnotherName", [](InstallTest& test) { return test.bundle("Evil.app/"); }, "2.0.0",
                    kUnpack},
        // Signed, ours, the right version, and still nothing that would run.
        RefusedCase{"ExecutableMissing",
                    [](InstallTest& test) {
                        return test.bundle("Orvane.app/", "2.0.0", kId, [](const fs::path& b) {
                            fs::remove(b / "Contents/Linux/orvane");
                            signBundle(b);
                        });
                    },
                    "2.0.0", kNotRunnable},
        RefusedCase{"ExecutableNotExecutable",
                    [](InstallTest& test) {
                        return test.bundle("Orvane.app/", "2.0.0", kId, [](const fs::path& b) {
                            fs::permissions(b / "Contents/Linux/orvane",
                                            fs::perms::owner_read | fs::perms::owner_write);
                            signBundle(b);
                        });
                    },
                    "2.0.0", kNotRunnable},
        RefusedCase{"ExecutableIsAScript",
                    [](InstallTest& test) {
                        return test.bundle("Orvane.app/", "2.0.0", kId, [](const fs::path& b) {
                            writeText(b / "Contents/Linux/orvane", "#!/bin/sh\nexit 0\n");
                            signBundle(b);
                        });
                    },
                    "2.0.0", kNotRunnable},
        RefusedCase{"ExecutableForAnotherMachine",
                    [](InstallTest& test) {
                        return test.bundle("Orvane.app/", "2.0.0", kId, [](const fs::path& b) {
                            // e_machine, two bytes at offset 18: one no machine of ours has.
                            auto bytes = readText(b / "Contents/Linux/orvane");
                            bytes[18] = '\x34';
                            bytes[19] = '\x12';
                            writeText(b / "Contents/Linux/orvane", bytes);
                            signBundle(b);
                        });
                    },
                    "2.0.0", kNotRunnable},
        RefusedCase{"ExecutableIsALink",
                    [](InstallTest& test) {
                        return test.bundle("Orvane.app/", "2.0.0", kId, [](const fs::path& b) {
                            fs::rename(b / "Contents/Linux/orvane", b / "Contents/Linux/real");
                            fs::create_symlink("real", b / "Contents/Linux/orvane");
                            signBundle(b);
                        });
                    },
                    "2.0.0", kNotRunnable},
        RefusedCase{"EntryNamedLikeTheDownload",
                    [](InstallTest& test) {
                        return with(test.bundle("Orvane.app/"), {{ZipItem::Kind::File, "../update.zip", "replaced"}});
                    },
                    "2.0.0", kUnpack}),
    CaseName());

TEST_F(InstallTest, TheToolsReasonsGoToTheLogAndThePageKeepsItsText) {
    auto tampered = bundle("Orvane.app/", "2.0.0", kId,
                           [](const fs::path& b) { writeText(b / "Contents/Resources/bridge.js", "evil"); });
    EXPECT_EQ(problem(installItems(tampered)), kSignature);
    EXPECT_TRUE(logged("Orvane: codesign: ")) << ::testing::PrintToString(log);
    log.clear();
    EXPECT_EQ(problem(installItems(with(bundle("Orvane.app/"), {{ZipItem::Kind::File, "../x", "x"}}))), kUnpack);
    EXPECT_TRUE(logged("Orvane: ditto: ")) << ::testing::PrintToString(log);
    log.clear();
    EXPECT_EQ(problem(installItems(bundle("Evil.app/"))), kUnpack);
    EXPECT_TRUE(logged("Orvane: the download must hold exactly one bundle at its top, Orvane.app; it holds Evil.app"))
        << ::testing::PrintToString(log);
}

TEST_F(InstallTest, AMissingHelperIsReportedAsThatBeforeAnythingIsWritten) {
    // A bundle built without its helpers used to call every download one
    // that "couldn't be unpacked".
    for (const char* missing : {"ditto", "codesign", "relaunch"}) {
        SCOPED_TRACE(missing);
        const fs::path helpers = scratch / (std::string("helpers-without-") + missing);
        fs::create_directories(helpers);
        for (const char* tool : {"ditto", "codesign", "relaunch"})
            if (std::string(tool) != missing) fs::copy_file(fs::path(HELPERS) / tool, helpers / tool);
        settings.helpers = helpers;
        const auto result = installItems(signedBundle("Orvane.app/"));
        EXPECT_EQ(problem(result), std::string("Orvane’s bundle is incomplete: its helper Contents/Helpers/") +
                                       missing +
                                       " is missing. Install Orvane again (or build it whole) and update again.");
        EXPECT_EQ(snapshot(running), before);
        EXPECT_TRUE(stagingFolders(apps).empty());
    }
}

TEST_F(InstallTest, UnwritableFolderFailsBeforeAnythingIsWritten) {
    // Root passes every permission check; an immutable folder stops even root.
    const bool root = ::geteuid() == 0;
    if (root ? run({"/usr/bin/chattr", "+i", apps.string()}) != 0
             : (fs::permissions(apps, fs::perms::owner_read | fs::perms::owner_exec), false))
        GTEST_SKIP() << "cannot make a folder unwritable here";
    const auto result = installItems(signedBundle("Orvane.app/"));
    if (root) run({"/usr/bin/chattr", "-i", apps.string()});
    else fs::permissions(apps, fs::perms::owner_all);
    EXPECT_TRUE(problem(result).starts_with("A folder for the update can’t be made in " + apps.string() + " ("))
        << problem(result);
    EXPECT_EQ(snapshot(running), before);
    EXPECT_TRUE(stagingFolders(apps).empty());
}

// Each way a helper fails has its own sentence: a helper that could not even
// start (its bundle renamed meanwhile) said the signature was broken.
TEST_F(InstallTest, AHelperThatCouldNotRunOrRanOutOfSpaceSaysSo) {
    struct Row {
        const char* tool;
        int status;
        std::string problem;
    };
    const std::vector<Row> rows = {
        {"ditto", 3, "There isn’t enough free space in " + apps.string() + " for the update."},
        {"ditto", -1,
         "Orvane’s helper Contents/Helpers/ditto couldn’t run; was Orvane moved or changed during the update? Try "
         "the update again."},
        {"codesign", -1,
         "Orvane’s helper Contents/Helpers/codesign couldn’t run; was Orvane moved or changed during the update? "
         "Try the update again."},
    };
    const auto real = settings.run;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.tool) + " " + std::to_string(row.status));
        settings.run = [&](const std::string& path, const std::vector<std::string>& arguments) {
            return path.ends_with(std::string("/") + row.tool) ? ToolRun{row.status, ""} : real(path, arguments);
        };
        EXPECT_EQ(problem(installItems(signedBundle("Orvane.app/"))), row.problem);
        EXPECT_EQ(snapshot(running), before);
        EXPECT_TRUE(stagingFolders(apps).empty());
    }
    settings.run = real;
}

TEST_F(InstallTest, WhatIsSwappedAfterTheSignatureCheckIsRefused) {
    // Between the check and the move, something replaces the checked bundle
    // or the staging folder by a link to another copy.
    for (int target = 0; target < 2; ++target) {
        SCOPED_TRACE(target == 0 ? "bundle replaced by a link" : "staging folder replaced by a link");
        const auto real = settings.run;
        settings.run = [&, target](const std::string& path, const std::vector<std::string>& arguments) {
            ToolRun status = real(path, arguments);
            if (path.ends_with("/codesign") && status.status == 0) {
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
    EXPECT_EQ(readText(running / "Contents/Resources/run.sh"), "#!/bin/sh\necho new\n");
    EXPECT_EQ(snapshot(staging / "old.app"), before) << "the old bundle is kept whole as old.app";
    struct stat info {};
    ASSERT_EQ(::stat(running.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0750u) << "the new bundle keeps the old bundle root's mode";
    EXPECT_EQ(std::get<RelaunchTask>(result),
              RelaunchTask::make((fs::path(HELPERS) / "relaunch").string(), staging.string(), running.string()));
    EXPECT_FALSE(fs::exists(staging / kJournalName));
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
Rename failing(int failAt, int error, int exchangeError = EINVAL) {
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
    EXPECT_TRUE(stagingFolders(apps).empty());
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
    EXPECT_EQ(problem(result), "The new version can’t be moved to " + running.string() +
                                   ", and the old one is left at " + (staging() / "old.app").string() +
                                   " (Input/output error).");
    EXPECT_EQ(snapshot(staging() / "old.app"), before) << "the old bundle is whole where the message says";
    // The folder stays, with its journal; the next start puts the old bundle back.
    appEnds();
    EXPECT_TRUE(cleanUpStaging(running, {}).empty());
    EXPECT_EQ(snapshot(running), before);
    EXPECT_TRUE(stagingFolders(apps).empty());
}

TEST_F(InstallTest, FirstMoveFailingChangesNothing) {
    settings.rename = failing(1, EACCES);
    const auto result = installItems(signedBundle("Orvane.app/"));
    EXPECT_EQ(problem(result), running.string() + " can’t be moved aside (Permission denied).");
    EXPECT_EQ(snapshot(running), before);
    EXPECT_TRUE(stagingFolders(apps).empty());
}

TEST_F(InstallTest, ExchangeRefusedForAnotherReasonChangesNothing) {
    settings.rename = failing(1, 0, EXDEV);
    const auto result = installItems(signedBundle("Orvane.app/"));
    EXPECT_TRUE(problem(result).ends_with("(Invalid cross-device link).")) << problem(result);
    EXPECT_EQ(snapshot(running), before);
}

// ---- kills between the moves of a swap, with the exchange unavailable ----

struct KillCase {
    const char* name;
    bool puttingBack;  // the relaunch step's way back, else the install's swap
    int killBefore;    // the plain move (1 or 2) before which the process dies; 3: after the second
    // The new version was swapped in, but nothing ever saw it come up: the
    // next start puts the old one back and has a reason for its page.
    bool undone;
    // The file system exchanges: move 1 is the exchange, move 2 the move aside.
    bool exchange = false;
};

void PrintTo(const KillCase& row, std::ostream* out) { *out << row.name; }

class InstallKilled : public InstallTest, public ::testing::WithParamInterface<KillCase> {};

// Exchanges unsupported; the process dies just before plain move `at`
// (after the last one when `at` is past them).
Rename killingAt(int at, bool exchange) {
    auto moves = std::make_shared<int>(0);
    return [=](int a, const char* b, int c, const char* d, unsigned f) {
        if ((f & RENAME_EXCHANGE) && !exchange) {
            errno = EINVAL;
            return -1;
        }
        if (++*moves == at) ::raise(SIGKILL);
        const int result = ::renameat2(a, b, c, d, f);
        if (*moves == at - 1 && at == 3) ::raise(SIGKILL);
        return result;
    };
}

TEST_P(InstallKilled, TheNextStartOfEitherBundleLeavesACompleteBundleInPlace) {
    const auto& row = GetParam();
    archive = zipBytes(signedBundle("Orvane.app/"));
    fs::path stage;
    if (row.puttingBack) {
        ASSERT_TRUE(std::holds_alternative<RelaunchTask>(installArchive("2.0.0")));
        stage = staging();
        appEnds();
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        settings.rename = killingAt(row.killBefore, row.exchange);
        if (!row.puttingBack) {
            (void)installArchive("2.0.0");
            ::_exit(0);
        }
        auto held = Staging::take(stage);
        UniqueFd parent(::open(apps.c_str(), O_RDONLY | O_DIRECTORY));
        SwapPlaces back{parent.get(), "Orvane.app", held->dir(), "old.app",
                        held->dir(),  "failed.app", "old.app",   "old.app"};
        (void)swapBundles(settings.rename, back);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the kill came";
    stage = staging();

    // Started again: from the place when it holds a bundle, else the old
    // bundle kept in the staging folder is what the user can start (what the
    // desktop entry's launcher does).
    if (!fs::exists(running)) cleanUpStaging(stage / "old.app", {});
    ASSERT_TRUE(fs::exists(running)) << "the place holds a bundle again";
    // A start from the place, as the app's: the trial first, then the rest.
    const auto back = takeUpTrial(running, {});
    EXPECT_EQ(back.has_value(), row.undone);
    const auto undone = cleanUpStaging(running, {});
    EXPECT_EQ(snapshot(running), before) << "the old version, byte for byte";
    const std::vector<nlohmann::json> told =
        row.undone ? std::vector<nlohmann::json>{nlohmann::json{{"unstarted", true}}} : std::vector<nlohmann::json>{};
    EXPECT_EQ(undone, told) << "what the old version's page is told";
    EXPECT_TRUE(stagingFolders(apps).empty()) << "the start removes what the kill left";
}

INSTANTIATE_TEST_SUITE_P(Cases, InstallKilled,
                         ::testing::Values(KillCase{"InstallBeforeMovingTheOldAside", false, 1, false},
                                           KillCase{"InstallBetweenTheMoves", false, 2, false},
                                           KillCase{"InstallAfterTheMoves", false, 3, true},
                                           KillCase{"PuttingBackBeforeMovingTheNewAside", true, 1, true},
                                           KillCase{"PuttingBackBetweenTheMoves", true, 2, false},
                                           KillCase{"PuttingBackAfterTheMoves", true, 3, false},
                                           // Right after an exchange the name aside still held the
                                           // other version: a start took the new one for the kept one.
                                           KillCase{"InstallBeforeTheExchange", false, 1, false, true},
                                           KillCase{"InstallAfterTheExchange", false, 2, true, true},
                                           KillCase{"PuttingBackBeforeTheExchange", true, 1, true, true},
                                           KillCase{"PuttingBackAfterTheExchange", true, 2, false, true}),
                         CaseName());

// ---- tools ----

TEST(InstallRun, KeepsErrorOutputAndReportsStatusOrMinusOne) {
    TempDir dir;
    const auto done = runTool("/bin/sh", {"-c", "echo out; echo err >&2; exit 3"});
    EXPECT_EQ(done.status, 3);
    EXPECT_EQ(done.errors, "err\n");
    EXPECT_EQ(runTool("/bin/sh", {"-c", "kill -9 $$"}).status, -1);
    EXPECT_EQ(runTool((dir / "missing").string(), {}).status, -1);
    // Arguments arrive as they are, never through a shell.
    EXPECT_EQ(
        runTool("/bin/sh", {"-c", "[ \"$1\" = \"\\$(touch x) 'a' \\\"b\\\"\" ]", "sh", "$(touch x) 'a' \"b\""}).status,
        0);
}

TEST(InstallRun, ACancelledToolIsKilled) {
    TempDir dir;
    std::atomic<bool> cancel{false};
    const fs::path started = dir / "started";
    std::thread quitter([&] {
        while (!fs::exists(started)) ::usleep(1000);
        cancel = true;
    });
    const auto done = runTool("/bin/sh", {"-c", "touch \"$1\"; exec sleep 600", "sh", started.string()}, &cancel);
    quitter.join();
    EXPECT_EQ(done.status, -1);
}

TEST(InstallRun, AToolDiesWithTheProcessThatStartedIt) {
    TempDir dir;
    const fs::path pidFile = dir / "pid";
    const pid_t app = ::fork();
    ASSERT_GE(app, 0);
    if (app == 0) {
        runTool("/bin/sh", {"-c", R"(echo $$ > "$1.new"; mv "$1.new" "$1"; exec sleep 600)", "sh", pidFile.string()});
        ::_exit(0);
    }
    ASSERT_TRUE(spinUntil([&] { return fs::exists(pidFile); }, 20));
    const pid_t tool = std::stoi(readText(pidFile));
    UniqueFd watch(static_cast<int>(::syscall(SYS_pidfd_open, tool, 0)));
    ASSERT_TRUE(watch.valid());
    ::kill(app, SIGKILL);
    ::waitpid(app, nullptr, 0);
    pollfd gone{watch.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&gone, 1, 20000), 1) << "the tool ended with the app";
}

// ---- the relaunch ----

// The running app, played by a child process that holds the staging folder
// as the app does until its last moment. Killed, it stays a zombie until
// reaped: the relaunch must not wait for that.
class HoldingApp {
public:
    explicit HoldingApp(const fs::path& staging) {
        int ends[2];
        if (::pipe(ends) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            auto held = Staging::take(staging);
            const char byte = held ? 1 : 0;
            (void)!::write(ends[1], &byte, 1);
            for (;;) ::pause();
        }
        char byte = 0;
        (void)!::read(ends[0], &byte, 1);
        holds_ = byte == 1;
        ::close(ends[0]);
        ::close(ends[1]);
    }
    ~HoldingApp() { reap(); }
    bool holds() const { return holds_; }
    void kill() { ::kill(pid_, SIGKILL); }
    void reap() {
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool holds_ = false;
};

TEST_F(InstallTest, RelaunchWaitsUntilTheAppIsGoneStartsTheNewVersionAndHandsItTheStaging) {
    // A hostile install location: quotes, a command substitution, a newline,
    // a leading dash and spaces must all reach the new version as plain text.
    const fs::path odd = dir / "-o 'q' \"d\" $(touch pwned) `touch pwned2`\n x";
    fs::create_directories(odd);
    const fs::path bundle = odd / "Orvane.app";
    fs::rename(running, bundle);
    settings.bundle = bundle;
    // The run's own options go on to the new version, as they were.
    settings.appArguments = {"--page-url", "http://127.0.0.1:9/a b?c=$(touch pwned3)"};

    // The new version writes down how it was started and whether the app had
    // ended by then, then says it has loaded.
    const std::string standIn =
        "#!/bin/sh\nhere=\"$(dirname \"$1\")/../../..\"\n"
        "if [ -e \"$here/app-ended\" ]; then when=after; else when=before; fi\n"
        "if [ -e /dev/fd/50 ]; then fd=inherited; else fd=closed; fi\n"
        "if [ -e /dev/fd/4 ]; then trial=\"$ORVANE_TRIAL\"; else trial=none; fi\n"
        "printf '%s|%s|%s|%s|%s|%s|%s' \"$#\" \"$1\" \"$when\" \"$fd\" \"$trial\" \"$2\" \"$3\" > "
        "\"$here/relaunched.new\"\n"
        "mv \"$here/relaunched.new\" \"$here/relaunched\"\n"
        "printf x >&\"$ORVANE_READY_FD\"\n";
    archive = zipBytes(signedBundle("Orvane.app/", "2.0.0", kId, {}, standIn));
    const auto result = installArchive("2.0.0");
    ASSERT_TRUE(std::holds_alternative<RelaunchTask>(result)) << problem(result);
    const auto& task = std::get<RelaunchTask>(result);
    const fs::path stage = task.arguments[0];

    appEnds();
    HoldingApp app(stage);
    ASSERT_TRUE(app.holds());
    // A descriptor the app has open without close-on-exec (libraries leave
    // some): neither the helper nor the new version gets it.
    const int leaked = ::dup2(::open("/dev/null", O_RDONLY), 50);
    ASSERT_TRUE(startDetached(task));
    ::close(leaked);
    writeText(odd / "app-ended", "");
    app.kill();  // not reaped: a zombie, which a signal-0 probe would still find
    ASSERT_TRUE(spinUntil([&] { return fs::exists(odd / "relaunched"); }, 30));
    EXPECT_EQ(readText(odd / "relaunched"), "3|" + (bundle / "Contents/Linux/orvane").string() + "|after|closed|" +
                                                stage.string() + "|--page-url|http://127.0.0.1:9/a b?c=$(touch pwned3)")
        << "started with the run's options, the hold on the staging folder and none of the app's other "
           "descriptors, once the app had ended";
    // The new version runs on trial: the old one stays until it has run well.
    EXPECT_TRUE(spinUntil([&] { return Staging::take(stage).has_value(); }, 30)) << "let go once it said it was up";
    EXPECT_TRUE(fs::is_directory(stage / "old.app"));
    EXPECT_TRUE(fs::exists(stage / "trial"));
    EXPECT_FALSE(fs::exists("pwned") || fs::exists(odd / "pwned") || fs::exists("pwned2") || fs::exists("pwned3"));
    app.reap();
}

struct UndoneCase {
    const char* name;
    std::string script;  // the new version's
    std::vector<std::string> options;
    nlohmann::json record;
    std::string message;
};

void PrintTo(const UndoneCase& row, std::ostream* out) { *out << row.name; }

class RelaunchUndone : public InstallTest, public ::testing::WithParamInterface<UndoneCase> {};

TEST_P(RelaunchUndone, PutsTheOldVersionBackStartsItAndItsPageHearsWhy) {
    const auto& row = GetParam();
    // The old version says when it starts, and whether it was asked to report.
    writeText(running / "Contents/Resources/run.sh",
              "#!/bin/sh\nhere=\"$(dirname \"$1\")/../../..\"\n"
              "printf 'old|%s' \"$ORVANE_READY_FD\" > \"$here/old-started.new\"\n"
              "mv \"$here/old-started.new\" \"$here/old-started\"\n");
    before = snapshot(running);
    archive = zipBytes(signedBundle("Orvane.app/", "2.0.0", kId, {}, row.script));
    const auto result = installArchive("2.0.0");
    ASSERT_TRUE(std::holds_alternative<RelaunchTask>(result)) << problem(result);
    auto task = std::get<RelaunchTask>(result);
    task.arguments.insert(task.arguments.begin(), row.options.begin(), row.options.end());

    appEnds();
    ASSERT_TRUE(startDetached(task));
    ASSERT_TRUE(spinUntil([&] { return fs::exists(apps / "old-started"); }, 60));
    EXPECT_EQ(readText(apps / "old-started"), "old|");
    EXPECT_EQ(snapshot(running), before) << "the old bundle is back, byte for byte";

    // The old version's start finds why, and cleans up.
    const auto undone = cleanUpStaging(running, {});
    ASSERT_EQ(undone.size(), 1u);
    EXPECT_EQ(undone[0], row.record);
    EXPECT_EQ(undoneMessage(undone[0]), row.message);
    EXPECT_TRUE(stagingFolders(apps).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RelaunchUndone,
    ::testing::Values(
        UndoneCase{"ExitsAtOnce",
                   "#!/bin/sh\nexit 3\n",
                   {},
                   {{"exit", 3}},
                   "The new version didn’t start, so Orvane went back to this one (it ended with status 3)."},
        UndoneCase{"Crashes",
                   "#!/bin/sh\nkill -SEGV $$\n",
                   {},
                   {{"signal", 11}},
                   "The new version didn’t start, so Orvane went back to this one (it was stopped by signal 11)."},
        UndoneCase{"NeverShowsItsPage",
                   "#!/bin/sh\nexec sleep 600\n",
                   {"--limit", "1"},
                   {{"timeout", 1}},
                   "The new version didn’t start, so Orvane went back to this one (it didn’t show its page within 1 "
                   "seconds)."}),
    CaseName());

// Undone at a start, after the new version's runs ended abruptly.
TEST(UndoneMessage, ANewVersionThatKeptEndingSaysHowOften) {
    EXPECT_EQ(undoneMessage({{"ended", 2}}),
              "The new version kept ending unexpectedly (2 times in a row), so Orvane went back to this one.");
}

TEST_F(InstallTest, AStartLeavesAStagingFolderInUseAlone) {
    ASSERT_TRUE(std::holds_alternative<RelaunchTask>(installItems(signedBundle("Orvane.app/"))));
    EXPECT_TRUE(cleanUpStaging(running, {}).empty());
    EXPECT_EQ(stagingFolders(apps).size(), 1u) << "held by the app (or its relaunch step)";
    appEnds();
    cleanUpStaging(running, {});
    EXPECT_TRUE(stagingFolders(apps).empty()) << "left behind: removed";
}

}  // namespace
}  // namespace orvane::testing
