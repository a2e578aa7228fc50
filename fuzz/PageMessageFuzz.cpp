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

// The clock and the radio are made once. Making them, the page's address and
// their teardown for every input ran more code than a typical input's
// messages, and libFuzzer's bookkeeping grows with the code an input runs.
// What an input can change (the session, the window, the light and its
// links) is made afresh for each, so an input runs the same whatever ran
// before it.
struct Fixed {
    Fixed() { radio.record = false; }  // nobody reads the calls
    Url page = *Url::parse("https://control.example/remote/");
    MainQueueVirtual queue;
    RadioFake radio{queue};
};

Fixed& fixed() {
    static auto* made = new Fixed;  // kept to the end of the run
    return *made;
}

std::shared_ptr<PeripheralFake> addLight(RadioFake& radio) {
    auto light = radio.addPeripheral(LIGHT_ID, "ihoment_H617C");
    auto control = light->addService("00010203-0405-0607-0809-0a0b0c0d1910");
    control->addCharacteristic("00010203-0405-0607-0809-0a0b0c0d2b10", 0x12);
    control->addCharacteristic("00010203-0405-0607-0809-0a0b0c0d2b11", 0x0C);
    light->addService("180A")->addCharacteristic("2A29", 0x02);
    return light;
}

void run(Fixed& world, PageHostFake& host, std::string_view input) {
    PageSession session{world.queue, host, PageSessionSettings{world.page, "1.0.0", {}},
                        PageBackends{world.radio.factory(), {}, [](const std::string&) {}}};
    auto rest = input;
    while (!rest.empty()) {
        auto [line, next] = fuzz::splitLine(rest);
        rest = next;
        session.received(ScriptMessage{true, "https://control.example", std::string(line)});
        world.queue.runUntilIdle();
        world.queue.advance(11);  // past every time-out
        if (auto* bluetooth = session.bluetooth())
            fuzz::require(bluetooth->invariantsHold(), "the bridge's bookkeeping holds");
    }
    session.shutdown();
    world.queue.runUntilIdle();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Fixed& world = fixed();
    const auto light = addLight(world.radio);
    PageHostFake host;
    host.address = world.page;
    run(world, host, fuzz::text(data, size));
    for (const auto& opened : host.opened) {
        const auto url = Url::parse(opened);
        const auto scheme = url ? url->scheme.value_or("") : "";
        fuzz::require(scheme == "https" || scheme == "http" || scheme == "mailto", "only web and mail addresses open");
    }
    // The time-outs the session left run out now (as nothing: their owners
    // are gone), not during the next input. Not far: the clock is kept, and
    // a long run must not take it past what it can count.
    world.queue.advance(11);
    world.radio.forget(light);
    return 0;
}
