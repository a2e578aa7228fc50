#include "Settings.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bluezsim {
namespace {

constexpr const char* HELP = R"(Usage: bluez-sim [OPTION...]

A simulated BlueZ (org.bluez) with a virtual light strip, for trying Orvane and
testing it without a Bluetooth controller. It owns org.bluez on the bus it is
given and exports what bluetoothd 5.66 exports over D-Bus: the object manager
at /, Adapter1 at /org/bluez/hci0, Device1 objects for the devices it hears
advertising, and their GATT services and characteristics.

Simulated devices (fixed addresses):
  A4:C1:38:5E:1C:7A  ihoment_H617C_1C7A, the light strip (control service
                     00010203-0405-0607-0809-0a0b0c0d1910)
  D4:3B:04:11:7B:2F  "HRM 7B2F", a heart-rate sensor (random address)
  5C:F3:70:A1:B2:C3  a beacon: no name, not connectable, only found by a
                     filtered discovery

Options:
  --bus ADDRESS          D-Bus address of the bus to serve (default: the system
                         bus, i.e. $DBUS_SYSTEM_BUS_ADDRESS when it is set)
  --interval MS          advertising interval of each device (default 300)
  --connect-ms MS        time to bring a link up (default 100)
  --resolve-ms MS        time from link up to ServicesResolved (default 100)
  --disconnect-ms MS     time Disconnect takes on a live link (default 2000,
                         BlueZ's disconnect timer)
  --absent-ms MS         time before a connection attempt to a device that
                         does not advertise fails (default 20000)
  --temporary-timeout S  seconds before an unseen, never-connected device is
                         forgotten (default 30, as BlueZ's TemporaryTimeout)
  --idle-timeout S       the light drops a link that received nothing for S
                         seconds (default 0: never)
  --acks                 the light acknowledges every command frame with an
                         empty frame of its kind
  --storage FILE         remember devices that were connected once in FILE and
                         export them at start, as bluetoothd does
  --colour, --no-colour  show the strip as coloured blocks (default: when
                         standard output is a terminal)
  --quiet                print nothing but errors
  --help                 show this help

The light's state is printed whenever it changes.

Control interface: org.orvane.BluezSim at /org/orvane/sim (bus name
org.orvane.BluezSim), for tests:
  SetPowered(b)                          power the adapter off and on
  RemoveAdapter(), AddAdapter(s name)    unplug and plug the adapter ("" = hci0)
  StopService(b graceful), StartService()
                                         bluetoothd going away and coming back
  DropLink(s address)                    the device drops its link
  RefuseConnections(s address, s error, s text)
                                         fail connections with that BlueZ error
                                         ("" error: accept again)
  DelayConnections(s address, u ms)      take this long to connect (0: default)
  FailNext(s address, s uuid, s op, s error, s text)
                                         fail the next "write", "read" or
                                         "notify" (StartNotify) on a characteristic
  DelayReplies(s address, u ms)          delay GATT replies of the device
  ResolveEarly(s address, b on)          ServicesResolved turns true before the
                                         GATT objects are exported (a BlueZ quirk)
  Flood(u count, u interval_ms)          add count advertising devices (0: none)
  Rotate(u count, u interval_ms)         replace them with count devices under
                                         new addresses (rotating random addresses)
  StartServiceWithoutAdapter()           bluetoothd back, its adapter not yet
                                         (AddAdapter brings it)
  RemoveGatt(s address, b services_first)
                                         the device's GATT objects go, services
                                         first or characteristics first
  SetAdvertising(s address, b on)        the device goes out of range and back
  Notify(s address, s uuid, ay value)    the device sends a notification
  Writes(s address, s uuid) -> a(say)    every write received, in order, with
                                         its type ("request" or "command")
  Advertisements(s address) -> u         how often the device has advertised
                                         while the adapter listened
  Sync()                                 answers at once: its reply follows
                                         every signal sent before it
  ClearWrites()
  LightState() -> a{sv}                  the light's state

Try it: scripts/demo in Orvane's source folder starts a private bus, this
simulator, the reference page and Orvane. By hand, from the build folder:
  dbus-daemon --session --fork --print-address      # prints ADDRESS
  tools/bluez-sim/bluez-sim --bus ADDRESS &
  DBUS_SYSTEM_BUS_ADDRESS=ADDRESS Orvane.app/Contents/Linux/orvane
)";

bool number(const char* text, unsigned& out) {
    char* end = nullptr;
    const unsigned long n = std::strtoul(text, &end, 10);
    if (!*text || *end || n > 100000000ul) return false;
    out = unsigned(n);
    return true;
}

}  // namespace

std::optional<Settings> parseSettings(int argc, char** argv, int& status) {
    Settings s;
    s.colour = isatty(STDOUT_FILENO);
    struct Numeric {
        const char* name;
        unsigned* target;
    } numeric[] = {
        {"--interval", &s.intervalMs},      {"--connect-ms", &s.connectMs},
        {"--resolve-ms", &s.resolveMs},     {"--disconnect-ms", &s.disconnectMs},
        {"--absent-ms", &s.absentMs},       {"--temporary-timeout", &s.temporarySeconds},
        {"--idle-timeout", &s.idleSeconds},
    };
    auto fail = [&](const std::string& message) {
        std::fprintf(stderr, "bluez-sim: %s (see --help)\n", message.c_str());
        status = 2;
        return std::nullopt;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--help" || a == "-h") {
            std::fputs(HELP, stdout);
            status = 0;
            return std::nullopt;
        }
        if (a == "--acks") {
            s.acks = true;
        } else if (a == "--quiet") {
            s.quiet = true;
        } else if (a == "--colour" || a == "--color") {
            s.colour = true;
        } else if (a == "--no-colour" || a == "--no-color") {
            s.colour = false;
        } else if (a == "--bus" || a == "--storage") {
            if (!value) return fail(a + " needs a value");
            (a == "--bus" ? s.bus : s.storage) = value;
            ++i;
        } else {
            bool found = false;
            for (auto& n : numeric) {
                if (a != n.name) continue;
                if (!value || !number(value, *n.target)) return fail(a + " needs a whole number");
                found = true;
                ++i;
            }
            if (!found) return fail("unknown option " + a);
        }
    }
    if (s.intervalMs == 0) return fail("--interval must be above 0");
    return s;
}

}  // namespace bluezsim
