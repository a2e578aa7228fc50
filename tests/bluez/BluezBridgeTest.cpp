// End to end without a window: the page's Bluetooth bridge over the BlueZ
// backend over bluez-sim, driven by the messages the page sends.

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "AdapterWords.h"
#include "Bluetooth.h"
#include "BluezTesting.h"
#include "Bytes.h"
#include "DBusCall.h"
#include "MainQueueVirtual.h"

namespace orvane::test {
namespace {

using nlohmann::json;
using Sim = BluezSimProcess;

// A light frame: 20 bytes, the last the XOR of the others.
std::string frame(std::initializer_list<std::uint8_t> head) {
    Bytes f(head);
    f.resize(20, 0);
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < 19; ++i) x ^= f[i];
    f[19] = x;
    return hex(f);
}

std::string full(const char* uuid) { return uuid; }  // the simulator's UUIDs are already full and lower-case

// Standard error (where the log goes) into a file while it lives.
class StderrCapture {
public:
    StderrCapture() : saved_(dup(STDERR_FILENO)), file_(std::tmpfile()) {
        std::fflush(stderr);
        dup2(fileno(file_), STDERR_FILENO);
    }
    ~StderrCapture() {
        restore();
        std::fclose(file_);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string take() {
        restore();
        std::string text;
        std::rewind(file_);
        for (int c; (c = std::fgetc(file_)) != EOF;) text += static_cast<char>(c);
        return text;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }
    int saved_;
    std::FILE* file_;
};  // the simulator's UUIDs are already full and lower-case

class BluezBridgeTest : public BluezTest {
protected:
    // The bridge on `bridgeQueue` (its time-outs), the backend on the GLib loop.
    void makeBridge(MainQueue& bridgeQueue) {
        bridge = std::make_unique<Bluetooth>(
            bridgeQueue, [this, make = makeCentralBluez(queue, options())](std::weak_ptr<CentralDelegate> delegate) {
                auto made = make(std::move(delegate));
                backend = dynamic_cast<CentralBluez*>(made.get());
                return made;
            });
        bridge->send = [this](const json& message) { sent.push_back(message); };
    }
    void page(const json& message) { bridge->handle(message); }
    // The bridge's own central, once it has made it.
    CentralBluez* backend = nullptr;
    void settle() { afterPendingSignals(backend); }
    // The "res" for a request, once it has come.
    const json* reply(int req) const {
        for (const json& m : sent)
            if (m["t"] == "res" && m["req"] == req) return &m;
        return nullptr;
    }
    const json& waitReply(int req, double seconds = 5) {
        static const json none;
        if (!waitFor([&] { return reply(req) != nullptr; }, seconds)) {
            ADD_FAILURE() << "no reply to " << req;
            return none;
        }
        return *reply(req);
    }
    std::size_t countOf(const json& pattern) const {
        std::size_t n = 0;
        for (const json& m : sent)
            if (m == pattern) ++n;
        return n;
    }
    std::string lightId() {
        page({{"t", "scan"}, {"on", true}});
        std::string id;
        waitFor([&] {
            for (const json& m : sent)
                if (m["t"] == "adv" && m["name"] == Sim::LIGHT_NAME) id = m["id"];
            return !id.empty();
        });
        page({{"t", "scan"}, {"on", false}});
        EXPECT_FALSE(id.empty());
        return id;
    }
    json toLight(const std::string& id, const char* type, const char* chr) {
        return {{"t", type}, {"id", id}, {"svc", full(Sim::LIGHT_SERVICE)}, {"chr", full(chr)}};
    }
    void TearDown() override {
        bridge.reset();
        BluezTest::TearDown();
    }

    std::vector<json> sent;
    std::unique_ptr<Bluetooth> bridge;
};

TEST_F(BluezBridgeTest, ThePageDrivesTheLight) {
    makeBridge(queue);
    const std::string id = lightId();
    ASSERT_EQ(countOf({{"t", "state"}, {"state", "on"}}), 1u);

    page({{"t", "connect"}, {"req", 1}, {"id", id}});
    EXPECT_EQ(waitReply(1), (json{{"t", "res"}, {"req", 1}, {"ok", true}, {"name", Sim::LIGHT_NAME}}));

    page({{"t", "services"}, {"req", 2}, {"id", id}});
    const json& services = waitReply(2);
    ASSERT_TRUE(services["ok"].get<bool>()) << services;
    const json expected = {{{"uuid", full(Sim::LIGHT_SERVICE)},
                            {"chars",
                             {{{"uuid", full(Sim::LIGHT_REPLIES)},
                               {"props",
                                {{"broadcast", false},
                                 {"read", true},
                                 {"writeWithoutResponse", false},
                                 {"write", false},
                                 {"notify", true},
                                 {"indicate", false},
                                 {"authenticatedSignedWrites", false}}}},
                              {{"uuid", full(Sim::LIGHT_CONTROL)},
                               {"props",
                                {{"broadcast", false},
                                 {"read", true},
                                 {"writeWithoutResponse", true},
                                 {"write", true},
                                 {"notify", false},
                                 {"indicate", false},
                                 {"authenticatedSignedWrites", false}}}}}}}};
    EXPECT_EQ(services["services"], expected);

    json notify = toLight(id, "notify", Sim::LIGHT_REPLIES);
    notify["req"] = 3;
    notify["on"] = true;
    page(notify);
    EXPECT_TRUE(waitReply(3)["ok"].get<bool>());

    json power = toLight(id, "write", Sim::LIGHT_CONTROL);
    power["req"] = 4;
    power["response"] = true;
    power["data"] = frame({0x33, 0x01, 0x01});
    page(power);
    EXPECT_EQ(waitReply(4), (json{{"t", "res"}, {"req", 4}, {"ok", true}}));

    json colour = toLight(id, "write", Sim::LIGHT_CONTROL);
    colour["req"] = 5;
    colour["data"] = frame({0x33, 0x05, 0x15, 0x01, 0xff, 0x00, 0x00, 0, 0, 0, 0, 0, 0xff, 0x7f});
    page(colour);
    EXPECT_TRUE(waitReply(5)["ok"].get<bool>());

    json query = toLight(id, "write", Sim::LIGHT_CONTROL);
    query["req"] = 6;
    query["data"] = frame({0xaa, 0x01});
    page(query);
    const std::string powerReply = frame({0xaa, 0x01, 0x01});
    ASSERT_TRUE(waitFor([&] {
        return countOf({{"t", "value"},
                        {"id", id},
                        {"svc", full(Sim::LIGHT_SERVICE)},
                        {"chr", full(Sim::LIGHT_REPLIES)},
                        {"data", powerReply}}) == 1;
    }));

    const VariantPtr light = sim.controlOk("LightState").child(0);
    EXPECT_TRUE(g_variant_get_boolean(light.lookup("power").get()));
    const VariantPtr first = light.lookup("segments").child(0);
    guint8 r = 0, g = 0, b = 0, brightness = 0;
    guint16 kelvin = 0;
    g_variant_get(first.get(), "(yyyyq)", &r, &g, &b, &brightness, &kelvin);
    EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{255, 0, 0}));

    // The link drops with requests waiting: each is answered, and the page told.
    sim.controlOk("DelayReplies", g_variant_new("(su)", Sim::LIGHT, 2000u));
    for (int req : {7, 8}) {
        json w = toLight(id, "write", Sim::LIGHT_CONTROL);
        w["req"] = req;
        w["response"] = true;
        w["data"] = frame({0xaa, 0x04});
        page(w);
    }
    settle();  // both writes are at the light
    sim.controlOk("DropLink", g_variant_new("(s)", Sim::LIGHT));
    for (int req : {7, 8})
        EXPECT_EQ(waitReply(req), (json{{"t", "res"}, {"req", req}, {"ok", false}, {"error", "Disconnected."}}));
    ASSERT_TRUE(waitFor([&] { return countOf({{"t", "disconnected"}, {"id", id}}) == 1; }));
    settle();
    EXPECT_EQ(countOf({{"t", "disconnected"}, {"id", id}}), 1u);
    EXPECT_TRUE(bridge->invariantsHold());
}

TEST_F(BluezBridgeTest, RefusedAndSilentConnectionsAreAnswered) {
    // The bridge's 10-second time-out in virtual time; BlueZ on the real loop.
    MainQueueVirtual clock;
    makeBridge(clock);
    const std::string id = lightId();

    // The page hears the bridge's sentence; BlueZ's own text goes to the log,
    // once, on one line, however long or strange it is.
    const std::string traceback = "Traceback (most recent call last):\n  File \"x\", line 1\n" + std::string(5000, 'x');
    const struct {
        const char* name;
        std::string text;
        const char* shown;
    } refusals[] = {
        {"org.bluez.Error.Failed", "le-connection-abort-by-local", "Couldn’t connect."},
        {"org.bluez.Error.Failed", traceback, "Couldn’t connect."},
        {"org.bluez.Error.NotReady", "Resource Not Ready", "Bluetooth is off."},
    };
    int req = 0;
    for (const auto& refusal : refusals) {
        sim.controlOk("RefuseConnections", g_variant_new("(sss)", Sim::LIGHT, refusal.name, refusal.text.c_str()));
        StderrCapture log;
        page({{"t", "connect"}, {"req", ++req}, {"id", id}});
        EXPECT_EQ(waitReply(req), (json{{"t", "res"}, {"req", req}, {"ok", false}, {"error", refusal.shown}}));
        const std::string logged = log.take();
        const std::string head = refusal.text.substr(0, 20);
        const auto first = logged.find(head);
        EXPECT_NE(first, std::string::npos) << refusal.name << ": " << logged;
        EXPECT_EQ(logged.find(head, first + 1), std::string::npos) << "logged more than once: " << logged;
        EXPECT_LT(logged.size(), 1200u) << "a long text is cut";
        EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 1) << logged;
    }

    sim.controlOk("RefuseConnections", g_variant_new("(sss)", Sim::LIGHT, "", ""));
    sim.controlOk("DelayConnections", g_variant_new("(su)", Sim::LIGHT, 60000u));
    page({{"t", "connect"}, {"req", 20}, {"id", id}});
    settle();  // BlueZ has the attempt
    EXPECT_FALSE(reply(20));
    clock.advance(10);
    const json& timedOut = waitReply(20);
    EXPECT_FALSE(timedOut["ok"].get<bool>());
    EXPECT_NE(timedOut["error"].get<std::string>().find("didn’t answer"), std::string::npos) << timedOut;

    // The attempt was called off at BlueZ too: the next one goes through.
    sim.controlOk("DelayConnections", g_variant_new("(su)", Sim::LIGHT, 0u));
    settle();
    page({{"t", "connect"}, {"req", 30}, {"id", id}});
    EXPECT_TRUE(waitReply(30)["ok"].get<bool>()) << waitReply(30);
}

TEST_F(BluezBridgeTest, RequestsWaitingWhenBlueZRemovesTheTableAreAnsweredInEitherOrder) {
    // BlueZ replaces the objects of a device whose table changed, removing a
    // service before its characteristics or after them.
    makeBridge(queue);
    const std::string id = lightId();
    GPtr<GDBusConnection> watcher = bus.connect();
    int req = 0;
    for (const bool servicesFirst : {true, false}) {
        page({{"t", "connect"}, {"req", ++req}, {"id", id}});
        ASSERT_TRUE(waitReply(req)["ok"].get<bool>()) << waitReply(req);
        page({{"t", "services"}, {"req", ++req}, {"id", id}});
        ASSERT_EQ(waitReply(req)["services"].size(), 1u) << waitReply(req);

        // Replies held at the light, then every kind of request waits.
        sim.controlOk("DelayReplies", g_variant_new("(su)", Sim::LIGHT, 60000u));
        const int first = req + 1;
        for (const bool response : {true, true, false}) {
            json w = toLight(id, "write", Sim::LIGHT_CONTROL);
            w["req"] = ++req;
            w["response"] = response;
            w["data"] = frame({0xaa, 0x01});
            page(w);
        }
        json n = toLight(id, "notify", Sim::LIGHT_REPLIES);
        n["req"] = ++req;
        n["on"] = true;
        page(n);
        settle();  // every request is at the light
        sim.controlOk("RemoveGatt", g_variant_new("(sb)", Sim::LIGHT, servicesFirst));
        for (int r = first; r <= req; ++r) {
            const json& answer = waitReply(r);
            EXPECT_EQ(countOf(answer), 1u) << r;
            // The write without response was answered when handed over.
            if (r != first + 2) {
                EXPECT_EQ(answer["error"], "The light’s services changed; ask for them again.") << answer;
            }
        }

        // "services" answers from what is there now. The stack's removals
        // reach the bridge one signal at a time, and the requests may have
        // been answered at the first: ask until the last has arrived.
        EXPECT_TRUE(waitFor([&] {
            page({{"t", "services"}, {"req", ++req}, {"id", id}});
            return waitReply(req) == json{{"t", "res"}, {"req", req}, {"ok", true}, {"services", json::array()}};
        })) << waitReply(req);

        sim.controlOk("DelayReplies", g_variant_new("(su)", Sim::LIGHT, 0u));
        page({{"t", "disconnect"}, {"id", id}});
        // Down at BlueZ too before the next round connects again.
        ASSERT_TRUE(waitFor([&] {
            const CallResult r =
                callSync(watcher.get(), "org.bluez", Sim::devicePath(Sim::LIGHT), "org.freedesktop.DBus.Properties",
                         "Get", g_variant_new("(ss)", "org.bluez.Device1", "Connected"));
            return r.ok() && !g_variant_get_boolean(r.value.child(0).child(0).get());
        }));
    }
    EXPECT_TRUE(bridge->invariantsHold());
}

TEST_F(BluezBridgeTest, WithoutTheServiceAConnectSaysSoRatherThanBlameTheHardware) {
    sim.stop();
    makeBridge(queue);
    page({{"t", "connect"}, {"req", 1}, {"id", "0C6E8A4D-1B2F-4C3D-9E8F-123456789ABC"}});
    const json& answer = waitReply(1);
    EXPECT_EQ(answer["error"], std::string(adapterRefusals.noService)) << answer;
    EXPECT_EQ(countOf({{"t", "state"}, {"state", "unsupported"}}), 1u);
}

}  // namespace
}  // namespace orvane::test
