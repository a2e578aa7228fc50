#include "BluezSimProcess.h"

#include <fcntl.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef ORVANE_BLUEZ_SIM
#error "ORVANE_BLUEZ_SIM must name the bluez-sim executable"
#endif

namespace orvane::test {
namespace {

bool exited(GSubprocess* process) { return g_subprocess_get_identifier(process) == nullptr; }

// The process is reaped by GLib's worker thread; this only watches for it.
bool waitExit(GSubprocess* process, int ms) {
    const gint64 end = g_get_monotonic_time() + gint64(ms) * 1000;
    while (!exited(process)) {
        if (g_get_monotonic_time() > end) return false;
        g_usleep(1000);
    }
    return true;
}

}  // namespace

std::string BluezSimProcess::devicePath(const std::string& address, const std::string& adapter) {
    std::string p = adapter + "/dev_" + address;
    std::replace(p.begin(), p.end(), ':', '_');
    return p;
}

std::string BluezSimProcess::lightControlPath() { return devicePath(LIGHT) + "/service000e/char0013"; }
std::string BluezSimProcess::lightRepliesPath() { return devicePath(LIGHT) + "/service000e/char000f"; }

std::vector<std::string> BluezSimProcess::fastTiming() {
    return {"--interval", "20", "--connect-ms", "5", "--resolve-ms", "5", "--disconnect-ms", "5", "--absent-ms", "300"};
}

BluezSimProcess::BluezSimProcess(const PrivateBus& bus, std::vector<std::string> args)
    : bus_(bus), args_(std::move(args)), log_(bus.folder() + "/bluez-sim.log"), control_(bus.connect()) {
    start();
}

BluezSimProcess::~BluezSimProcess() {
    if (running()) stop();
}

bool BluezSimProcess::running() const { return process_ && !exited(process_.get()); }

void BluezSimProcess::start() {
    if (running()) return;
    std::vector<const gchar*> argv{ORVANE_BLUEZ_SIM, "--bus", bus_.address().c_str(), "--no-colour"};
    for (auto& a : args_) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    GPtr<GSubprocessLauncher> launcher(g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDERR_MERGE));
    // Appended, so that the output of every run stays readable.
    GError* error = nullptr;
    int fd = open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot open " + log_);
    g_subprocess_launcher_take_stdout_fd(launcher.get(), fd);
    process_.reset(g_subprocess_launcher_spawnv(launcher.get(), argv.data(), &error));
    if (!process_) {
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("cannot start bluez-sim: " + message);
    }
    const gint64 end = g_get_monotonic_time() + gint64{10} * G_USEC_PER_SEC;
    for (;;) {
        CallResult owned = callSync(control_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", "org.bluez"));
        if (owned.ok() && g_variant_get_boolean(owned.value.child(0).get())) return;
        if (exited(process_.get())) throw std::runtime_error("bluez-sim ended at start:\n" + output());
        if (g_get_monotonic_time() > end) throw std::runtime_error("bluez-sim did not take org.bluez");
        g_usleep(2000);
    }
}

int BluezSimProcess::stop() {
    if (!running()) return -1;
    g_subprocess_send_signal(process_.get(), SIGTERM);
    if (!waitExit(process_.get(), 10000)) {
        g_subprocess_force_exit(process_.get());
        g_subprocess_wait(process_.get(), nullptr, nullptr);
        return -1;
    }
    g_subprocess_wait(process_.get(), nullptr, nullptr);
    return g_subprocess_get_if_exited(process_.get()) ? g_subprocess_get_exit_status(process_.get()) : -1;
}

void BluezSimProcess::crash() {
    if (!running()) return;
    g_subprocess_force_exit(process_.get());
    g_subprocess_wait(process_.get(), nullptr, nullptr);
}

std::string BluezSimProcess::output() const {
    std::ifstream in(log_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

CallResult BluezSimProcess::control(const std::string& method, GVariant* params) {
    return callSync(control_.get(), "org.orvane.BluezSim", "/org/orvane/sim", "org.orvane.BluezSim", method, params);
}

VariantPtr BluezSimProcess::controlOk(const std::string& method, GVariant* params) {
    CallResult r = control(method, params);
    if (!r.ok()) throw std::runtime_error("bluez-sim " + method + ": " + r.error + ": " + r.text);
    return r.value;
}

std::vector<std::pair<std::string, std::vector<std::uint8_t>>> BluezSimProcess::writes(const std::string& address,
                                                                                       const std::string& uuid) {
    VariantPtr list = controlOk("Writes", g_variant_new("(ss)", address.c_str(), uuid.c_str())).child(0);
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> out;
    for (gsize i = 0; i < g_variant_n_children(list.get()); ++i) {
        VariantPtr w = list.child(i);
        gsize n = 0;
        VariantPtr bytes = w.child(1);
        auto* data = static_cast<const std::uint8_t*>(g_variant_get_fixed_array(bytes.get(), &n, 1));
        out.emplace_back(g_variant_get_string(w.child(0).get(), nullptr), std::vector<std::uint8_t>(data, data + n));
    }
    return out;
}

std::vector<std::uint8_t> frame(std::initializer_list<std::uint8_t> head) {
    std::vector<std::uint8_t> f(head);
    f.resize(20, 0);
    std::uint8_t x = 0;
    for (int i = 0; i < 19; ++i) x ^= f[i];
    f[19] = x;
    return f;
}

}  // namespace orvane::test
