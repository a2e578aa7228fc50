#pragma once
// A new version on trial. An update keeps the version it replaced in its
// staging folder, with a record of how the new one fares, until the new one
// has run well: it ended by the user's quit a few times, or ran for some
// minutes. A new version that keeps ending abruptly (crashes, kills,
// anything that is not an orderly end) is undone at its next start: the
// kept version goes back in its place and starts, and tells its page why.
// The run on trial holds the staging folder, so that nothing else takes it
// meanwhile; the relaunch step passes its hold to the new version it starts.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "Swap.h"

namespace orvane {

inline constexpr const char* kTrialName = "trial";
// The relaunch step passes the staging folder's lock as this descriptor,
// and names the folder in this variable.
inline constexpr int kTrialLockFd = 4;
inline constexpr const char* kTrialVariable = "ORVANE_TRIAL";

struct TrialRules {
    int endsToUndo = 2;      // abrupt ends in a row after which the kept version comes back
    int quitsToConfirm = 3;  // orderly ends after which the kept version goes
};

// Puts the kept version (old.app in `staging`) back in the place `bundle`
// names in `parent`, the new one aside, and records `why` for the kept
// version's start, which tells its page and removes the folder. Nothing
// when it is back; else where the swap stopped.
std::optional<SwapFailure> putKeptBack(int parent, const std::string& bundle, int staging, const nlohmann::json& why);

// Puts the bundle about to be swapped in on trial: written in the staging
// folder, before the swap. 0, or errno.
int writeTrialRecord(int staging);

// At the start of a run of `bundle` from its place (not for --help and the
// like): takes up the trial the relaunch step passed on, or one left in a
// staging folder beside the bundle. When the new version has ended
// abruptly too often, or never came up and no relaunch step is there to
// see it (it was killed), the kept one is put back, and its place
// returned: the caller starts it instead (exec).
std::optional<std::filesystem::path> takeUpTrial(const std::filesystem::path& bundle,
                                                 const std::function<void(const std::string&)>& log,
                                                 TrialRules rules = {});
// This run is the app's (not a second start that hands over to a running
// one): from now on an end that is not `endTrialRun` counts against it.
void beginTrialRun();
// The window shows a document: the new version came up.
void markTrialUp();
// The run ended as the user asked: it counts for the new version; enough
// of them and the kept version goes.
void endTrialRun(TrialRules rules = {});
// The new version has proved itself (it ran long enough, or installed an
// update of its own): the kept version goes.
void confirmTrial();
// Whether this run is one on trial.
bool onTrial();

}  // namespace orvane
