#include "Simulator.h"

#include <cstdio>

#include "Interfaces.h"
#include "LightStrip.h"

namespace bluezsim {
namespace {

constexpr const char* BLUEZ = "org.bluez";

struct NameContext {
    Simulator* simulator;
    std::function<void(int)> quit;
    bool* announced;
    const Settings* settings;
};

}  // namespace

Simulator::Simulator(GDBusConnection* connection, const Settings& settings, std::function<void(int)> quit)
    : connection_(connection), settings_(settings), quit_(std::move(quit)), tree_(connection),
      adapter_(tree_, settings), control_(tree_, *this) {
    // Clients that leave the bus lose their discovery and notify sessions.
    ownerWatch_ = g_dbus_connection_signal_subscribe(connection_, "org.freedesktop.DBus", "org.freedesktop.DBus",
                                                     "NameOwnerChanged", "/org/freedesktop/DBus", nullptr,
                                                     G_DBUS_SIGNAL_FLAGS_NONE, onOwnerChanged, this, nullptr);
    controlName_ = g_bus_own_name_on_connection(connection_, CONTROL, G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, nullptr,
                                                nullptr, nullptr);
    startService();
}

Simulator::~Simulator() {
    g_dbus_connection_signal_unsubscribe(connection_, ownerWatch_);
    if (bluezName_) g_bus_unown_name(bluezName_);
    g_bus_unown_name(controlName_);
}

void Simulator::exportService(bool withAdapter) {
    tree_.add("/org/bluez", {Interface{AGENT_MANAGER, {}, [](Call& call) { call.reply.ok(); }, {}},
                             Interface{PROFILE_MANAGER, {}, {}, {}}});
    if (withAdapter) adapter_.plug("hci0");
}

void Simulator::startService(bool withAdapter) {
    if (running_) return;
    running_ = true;
    exportService(withAdapter);
    auto* context = new NameContext{this, quit_, &announced_, &settings_};
    bluezName_ = g_bus_own_name_on_connection(
        connection_, BLUEZ, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
        [](GDBusConnection*, const gchar*, gpointer data) {
            auto* c = static_cast<NameContext*>(data);
            if (*c->announced || c->settings->quiet) return;
            *c->announced = true;
            Device* light = c->simulator->adapter().device(LIGHT_ADDRESS);
            std::printf("bluez-sim: org.bluez is ready; the light is %s at %s\n", light->model().name.c_str(),
                        LIGHT_ADDRESS);
            std::printf("%s: %s\n", light->model().name.c_str(),
                        light->peripheral()->describe(c->settings->colour).c_str());
            std::fflush(stdout);
        },
        [](GDBusConnection*, const gchar*, gpointer data) {
            // Someone else is BlueZ on this bus; two would only confuse clients.
            std::fprintf(stderr, "bluez-sim: cannot own org.bluez on this bus\n");
            static_cast<NameContext*>(data)->quit(1);
        },
        context, [](gpointer data) { delete static_cast<NameContext*>(data); });
}

void Simulator::stopService(bool graceful) {
    if (!running_) return;
    if (graceful) adapter_.setPowered(false);
    // A crashed bluetoothd sends nothing more: its name goes first, so that
    // clients see no object leave.
    if (!graceful) g_bus_unown_name(bluezName_);
    adapter_.unplug();
    tree_.remove("/org/bluez");
    if (graceful) g_bus_unown_name(bluezName_);
    bluezName_ = 0;
    running_ = false;
}

void Simulator::onOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                               GVariant* params, gpointer data) {
    const gchar* name = nullptr;
    const gchar* oldOwner = nullptr;
    const gchar* newOwner = nullptr;
    g_variant_get(params, "(&s&s&s)", &name, &oldOwner, &newOwner);
    if (name[0] == ':' && newOwner[0] == '\0') static_cast<Simulator*>(data)->adapter_.clientGone(name);
}

}  // namespace bluezsim
