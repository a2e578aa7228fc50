// Page messages, from the web view's hand-over through the page session to
// the Bluetooth bridge: one message body per line, each checked and routed as
// the window does, with a fake radio (one light in range) answering in
// virtual time. The updater has no backend: its check fails at once.
#include <memory>
#include <string>
#include <vector>

#include "CentralFake.h"
#include "FuzzInput.h"
#include "MainQueueVirtual.h"
#include "PageHostFake.h"
#include "PageSession.h"
#include "PeripheralFake.h"
#include "RadioFake.h"

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
        host.address = page;
    }
    Url page = *Url::parse("https://control.example/remote/");
    MainQueueVirtual queue;
    RadioFake radio{queue};
    PageHostFake host;
    PageSession session{queue, host, PageSessionSettings{page, "1.0.0", {}},
                        PageBackends{radio.factory(), {}, [](const std::string&) {}}};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    World world;
    auto rest = fuzz::text(data, size);
    while (!rest.empty()) {
        auto [line, next] = fuzz::splitLine(rest);
        rest = next;
        world.session.received(ScriptMessage{true, "https://control.example", std::string(line)});
        world.queue.runUntilIdle();
        world.queue.advance(11);  // past every time-out
        if (auto* bluetooth = world.session.bluetooth())
            fuzz::require(bluetooth->invariantsHold(), "the bridge's bookkeeping holds");
    }
    for (const auto& opened : world.host.opened) {
        const auto url = Url::parse(opened);
        const auto scheme = url ? url->scheme.value_or("") : "";
        fuzz::require(scheme == "https" || scheme == "http" || scheme == "mailto", "only web and mail addresses open");
    }
    world.session.shutdown();
    world.queue.runUntilIdle();
    return 0;
}
