#include "PrivateBus.h"

#include <filesystem>
#include <stdexcept>

#include "TiedChild.h"

namespace orvane::test {

PrivateBus::PrivateBus(const std::string& policy) {
    GError* error = nullptr;
    gchar* folder = g_dir_make_tmp("orvane-bus-XXXXXX", &error);
    if (!folder) {
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("no temporary folder for the bus: " + message);
    }
    folder_ = folder;
    g_free(folder);
    const std::string listen = "--address=unix:path=" + folder_ + "/bus";
    std::string config = "--session";
    if (!policy.empty()) {
        const std::string file = folder_ + "/bus.conf";
        const std::string text =
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n  <include>/usr/share/dbus-1/session.conf</include>\n"
            "  <policy context=\"mandatory\">\n    " +
            policy + "\n  </policy>\n</busconfig>\n";
        g_file_set_contents(file.c_str(), text.c_str(), gssize(text.size()), nullptr);
        config = "--config-file=" + file;
    }
    GPtr<GSubprocessLauncher> launcher(g_subprocess_launcher_new(
        GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE)));
    // A bus kept to the end of the process (GLib holds its connection) ends
    // with it, and so do the services it started.
    g_subprocess_launcher_set_child_setup(
        launcher.get(), [](gpointer parent) { endWithParent(static_cast<pid_t>(GPOINTER_TO_INT(parent))); },
        GINT_TO_POINTER(getpid()), nullptr);
    daemon_.reset(g_subprocess_launcher_spawn(launcher.get(), &error, "dbus-daemon", config.c_str(), "--nofork",
                                              "--print-address", listen.c_str(), nullptr));
    if (!daemon_) {
        std::string message = error->message;
        g_error_free(error);
        std::filesystem::remove_all(folder_);
        throw std::runtime_error("cannot start dbus-daemon: " + message);
    }
    // The daemon prints its address once it listens.
    GPtr<GDataInputStream> out(g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_.get())));
    gchar* line = g_data_input_stream_read_line(out.get(), nullptr, nullptr, &error);
    if (!line) {
        if (error) g_error_free(error);
        g_subprocess_force_exit(daemon_.get());
        g_subprocess_wait(daemon_.get(), nullptr, nullptr);
        std::filesystem::remove_all(folder_);
        throw std::runtime_error("dbus-daemon printed no address");
    }
    address_ = line;
    g_free(line);
}

PrivateBus::~PrivateBus() {
    g_subprocess_send_signal(daemon_.get(), SIGTERM);
    g_subprocess_wait(daemon_.get(), nullptr, nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

}  // namespace orvane::test
