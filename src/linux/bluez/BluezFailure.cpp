#include "BluezFailure.h"

#include <algorithm>
#include <string>

#include "Log.h"

namespace orvane {

BluetoothFailure failureOf(const BluezError& error, BluetoothFailure otherwise) {
    using Kind = BluezErrorKind;
    switch (error.kind) {
    case Kind::accessDenied: return BluetoothFailure::notPermitted;
    case Kind::serviceGone: return BluetoothFailure::linkLost;
    case Kind::unknownObject:
        return otherwise == BluetoothFailure::connectFailed ? BluetoothFailure::deviceGone
                                                            : BluetoothFailure::attributeGone;
    case Kind::inProgress: return BluetoothFailure::busy;
    case Kind::notReady: return BluetoothFailure::adapterOff;
    case Kind::notConnected: return BluetoothFailure::notConnected;
    case Kind::notPermitted: return BluetoothFailure::notPermitted;
    case Kind::notSupported: return BluetoothFailure::notSupported;
    case Kind::invalidArguments: return BluetoothFailure::invalidValue;
    case Kind::timedOut: return BluetoothFailure::timedOut;
    case Kind::aborted: return BluetoothFailure::connectFailed;
    case Kind::failed: break;
    }
    return otherwise;
}

std::string logText(std::string_view text, std::size_t limit) {
    std::string line;
    line.reserve(std::min(text.size(), limit) + 3);
    for (const char c : text) {
        if (line.size() >= limit) {
            // Never end inside a UTF-8 sequence.
            while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80) line.pop_back();
            if (!line.empty() && static_cast<unsigned char>(line.back()) >= 0xC0) line.pop_back();
            return line + "…";
        }
        line += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
    }
    return line;
}

BluetoothError bluetoothError(const BluezError& error, BluetoothFailure otherwise) {
    logLine("Orvane: Bluetooth: " + logText(error.text));
    return {failureOf(error, otherwise), error.text};
}

}  // namespace orvane
