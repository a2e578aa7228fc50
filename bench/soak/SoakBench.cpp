// Memory over a long run of phones nearby that rotate their random addresses
// while the page scans, with the light linked all along.
//
//   soak_bench virtual [HOURS]   the bridge on the fake backend in virtual
//                                time (default 24 h): 60 phones advertise every
//                                second and all take new addresses every
//                                5 minutes.
//   soak_bench sim [SECONDS]     the bridge on the BlueZ backend against
//                                bluez-sim on a private bus (default 180 s of
//                                real time), the bridge's clock running 20 x
//                                faster, so that 3 minutes are an hour for its
//                                forgetting: 200 phones advertise every 100 ms
//                                and take new addresses every 15 s of real time.
//
// Prints, per interval, the heap in use (mallinfo2), the devices the bridge
// remembers and (sim) the devices the backend holds; the verdict compares the
// heap of the last quarter of the run with the first one after warm-up.

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "BenchSpin.h"
#include "Bluetooth.h"
#include "BluezSimProcess.h"
#include "CentralBluez.h"
#include "CentralFake.h"
#include "MainQueueGlib.h"
#include "MainQueueVirtual.h"
#include "PeripheralFake.h"
#include "PrivateBus.h"
#include "RadioFake.h"

namespace {

using namespace orvane;
using nlohmann::json;

std::size_t heapInUse() { return mallinfo2().uordblks; }

struct Sample {
    double at;  // hours of the bridge's clock
    std::size_t heap;
    std::size_t known;
    std::size_t backend;
};

int verdict(const std::vector<Sample>& samples) {
    // Warm-up: the first forgetting window (ten minutes) fills the books.
    std::vector<std::size_t> warm;
    for (const Sample& s : samples)
        if (s.at >= 0.25) warm.push_back(s.heap);
    if (warm.size() < 4) {
        std::printf("too short a run for a verdict\n");
        return 0;
    }
    const std::size_t quarter = warm.size() / 4;
    const auto peak = [](auto begin, auto end) { return *std::max_element(begin, end); };
    const std::size_t early = peak(warm.begin(), warm.begin() + static_cast<long>(quarter));
    const std::size_t late = peak(warm.end() - static_cast<long>(quarter), warm.end());
    const double growth = (static_cast<double>(late) - static_cast<double>(early)) / static_cast<double>(early);
    std::printf("heap peak, first quarter after warm-up: %zu KB; last quarter: %zu KB; growth %.1f %%\n", early / 1024,
                late / 1024, growth * 100);
    const bool flat = growth < 0.10;
    std::printf("%s\n", flat ? "FLAT" : "GROWING");
    return flat ? 0 : 1;
}

void print(const Sample& s) {
    std::printf("%7.2f h  heap %8zu KB  bridge knows %5zu  backend holds %5zu\n", s.at, s.heap / 1024, s.known,
                s.backend);
    std::fflush(stdout);
}

int runVirtual(double hours) {
    MainQueueVirtual queue;
    RadioFake radio(queue);
    radio.record = false;
    Bluetooth bridge(queue, radio.factory());
    std::size_t events = 0;
    bridge.send = [&](const json&) { ++events; };
    const auto light = radio.addPeripheral("0C6E8A4D-1B2F-4C3D-9E8F-123456789ABC", "ihoment_H617C");
    bridge.handle({{"t", "connect"}, {"id", "0C6E8A4D-1B2F-4C3D-9E8F-123456789ABC"}, {"req", 1}});
    bridge.handle({{"t", "scan"}, {"on", true}});
    queue.runUntilIdle();

    constexpr int phones = 60;
    constexpr int rotateEvery = 300;  // seconds
    std::vector<std::shared_ptr<PeripheralFake>> nearby;
    unsigned made = 0;
    std::vector<Sample> samples;
    const long seconds = static_cast<long>(hours * 3600);
    for (long second = 0; second < seconds; ++second) {
        if (second % rotateEvery == 0) {
            for (const auto& phone : nearby) radio.forget(phone);
            nearby.clear();
            for (int i = 0; i < phones; ++i) {
                char id[37];
                ++made;
                std::snprintf(id, sizeof id, "%08X-0000-4000-8000-%012X", made, made);
                nearby.push_back(radio.addStranger(id, "phone"));
            }
        }
        for (const auto& phone : nearby)
            radio.advertise(phone, {.localName = "phone", .serviceUuids = {}, .overflowServiceUuids = {}}, -70);
        queue.advance(1);
        if (second % 600 == 0) {
            samples.push_back(
                {static_cast<double>(second) / 3600.0, heapInUse(), bridge.knownCount(), radio.peripherals().size()});
            print(samples.back());
        }
    }
    std::printf("virtual: %.1f h, %u addresses heard, %zu events to the page\n", hours, made, events);
    return verdict(samples);
}

int runSim(double realSeconds) {
    using test::BluezSimProcess;
    test::PrivateBus bus;
    BluezSimProcess sim(bus, {"--interval", "100", "--quiet", "--temporary-timeout", "30"});
    MainQueueGlib glib;
    MainQueueVirtual clock;  // the bridge's own clock, run 20 x faster than the loop
    constexpr double speed = 20;
    BluezOptions options;
    options.busAddress = bus.address();
    CentralBluez* central = nullptr;
    std::string light;
    std::size_t events = 0;
    // The product's central, kept in sight for its counts.
    auto bridge =
        std::make_unique<Bluetooth>(clock, [&](std::weak_ptr<CentralDelegate> delegate) -> std::unique_ptr<Central> {
            auto made = std::make_unique<CentralBluez>(glib, std::move(delegate), options);
            central = made.get();
            return made;
        });
    bridge->send = [&](const json& m) {
        ++events;
        if (m["t"] == "adv" && m["name"] == BluezSimProcess::LIGHT_NAME) light = m["id"];
    };
    bridge->handle({{"t", "scan"}, {"on", true}});
    spinUntil([&] { return !light.empty(); }, 10);
    bridge->handle({{"t", "connect"}, {"id", light}, {"req", 1}});
    spinFor(0.5);

    std::vector<Sample> samples;
    const double rotateEvery = 15;
    double sinceRotate = rotateEvery;
    double sinceSample = 0;
    const double step = 0.25;
    for (double t = 0; t < realSeconds; t += step) {
        if (sinceRotate >= rotateEvery) {
            sim.controlOk("Rotate", g_variant_new("(uu)", 200u, 100u));
            sinceRotate = 0;
        }
        spinFor(step);
        clock.advance(step * speed);
        sinceRotate += step;
        sinceSample += step;
        if (sinceSample >= 300 / speed) {  // every 5 minutes of the bridge's clock
            sinceSample = 0;
            samples.push_back(
                {t * speed / 3600, heapInUse(), bridge->knownCount(), central ? central->peripheralCount() : 0});
            print(samples.back());
        }
    }
    std::printf("sim: %.0f s real, %.2f h on the bridge's clock, %zu events to the page, backend device objects %zu\n",
                realSeconds, realSeconds * speed / 3600, events, central ? central->deviceObjectCount() : 0);
    bridge.reset();
    spinFor(0.1);
    return verdict(samples);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "virtual";
    const double amount = argc > 2 ? std::atof(argv[2]) : 0;
    if (mode == "virtual") return runVirtual(amount > 0 ? amount : 24);
    if (mode == "sim") return runSim(amount > 0 ? amount : 180);
    std::fprintf(stderr, "usage: soak_bench virtual [HOURS] | sim [SECONDS]\n");
    return 2;
}
