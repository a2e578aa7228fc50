// Cost of the bridge's two busiest paths in the core, on the fake backend: a
// write without response from the page (the light's colour stream) and an
// advertisement report from the stack while scanning. Target: under 2 µs each.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Bluetooth.h"
#include "CentralFake.h"
#include "MainQueueVirtual.h"
#include "PeripheralFake.h"
#include "RadioFake.h"

namespace {

using namespace orvane;
using nlohmann::json;

const std::string lightId = "0F6B2E8C-6A3B-4E55-9C1D-2B7E8F0A1C3D";

void addTable(PeripheralFake& light) {
    const auto control = light.addService("00010203-0405-0607-0809-0a0b0c0d1910");
    control->addCharacteristic("00010203-0405-0607-0809-0a0b0c0d2b10", 0x12);
    control->addCharacteristic("00010203-0405-0607-0809-0a0b0c0d2b11", 0x0C);
    light.addService("180A")->addCharacteristic("2A29", 0x02);
}

void writeWithoutResponse(benchmark::State& state) {
    MainQueueVirtual queue;
    RadioFake radio(queue);
    radio.record = false;
    const auto light = radio.addPeripheral(lightId, "ihoment_H617C");
    addTable(*light);
    Bluetooth bluetooth(queue, radio.factory());
    std::size_t sent = 0;
    bluetooth.send = [&](const json& message) { sent += message.size(); };
    bluetooth.handle({{"t", "connect"}, {"id", lightId}, {"req", 1}});
    queue.runUntilIdle();
    bluetooth.handle({{"t", "services"}, {"id", lightId}, {"req", 2}});
    queue.runUntilIdle();

    // A 20-byte command, as the page sends them.
    const json message =
        json::parse(R"({"t":"write","req":7,"id":"0F6B2E8C-6A3B-4E55-9C1D-2B7E8F0A1C3D",)"
                    R"("svc":"00010203-0405-0607-0809-0a0b0c0d1910","chr":"00010203-0405-0607-0809-0a0b0c0d2b11",)"
                    R"("data":"3301010000000000000000000000000000000033"})");
    std::size_t answeredOk = 0;
    bluetooth.send = [&](const json& reply) { answeredOk += reply.size() == 3 && reply["ok"] == true; };
    for (auto _ : state) bluetooth.handle(message);
    if (answeredOk != static_cast<std::size_t>(state.iterations())) state.SkipWithError("a write was not answered ok");
}
BENCHMARK(writeWithoutResponse);

// Reports from `devices` lights in turn, each one 0.3 s or more after its last
// event, so that every report produces an "adv" event; with Arg(0) one light
// reports again and again and is throttled.
void advertisementReport(benchmark::State& state) {
    const bool throttled = state.range(0) == 0;
    constexpr int devices = 256;
    MainQueueVirtual queue;
    RadioFake radio(queue);
    std::vector<std::shared_ptr<Peripheral>> lights;
    for (int i = 0; i < devices; ++i) {
        char id[37];
        std::snprintf(id, sizeof id, "0F6B2E8C-6A3B-4E55-9C1D-%012X", i);
        lights.push_back(radio.addStranger(id, "ihoment_H617C"));
    }
    Bluetooth bluetooth(queue, radio.factory());
    std::size_t sent = 0;
    bluetooth.send = [&](const json& message) { sent += message.size(); };
    bluetooth.handle({{"t", "scan"}, {"on", true}});
    queue.runUntilIdle();
    Central& central = *radio.central();
    const AdvertisementData data{
        .localName = "ihoment_H617C_6A3B", .serviceUuids = {*GattUuid::parse("FFE0")}, .overflowServiceUuids = {}};

    int next = 0;
    for (auto _ : state) {
        bluetooth.didDiscover(central, lights[static_cast<std::size_t>(next)], data, -60);
        if (!throttled && ++next == devices) {
            next = 0;
            queue.advance(0.31);
        }
    }
    state.counters["events"] = static_cast<double>(sent);
    benchmark::DoNotOptimize(sent);
}
BENCHMARK(advertisementReport)->ArgName("emits")->Arg(1)->Arg(0);

}  // namespace

BENCHMARK_MAIN();
