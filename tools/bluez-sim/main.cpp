// bluez-sim: a simulated BlueZ with a virtual light strip (see --help).

#include <glib-unix.h>

#include <cstdio>

#include "Glib.h"
#include "Settings.h"
#include "Simulator.h"

int main(int argc, char** argv) {
    using namespace bluezsim;
    int status = 0;
    std::optional<Settings> settings = parseSettings(argc, argv, status);
    if (!settings) return status;

    GErrorPtr error;
    std::string address = settings->bus;
    if (address.empty()) {
        gchar* system = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, ErrorOut(error));
        if (!system) {
            std::fprintf(stderr, "bluez-sim: no system bus: %s\n", error->message);
            return 1;
        }
        address = system;
        g_free(system);
    }
    GPtr<GDBusConnection> connection(
        g_dbus_connection_new_for_address_sync(address.c_str(),
                                               GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                    G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                               nullptr, nullptr, ErrorOut(error)));
    if (!connection) {
        std::fprintf(stderr, "bluez-sim: cannot connect to %s: %s\n", address.c_str(), error->message);
        return 1;
    }
    g_dbus_connection_set_exit_on_close(connection.get(), FALSE);

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    auto quit = [&](int code) {
        status = code;
        g_main_loop_quit(loop);
    };
    {
        Simulator simulator(connection.get(), *settings, quit);
        struct Stop {
            Simulator* simulator;
            std::function<void(int)> quit;
        } stop{&simulator, quit};
        // SIGTERM as with `systemctl stop bluetooth`: the adapter powers down first.
        auto onSignal = [](gpointer data) -> gboolean {
            auto* s = static_cast<Stop*>(data);
            s->simulator->stopService(true);
            s->quit(0);
            return G_SOURCE_CONTINUE;  // removed below, with the other one
        };
        const guint term = g_unix_signal_add(SIGTERM, onSignal, &stop);
        const guint interrupt = g_unix_signal_add(SIGINT, onSignal, &stop);
        const gulong closed = g_signal_connect(connection.get(), "closed",
                                               G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, gpointer data) {
                                                   std::fprintf(stderr, "bluez-sim: the bus went away\n");
                                                   static_cast<Stop*>(data)->quit(1);
                                               }),
                                               &stop);
        g_main_loop_run(loop);
        g_signal_handler_disconnect(connection.get(), closed);
        g_source_remove(term);
        g_source_remove(interrupt);
    }
    g_dbus_connection_flush_sync(connection.get(), nullptr, nullptr);
    g_main_loop_unref(loop);
    return status;
}
