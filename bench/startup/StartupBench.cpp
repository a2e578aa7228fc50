// Whole-process start-up: from launching the bundle's executable to the page
// reporting its load event, and the peak memory of the app with its web
// processes at that moment. Runs on a private display and session bus.
//
//   startup_bench [runs]

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSpin.h"
#include "GRef.h"
#include "PageServer.h"
#include "Xvfb.h"

namespace fs = std::filesystem;
using namespace orvane;

namespace {

// Peak resident set (VmHWM) of a process, in KiB.
long peakKiB(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// Proportional set size (shared pages split between their users), in KiB.
long pssKiB(int pid) {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(rollup, line))
        if (line.rfind("Pss:", 0) == 0) return std::stol(line.substr(4));
    return 0;
}

int parentOf(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), {});
    const auto close = all.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(all.substr(close + 2));
    char state;
    int parent = -1;
    rest >> state >> parent;
    return parent;
}

// The process and all its descendants (the web and network processes).
std::vector<int> tree(int root) {
    std::vector<int> all{root};
    std::vector<std::pair<int, int>> links;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const auto name = entry.path().filename().string();
        if (!std::all_of(name.begin(), name.end(), ::isdigit)) continue;
        links.emplace_back(std::stoi(name), parentOf(std::stoi(name)));
    }
    for (std::size_t i = 0; i < all.size(); ++i)
        for (const auto& [pid, parent] : links)
            if (parent == all[i]) all.push_back(pid);
    return all;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    startDisplayAndGtk();
    const std::string display = g_getenv("DISPLAY");
    GPtr<GTestDBus> bus = adopt(g_test_dbus_new(G_TEST_DBUS_NONE));
    g_test_dbus_up(bus.get());
    g_setenv("DISPLAY", display.c_str(), TRUE);

    PageServer server;
    server.serve("/", {R"(<!doctype html><title>Bench</title><body style="background:#123">
        <h1>Light</h1><script>addEventListener("load", () => fetch("/loaded"));</script>)"});
    server.serve("/loaded", {"ok", "text/plain"});
    const fs::path home = fs::temp_directory_path() / ("orvane-startup-" + std::to_string(::getpid()));
    fs::create_directories(home / "config/orvane");
    std::ofstream(home / "config/orvane/defaults.ini") << "[defaults]\npageURL=" << server.url("/") << "\n";

    std::vector<double> millis;
    std::vector<long> peaks, pss;
    for (int run = 0; run < runs; ++run) {
        GPtr<GSubprocessLauncher> launcher = adopt(g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE));
        g_subprocess_launcher_setenv(launcher.get(), "XDG_CONFIG_HOME", (home / "config").c_str(), TRUE);
        g_subprocess_launcher_setenv(launcher.get(), "XDG_STATE_HOME", (home / "state").c_str(), TRUE);
        const std::string exe = std::string(ORVANE_BENCH_BUNDLE) + "/Contents/Linux/orvane";
        const auto loadedBefore = server.count("/loaded");
        const auto start = std::chrono::steady_clock::now();
        GErrorPtr error;
        auto process = adopt(g_subprocess_launcher_spawn(launcher.get(), ErrorOut(error), exe.c_str(), nullptr));
        if (!process) {
            std::fprintf(stderr, "cannot start %s: %s\n", exe.c_str(), error->message);
            return 1;
        }
        if (!spinUntil([&] { return server.count("/loaded") > loadedBefore; }, 60)) {
            std::fprintf(stderr, "the page did not load\n");
            return 1;
        }
        millis.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        spinFor(0.5);  // let the first paint settle before reading memory
        long peak = 0, proportional = 0;
        for (int pid : tree(std::stoi(g_subprocess_get_identifier(process.get())))) {
            peak += peakKiB(pid);
            proportional += pssKiB(pid);
        }
        peaks.push_back(peak);
        pss.push_back(proportional);
        g_subprocess_send_signal(process.get(), SIGTERM);
        g_subprocess_wait(process.get(), nullptr, nullptr);
    }
    std::sort(millis.begin(), millis.end());
    std::sort(peaks.begin(), peaks.end());
    std::sort(pss.begin(), pss.end());
    std::printf("start-up to page loaded over %d runs: median %.0f ms (min %.0f, max %.0f)\n", runs,
                millis[millis.size() / 2], millis.front(), millis.back());
    std::printf("peak memory (sum of each process's peak RSS, app and web processes): median %.1f MiB\n",
                static_cast<double>(peaks[peaks.size() / 2]) / 1024.0);
    std::printf("memory at page loaded (PSS, shared pages counted once): median %.1f MiB\n",
                static_cast<double>(pss[pss.size() / 2]) / 1024.0);
    g_test_dbus_down(bus.get());
    fs::remove_all(home);
    return 0;
}
