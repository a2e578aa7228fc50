// Round trips timed from the page, through the real web view, in one run:
//
//   echo      the floor: a bare web view answering a script message at once
//             (evaluate: a new script per answer; call: a constant function;
//             reply: the handler's reply; relay: the handler's reply through
//             a script world of its own, as the bridge's messages go)
//   bridge    Orvane's round trip for a request answered at once
//   write     a write with response to bluez-sim, from the page
//   gdbus     the same write as a plain GDBus WriteValue call (the floor)
//   echo through gdbus
//             the floor of both together: a bare web view whose answer
//             waits for that plain call, so that the page idles as it does
//             while Orvane waits for BlueZ; and the same through a relay
//             world, as the bridge's messages go
//   commands  writes without response per second from the page, one at a
//             time and in a burst, against a plain GDBus client writing
//             commands one at a time
//
// Everything runs under a private X display and a private D-Bus, in rounds
// that take turns, so that a busy machine slows every kind alike and the
// ratios stay fair.
//
//   roundtrip_bench [ROUNDS [SAMPLES]]

#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "AppValues.h"
#include "BluezSimProcess.h"
#include "Bytes.h"
#include "CentralBluez.h"
#include "EchoView.h"
#include "IsolatedServer.h"
#include "MainQueueGlib.h"
#include "MainWindow.h"
#include "PrivateBus.h"
#include "RoundTripPage.h"
#include "Samples.h"
#include "WebProbe.h"
#include "Xvfb.h"

namespace {

using namespace orvane;
using namespace orvane::bench;
using Sim = test::BluezSimProcess;
using nlohmann::json;

// A light frame the strip takes without answering: brightness 50 %.
std::string brightnessFrame() { return hex(test::frame({0x33, 0x04, 0x32})); }

std::string replaced(std::string text, const std::map<std::string, std::string>& values) {
    for (const auto& [key, value] : values) text = replaceAll(text, key, value);
    return text;
}

void turnUntil(const bool& done) {
    while (!done) g_main_context_iteration(nullptr, TRUE);
}

// Starts `call` in the page and turns the loop until the page says it is done.
json runInPage(WebKitWebView* view, const std::string& call, bool& done) {
    done = false;
    webkit_web_view_evaluate_javascript(view, call.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
    turnUntil(done);
    const auto result = evaluate(view, "window.samples ?? window.result");
    json parsed = json::parse(result.value_or("null"), nullptr, false);
    if (!parsed.is_array()) {
        std::fprintf(stderr, "%s failed: %s\n", call.c_str(), result.value_or("?").c_str());
        std::exit(1);
    }
    return parsed;
}

std::vector<double> numbers(const json& array) {
    std::vector<double> out;
    for (const auto& v : array) out.push_back(v.get<double>());
    return out;
}

// One plain WriteValue call; `then` runs when its answer is in.
void startGdbusWrite(GDBusConnection* connection, const Bytes& value, const char* type, std::function<void()> then) {
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "type", g_variant_new_string(type));
    g_dbus_connection_call(
        connection, "org.bluez", Sim::lightControlPath().c_str(), "org.bluez.GattCharacteristic1", "WriteValue",
        g_variant_new("(@ay@a{sv})", g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, value.data(), value.size(), 1),
                      g_variant_builder_end(&options)),
        nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            const std::unique_ptr<std::function<void()>> done(static_cast<std::function<void()>*>(data));
            GErrorPtr error;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, ErrorOut(error));
            if (reply) g_variant_unref(reply);
            if (error) std::fprintf(stderr, "WriteValue failed: %s\n", error->message);
            (*done)();
        },
        new std::function<void()>(std::move(then)));
}

// One plain WriteValue call, timed in milliseconds.
double gdbusWrite(GDBusConnection* connection, const Bytes& value, const char* type) {
    bool done = false;
    const gint64 start = g_get_monotonic_time();
    startGdbusWrite(connection, value, type, [&done] { done = true; });
    turnUntil(done);
    return static_cast<double>(g_get_monotonic_time() - start) / 1000.0;
}

struct Collected {
    std::map<std::string, std::vector<double>> samples;  // milliseconds per round trip
    std::map<std::string, std::vector<double>> rates;    // writes per second, one per round
};

void printFigures(const char* name, const std::vector<double>& samples) {
    const Figures f = figures(samples);
    std::printf("  %-26s median %6.3f ms   mean %6.3f   p90 %6.3f   p99 %6.3f   p99/median %4.2f   (%zu)\n", name,
                f.median, f.typical, f.p90, f.p99, f.p99 / f.median, f.count);
}

void printRates(const char* name, const std::vector<double>& rates) {
    std::printf("  %-26s median %7.0f /s   min %7.0f   max %7.0f   (%zu rounds)\n", name, percentile(rates, 0.5),
                percentile(rates, 0), percentile(rates, 1), rates.size());
}

const char* verdict(bool met) { return met ? "met" : "NOT met"; }

}  // namespace

// NOLINTNEXTLINE(bugprone-exception-escape): a bench that throws is meant to stop, and terminate names what it threw
int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int samples = argc > 2 ? std::atoi(argv[2]) : 400;
    const int commandCount = 500;

    startDisplayAndGtk();
    test::PrivateBus bus;
    Sim sim{bus, {"--interval", "20", "--quiet"}};
    GPtr<GDBusConnection> plain = bus.connect();
    const std::string frame = brightnessFrame();
    const Bytes frameBytes = *fromHex(frame);

    IsolatedServer server;
    server.serve("/", replaced(kRoundTripPage, {{"__LIGHT__", Sim::LIGHT_NAME},
                                                {"__SVC__", Sim::LIGHT_SERVICE},
                                                {"__CHR__", Sim::LIGHT_CONTROL},
                                                {"__FRAME__", frame}}));
    server.serve("/echo", EchoView::page());

    EchoView echo;
    // The floor of a page's write: a bare web view whose answer waits for a
    // plain WriteValue to the same light.
    echo.through = [&](std::function<void()> answer) {
        startGdbusWrite(plain.get(), frameBytes, "request", std::move(answer));
    };
    webkit_web_view_load_uri(echo.view(), server.url("/echo").c_str());

    MainQueueGlib queue;
    bool pageDone = false;
    MainWindowSettings settings;
    settings.pageUrl = *Url::parse(server.url("/"));
    settings.version = "bench";
    settings.bundle = Bundle(ORVANE_BENCH_BUNDLE);
    settings.windowState = std::filesystem::temp_directory_path() / "orvane-roundtrip-bench.ini";
    BluezOptions bluez;
    bluez.busAddress = bus.address();
    settings.backends.makeCentral = makeCentralBluez(queue, bluez);
    settings.backends.log = [&](const std::string& line) {
        if (line == "Orvane page: done") pageDone = true;
    };
    const auto windowState = settings.windowState;
    auto window = MainWindow::create(queue, std::move(settings));
    window->show();
    if (!waitForLoad(window->webView(), server.url("/")) || !waitForLoad(echo.view(), server.url("/echo"))) {
        std::fprintf(stderr, "the pages did not load\n");
        return 1;
    }
    WebKitWebView* page = window->webView();
    const auto resolution = [](WebKitWebView* view) {
        return evaluate(view,
                        "(() => { let best = 1e9, last = performance.now(); for (let i = 0; i < 1e5; i++) { "
                        "const now = performance.now(); if (now > last) { best = Math.min(best, now - last); last = "
                        "now; } } "
                        "return [crossOriginIsolated, best]; })()")
            .value_or("?");
    };
    std::fprintf(stderr, "page clock (isolated, finest step in ms): %s, echo page: %s\n", resolution(page).c_str(),
                 resolution(echo.view()).c_str());
    runInPage(page, "run('connect')", pageDone);

    const auto inPage = [&](const std::string& what, int n) {
        return numbers(runInPage(page, "run('" + what + "', " + std::to_string(n) + ")", pageDone));
    };
    const auto inEcho = [&](const std::string& kind, int n) {
        return numbers(runInPage(echo.view(), "run('" + kind + "', " + std::to_string(n) + ")", echo.done));
    };
    // Warm-up: the engines compile what they run often.
    inEcho("evaluate", 200), inEcho("call", 200), inEcho("reply", 200), inEcho("relay", 200), inEcho("through", 100),
        inPage("bridge", 200), inPage("write", 100);

    Collected all;
    const auto add = [&](const std::string& name, const std::vector<double>& more) {
        auto& to = all.samples[name];
        to.insert(to.end(), more.begin(), more.end());
    };
    for (int round = 0; round < rounds; ++round) {
        add("echo/evaluate", inEcho("evaluate", samples));
        add("bridge", inPage("bridge", samples));
        add("echo/call", inEcho("call", samples));
        add("echo/reply", inEcho("reply", samples));
        add("echo/relay", inEcho("relay", samples));
        add("write/page", inPage("write", samples / 2));
        add("write/echo through gdbus", inEcho("through", samples / 2));
        add("write/relay through gdbus", inEcho("relay through", samples / 2));
        std::vector<double> floor;
        floor.reserve(samples / 2);
        for (int i = 0; i < samples / 2; ++i) floor.push_back(gdbusWrite(plain.get(), frameBytes, "request"));
        add("write/gdbus", floor);

        const gint64 start = g_get_monotonic_time();
        for (int i = 0; i < commandCount; ++i) gdbusWrite(plain.get(), frameBytes, "command");
        all.rates["commands/gdbus"].push_back(commandCount * 1e6 / static_cast<double>(g_get_monotonic_time() - start));
        all.rates["commands/page"].push_back(commandCount * 1000.0 / inPage("commands", commandCount).at(0));
        all.rates["commands/page burst"].push_back(commandCount * 1000.0 / inPage("burst", commandCount).at(0));
        std::fprintf(stderr, "round %d of %d done\n", round + 1, rounds);
    }

    std::printf("Round trips from the page (%d rounds):\n", rounds);
    for (const auto& [name, values] : all.samples) printFigures(name.c_str(), values);
    for (const auto& [name, values] : all.rates) printRates(name.c_str(), values);

    const auto median = [&](const char* name) { return percentile(all.samples[name], 0.5); };
    const auto mean = [&](const char* name) { return typical(all.samples[name]); };
    const auto p99 = [&](const char* name) { return percentile(all.samples[name], 0.99); };
    const auto rate = [&](const char* name) { return percentile(all.rates[name], 0.5); };
    // Times side by side, by medians and by typical means; a goal is judged
    // by the means (a median moves in 20 µs steps, see Samples.h).
    const auto times = [&](const char* label, const char* of, std::initializer_list<const char*> floor,
                           double goal = 0) {
        double medians = 0, means = 0;
        for (const char* part : floor) medians += median(part), means += mean(part);
        const double byMeans = mean(of) / means;
        std::printf("  %-38s medians %5.2f   means %5.2f", label, median(of) / medians, byMeans);
        if (goal > 0) std::printf("   (goal <= %.2f: %s)", goal, verdict(byMeans <= goal));
        std::printf("\n");
    };
    const auto spread = [&](const char* label, const char* of, bool goal = true) {
        std::printf("  %-38s %5.2f", label, p99(of) / median(of));
        if (goal) std::printf("   (goal <= 2: %s)", verdict(p99(of) <= 2 * median(of)));
        std::printf("\n");
    };
    const auto rates = [&](const char* label, const char* of) {
        const double ratio = rate(of) / rate("commands/gdbus");
        std::printf("  %-38s %5.2f   (goal >= 0.90: %s)\n", label, ratio, verdict(ratio >= 0.9));
    };
    std::printf("Ratios:\n");
    times("bridge / echo floor", "bridge", {"echo/evaluate"}, 1.1);
    times("bridge / echo by reply", "bridge", {"echo/reply"});
    times("bridge / echo through a relay world", "bridge", {"echo/relay"});
    times("page write / (gdbus + echo floor)", "write/page", {"write/gdbus", "echo/evaluate"}, 1.1);
    times("page write / echo through gdbus", "write/page", {"write/echo through gdbus"});
    times("page write / relay through gdbus", "write/page", {"write/relay through gdbus"});
    spread("bridge p99 / median", "bridge");
    spread("page write p99 / median", "write/page");
    spread("echo floor p99 / median", "echo/evaluate", false);
    rates("page commands / gdbus, one at a time", "commands/page");
    rates("page commands / gdbus, burst", "commands/page burst");

    window.reset();
    std::filesystem::remove(windowState);
    return 0;
}
