#pragma once
// The sentences of the Linux installation of an update, beside the portable
// table in UpdateTexts.h. The system's reason is added to each by the caller
// (" (Permission denied).").

#include <string>
#include <string_view>

#include "UpdateTexts.h"

namespace orvane::installSentences {

inline constexpr std::string_view unpackFailed = updateSentences::unpackFailed;
inline constexpr std::string_view signatureBroken = "The downloaded app’s signature is broken.";
// The new bundle's executable is missing, not executable, or built for
// another kind of machine.
inline constexpr std::string_view notRunnable = "The downloaded app can’t run on this computer.";

inline std::string folderCantOpen(const std::string& folder) { return "The folder " + folder + " can’t be opened"; }
inline std::string stagingCantBeMade(const std::string& folder) {
    return "A folder for the update can’t be made in " + folder;
}
inline std::string cantRecord(const std::string& folder) { return "The update can’t be recorded in " + folder; }
inline std::string notOurs(const std::string& version) { return "The download isn’t Orvane " + version + "."; }
inline std::string cantMove(const std::string& bundle) { return "The new version can’t be moved to " + bundle; }
inline std::string cantMoveAside(const std::string& bundle) { return bundle + " can’t be moved aside"; }
// The bundle carries its own unpacking and signature tools (the system has
// them where it does not); without one, every download would look broken.
inline std::string missingHelper(const std::string& tool) {
    return "Orvane’s bundle is incomplete: its helper Contents/Helpers/" + tool +
           " is missing. Install Orvane again (or build it whole) and update again.";
}
// A helper that could not be started or did not end normally.
inline std::string helperDidNotRun(const std::string& tool) {
    return "Orvane’s helper Contents/Helpers/" + tool +
           " couldn’t run; was Orvane moved or changed during the update? Try the update again.";
}
// Says where the application is now, or nobody will find it.
inline std::string cantMoveOldLeftAt(const std::string& bundle, const std::string& old) {
    return cantMove(bundle) + ", and the old one is left at " + old;
}

}  // namespace orvane::installSentences
