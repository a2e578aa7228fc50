#pragma once
// Every sentence the Bluetooth bridge shows the page, in one place: the
// "state" event word, the refusals for a request that needs the adapter while
// it is not on, the bridge's own answers, and one sentence per kind of stack
// failure. Sentences that name places of the operating system are the
// platform's (AdapterWordsLinux.cpp); the rest are the same everywhere.

#include <string_view>

#include "BluetoothError.h"
#include "Central.h"

namespace orvane {

// "on", "off", "unauthorized", "unsupported", or "unknown" for the rest.
std::string_view stateWord(ManagerState state);

// The refusal text for a state that is not poweredOn; for unsupported, why
// there is no Bluetooth LE.
std::string_view refusal(ManagerState state, Absence absence = Absence::noAdapter);

// The page's sentence for a failure of the stack.
std::string_view failureText(BluetoothFailure kind);

// The bridge's own answers.
namespace words {
inline constexpr std::string_view unknownDevice = "Unknown device.";
inline constexpr std::string_view notInRange = "The light isn’t in range or is off.";
inline constexpr std::string_view replaced = "Connection replaced.";
inline constexpr std::string_view noAnswer = "The light didn’t answer (is it plugged in, and the Govee app closed?).";
inline constexpr std::string_view couldNotConnect = "Couldn’t connect.";
inline constexpr std::string_view cancelled = "Connection cancelled.";
inline constexpr std::string_view disconnected = "Disconnected.";
inline constexpr std::string_view gattDisconnected = "GATT Server is disconnected.";
inline constexpr std::string_view badData = "Bad data.";
}  // namespace words

// Texts that name places of the operating system; each platform build links
// exactly one definition (AdapterWordsLinux.cpp here).
struct AdapterRefusals {
    std::string_view unsupported;  // the service runs, but there is no usable adapter
    std::string_view noService;    // the system's Bluetooth service is not running
    std::string_view unauthorized;
    std::string_view poweredOff;
    std::string_view notReady;
};
extern const AdapterRefusals adapterRefusals;

}  // namespace orvane
