#include "RunProcesses.h"

#include <glib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Spin.h"
#include "WindowClasses.h"

namespace orvane::test {

namespace fs = std::filesystem;

Environment desktopEnvironment(const std::string& display, const std::string& bus) {
    return {{"DISPLAY", display}, {"GDK_BACKEND", "x11"}, {"NO_AT_BRIDGE", "1"}, {"DBUS_SESSION_BUS_ADDRESS", bus}};
}

Environment xdgFoldersUnder(const fs::path& home) {
    Environment folders;
    for (const char* place : {"CONFIG", "STATE", "CACHE", "DATA"})
        folders[std::string("XDG_") + place + "_HOME"] = (home / place).string();
    return folders;
}

Environment operator+(Environment base, const Environment& more) {
    for (const auto& [name, value] : more) base[name] = value;
    return base;
}

GPtr<GSubprocessLauncher> launcher(const Environment& env) {
    auto made = adopt(
        g_subprocess_launcher_new(GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_MERGE)));
    // Nothing of the machine's desktop: no display, no session bus.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
        g_subprocess_launcher_unsetenv(made.get(), name);
    for (const auto& [name, value] : env) g_subprocess_launcher_setenv(made.get(), name.c_str(), value.c_str(), TRUE);
    return made;
}

GPtr<GSubprocess> spawn(const std::vector<std::string>& command, const Environment& env, int readyFd) {
    std::vector<const char*> argv;
    for (const auto& arg : command) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    auto made = launcher(env);
    if (readyFd >= 0) {
        g_subprocess_launcher_take_fd(made.get(), readyFd, 3);
        g_subprocess_launcher_setenv(made.get(), "ORVANE_READY_FD", "3", TRUE);
    }
    GErrorPtr error;
    auto process = adopt(g_subprocess_launcher_spawnv(made.get(), argv.data(), ErrorOut(error)));
    if (!process) throw std::runtime_error(error->message);
    return process;
}

GPtr<GSubprocess> start(const fs::path& bundle, const std::vector<std::string>& args, const Environment& env,
                        int readyFd) {
    std::vector<std::string> command{(bundle / "Contents" / "Linux" / "orvane").string()};
    command.insert(command.end(), args.begin(), args.end());
    return spawn(command, env, readyFd);
}

Ran finish(GSubprocess* process) {
    Ran ran;
    char* out = nullptr;
    g_subprocess_communicate_utf8(process, nullptr, nullptr, &out, nullptr, nullptr);
    ran.output = out ? out : "";
    g_free(out);
    ran.status = g_subprocess_get_if_exited(process) ? g_subprocess_get_exit_status(process) : -1;
    if (ran.status == -1 && g_subprocess_get_if_signaled(process))
        ran.output += "[signal " + std::to_string(g_subprocess_get_term_sig(process)) + "]";
    return ran;
}

Ran run(const fs::path& bundle, const std::vector<std::string>& args, const Environment& env) {
    auto process = start(bundle, args, env);
    return finish(process.get());
}

std::string readText(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string refusedAddress() {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
}

bool appWindowShows(const std::string& display, bool shows, double seconds) {
    return spinUntil(
        [&] {
            const auto names = windowClasses(display);
            const bool found = std::find(names.begin(), names.end(), ORVANE_BUNDLE_ID) != names.end();
            return found == shows || (g_usleep(50000), false);
        },
        seconds);
}

}  // namespace orvane::test
