// The backend's pure translations: D-Bus errors, characteristic flags, handles
// in object paths, and device ids.

#include <gtest/gtest.h>

#include "BluezError.h"
#include "BluezFailure.h"
#include "DeviceIdentifier.h"
#include "GattValues.h"
#include "Peripheral.h"

namespace orvane {
namespace {

struct ErrorCase {
    const char* label;
    const char* name;
    const char* message;
    BluezErrorKind kind;
    const char* text;
};

TEST(BluezError, TranslatesNamesAndStripsTheDBusPrefix) {
    using K = BluezErrorKind;
    const ErrorCase cases[] = {
        {"connect failure", "org.bluez.Error.Failed",
         "GDBus.Error:org.bluez.Error.Failed: le-connection-abort-by-local", K::aborted,
         "le-connection-abort-by-local"},
        {"refused by the device", "org.bluez.Error.Failed",
         "GDBus.Error:org.bluez.Error.Failed: le-connection-abort-by-remote", K::failed,
         "le-connection-abort-by-remote"},
        {"cancelled attempt", "org.bluez.Error.Failed", "GDBus.Error:org.bluez.Error.Failed: br-connection-canceled",
         K::failed, "br-connection-canceled"},
        {"5.66 second connect", "org.bluez.Error.Failed",
         "GDBus.Error:org.bluez.Error.Failed: Operation already in progress", K::inProgress,
         "Operation already in progress"},
        {"write while one is pending", "org.bluez.Error.InProgress",
         "GDBus.Error:org.bluez.Error.InProgress: In Progress", K::inProgress, "In Progress"},
        {"write without link", "org.bluez.Error.Failed", "GDBus.Error:org.bluez.Error.Failed: Not connected",
         K::notConnected, "Not connected"},
        {"adapter off", "org.bluez.Error.NotReady", "GDBus.Error:org.bluez.Error.NotReady: Resource Not Ready",
         K::notReady, "Resource Not Ready"},
        {"ATT error", "org.bluez.Error.Failed",
         "GDBus.Error:org.bluez.Error.Failed: Operation failed with ATT error: 0x0e", K::failed,
         "Operation failed with ATT error: 0x0e"},
        {"acquired", "org.bluez.Error.NotPermitted", "GDBus.Error:org.bluez.Error.NotPermitted: Write acquired",
         K::notPermitted, "Write acquired"},
        {"policy", "org.freedesktop.DBus.Error.AccessDenied",
         "GDBus.Error:org.freedesktop.DBus.Error.AccessDenied: Rejected send message, 2 matched rules; "
         "type=\"method_call\"",
         K::accessDenied, "Rejected send message, 2 matched rules; type=\"method_call\""},
        {"interactive authorisation", "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired",
         "GDBus.Error:org.freedesktop.DBus.Error.InteractiveAuthorizationRequired: Interactive authorization required",
         K::accessDenied, "Interactive authorization required"},
        // BlueZ's NotAuthorized is an ATT error of one characteristic.
        {"att authorisation", "org.bluez.Error.NotAuthorized",
         "GDBus.Error:org.bluez.Error.NotAuthorized: Not Authorized", K::notPermitted, "Not Authorized"},
        {"no bluetoothd", "org.freedesktop.DBus.Error.ServiceUnknown",
         "GDBus.Error:org.freedesktop.DBus.Error.ServiceUnknown: The name org.bluez was not provided by any .service "
         "files",
         K::serviceGone, "The name org.bluez was not provided by any .service files"},
        {"object removed", "org.freedesktop.DBus.Error.UnknownObject",
         "GDBus.Error:org.freedesktop.DBus.Error.UnknownObject: Method \"Connect\" doesn't exist", K::unknownObject,
         "Method \"Connect\" doesn't exist"},
        {"no answer", "org.freedesktop.DBus.Error.NoReply",
         "GDBus.Error:org.freedesktop.DBus.Error.NoReply: Message recipient disconnected", K::timedOut,
         "Message recipient disconnected"},
        {"unknown name keeps its text", "org.example.Error.Odd", "GDBus.Error:org.example.Error.Odd: odd thing",
         K::failed, "odd thing"},
        {"no text: the name's last part", "org.bluez.Error.NotSupported",
         "GDBus.Error:org.bluez.Error.NotSupported: ", K::notSupported, "NotSupported"},
        {"local failure without prefix", "", "Timeout was reached", K::failed, "Timeout was reached"},
        {"nothing at all", "", "", K::failed, "Bluetooth failed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const BluezError error = bluezError(c.name, c.message);
        EXPECT_EQ(error.kind, c.kind);
        EXPECT_EQ(error.text, c.text);
    }
}

TEST(BluezFailure, KindsForThePageAndOneLogLineForBluezsText) {
    using F = BluetoothFailure;
    const struct {
        const char* name;
        const char* text;
        F otherwise;
        F kind;
    } cases[] = {
        {"org.bluez.Error.Failed", "le-connection-abort-by-local", F::connectFailed, F::connectFailed},
        {"org.bluez.Error.Failed", "le-connection-timeout", F::connectFailed, F::connectFailed},
        {"org.bluez.Error.Failed", "Operation failed with ATT error: 0x0e", F::failed, F::failed},
        {"org.bluez.Error.NotPermitted", "Write not permitted", F::failed, F::notPermitted},
        {"org.bluez.Error.NotSupported", "Operation is not supported", F::failed, F::notSupported},
        {"org.bluez.Error.InvalidArguments", "Invalid Length", F::failed, F::invalidValue},
        {"org.bluez.Error.InProgress", "In Progress", F::failed, F::busy},
        {"org.bluez.Error.NotReady", "Resource Not Ready", F::connectFailed, F::adapterOff},
        {"org.freedesktop.DBus.Error.UnknownObject", "No such object", F::failed, F::attributeGone},
        {"org.freedesktop.DBus.Error.UnknownObject", "No such object", F::connectFailed, F::deviceGone},
        {"org.freedesktop.DBus.Error.NoReply", "Timeout was reached", F::failed, F::timedOut},
    };
    for (const auto& c : cases)
        EXPECT_EQ(failureOf(bluezError(c.name, c.text), c.otherwise), c.kind) << c.name << " " << c.text;

    EXPECT_EQ(logText("line one\nline\ttwo"), "line one line two");
    const std::string cut = logText(std::string(10, 'x') + "\xC3\xA9\xC3\xA9", 11);
    EXPECT_EQ(cut, std::string(10, 'x') + "…") << "never half a character";
    EXPECT_EQ(logText(std::string(5000, 'y')).size(), 1000u + std::string("…").size());
}

TEST(GattValues, MapsFlagsToPropertyBits) {
    struct Case {
        std::vector<std::string> flags;
        std::uint32_t bits;
    };
    const Case cases[] = {
        {{}, 0},
        {{"broadcast"}, 0x01},
        {{"read"}, 0x02},
        {{"write-without-response"}, 0x04},
        {{"write"}, 0x08},
        {{"notify"}, 0x10},
        {{"indicate"}, 0x20},
        {{"authenticated-signed-writes"}, 0x40},
        {{"extended-properties"}, 0x80},
        {{"read", "write-without-response", "write"}, 0x0e},
        // Security and server-side flags have no bit of their own.
        {{"encrypt-read", "secure-write", "authorize", "reliable-write", "writable-auxiliaries"}, 0},
        {{"notify", "encrypt-authenticated-read", "indicate"}, 0x30},
    };
    for (const auto& c : cases) EXPECT_EQ(propertiesFromFlags(c.flags), c.bits) << testing::PrintToString(c.flags);
}

TEST(GattValues, ReadsTheHandleFromTheObjectPath) {
    EXPECT_EQ(handleOfPath("/org/bluez/hci0/dev_A4_C1_38_5E_1C_7A/service000e"), 0x0e);
    EXPECT_EQ(handleOfPath("/org/bluez/hci0/dev_A4_C1_38_5E_1C_7A/service000e/char0013"), 0x13);
    EXPECT_EQ(handleOfPath("/org/bluez/hci0/dev_X/service00FF/char1a2B"), 0x1a2b);
    EXPECT_EQ(handleOfPath("/org/bluez/hci0/dev_X/serviceXYZW"), -1);
    EXPECT_EQ(handleOfPath("/org/bluez/hci0/dev_X/s12"), -1);
    EXPECT_EQ(handleOfPath(""), -1);
}

TEST(DeviceIdentifier, IsANameBasedUuidOfBothAddresses) {
    // Expected values from an independent implementation of RFC 4122 version 5.
    struct Case {
        const char* adapter;
        const char* device;
        const char* id;
    };
    const Case cases[] = {
        {"00:1A:7D:DA:71:13", "A4:C1:38:5E:1C:7A", "9DC367F0-9D09-5E7F-BA9F-37C0593588D2"},
        {"00:1a:7d:da:71:13", "a4:c1:38:5e:1c:7a", "9DC367F0-9D09-5E7F-BA9F-37C0593588D2"},  // case does not matter
        {"00:1A:7D:DA:71:13", "D4:3B:04:11:7B:2F", "67E89277-D5F6-5AA5-818C-00FA9D0E8B9D"},
        {"11:22:33:44:55:66", "A4:C1:38:5E:1C:7A", "004274DB-DBE4-5AB4-8ED3-0E129793BF08"},  // another adapter
    };
    for (const auto& c : cases) EXPECT_EQ(deviceIdentifier(c.adapter, c.device).text(), c.id) << c.device;
}

}  // namespace
}  // namespace orvane
