#pragma once
// Every sentence the updater can show the page, in one place. The texts
// that name places of the operating system differ per platform: each
// platform build links exactly one definition of `updateTexts`, beside its
// install code (src/linux/install/UpdateTextsLinux.cpp here, with the
// sentences of the Linux installation in UpdateTextsLinux.h).

#include <nlohmann/json.hpp>

#include <span>
#include <string>
#include <string_view>

namespace orvane {

namespace updateSentences {
inline constexpr std::string_view manifestUnreadable = "The update information couldn’t be read.";
inline constexpr std::string_view manifestWrong = "The update information is wrong.";
inline constexpr std::string_view damaged = "The download is damaged or incomplete. Try again.";
inline constexpr std::string_view unpackFailed = "The download couldn’t be unpacked.";
// A download whose rate stayed below the floor for a whole window.
inline constexpr std::string_view downloadTooSlow = "The download failed (too slow).";
inline constexpr std::string_view relaunchFailed = "Updated: quit and open Orvane again to start the new version.";
// The app quit while an update was being installed, before the swap.
inline constexpr std::string_view cancelled = "The update was stopped because Orvane quit.";
// The new version did not start and show its page, so the relaunch step put
// this one back: `undone` + " (" + the reason + ")."
inline constexpr std::string_view undone = "The new version didn’t start, so Orvane went back to this one";
inline constexpr std::string_view undoneExited = "it ended with status ";              // + the exit status
inline constexpr std::string_view undoneSignalled = "it was stopped by signal ";       // + the signal's number
inline constexpr std::string_view undoneTimedOut = "it didn’t show its page within ";  // + seconds + undoneSeconds
inline constexpr std::string_view undoneSeconds = " seconds";
inline constexpr std::string_view undoneNotStarted = "it couldn’t be started";
// It started, but then ended abruptly at its first runs:
// `undoneKeptEnding` + the number of runs + `undoneInARow`.
inline constexpr std::string_view undoneKeptEnding = "The new version kept ending unexpectedly (";
inline constexpr std::string_view undoneInARow = " times in a row), so Orvane went back to this one.";

// `why` is the transport's own description.
inline std::string manifestDidNotLoad(std::string_view why) {
    return "The update information didn’t load (" + std::string(why) + ").";
}
// `why` is the HTTP status, or the transport's description.
inline std::string downloadFailed(std::string_view why) { return "The download failed (" + std::string(why) + ")."; }
inline std::string noSpace(std::string_view folder) {
    return "There isn’t enough free space in " + std::string(folder) + " for the update.";
}
inline std::string noPermission(std::string_view folder) {
    return "Orvane can’t replace itself in " + std::string(folder) + " (no permission).";
}
}  // namespace updateSentences

struct UpdateTexts {
    // The manifest member this build reads: "linux" here, "mac" on macOS.
    std::string_view manifestMember;
    // Running from a place that cannot be written (a read-only file system,
    // a disk image, a translocated copy).
    std::string_view protectedPlace;
    // Path fragments that mark such a place whatever the file system says.
    std::span<const std::string_view> protectedMarkers;
    // Not running from a bundle at all: there is nothing to replace.
    std::string_view noBundle;
};
extern const UpdateTexts updateTexts;

// What the page hears after the relaunch step put the old version back,
// from the record it left: {"exit": status} or {"signal": number} or
// {"timeout": seconds} or {"unstarted": true}.
std::string undoneMessage(const nlohmann::json& record);

}  // namespace orvane
