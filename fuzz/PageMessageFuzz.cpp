// Page messages, from the web view's hand-over to the Bluetooth bridge: one
// message body per line, each checked and routed as the window does, with
// a fake radio (one light in range) answering in virtual time.
#include <memory>
#include <string>
#include <vector>

#include "CentralFake.h"
#include "FuzzInput.h"
#include "MainQueueVirtual.h"
#include "PeripheralFake.h"
#include "RadioFake.h"
#include "Bluetooth.h"
#include "PageBridge.h"

using namespace orvane;

namespace {

constexpr const char* LIGHT_ID = "0C6E8A4D-1B2F-4C3D-9E8F-123456789ABC";

struct World {
    World() {
        auto light = radio.addPeripheral(LIGHT_ID, "ihoment_H617C");
        auto control = light->addService("00010203-0405-0607-0809-0a0b0c0d1910");
        control->addCharacteristic("00010203-0405-0607-0809-0a0b0c0d2b10", 0x12);
        control->addCharacteristic("00010203-0405-0607-0809-0a0b0c0d2b11", 0x0C);
        light->addService("180A")->addCharacteristic("2A29", 0x02);
        bluetooth.send = [this](const nlohmann::json& message) { outbox.add(message); };
    }
    MainQueueVirtual queue;
    RadioFake radio{queue};
    Bluetooth bluetooth{queue, radio.factory()};
    Outbox outbox;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto page = Url::parse("https://control.example/remote/");
    World world;
    PageRoutes routes;
    routes.open = [](const Url& url) {
        const auto scheme = url.scheme.value_or("");
        fuzz::require(scheme == "https" || scheme == "http" || scheme == "mailto", "only web and mail addresses open");
    };
    routes.log = [](const std::string&) {};
    routes.update = [] {};
    routes.bluetooth = [&world](const nlohmann::json& message) { world.bluetooth.handle(message); };

    auto rest = fuzz::text(data, size);
    while (!rest.empty()) {
        auto [line, next] = fuzz::splitLine(rest);
        rest = next;
        ScriptMessage message{true, "https", "CONTROL.example", std::string(line)};
        receive(message, *page, routes);
        world.queue.runUntilIdle();
        world.queue.advance(11);  // past every time-out
        fuzz::require(world.bluetooth.invariantsHold(), "the bridge's bookkeeping holds");
        (void)world.outbox.take(true);
    }
    return 0;
}
