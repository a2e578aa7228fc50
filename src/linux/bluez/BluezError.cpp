#include "BluezError.h"

#include <array>
#include <utility>

namespace orvane {
namespace {

using Kind = BluezErrorKind;

constexpr std::array<std::pair<std::string_view, Kind>, 20> kinds = {{
    {"org.freedesktop.DBus.Error.AccessDenied", Kind::accessDenied},
    {"org.freedesktop.DBus.Error.AuthFailed", Kind::accessDenied},
    {"org.freedesktop.DBus.Error.InteractiveAuthorizationRequired", Kind::accessDenied},
    {"org.freedesktop.DBus.Error.ServiceUnknown", Kind::serviceGone},
    {"org.freedesktop.DBus.Error.NameHasNoOwner", Kind::serviceGone},
    {"org.freedesktop.DBus.Error.Disconnected", Kind::serviceGone},
    {"org.freedesktop.DBus.Error.UnknownObject", Kind::unknownObject},
    {"org.freedesktop.DBus.Error.UnknownInterface", Kind::unknownObject},
    {"org.freedesktop.DBus.Error.UnknownMethod", Kind::unknownObject},
    {"org.bluez.Error.DoesNotExist", Kind::unknownObject},
    {"org.bluez.Error.InProgress", Kind::inProgress},
    {"org.bluez.Error.NotReady", Kind::notReady},
    {"org.bluez.Error.NotConnected", Kind::notConnected},
    {"org.bluez.Error.NotPermitted", Kind::notPermitted},
    // An ATT error of one characteristic, not the bus refusing us.
    {"org.bluez.Error.NotAuthorized", Kind::notPermitted},
    {"org.bluez.Error.NotSupported", Kind::notSupported},
    {"org.bluez.Error.InvalidArguments", Kind::invalidArguments},
    {"org.freedesktop.DBus.Error.InvalidArgs", Kind::invalidArguments},
    {"org.freedesktop.DBus.Error.NoReply", Kind::timedOut},
    {"org.freedesktop.DBus.Error.Timeout", Kind::timedOut},
}};

constexpr std::string_view gdbusPrefix = "GDBus.Error:";

}  // namespace

BluezError bluezError(std::string_view name, std::string_view message) {
    BluezError error;
    for (const auto& [known, kind] : kinds)
        if (known == name) error.kind = kind;

    // GDBus writes "GDBus.Error:<name>: <text>" for remote errors.
    if (message.starts_with(gdbusPrefix)) {
        message.remove_prefix(gdbusPrefix.size());
        const auto colon = message.find(": ");
        message = colon == std::string_view::npos ? std::string_view() : message.substr(colon + 2);
    }
    // "Operation already in progress" from Connect is BlueZ 5.66's way of
    // saying what later versions call InProgress.
    if (error.kind == Kind::failed && message == "Operation already in progress") error.kind = Kind::inProgress;
    if (error.kind == Kind::failed && message == "Not connected") error.kind = Kind::notConnected;
    if (error.kind == Kind::failed && message == "le-connection-abort-by-local") error.kind = Kind::aborted;

    if (message.empty()) {
        // Nothing to show but the name: its last part reads best ("Failed").
        const auto dot = name.rfind('.');
        message = dot == std::string_view::npos ? name : name.substr(dot + 1);
    }
    error.text = message.empty() ? std::string("Bluetooth failed.") : std::string(message);
    return error;
}

}  // namespace orvane
