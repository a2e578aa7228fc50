#pragma once
// How the adapter state reads on the page: the "state" event word, and the
// error text for a request that needs the adapter while it is not on.

#include <string_view>

#include "Central.h"

namespace orvane {

// "on", "off", "unauthorized", "unsupported", or "unknown" for the rest.
std::string_view stateWord(ManagerState state);

// The refusal text for a state that is not poweredOn.
std::string_view refusal(ManagerState state);

// Refusal texts that name places of the operating system; each platform build
// links exactly one definition (AdapterWordsLinux.cpp here).
struct AdapterRefusals {
    std::string_view unsupported;
    std::string_view unauthorized;
    std::string_view poweredOff;
    std::string_view notReady;
};
extern const AdapterRefusals adapterRefusals;

}  // namespace orvane
