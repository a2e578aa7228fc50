// The updater's rules in virtual time: versions, the manifest, the order of
// events and `busy`, progress, the download's outcomes, the hand-off to the
// installation and the relaunch.

#include <gtest/gtest.h>

#include "CaseName.h"
#include "MainQueueVirtual.h"
#include "Manifest.h"
#include "Sha256.h"
#include "UpdateTexts.h"
#include "UpdaterFakes.h"
#include "Version.h"

namespace orvane::testing {
namespace {

// ---- newer ----

struct VersionCase {
    const char* name;
    const char* a;
    const char* b;
    bool newer;
};

class Newer : public ::testing::TestWithParam<VersionCase> {};

TEST_P(Newer, ComparesComponentsAsNumbers) {
    EXPECT_EQ(newer(GetParam().a, GetParam().b), GetParam().newer) << GetParam().a << " vs " << GetParam().b;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Newer,
    ::testing::Values(
        VersionCase{"TenAfterNine", "1.2.10", "1.2.9", true}, VersionCase{"NineBeforeTen", "1.2.9", "1.2.10", false},
        VersionCase{"ExtraComponent", "1.0.1", "1.0", true}, VersionCase{"MajorAsNumber", "10.0", "9.9", true},
        VersionCase{"LettersCountAsZero", "1.3b", "1.2", false},
        VersionCase{"TrailingZeroIsEqual", "1.2", "1.2.0", false},
        VersionCase{"TrailingZeroIsEqualBack", "1.2.0", "1.2", false}, VersionCase{"Equal", "2.0.0", "2.0.0", false},
        VersionCase{"AnythingBeatsDev", "1.0", "dev", true}, VersionCase{"DevBeatsNothing", "dev", "0", false},
        VersionCase{"EmptyIsZero", "0.0.1", "", true}, VersionCase{"EmptyAgainstEmpty", "", "", false},
        VersionCase{"EmptyComponentsDropped", "1..2", "1.1", true}, VersionCase{"PlusSign", "+2", "1", true},
        VersionCase{"MinusSign", "-1", "0", false}, VersionCase{"ZeroOverMinus", "0", "-1", true},
        VersionCase{"SignAloneIsZero", "-", "0", false}, VersionCase{"SpaceMakesZero", "1. 5", "1.0", false},
        VersionCase{"OutOfRangeIsZero", "99999999999999999999", "1", false},
        VersionCase{"LargestFits", "9223372036854775807", "9223372036854775806", true},
        VersionCase{"SmallestFits", "-9223372036854775807", "-9223372036854775808", true}),
    CaseName());

// ---- manifest ----

struct ManifestCase {
    const char* name;
    std::string body;
    bool readable;
    std::int64_t size = 0;
    std::string sha256 = "";
};

class ManifestReading : public ::testing::TestWithParam<ManifestCase> {};

TEST_P(ManifestReading, TakesOnlyWellTypedMembers) {
    const auto offer = readManifest(GetParam().body, "linux");
    ASSERT_EQ(offer.has_value(), GetParam().readable);
    if (!offer) return;
    EXPECT_EQ(offer->size, GetParam().size);
    if (!GetParam().sha256.empty()) {
        EXPECT_EQ(offer->sha256, GetParam().sha256);
    }
}

std::string linux(const std::string& members) {
    return R"({"linux": {"version": "2.0", "file": "a.zip", "sha256": "AbC")" + members + "}}";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ManifestReading,
    ::testing::Values(
        ManifestCase{"Plain", linux(""), true, 0, "abc"}, ManifestCase{"SizeWhole", linux(R"(, "size": 12)"), true, 12},
        ManifestCase{"SizeWholeFloat", linux(R"(, "size": 12.0)"), true, 12},
        ManifestCase{"SizeFraction", linux(R"(, "size": 12.5)"), true, 0},
        ManifestCase{"SizeText", linux(R"(, "size": "12")"), true, 0},
        ManifestCase{"SizeNull", linux(R"(, "size": null)"), true, 0},
        ManifestCase{"SizeHuge", linux(R"(, "size": 1e300)"), true, 0},
        ManifestCase{"SizeBeyondInt64", linux(R"(, "size": 18446744073709551615)"), true, 0},
        ManifestCase{"OtherMembersIgnored",
                     R"({"mac": 1, "linux": {"version": "1", "file": "f", "sha256": "", "x": []}})", true},
        ManifestCase{"OnlyMacMember", R"({"mac": {"version": "2.0", "file": "a.zip", "sha256": "x"}})", false},
        ManifestCase{"LinuxIsString", R"({"linux": "2.0"})", false},
        ManifestCase{"LinuxIsArray", R"({"linux": []})", false},
        ManifestCase{"TopLevelArray", R"([{"linux": {"version": "2.0", "file": "a.zip", "sha256": "x"}}])", false},
        ManifestCase{"TopLevelString", R"("linux")", false},
        ManifestCase{"VersionNumber", R"({"linux": {"version": 2, "file": "a.zip", "sha256": "x"}})", false},
        ManifestCase{"FileMissing", R"({"linux": {"version": "2", "sha256": "x"}})", false},
        ManifestCase{"Sha256Null", R"({"linux": {"version": "2", "file": "a.zip", "sha256": null}})", false},
        ManifestCase{"NotJson", "<html>404</html>", false},
        ManifestCase{"Truncated", R"({"linux": {"version": "2", "file": "a.z)", false},
        ManifestCase{"TrailingGarbage", linux("") + "x", false},
        ManifestCase{"InvalidUtf8", "{\"linux\": {\"version\": \"\xff\", \"file\": \"a\", \"sha256\": \"x\"}}", false},
        ManifestCase{"Empty", "", false},
        ManifestCase{"DeepNesting", std::string(100000, '[') + std::string(100000, ']'), false}),
    CaseName());

TEST(ArchiveName, AllowsOnlyPlainFileNames) {
    for (const char* good : {"app-2.1_b.zip", "Orvane.zip", "a", "..zip"}) EXPECT_TRUE(validArchiveName(good)) << good;
    for (const char* bad :
         {"", ".", "..", "...", "../app.zip", "app 1.zip", "a/b.zip", "a\\b.zip", "%2e%2e", "a.zip\n", "ä.zip", "a?b"})
        EXPECT_FALSE(validArchiveName(bad)) << bad;
    EXPECT_FALSE(validArchiveName(std::string("a\0b", 3)));
}

// ---- the updater ----

constexpr const char* kPage = "https://orvane.example/app/index.html";

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override { make(); }

    void make(std::string running = "1.0.0", std::filesystem::path bundle = "/apps/Orvane.app") {
        auto source = std::make_unique<ManifestSourceFake>();
        fetches = source->fetches;
        UpdaterParts parts;
        parts.manifest = std::move(source);
        parts.makeSession = [this] {
            ++record.sessionsMade;
            return std::make_unique<ArchiveSessionFake>(downloads);
        };
        parts.readOnlyVolume = [this](const std::filesystem::path&) { return readOnly; };
        parts.writable = [this](const std::filesystem::path& path) { return !unwritable.contains(path.string()); };
        parts.makeStaging = [this]() -> std::variant<std::filesystem::path, Problem> {
            if (stagingProblem) return *stagingProblem;
            record.stagingsMade.emplace_back("/apps/.orvane-update-" + std::to_string(record.stagingsMade.size()));
            return record.stagingsMade.back();
        };
        parts.dropStaging = [this](const std::filesystem::path& staging) { record.stagingsDropped.push_back(staging); };
        parts.install = [this](const std::filesystem::path& staging, const std::string& version) -> InstallResult {
            record.installs.emplace_back(staging, version);
            return installResult;
        };
        parts.background = background;
        parts.cancelInstall = [this] { ++cancels; };
        parts.startRelaunch = [this](const RelaunchTask& task) {
            record.relaunches.push_back(task);
            return relaunchStarts;
        };
        parts.quit = [this] { ++record.quits; };
        parts.log = [this](const std::string& line) { record.log.push_back(line); };
        updater = std::make_unique<Updater>(
            queue, UpdaterSettings{*Url::parse(kPage), std::move(running), std::move(bundle)}, std::move(parts));
        updater->send = [this](const nlohmann::json& event) { record.events.push_back(event); };
    }

    // Answers the latest manifest fetch and lets the updater take it in.
    void answer(ManifestResponse response) {
        ASSERT_FALSE(fetches->empty());
        fetches->back().done(std::move(response));
        queue.runUntilIdle();
    }
    // The manifest announces the archive's own size unless `extra` gives one.
    void offer(const std::string& version, const std::string& file = "Orvane-2.zip", std::string extra = "") {
        if (extra.find("\"size\"") == std::string::npos) extra += R"(, "size": )" + std::to_string(archive.size());
        answer({R"({"linux": {"version": ")" + version + R"(", "file": ")" + file + R"(", "sha256": ")" +
                    sha256Text(archive) + "\"" + extra + "}}",
                200, std::nullopt});
    }
    DownloadCallbacks& download() { return downloads->back().callbacks; }
    // The download ends; `bytes` is what was stored (nothing: it could not be).
    void finish(std::optional<int> status, std::optional<std::string> bytes) {
        download().finished(status, bytes ? std::optional(sha256Text(*bytes)) : std::nullopt);
        download().completed(std::nullopt);
        queue.runUntilIdle();
    }

    MainQueueVirtual queue;
    UpdaterRecord record;
    std::shared_ptr<std::vector<ManifestSourceFake::Fetch>> fetches;
    std::shared_ptr<std::vector<ArchiveSessionFake::Download>> downloads =
        std::make_shared<std::vector<ArchiveSessionFake::Download>>();
    std::optional<bool> readOnly = false;
    std::set<std::string> unwritable;
    InstallResult installResult = RelaunchTask::make("/apps/.orvane-update-x/old.app/Contents/Helpers/relaunch",
                                                     "/apps/.orvane-update-x", "/apps/Orvane.app");
    bool relaunchStarts = true;
    std::optional<Problem> stagingProblem;
    std::function<void(std::function<void()>)> background = [](const std::function<void()>& work) { work(); };
    std::function<void()> heldWork;  // work a test's background keeps until it runs it
    int cancels = 0;
    std::string archive = "PK archive bytes";
    std::unique_ptr<Updater> updater;
};

using States = std::vector<std::string>;

TEST_F(UpdaterTest, FetchesTheManifestNextToThePageAndAnswersLater) {
    updater->start();
    EXPECT_EQ(record.states(), States{"checking"});
    EXPECT_TRUE(updater->busy());
    ASSERT_EQ(fetches->size(), 1u);
    EXPECT_EQ(fetches->front().url.text, "https://orvane.example/app/downloads/app.json");
    EXPECT_EQ(fetches->front().timeout, 20);

    // The fetch's result is taken in on a later turn, never inside its callback.
    fetches->front().done({R"({"linux": {"version": "1.0.0", "file": "a.zip", "sha256": "x"}})", 200, {}});
    EXPECT_EQ(record.states(), States{"checking"});
    queue.runUntilIdle();
    EXPECT_EQ(record.states(), (States{"checking", "current"}));
    EXPECT_FALSE(updater->busy());
}

TEST_F(UpdaterTest, RequestWhileBusyStartsNothingAndHearsTheCurrentState) {
    std::function<void()> held;
    background = [&held](std::function<void()> work) { held = std::move(work); };
    make();
    auto again = [this] {
        const auto before = record.events.size();
        updater->start();
        EXPECT_EQ(record.events.size(), before + 1);
        return record.events.back();
    };
    updater->start();
    EXPECT_EQ(again(), (nlohmann::json{{"t", "update"}, {"state", "checking"}}));
    EXPECT_EQ(fetches->size(), 1u);

    offer("2.0");
    EXPECT_EQ(again(), (nlohmann::json{{"t", "update"}, {"state", "downloading"}, {"progress", 0}}));
    download().progress(37, 100);
    download().progress(39, 100);  // below the step: not reported, so not repeated
    EXPECT_EQ(again(), (nlohmann::json{{"t", "update"}, {"state", "downloading"}, {"progress", 0.37}}));
    EXPECT_EQ(downloads->size(), 1u);

    finish(200, archive);
    EXPECT_EQ(again()["state"], "installing");
    held();
    queue.runUntilIdle();
    EXPECT_EQ(again()["state"], "restarting");
    EXPECT_EQ(record.stagingsMade.size(), 1u);
    EXPECT_EQ(record.installs.size(), 1u);
}

TEST_F(UpdaterTest, StartsAgainAfterAnError) {
    updater->start();
    answer({std::nullopt, 404, std::nullopt});
    EXPECT_EQ(record.states(), (States{"checking", "error"}));
    updater->start();
    EXPECT_EQ(record.states(), (States{"checking", "error", "checking"}));
    EXPECT_EQ(fetches->size(), 2u);
}

TEST_F(UpdaterTest, RunsTheWholeCycleInOrder) {
    updater->start();
    offer("2.0.0", "Orvane-2.zip", R"(, "size": 100)");
    ASSERT_EQ(downloads->size(), 1u);
    EXPECT_EQ(downloads->front().url.text, "https://orvane.example/app/downloads/Orvane-2.zip");
    download().progress(50, 100);
    finish(200, archive);
    ASSERT_EQ(record.installs.size(), 1u);
    ASSERT_EQ(record.stagingsMade.size(), 1u);
    EXPECT_EQ(downloads->front().file, record.stagingsMade[0] / "update.zip") << "stored where it is unpacked";
    EXPECT_EQ(record.installs[0], std::make_pair(record.stagingsMade[0], std::string("2.0.0")));
    EXPECT_TRUE(record.stagingsDropped.empty()) << "the installation has it now";
    EXPECT_EQ(record.states(), (States{"checking", "downloading", "downloading", "installing", "restarting"}));
    EXPECT_EQ(record.events[1], (nlohmann::json{{"t", "update"}, {"state", "downloading"}, {"progress", 0}}));
    EXPECT_TRUE(record.events[1]["progress"].is_number_integer());
    ASSERT_EQ(record.relaunches.size(), 1u);
    EXPECT_EQ(record.relaunches[0], std::get<RelaunchTask>(installResult));

    // The app quits through its normal path half a second later; the cycle
    // never ends by itself.
    queue.advance(0.49);
    EXPECT_EQ(record.quits, 0);
    queue.advance(0.02);
    EXPECT_EQ(record.quits, 1);
    EXPECT_TRUE(updater->busy());
    EXPECT_TRUE(record.log.empty());
}

TEST_F(UpdaterTest, RunsSilentlyWithoutSend) {
    updater->send = nullptr;
    updater->start();
    offer("2.0.0");
    finish(200, archive);
    EXPECT_TRUE(record.events.empty());
    EXPECT_EQ(record.relaunches.size(), 1u);
}

struct ManifestOutcome {
    const char* name;
    ManifestResponse response;
    std::string running;
    std::vector<std::string> states;
    std::string error;
};

class UpdaterManifestOutcome : public UpdaterTest, public ::testing::WithParamInterface<ManifestOutcome> {};

TEST_P(UpdaterManifestOutcome, EndsAsExpected) {
    make(GetParam().running);
    updater->start();
    answer(GetParam().response);
    EXPECT_EQ(record.states(), GetParam().states);
    EXPECT_EQ(record.lastError(), GetParam().error);
    EXPECT_FALSE(updater->busy());
    EXPECT_TRUE(downloads->empty());
    if (!GetParam().error.empty()) {
        EXPECT_EQ(record.log, std::vector<std::string>{"Orvane: update failed: " + GetParam().error});
    }
}

std::string manifest(const std::string& version, const std::string& file, const std::string& size = "1") {
    return R"({"linux": {"version": ")" + version + R"(", "file": ")" + file + R"(", "sha256": "x")" +
           (size.empty() ? "" : R"(, "size": )" + size) + "}}";
}
const std::vector<std::string> kError = {"checking", "error"};
const std::vector<std::string> kCurrent = {"checking", "current"};
const char* const kUnreadable = "The update information couldn’t be read.";
const char* const kWrong = "The update information is wrong.";

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdaterManifestOutcome,
    ::testing::Values(
        ManifestOutcome{"TransportError",
                        {std::nullopt, std::nullopt, "The request timed out."},
                        "1.0",
                        kError,
                        "The update information didn’t load (The request timed out.)."},
        ManifestOutcome{"NotFound", {"", 404, std::nullopt}, "1.0", kError, kUnreadable},
        ManifestOutcome{"NoData", {std::nullopt, 200, std::nullopt}, "1.0", kError, kUnreadable},
        ManifestOutcome{"NotHttp", {manifest("9", "a.zip"), std::nullopt, std::nullopt}, "1.0", kError, kUnreadable},
        ManifestOutcome{"NotJson", {"<html>", 200, std::nullopt}, "1.0", kError, kUnreadable},
        ManifestOutcome{"MacOnly",
                        {R"({"mac": {"version": "9", "file": "a", "sha256": "x"}})", 200, {}},
                        "1.0",
                        kError,
                        kUnreadable},
        ManifestOutcome{"SameVersion", {manifest("1.2.0", "a.zip"), 200, {}}, "1.2.0", kCurrent, ""},
        ManifestOutcome{"ShorterSameVersion", {manifest("1.2", "a.zip"), 200, {}}, "1.2.0", kCurrent, ""},
        ManifestOutcome{"OlderVersion", {manifest("1.1.9", "a.zip"), 200, {}}, "1.2.0", kCurrent, ""},
        ManifestOutcome{"NotNewerBeatsBadFile", {manifest("1.0", "../x.zip"), 200, {}}, "1.0", kCurrent, ""},
        ManifestOutcome{"FileWithSlash", {manifest("2.0", "../app.zip"), 200, {}}, "1.0", kError, kWrong},
        ManifestOutcome{"FileWithSpace", {manifest("2.0", "app 1.zip"), 200, {}}, "1.0", kError, kWrong},
        ManifestOutcome{"FileEmpty", {manifest("2.0", ""), 200, {}}, "1.0", kError, kWrong},
        // The size bounds the download: it must be given, and within reason.
        ManifestOutcome{"SizeMissing", {manifest("2.0", "a.zip", ""), 200, {}}, "1.0", kError, kWrong},
        ManifestOutcome{"SizeZero", {manifest("2.0", "a.zip", "0"), 200, {}}, "1.0", kError, kWrong},
        ManifestOutcome{"SizeOverTheCap", {manifest("2.0", "a.zip", "1073741825"), 200, {}}, "1.0", kError, kWrong},
        ManifestOutcome{"NotNewerNeedsNoSize", {manifest("1.0", "a.zip", ""), 200, {}}, "1.0", kCurrent, ""}),
    CaseName());

TEST_F(UpdaterTest, DevVersionTakesAnyNumberedOffer) {
    make("dev");
    updater->start();
    offer("0.1");
    EXPECT_EQ(record.states(), (States{"checking", "downloading"}));
}

TEST_F(UpdaterTest, RemembersWhatTheManifestAnnounced) {
    updater->start();
    answer({R"({"linux": {"version": "2.0", "file": "a.zip", "sha256": "ABCDEF", "size": 12}})", 200, {}});
    ASSERT_TRUE(updater->want());
    EXPECT_EQ(updater->want()->version, "2.0");
    EXPECT_EQ(updater->want()->sha256, "abcdef");
    EXPECT_EQ(updater->want()->size, 12);
    ASSERT_EQ(downloads->size(), 1u);
    EXPECT_EQ(downloads->back().maxBytes, 12) << "the download stops at the announced size";
}

struct PlaceCase {
    const char* name;
    std::optional<bool> readOnly;
    std::set<std::string> unwritable;
    std::filesystem::path bundle;
    std::string message;  // empty: can replace
};

class UpdaterPlace : public UpdaterTest, public ::testing::WithParamInterface<PlaceCase> {};

TEST_P(UpdaterPlace, RefusesWhereItCannotReplaceItself) {
    readOnly = GetParam().readOnly;
    unwritable = GetParam().unwritable;
    make("1.0", GetParam().bundle);
    EXPECT_EQ(updater->cantReplace().value_or(""), GetParam().message);
    updater->start();
    offer("2.0");
    if (GetParam().message.empty()) {
        EXPECT_EQ(downloads->size(), 1u);
    } else {
        EXPECT_EQ(record.states(), kError);
        EXPECT_EQ(record.lastError(), GetParam().message);
        EXPECT_TRUE(downloads->empty()) << "nothing is downloaded that could not be installed";
    }
}

const std::string kNoPermission = "Orvane can’t replace itself in /apps (no permission).";

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdaterPlace,
    ::testing::Values(PlaceCase{"Writable", false, {}, "/apps/Orvane.app", ""},
                      PlaceCase{
                          "ReadOnlyFileSystem", true, {}, "/apps/Orvane.app", std::string(updateTexts.protectedPlace)},
                      PlaceCase{"ReadOnlyWinsOverPermissions",
                                true,
                                {"/apps"},
                                "/apps/Orvane.app",
                                std::string(updateTexts.protectedPlace)},
                      PlaceCase{"UnknownVolumeIsIgnored", std::nullopt, {}, "/apps/Orvane.app", ""},
                      PlaceCase{"FolderNotWritable", false, {"/apps"}, "/apps/Orvane.app", kNoPermission},
                      PlaceCase{"BundleNotWritable", false, {"/apps/Orvane.app"}, "/apps/Orvane.app", kNoPermission},
                      PlaceCase{"NoBundle", false, {}, "", std::string(updateTexts.noBundle)}),
    CaseName());

// The member name is a contract with the published app.json files; the texts
// themselves are the table's to change, so they are not restated here.
TEST(UpdateTexts, LinuxBuildReadsItsOwnManifestMember) { EXPECT_EQ(updateTexts.manifestMember, "linux"); }

// ---- progress ----

struct ProgressCase {
    const char* name;
    std::int64_t size;                                         // the manifest's
    std::vector<std::pair<std::int64_t, std::int64_t>> calls;  // written, expected
    std::vector<double> reported;
};

class UpdaterProgress : public UpdaterTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(UpdaterProgress, ReportsStepsOfAtLeastFivePercentCappedAtOne) {
    updater->start();
    offer("2.0", "a.zip", R"(, "size": )" + std::to_string(GetParam().size));
    for (auto [written, expected] : GetParam().calls) download().progress(written, expected);
    std::vector<double> reported;
    for (std::size_t i = 2; i < record.events.size(); ++i)
        reported.push_back(record.events[i]["progress"].get<double>());
    EXPECT_EQ(reported, GetParam().reported);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdaterProgress,
    ::testing::Values(ProgressCase{"KnownLength",
                                   100,
                                   {{4, 100}, {5, 100}, {9, 100}, {10, 100}, {60, 100}, {99, 100}, {100, 100}},
                                   {0.05, 0.1, 0.6, 0.99, 1}},
                      ProgressCase{"OneIsAlwaysReported", 100, {{100, 100}, {100, 100}}, {1, 1}},
                      ProgressCase{"TheServersLengthWins", 100, {{10, 20}}, {0.5}},
                      ProgressCase{"NoLengthUsesManifestSize", 200, {{10, 0}, {100, -1}}, {0.05, 0.5}},
                      ProgressCase{"NoLengthSmallSizeCapsAtOne", 50, {{40, 0}, {60, 0}, {80, 0}}, {0.8, 1, 1}}),
    CaseName());

TEST_F(UpdaterTest, ResetsProgressForEachDownload) {
    updater->start();
    offer("2.0");
    download().progress(100, 100);
    finish(404, std::nullopt);
    updater->start();
    offer("2.0");
    EXPECT_EQ(updater->shown(), 0);
    download().progress(3, 100);
    EXPECT_EQ(record.events.back()["progress"], 0) << "0.03 is below the step from 0";
}

// ---- download outcomes ----

TEST_F(UpdaterTest, StatusOtherThan200FailsOnceWithTheStatus) {
    updater->start();
    offer("2.0");
    finish(404, "<html>not found</html>");
    EXPECT_EQ(record.states(), (States{"checking", "downloading", "error"}));
    EXPECT_EQ(record.lastError(), "The download failed (404).");
    EXPECT_TRUE(record.installs.empty());
}

TEST_F(UpdaterTest, NoHttpResponseFailsWithZeroAndUnreadableFileWith200) {
    updater->start();
    offer("2.0");
    finish(std::nullopt, archive);
    EXPECT_EQ(record.lastError(), "The download failed (0).");
    updater->start();
    offer("2.0");
    finish(200, std::nullopt);
    EXPECT_EQ(record.lastError(), "The download failed (200).");
}

TEST_F(UpdaterTest, TransferErrorFailsOnceAndLaterCallbacksCountForNothing) {
    updater->start();
    offer("2.0");
    auto callbacks = download();
    callbacks.completed(std::string("Connection terminated unexpectedly"));
    callbacks.completed(std::string("again"));
    callbacks.finished(200, sha256Text(archive));
    callbacks.progress(1, 1);
    queue.runUntilIdle();
    EXPECT_EQ(record.states(), (States{"checking", "downloading", "error"}));
    EXPECT_EQ(record.lastError(), "The download failed (Connection terminated unexpectedly).");
    EXPECT_TRUE(record.installs.empty());
}

TEST_F(UpdaterTest, DigestMismatchNeverReachesTheInstallation) {
    updater->start();
    offer("2.0");
    finish(200, archive.substr(0, archive.size() - 1));
    EXPECT_EQ(record.states(), (States{"checking", "downloading", "error"}));
    EXPECT_EQ(record.lastError(), "The download is damaged or incomplete. Try again.");
    EXPECT_TRUE(record.installs.empty());
}

TEST_F(UpdaterTest, UpperCaseDigestInTheManifestMatches) {
    updater->start();
    std::string digest = sha256Text(archive);
    std::transform(digest.begin(), digest.end(), digest.begin(), ::toupper);
    answer({R"({"linux": {"version": "2.0", "file": "a.zip", "sha256": ")" + digest + "\", \"size\": 1}}", 200, {}});
    finish(200, archive);
    EXPECT_EQ(record.installs.size(), 1u);
}

// ---- the staging folder and the rate floor ----

TEST_F(UpdaterTest, DownloadThatFailsDropsItsStagingFolder) {
    const std::vector<std::function<void()>> endings = {
        [this] { finish(404, std::nullopt); },
        [this] { finish(200, archive + "x"); },
        [this] { download().completed(std::string("Connection reset")); },
        [this] { finish(200, std::nullopt); },
    };
    for (std::size_t i = 0; i < endings.size(); ++i) {
        SCOPED_TRACE(i);
        updater->start();
        offer("2.0");
        ASSERT_EQ(record.stagingsMade.size(), i + 1);
        endings[i]();
        EXPECT_EQ(record.states().back(), "error");
        EXPECT_EQ(record.stagingsDropped, record.stagingsMade);
    }
    EXPECT_TRUE(record.installs.empty());
}

TEST_F(UpdaterTest, StagingFolderThatCannotBeMadeFailsBeforeAnyDownload) {
    stagingProblem = Problem("A folder for the update can’t be made in /apps (Permission denied).");
    make();
    updater->start();
    offer("2.0");
    EXPECT_EQ(record.states(), (States{"checking", "error"}));
    EXPECT_EQ(record.lastError(), stagingProblem->description());
    EXPECT_TRUE(downloads->empty());
}

struct RateCase {
    const char* name;
    std::vector<std::pair<std::int64_t, int>> phases;  // bytes per second, for so many seconds
    std::optional<int> slowFrom;                       // when the rate fell below the floor for good
};

class UpdaterRate : public UpdaterTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(UpdaterRate, GivesUpOnlyAfterAWholeMinuteBelowTheFloor) {
    updater->start();
    offer("2.0");
    std::int64_t written = 0;
    int second = 0;
    std::optional<int> failedAt;
    for (auto [rate, seconds] : GetParam().phases) {
        for (int i = 0; i < seconds && !failedAt; ++i, ++second) {
            written += rate;
            if (rate > 0) download().progress(written, 0);
            queue.advance(1);
            if (record.states().back() == "error") failedAt = second + 1;
        }
    }
    if (!GetParam().slowFrom) {
        EXPECT_FALSE(failedAt) << "failed at " << *failedAt << " s";
        EXPECT_TRUE(updater->busy());
        return;
    }
    ASSERT_TRUE(failedAt);
    EXPECT_GE(*failedAt, *GetParam().slowFrom + Updater::kSlowWindowSeconds);
    EXPECT_LE(*failedAt, *GetParam().slowFrom + Updater::kSlowWindowSeconds + Updater::kSlowCheckSeconds);
    EXPECT_EQ(record.lastError(), "The download failed (too slow).");
    EXPECT_EQ(record.log.back(), "Orvane: update failed: The download failed (too slow).");
    EXPECT_TRUE(downloads->back().cancelled) << "the transfer itself is stopped";
    EXPECT_EQ(record.stagingsDropped, record.stagingsMade);
    EXPECT_FALSE(updater->busy());
}

constexpr std::int64_t kFloor = Updater::kSlowestBytesPerSecond;

INSTANTIATE_TEST_SUITE_P(Cases, UpdaterRate,
                         ::testing::Values(RateCase{"SilentServer", {{0, 200}}, 0},
                                           RateCase{"Trickle", {{2048, 200}}, 0},
                                           RateCase{"JustUnderTheFloor", {{kFloor - 1, 200}}, 0},
                                           RateCase{"AtTheFloor", {{kFloor, 600}}, std::nullopt},
                                           RateCase{"FastThenStalled", {{1 << 20, 30}, {0, 200}}, 30},
                                           RateCase{"SlowStartThenFast", {{0, 50}, {1 << 20, 300}}, std::nullopt},
                                           RateCase{"PausesShorterThanAMinute",
                                                    {{1 << 20, 5}, {0, 50}, {1 << 20, 5}, {0, 50}, {1 << 20, 5}},
                                                    std::nullopt}),
                         CaseName());

TEST_F(UpdaterTest, RateWatchEndsWithTheDownload) {
    updater->start();
    offer("2.0");
    finish(404, std::nullopt);
    queue.advance(600);
    EXPECT_EQ(record.states(), (States{"checking", "downloading", "error"})) << "one outcome per download";

    // After a finished download, the installation may take as long as it needs.
    std::function<void()> held;
    background = [&held](std::function<void()> work) { held = std::move(work); };
    make();
    updater->start();
    offer("2.0");
    finish(200, archive);
    queue.advance(600);
    EXPECT_EQ(record.states().back(), "installing");
    // Late callbacks of a finished download count for nothing either.
    download().progress(1, 1);
    download().completed(std::string("late"));
    EXPECT_EQ(record.states().back(), "installing");
}

TEST_F(UpdaterTest, MakesOneSessionOnFirstUseAndKeepsIt) {
    EXPECT_EQ(record.sessionsMade, 0);
    for (int i = 0; i < 2; ++i) {
        updater->start();
        offer("2.0");
        finish(500, std::nullopt);
    }
    EXPECT_EQ(record.sessionsMade, 1);
    EXPECT_EQ(downloads->size(), 2u);
}

TEST_F(UpdaterTest, InstallationErrorReachesThePageAfterInstalling) {
    installResult = Problem("The download isn’t Orvane 2.0.");
    updater->start();
    offer("2.0");
    finish(200, archive);
    EXPECT_EQ(record.states(), (States{"checking", "downloading", "installing", "error"}));
    EXPECT_EQ(record.lastError(), "The download isn’t Orvane 2.0.");
    EXPECT_EQ(record.log.back(), "Orvane: update failed: The download isn’t Orvane 2.0.");
    EXPECT_FALSE(updater->busy());
}

TEST_F(UpdaterTest, InstallationResultArrivesThroughTheMainLoop) {
    // A background that holds the work: nothing may happen until it runs.
    UpdaterParts parts;
    auto source = std::make_unique<ManifestSourceFake>();
    fetches = source->fetches;
    parts.manifest = std::move(source);
    parts.makeSession = [this] { return std::make_unique<ArchiveSessionFake>(downloads); };
    parts.writable = [](const std::filesystem::path&) { return true; };
    parts.makeStaging = [] { return std::filesystem::path("/a/.orvane-update-x"); };
    parts.install = [](const std::filesystem::path&, const std::string&) -> InstallResult { return Problem("x"); };
    parts.background = [this](std::function<void()> work) { heldWork = std::move(work); };
    updater =
        std::make_unique<Updater>(queue, UpdaterSettings{*Url::parse(kPage), "1.0", "/a/O.app"}, std::move(parts));
    updater->send = [this](const nlohmann::json& event) { record.events.push_back(event); };
    updater->start();
    offer("2.0");
    finish(200, archive);
    ASSERT_TRUE(heldWork);
    EXPECT_EQ(record.states().back(), "installing");
    updater->start();
    EXPECT_EQ(record.states().back(), "installing") << "busy while installing";
    heldWork();
    EXPECT_EQ(record.states().back(), "installing") << "the result waits for the main loop";
    queue.runUntilIdle();
    EXPECT_EQ(record.states().back(), "error");

    // A result that arrives after the updater is gone is dropped.
    updater->start();
    offer("2.0");
    finish(200, archive);
    updater.reset();
    heldWork();
    queue.runUntilIdle();
}

TEST_F(UpdaterTest, RelaunchThatCannotStartReportsWithoutLogAndFreesTheUpdater) {
    relaunchStarts = false;
    updater->start();
    offer("2.0");
    finish(200, archive);
    EXPECT_EQ(record.states(), (States{"checking", "downloading", "installing", "restarting", "error"}));
    EXPECT_EQ(record.lastError(), "Updated: quit and open Orvane again to start the new version.");
    EXPECT_TRUE(record.log.empty());
    EXPECT_FALSE(updater->busy());
    queue.advance(1);
    EXPECT_EQ(record.quits, 0);
    updater->start();
    EXPECT_EQ(record.states().back(), "checking");
}

TEST_F(UpdaterTest, ExtraFieldsNeverReplaceTypeOrState) {
    // The error text travels as given, whatever it holds.
    installResult = Problem(R"("t": "x" %s %n)");
    updater->start();
    offer("2.0");
    finish(200, archive);
    EXPECT_EQ(record.events.back()["t"], "update");
    EXPECT_EQ(record.events.back()["state"], "error");
    EXPECT_EQ(record.lastError(), "\"t\": \"x\" %s %n");
}

TEST_F(UpdaterTest, AQuitDuringAnInstallWaitsForItsEnd) {
    struct Case {
        const char* name;
        InstallResult result;
        States states;
        int relaunches;
    };
    const Case cases[] = {
        // Stopped at a safe point: the page hears why, then the app quits.
        {"stopped", Problem("The update was stopped because Orvane quit."),
         States{"checking", "downloading", "installing", "error"}, 0},
        // Already swapped: the relaunch starts, then the app quits.
        {"swapped", installResult, States{"checking", "downloading", "installing", "restarting"}, 1},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        record = {};
        cancels = 0;
        background = [this](std::function<void()> work) { heldWork = std::move(work); };
        installResult = row.result;
        make();
        int quits = 0;
        EXPECT_FALSE(updater->quitWhenSafe([&quits] { ++quits; })) << "nothing holds a quit before an install";
        updater->start();
        offer("2.0");
        finish(200, archive);
        ASSERT_TRUE(heldWork);
        EXPECT_TRUE(updater->quitWhenSafe([&quits] { ++quits; }));
        EXPECT_EQ(cancels, 1) << "the install is asked to stop";
        EXPECT_EQ(quits, 0) << "held while the install runs";
        heldWork();
        queue.runUntilIdle();
        queue.advance(1);
        EXPECT_EQ(record.states(), row.states);
        EXPECT_EQ(quits, 1);
        EXPECT_EQ(record.quits, 0) << "the quit asked for, not the updater's own";
        EXPECT_EQ(static_cast<int>(record.relaunches.size()), row.relaunches);
    }
}

TEST_F(UpdaterTest, AVersionPutBackTellsThePageOnceItHasLoaded) {
    updater->undone("The new version didn’t start, so Orvane went back to this one (it ended with status 1).");
    EXPECT_TRUE(record.events.empty()) << "no page to tell yet";
    EXPECT_EQ(record.log, std::vector<std::string>{"Orvane: update failed: The new version didn’t start, so Orvane "
                                                   "went back to this one (it ended with status 1)."});
    updater->pageLoaded();
    updater->pageLoaded();
    ASSERT_EQ(record.events.size(), 1u) << "told once";
    EXPECT_EQ(record.events[0], (nlohmann::json{{"t", "update"},
                                                {"state", "error"},
                                                {"error",
                                                 "The new version didn’t start, so Orvane went back to this "
                                                 "one (it ended with status 1)."}}));
    EXPECT_FALSE(updater->busy());
}

TEST(RelaunchTaskShape, IsTheHelperWithTheStagingFolderAndTheBundleAsTheyAre) {
    const auto task = RelaunchTask::make("/a/.orvane-update-x/old.app/Contents/Helpers/relaunch", "/a/.orvane-update-x",
                                         "/a/O'r $(x).app");
    EXPECT_EQ(task.executable, "/a/.orvane-update-x/old.app/Contents/Helpers/relaunch");
    EXPECT_EQ(task.arguments, (std::vector<std::string>{"/a/.orvane-update-x", "/a/O'r $(x).app"}));
}

}  // namespace
}  // namespace orvane::testing
