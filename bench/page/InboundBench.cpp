// Cost of taking in one page message in the core: origin check, depth scan, JSON parse.
#include <benchmark/benchmark.h>

#include "PageBridge.h"

namespace {

using namespace orvane;

void inboundWrite(benchmark::State& state) {
    const Url page = *Url::parse("https://orvane.app/");
    ScriptMessage message{
        true, "https://orvane.app",
        R"({"t":"write","req":7,"id":"0F6B2E8C-6A3B-4E55-9C1D-2B7E8F0A1C3D",)"
        R"("svc":"00010203-0405-0607-0809-0a0b0c0d1910","chr":"00010203-0405-0607-0809-0a0b0c0d2b11",)"
        R"("data":"3301010000000000000000000000000000000033"})"};
    std::size_t taken = 0;
    for (auto _ : state) {
        if (const auto accepted = acceptedMessage(message, page)) taken += accepted->size();
    }
    benchmark::DoNotOptimize(taken);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(inboundWrite);

void outboundBatch(benchmark::State& state) {
    // One turn's worth of advertisement events turned into the page script.
    Outbox outbox;
    for (auto _ : state) {
        for (int i = 0; i < state.range(0); ++i)
            outbox.add({{"t", "adv"},
                        {"id", "0F6B2E8C-6A3B-4E55-9C1D-2B7E8F0A1C3D"},
                        {"name", "Light"},
                        {"uuids", nlohmann::json::array({"1910"})},
                        {"rssi", -60}});
        benchmark::DoNotOptimize(outbox.take(true));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(outboundBatch)->Arg(1)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
