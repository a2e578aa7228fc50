#pragma once
// The whole simulated BlueZ on one bus connection: the `org.bluez` name, the
// object tree, the adapter with its devices, and the control interface.

#include <functional>
#include <string>

#include "Adapter.h"
#include "Control.h"
#include "ObjectTree.h"
#include "Settings.h"

namespace bluezsim {

class Simulator {
public:
    // `quit` ends the program with a status (the bus refused the name, ...).
    Simulator(GDBusConnection* connection, const Settings& settings, std::function<void(int)> quit);
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator();

    Adapter& adapter() { return adapter_; }
    bool running() const { return running_; }
    // bluetoothd goes away: gracefully (powering the adapter down first, as on
    // SIGTERM) or as in a crash; its objects and its name disappear.
    void stopService(bool graceful);
    // bluetoothd comes back: the adapter powered on, stored devices exported.
    void startService(bool withAdapter = true);

private:
    void exportService(bool withAdapter);
    static void onOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                               gpointer);

    GDBusConnection* connection_;
    const Settings& settings_;
    std::function<void(int)> quit_;
    ObjectTree tree_;
    Adapter adapter_;
    Control control_;
    bool running_ = false;
    bool announced_ = false;
    guint bluezName_ = 0;
    guint controlName_ = 0;
    guint ownerWatch_ = 0;
};

}  // namespace bluezsim
