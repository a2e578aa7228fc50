// Peak memory of a whole update of a 100 MB and of a 1 GB archive: the
// manifest and the archive fetched over HTTP from another process, the
// digest, and the installation on its worker thread with the bundle's ditto
// and codesign, up to the relaunch (which is not started). The archive goes
// to a file in the staging folder as it arrives and is hashed on the way, so
// memory stays flat whatever the size: the target is a peak at most 16 MB
// above the start for both sizes.
//
// Reported: the process's peak resident memory during the update above what
// it held before (peak_over_start_MB), that against the archive's size
// (peak_per_archive_byte, near 0 when nothing of the archive is held), and
// the longest turn of the main loop while the update ran, in CPU and in real
// time (longest_turn_cpu_ms, longest_turn_real_ms: the loop stays free, as no
// whole-archive work runs on it). ditto and
// codesign run as processes of their own and are not counted (their
// rusage would not tell: a spawned child inherits the parent's high-water
// mark until it execs).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libsoup/soup.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <map>
#include <vector>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

#include "GRef.h"
#include "Hex.h"
#include "Install.h"
#include "MainQueueGlib.h"
#include "Sha256.h"
#include "Spawn.h"
#include "Updater.h"
#include "UpdaterLinux.h"

namespace {

namespace fs = std::filesystem;
using namespace orvane;

constexpr const char* kId = "app.orvane.Orvane";

int spawnWait(const std::vector<std::string>& argv, const char* folder = nullptr) {
    SpawnOptions options = SpawnOptions::searched();
    if (folder) options.folder = folder;
    return spawnAndWait(argv, options);
}

void write(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
}

std::string plist(const std::string& version) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>" +
           std::string(kId) +
           "</string>"
           "<key>CFBundleShortVersionString</key><string>" +
           version + "</string></dict></plist>\n";
}

long statusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
    }
    return -1;
}

struct Fixture {
    fs::path dir;
    fs::path running;
    fs::path zip;
    std::uint64_t zipBytes = 0;
    std::string manifest;
    pid_t server = -1;
    unsigned port = 0;
};

// Serves the manifest and the archive, mapped from their files, in a child
// process of its own, so that its memory is not counted as the updater's.
void startServer(Fixture& f) {
    int ports[2];
    if (::pipe(ports) != 0) throw std::runtime_error("pipe");
    f.server = ::fork();
    if (f.server == 0) {
        ::close(ports[0]);
        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
        SoupServer* server = soup_server_new(nullptr, nullptr);
        static GMappedFile* archive = g_mapped_file_new(f.zip.c_str(), FALSE, nullptr);
        static std::string manifest = f.manifest;
        soup_server_add_handler(
            server, nullptr,
            [](SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer) {
                if (std::string(path) == "/downloads/app.json") {
                    soup_server_message_set_status(message, 200, nullptr);
                    soup_server_message_set_response(message, "application/json", SOUP_MEMORY_STATIC, manifest.data(),
                                                     manifest.size());
                } else if (std::string(path).ends_with(".zip")) {
                    soup_server_message_set_status(message, 200, nullptr);
                    GBytes* bytes = g_mapped_file_get_bytes(archive);
                    soup_message_body_append_bytes(soup_server_message_get_response_body(message), bytes);
                    g_bytes_unref(bytes);
                } else {
                    soup_server_message_set_status(message, 404, nullptr);
                }
            },
            nullptr, nullptr);
        GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
        GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
        soup_server_listen(server, address, SoupServerListenOptions(0), nullptr);
        GSList* uris = soup_server_get_uris(server);
        auto port = static_cast<unsigned>(g_uri_get_port(static_cast<GUri*>(uris->data)));
        if (::write(ports[1], &port, sizeof port) != sizeof port) ::_exit(1);
        g_main_loop_run(loop);
        ::_exit(0);
    }
    ::close(ports[1]);
    if (::read(ports[0], &f.port, sizeof f.port) != sizeof f.port) throw std::runtime_error("server did not start");
    ::close(ports[0]);
}

std::map<std::int64_t, Fixture> fixtures;

double threadCpuMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// How long one turn of the main loop took to dispatch, in ms of the main
// thread's CPU time and of real time (the wait for something to happen is not
// counted: that is the loop being free). On a loaded machine the real time
// also holds the time the thread waited for a CPU.
struct Turn {
    double cpu = 0;
    double real = 0;
};

Turn iterate() {
    GMainContext* context = g_main_context_default();
    g_main_context_acquire(context);
    gint priority = 0;
    g_main_context_prepare(context, &priority);
    std::vector<GPollFD> fds(16);
    gint timeout = -1;
    gint count = 0;
    while ((count = g_main_context_query(context, priority, &timeout, fds.data(), static_cast<gint>(fds.size()))) >
           static_cast<gint>(fds.size()))
        fds.resize(static_cast<std::size_t>(count));
    g_poll(fds.data(), static_cast<guint>(count), timeout);
    const auto before = std::chrono::steady_clock::now();
    const double cpuBefore = threadCpuMs();
    if (g_main_context_check(context, priority, fds.data(), count)) g_main_context_dispatch(context);
    Turn turn{threadCpuMs() - cpuBefore,
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before).count()};
    g_main_context_release(context);
    return turn;
}

// The SHA-256 of a file, read a piece at a time.
std::string fileSha256(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    Sha256 sha;
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
        sha.update({reinterpret_cast<const unsigned char*>(buffer.data()), static_cast<std::size_t>(in.gcount())});
    return hex(sha.finish());
}

Fixture makeFixture(std::size_t payloadBytes) {
    Fixture f;
    auto pattern = (fs::temp_directory_path() / "orvane-update-memory-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    f.dir = pattern;
    f.running = f.dir / "apps/Orvane.app";
    for (const auto& [bundle, version] :
         {std::pair{f.running, "1.0.0"}, std::pair{f.dir / "new/Orvane.app", "2.0.0"}}) {
        fs::create_directories(bundle / "Contents/Linux");
        fs::create_directories(bundle / "Contents/Resources");
        write(bundle / "Contents/Info.plist", plist(version));
        // A real program for this machine: the installer takes nothing else.
        fs::copy_file("/bin/true", bundle / "Contents/Linux/orvane", fs::copy_options::overwrite_existing);
    }
    // Incompressible content, so that the archive itself is about as large.
    std::mt19937_64 random(42);
    std::string part(payloadBytes / 10, '\0');
    for (int i = 0; i < 10; ++i) {
        for (std::size_t at = 0; at + 8 <= part.size(); at += 8) {
            const std::uint64_t value = random();
            std::memcpy(part.data() + at, &value, 8);
        }
        write(f.dir / "new/Orvane.app/Contents/Resources" / ("part" + std::to_string(i)), part);
    }
    if (spawnWait({CODESIGN, "--sign", SIGNING_KEY, (f.dir / "new/Orvane.app").string()}) != 0)
        throw std::runtime_error("cannot sign the bundle");
    f.zip = f.dir / "Orvane-2.0.0.zip";
    std::string().swap(part);
    if (spawnWait({"zip", "-q", "-1", "-r", "-y", "-X", f.zip.string(), "Orvane.app"}, (f.dir / "new").c_str()) != 0)
        throw std::runtime_error("cannot zip the bundle");
    fs::remove_all(f.dir / "new");
    f.zipBytes = fs::file_size(f.zip);
    f.manifest = R"({"linux": {"version": "2.0.0", "file": "Orvane-2.0.0.zip", "sha256": ")" + fileSha256(f.zip) +
                 R"(", "size": )" + std::to_string(f.zipBytes) + "}}";
    startServer(f);
    return f;
}

void UpdateOfArchive(benchmark::State& state) {
    if (std::string(SIGNING_KEY).empty()) {
        state.SkipWithError("no secret key for the built-in public key");
        return;
    }
    Fixture& f = fixtures.at(state.range(0));
    MainQueueGlib queue;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(f.running);
        fs::create_directories(f.running / "Contents");
        write(f.running / "Contents/Info.plist", plist("1.0.0"));
        for (const auto& entry : fs::directory_iterator(f.running.parent_path()))
            if (entry.path().filename().string().starts_with(kStagingPrefix)) fs::remove_all(entry.path());
        state.ResumeTiming();

        UpdaterParts parts = linuxUpdaterParts(queue, Bundle(f.running));
        parts.quit = [] {};
        InstallSettings settings = InstallSettings::forBundle(f.running, kId);
        settings.helpers = HELPERS;
        parts.install = [settings](const fs::path& staging, const std::string& version) {
            return install(settings, staging, version);
        };
        parts.startRelaunch = [](const RelaunchTask&) { return true; };
        std::string last, error;
        Updater updater(queue, {*Url::parse("http://127.0.0.1:" + std::to_string(f.port) + "/"), "1.0.0", f.running},
                        std::move(parts));
        updater.send = [&](const nlohmann::json& event) {
            last = event["state"];
            if (event.contains("error")) error = event["error"];
        };

        // The peak is measured from here: everything before is the fixture's.
        std::ofstream("/proc/self/clear_refs") << "5";
        const long start = statusKb("VmRSS:");
        updater.start();
        Turn longest;
        while (last != "restarting" && last != "error") {
            const Turn turn = iterate();
            longest.cpu = std::max(longest.cpu, turn.cpu);
            longest.real = std::max(longest.real, turn.real);
        }
        const long peak = statusKb("VmHWM:");
        if (last == "error") {
            state.SkipWithError(error.c_str());
            break;
        }
        state.counters["archive_MB"] = double(f.zipBytes) / (1 << 20);
        state.counters["peak_MB"] = double(peak) / 1024;
        state.counters["peak_over_start_MB"] = double(peak - start) / 1024;
        state.counters["peak_per_archive_byte"] = double(peak - start) * 1024 / double(f.zipBytes);
        state.counters["longest_turn_cpu_ms"] = longest.cpu;
        state.counters["longest_turn_real_ms"] = longest.real;
    }
}

// The payloads in MB (1 MB = 10^6 bytes); each archive is a little larger.
constexpr int kSizes[] = {100, 1000};
BENCHMARK(UpdateOfArchive)->Arg(kSizes[0])->Arg(kSizes[1])->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // Every server is forked before this process has any thread: a fork
    // after GLib or the installation started threads could deadlock.
    if (!std::string(SIGNING_KEY).empty()) {
        for (int size : kSizes) fixtures.emplace(size, makeFixture(static_cast<std::size_t>(size) * 1'000'000));
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (auto& [size, f] : fixtures) {
        ::kill(f.server, SIGTERM);
        ::waitpid(f.server, nullptr, 0);
        fs::remove_all(f.dir);
    }
}
