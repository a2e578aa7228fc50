// The BlueZ backend against bluez-sim on a private bus.
//
// - WriteWithResponse/bridge: a page "write" with response from `handle` to
//   its "res", through the bridge, the backend, D-Bus and the simulator.
// - WriteWithResponse/floor: a plain GDBus WriteValue call (type "request")
//   to the same characteristic, for the ratio (target: at most 1.3 x floor).
// - WritesWithoutResponse/bridge: a burst of page writes without response,
//   until every one has reached the simulated light (target: 2,000/s).
// - WriteCommand/floor and AcquireWrite/floor: the two ways BlueZ offers for
//   writes without response, raw, to compare the transports.

#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gio/gunixfdlist.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "BenchSpin.h"
#include "Bluetooth.h"
#include "BluezSimProcess.h"
#include "Bytes.h"
#include "CentralBluez.h"
#include "MainQueueGlib.h"
#include "PrivateBus.h"

namespace {

using namespace orvane;
using namespace orvane::test;
using nlohmann::json;
using Sim = BluezSimProcess;

// A light frame that the strip answers with nothing: brightness 50 %.
const std::string brightnessFrame = hex(frame({0x33, 0x04, 0x32}));

// Bus, simulator and a connected bridge, made once for all benchmarks.
struct World {
    PrivateBus bus;
    // Default timing but a short advertising interval; no reply delays.
    Sim sim{bus, {"--interval", "20", "--quiet"}};
    MainQueueGlib queue;
    std::unique_ptr<Bluetooth> bridge;
    std::string id;
    std::int64_t lastReq = 0;
    std::int64_t replies = 0;
    bool failed = false;
    GPtr<GDBusConnection> plain = bus.connect();

    World() {
        BluezOptions options;
        options.busAddress = bus.address();
        bridge = std::make_unique<Bluetooth>(queue, makeCentralBluez(queue, options));
        bridge->send = [this](const json& m) {
            if (m["t"] == "adv" && m["name"] == Sim::LIGHT_NAME) id = m["id"];
            if (m["t"] != "res") return;
            ++replies;
            lastReq = m["req"];
            if (!m["ok"].get<bool>()) failed = true;
        };
        bridge->handle({{"t", "scan"}, {"on", true}});
        spinUntil([&] { return !id.empty(); });
        bridge->handle({{"t", "scan"}, {"on", false}});
        request({{"t", "connect"}, {"id", id}});
        request({{"t", "services"}, {"id", id}});
    }
    ~World() {
        bridge.reset();
        spinFor(0.05);
    }
    json write(bool response, std::int64_t req) const {
        return {{"t", "write"},
                {"req", req},
                {"id", id},
                {"svc", Sim::LIGHT_SERVICE},
                {"chr", Sim::LIGHT_CONTROL},
                {"data", brightnessFrame},
                {"response", response}};
    }
    // Sends a request and turns the loop until its reply is in.
    void request(json message) {
        static std::int64_t next = 1000000;
        const std::int64_t req = ++next;
        message["req"] = req;
        bridge->handle(message);
        spinUntil([&] { return lastReq == req; });
    }
};

World& world() {
    static auto* w = new World;  // ended by main(), before the process ends
    return *w;
}

void waitFor(bool& done) {
    while (!done) g_main_context_iteration(nullptr, TRUE);
}

void BM_WriteWithResponseBridge(benchmark::State& state) {
    World& w = world();
    std::int64_t req = 0;
    for (auto _ : state) {
        w.bridge->handle(w.write(true, ++req));
        while (w.lastReq != req) g_main_context_iteration(nullptr, TRUE);
    }
    if (w.failed) state.SkipWithError("a write failed");
}
BENCHMARK(BM_WriteWithResponseBridge)->Name("WriteWithResponse/bridge")->UseRealTime()->MinTime(2);

void plainWrite(World& w, const char* type, bool& done) {
    const Bytes value = *fromHex(brightnessFrame);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "type", g_variant_new_string(type));
    g_dbus_connection_call(
        w.plain.get(), "org.bluez", Sim::lightControlPath().c_str(), "org.bluez.GattCharacteristic1", "WriteValue",
        g_variant_new("(@ay@a{sv})", g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, value.data(), value.size(), 1),
                      g_variant_builder_end(&options)),
        nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            GError* error = nullptr;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (reply) g_variant_unref(reply);
            if (error) g_error_free(error);
            *static_cast<bool*>(data) = true;
        },
        &done);
}

void BM_WriteWithResponseFloor(benchmark::State& state) {
    World& w = world();
    for (auto _ : state) {
        bool done = false;
        plainWrite(w, "request", done);
        waitFor(done);
    }
}
BENCHMARK(BM_WriteWithResponseFloor)->Name("WriteWithResponse/floor")->UseRealTime()->MinTime(2);

// Frames the light has acted on so far (a small reply, unlike the write log).
std::uint32_t framesAccepted(World& w) {
    const VariantPtr state = w.sim.controlOk("LightState").child(0);
    return g_variant_get_uint32(state.lookup("accepted").get());
}

void BM_WritesWithoutResponseBridge(benchmark::State& state) {
    World& w = world();
    const int burst = static_cast<int>(state.range(0));
    std::int64_t req = 0;
    for (auto _ : state) {
        state.PauseTiming();
        w.sim.controlOk("ClearWrites");
        const std::uint32_t accepted = framesAccepted(w);
        state.ResumeTiming();
        const std::int64_t before = w.replies;
        // The page sends a burst at once; the bridge holds what BlueZ cannot take yet.
        for (int i = 0; i < burst; ++i) w.bridge->handle(w.write(false, ++req));
        while (w.replies - before < burst) g_main_context_iteration(nullptr, TRUE);
        // Handed over is not arrived: wait until the light has every one.
        while (framesAccepted(w) - accepted < std::uint32_t(burst)) g_main_context_iteration(nullptr, FALSE);
    }
    state.SetItemsProcessed(state.iterations() * burst);
    if (w.failed) state.SkipWithError("a write failed");
}
BENCHMARK(BM_WritesWithoutResponseBridge)
    ->Name("WritesWithoutResponse/bridge")
    ->Arg(1000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_WriteCommandFloor(benchmark::State& state) {
    World& w = world();
    for (auto _ : state) {
        bool done = false;
        plainWrite(w, "command", done);
        waitFor(done);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteCommandFloor)->Name("WriteCommand/floor")->UseRealTime()->MinTime(2);

// AcquireWrite: one datagram per write into the socket BlueZ hands out.
void BM_AcquireWriteFloor(benchmark::State& state) {
    World& w = world();
    const int burst = static_cast<int>(state.range(0));
    // The bridge's own link must not hold the characteristic while it is acquired.
    GError* error = nullptr;
    GUnixFDList* fds = nullptr;
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        w.plain.get(), "org.bluez", Sim::lightControlPath().c_str(), "org.bluez.GattCharacteristic1", "AcquireWrite",
        g_variant_new("(@a{sv})", g_variant_builder_end(&options)), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1,
        nullptr, &fds, nullptr, &error);
    if (!reply) {
        state.SkipWithError(error->message);
        g_error_free(error);
        return;
    }
    g_variant_unref(reply);
    const int fd = g_unix_fd_list_get(fds, 0, nullptr);
    g_object_unref(fds);
    const Bytes value = *fromHex(brightnessFrame);
    for (auto _ : state) {
        state.PauseTiming();
        w.sim.controlOk("ClearWrites");
        const std::uint32_t accepted = framesAccepted(w);
        state.ResumeTiming();
        for (int i = 0; i < burst;) {
            if (send(fd, value.data(), value.size(), MSG_DONTWAIT) == ssize_t(value.size())) {
                ++i;
                continue;
            }
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
        }
        while (framesAccepted(w) - accepted < std::uint32_t(burst)) g_main_context_iteration(nullptr, FALSE);
    }
    close(fd);  // releases the acquisition
    state.SetItemsProcessed(state.iterations() * burst);
}
BENCHMARK(BM_AcquireWriteFloor)->Name("AcquireWrite/floor")->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete &world();
    return 0;
}
