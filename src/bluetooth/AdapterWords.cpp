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

std::string_view refusal(ManagerState state, Absence absence) {
    switch (state) {
    case ManagerState::unsupported:
        return absence == Absence::noService ? adapterRefusals.noService : adapterRefusals.unsupported;
    case ManagerState::unauthorized: return adapterRefusals.unauthorized;
    case ManagerState::poweredOff: return adapterRefusals.poweredOff;
    default: return adapterRefusals.notReady;
    }
}

std::string_view failureText(BluetoothFailure kind) {
    switch (kind) {
    case BluetoothFailure::connectFailed: return words::couldNotConnect;
    case BluetoothFailure::linkLost: return "The connection to the light was lost.";
    case BluetoothFailure::notConnected: return words::gattDisconnected;
    case BluetoothFailure::timedOut: return "The light didn’t answer in time.";
    case BluetoothFailure::busy: return "Bluetooth is busy; try again.";
    case BluetoothFailure::notPermitted: return "The light refused this.";
    case BluetoothFailure::notSupported: return "The light can’t do this.";
    case BluetoothFailure::invalidValue: return "The light didn’t accept this value.";
    case BluetoothFailure::attributeGone: return "The light’s services changed; ask for them again.";
    case BluetoothFailure::deviceGone: return words::notInRange;
    case BluetoothFailure::adapterOff: return adapterRefusals.poweredOff;
    case BluetoothFailure::failed: break;
    }
    return "Bluetooth failed.";
}

}  // namespace orvane
