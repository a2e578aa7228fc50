// Messages per second that reach the page's __orvane.receive through the
// real web view, delivered in bursts as a busy Bluetooth link would.
//
//   delivery_bench [messages] [burst]

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "MainQueueGlib.h"
#include "MainWindow.h"
#include "PageServer.h"
#include "Spin.h"
#include "WebProbe.h"
#include "Xvfb.h"

using namespace orvane;

// NOLINTNEXTLINE(bugprone-exception-escape): a bench that throws is meant to stop, and terminate names what it threw
int main(int argc, char** argv) {
    const int total = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int burst = argc > 2 ? std::atoi(argv[2]) : 500;
    startDisplayAndGtk();
    PageServer server;
    server.serve("/", {R"(<!doctype html><title>Count</title><script>
        window.count = 0; __orvane.on("value", () => { window.count++; });</script>)"});
    MainQueueGlib queue;
    MainWindowSettings settings;
    settings.pageUrl = *Url::parse(server.url("/"));
    settings.version = "bench";
    settings.bundle = Bundle(ORVANE_BENCH_BUNDLE);
    settings.windowState = std::filesystem::temp_directory_path() / "orvane-delivery-bench.ini";
    const auto windowState = settings.windowState;
    auto window = MainWindow::create(queue, std::move(settings));
    window->show();
    if (!waitForLoad(window->webView(), server.url("/"))) return 1;

    const nlohmann::json value = {{"t", "value"},
                                  {"id", "0F6B2E8C-6A3B-4E55-9C1D-2B7E8F0A1C3D"},
                                  {"svc", "00010203-0405-0607-0809-0a0b0c0d1910"},
                                  {"chr", "00010203-0405-0607-0809-0a0b0c0d2b10"},
                                  {"data", "aa0501000000000000000000000000000000ae"}};
    const auto start = std::chrono::steady_clock::now();
    int sent = 0;
    while (sent < total) {
        for (int i = 0; i < burst && sent < total; ++i, ++sent) window->deliver(value);
        g_main_context_iteration(nullptr, FALSE);  // one turn: the burst goes out as one batch
    }
    if (!spinUntil([&] { return evaluate(window->webView(), "window.count") == std::to_string(total); }, 120)) {
        std::fprintf(stderr, "not every message arrived\n");
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d messages in bursts of %d reached the page in %.3f s: %.0f messages/s\n", total, burst, seconds,
                total / seconds);
    window.reset();
    std::filesystem::remove(windowState);
    return 0;
}
