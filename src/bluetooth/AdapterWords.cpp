#include "AdapterWords.h"

namespace orvane {

std::string_view stateWord(ManagerState state) {
    switch (state) {
    case ManagerState::poweredOn: return "on";
    case ManagerState::poweredOff: return "off";
    case ManagerState::unauthorized: return "unauthorized";
    case ManagerState::unsupported: return "unsupported";
    default: return "unknown";
    }
}

std::string_view refusal(ManagerState state) {
    switch (state) {
    case ManagerState::unsupported: return adapterRefusals.unsupported;
    case ManagerState::unauthorized: return adapterRefusals.unauthorized;
    case ManagerState::poweredOff: return adapterRefusals.poweredOff;
    default: return adapterRefusals.notReady;
    }
}

}  // namespace orvane
