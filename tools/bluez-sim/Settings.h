#pragma once
// The simulator's command-line settings.

#include <optional>
#include <string>

namespace bluezsim {

struct Settings {
    std::string bus;                 // bus address; empty: the system bus
    unsigned intervalMs = 300;       // advertising interval of each device
    unsigned connectMs = 100;        // link set-up time
    unsigned resolveMs = 100;        // GATT discovery time after the link is up
    unsigned disconnectMs = 2000;    // BlueZ's disconnect timer
    unsigned absentMs = 20000;       // connect attempt to a device out of range
    unsigned temporarySeconds = 30;  // unseen temporary devices are forgotten
    unsigned idleSeconds = 0;        // the light drops a link idle this long; 0: never
    bool acks = false;               // the light acknowledges command frames
    bool quiet = false;              // no printing of the light's state
    bool colour = false;             // print the strip as coloured blocks
    std::string storage;             // file of devices connected once; empty: none
};

// Parses the command line; prints help or an error and returns nothing when
// the program should end (with `status`).
std::optional<Settings> parseSettings(int argc, char** argv, int& status);

}  // namespace bluezsim
