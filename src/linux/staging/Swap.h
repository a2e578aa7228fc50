#pragma once
// Putting one bundle in the place of another so that the place never stays
// empty: one atomic exchange where the file system has it (RENAME_EXCHANGE);
// elsewhere (NFS, FUSE) two moves, with a journal written before the first so
// that whoever comes next after a kill between them puts the right bundle
// back (`recoverSwap`). The exchange too is followed by a move (the former
// bundle takes its name in the staging folder); a journal before it lets
// whoever comes next finish that move, so that no name ever holds the
// bundle it does not say.

#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace orvane {

// A small JSON record in a staging folder (the journal, the reason a version
// was put back): nothing when there is none; an empty object when it is
// damaged, too long or not an object.
std::optional<nlohmann::json> readRecord(int dir, const char* name);
// Replaces one whole, and on disk, or leaves it as it was: 0, or errno.
int writeRecord(int dir, const char* name, const nlohmann::json& record);

// renameat2(2). Tests put failures in here; the product uses the system call.
using Rename = std::function<int(int fromDir, const char* from, int toDir, const char* to, unsigned flags)>;
int systemRename(int fromDir, const char* from, int toDir, const char* to, unsigned flags);

inline constexpr const char* kJournalName = "journal";

// Whether a journal's value is a name inside one folder, nothing that leads elsewhere.
bool plainName(const nlohmann::json& value);

struct SwapPlaces {
    int parent = -1;       // the folder holding the place
    std::string bundle;    // the place: the bundle's name in `parent`
    int incomingDir = -1;  // where the bundle that goes in lies
    std::string incoming;  // its name there
    int staging = -1;      // the staging folder, the journal's home
    std::string aside;     // the name the place's present bundle takes in the staging folder
    // The name, in the staging folder, of the bundle that belongs in the
    // place should the two moves break off between them: the known good one.
    std::string restore;
    // The incoming bundle's path from the staging folder ("new/Orvane.app"):
    // after an exchange, the former bundle lies there until its move aside.
    std::string incomingFromStaging;
};

struct SwapFailure {
    enum class Step { Exchange, Journal, MoveAside, MoveIn } step;
    int error = 0;
    bool movedBack = true;  // after a failed MoveIn: whether the place holds its bundle again
};

// The place ends with the incoming bundle and its former bundle lies in the
// staging folder as `aside`; or nothing has changed and the failure says
// where it stopped.
std::optional<SwapFailure> swapBundles(const Rename& rename, const SwapPlaces& places);

// After a kill: if the staging folder holds a journal and the place it names
// (beside the staging folder) is empty, the bundle it names goes back there;
// if an exchange was made, the former bundle takes its name aside.
// The journal is removed once the place holds a bundle. A line for the log
// when something was done or could not be; nothing otherwise.
std::optional<std::string> recoverSwap(int staging, int parent, const Rename& rename = systemRename);

}  // namespace orvane
