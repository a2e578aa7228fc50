// The reference control page (web/index.html) in the real window, against
// the simulated BlueZ and its light strip: the page's own controls are
// clicked and dragged as a person would, and what the page then shows must be
// what the simulated light is.
//
// With ORVANE_SCREENSHOT=FILE set, ControlPagePicture saves the picture of a
// connected light that the README shows (scripts/screenshot).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "AppDelegate.h"
#include "BluezSimProcess.h"
#include "CentralBluez.h"
#include "MainQueueGlib.h"
#include "MainWindow.h"
#include "PageServer.h"
#include "Spin.h"
#include "WebProbe.h"
#include "Xvfb.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;
using test::BluezSimProcess;

std::string readPage() {
    std::ifstream in(ORVANE_TEST_WEB "/index.html");
    return {std::istreambuf_iterator<char>(in), {}};
}

// A JavaScript string literal for `text`.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

class ControlPageTest : public testing::Test {
protected:
    static void SetUpTestSuite() { startDisplayAndGtk(); }

    void SetUp() override {
        server.serve("/", {readPage()});
        BluezOptions bluez;
        bluez.busAddress = bus.address();
        MainWindowSettings settings;
        settings.pageUrl = *Url::parse(server.url("/"));
        settings.version = "1.0.0";
        settings.bundle = Bundle(ORVANE_TEST_BUNDLE);
        settings.windowState = fs::path(bus.folder()) / "window.ini";
        // The app's own backends, with BlueZ on the test's bus; no bundle
        // to update, so an update stops after its check.
        settings.backends = linuxPageBackends(queue, Bundle());
        settings.backends.makeCentral = makeCentralBluez(queue, bluez);
        settings.openExternal = [](const Url&) {};
        window = MainWindow::create(queue, std::move(settings));
    }
    void TearDown() override {
        if (window) window->shutdown();
        window.reset();
    }

    void open() {
        window->show();
        ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));
    }

    std::string js(const std::string& script) { return evaluate(window->webView(), script).value_or("(threw)"); }
    bool waitFor(const std::string& condition, double seconds = 30) {
        return spinUntil([&] { return js("Boolean(" + condition + ")") == "true"; }, seconds);
    }
    // Clicks an element the way a click reaches it: only when it can be
    // clicked (present, enabled, outside an inert part).
    bool click(const std::string& selector) {
        return js("(() => { const e = document.querySelector(" + quoted(selector) +
                  ");"
                  " if (!e || e.matches(':disabled') || e.closest('[inert]')) return false;"
                  " e.focus(); e.click(); return true; })()") == "true";
    }
    // Drags a slider through `values`: an input event for each, a change at the end.
    void drag(const std::string& id, const std::vector<int>& values) {
        for (int v : values)
            js("(() => { const s = document.getElementById('" + id + "'); s.value = " + std::to_string(v) +
               "; s.dispatchEvent(new Event('input', {bubbles: true})); })()");
        js("document.getElementById('" + id + "').dispatchEvent(new Event('change', {bubbles: true}))");
    }
    std::string text(const std::string& selector) {
        return js("document.querySelector(" + quoted(selector) + ")?.textContent ?? null");
    }
    std::string deviceId(const std::string& name) {
        const std::string quotedId =
            js("[...document.querySelectorAll('#devices li')].find((li) => "
               "li.querySelector('.name')?.textContent === " +
               quoted(name) + ")?.dataset.id ?? ''");
        return quotedId.size() >= 2 ? quotedId.substr(1, quotedId.size() - 2) : "";
    }
    bool connectTo(const std::string& name) {
        if (!waitFor("[...document.querySelectorAll('#devices .name')].some((n) => n.textContent === " + quoted(name) +
                     ")"))
            return false;
        const std::string selector = "#devices li[data-id='" + deviceId(name) + "'] button";
        return click(selector);
    }

    // What the page shows of the light: its summary line and the state of
    // the controls, in one text.
    std::string shown() {
        return js(
            "(() => { const q = (s) => document.querySelector(s);"
            " const pressed = (s) => [...document.querySelectorAll(s)]"
            "   .filter((b) => b.getAttribute('aria-pressed') === 'true').map((b) => b.textContent || "
            "b.dataset.colour);"
            " return [q('#summary').textContent, 'power ' + pressed('#on, #off'),"
            "   'brightness ' + q('#brightness').value, 'colour ' + q('#colour').value,"
            "   'scene ' + pressed('[data-scene]'), 'swatch ' + pressed('.swatches button')].join(' | '); })()");
    }
    // The same, built from the simulated light's own state.
    std::string light() {
        VariantPtr state = sim.controlOk("LightState").child(0);
        const bool power = g_variant_get_boolean(state.lookup("power").get());
        const int brightness = g_variant_get_byte(state.lookup("brightness").get());
        const std::string mode = g_variant_get_string(state.lookup("mode").get(), nullptr);
        guint8 r, g, b, segmentBrightness;
        guint16 kelvin;
        g_variant_get_child(state.lookup("segments").get(), 0, "(yyyyq)", &r, &g, &b, &segmentBrightness, &kelvin);
        char colour[8];
        std::snprintf(colour, sizeof colour, "#%02x%02x%02x", r, g, b);
        const std::map<int, std::string> scenes{{0, "Sunrise"}, {1, "Sunset"}, {4, "Movie"}, {5, "Dating"}};
        const int scene = g_variant_get_uint16(state.lookup("scene").get());
        const std::set<std::string> swatches{"#ff5a5f", "#ffd166", "#06d6a0", "#3d6df2", "#b967ff", "#ffffff"};

        std::ostringstream out;
        out << '"' << (power ? "On" : "Off") << ", " << brightness << "%, ";
        if (mode == "scene") out << scenes.at(scene);
        else if (kelvin) out << "white " << kelvin << " K";
        else out << "colour " << colour;
        out << " | power " << (power ? "On" : "Off") << " | brightness " << brightness << " | colour " << colour
            << " | scene " << (mode == "scene" ? scenes.at(scene) : "") << " | swatch "
            << (mode == "static" && !kelvin && swatches.count(colour) ? colour : "") << '"';
        return out.str();
    }
    // Waits until the page shows the light as it is and `also` holds.
    ::testing::AssertionResult showsTheLight(const std::function<bool()>& also = [] { return true; }) {
        if (spinUntil([&] { return also() && shown() == light(); }, 30)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "page:  " << shown() << "\nlight: " << light();
    }
    VariantPtr lightState() { return sim.controlOk("LightState").child(0); }

    bool deviceConnected(const std::string& address) {
        GPtr<GDBusConnection> client = bus.connect();
        auto result = test::callSync(client.get(), "org.bluez", BluezSimProcess::devicePath(address),
                                     "org.freedesktop.DBus.Properties", "Get",
                                     g_variant_new("(ss)", "org.bluez.Device1", "Connected"));
        if (!result.ok()) return false;
        VariantPtr inner = VariantPtr::adopt(g_variant_get_variant(result.value.child(0).get()));
        return g_variant_get_boolean(inner.get());
    }

    // Saves what the web view shows as a PNG file.
    bool snapshot(const std::string& file) {
        struct Shot {
            bool done = false;
            GdkTexture* texture = nullptr;
        } shot;
        webkit_web_view_get_snapshot(
            window->webView(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
            [](GObject* view, GAsyncResult* result, gpointer data) {
                auto* s = static_cast<Shot*>(data);
                s->texture = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(view), result, nullptr);
                s->done = true;
            },
            &shot);
        if (!spinUntil([&] { return shot.done; }) || !shot.texture) return false;
        const bool saved = gdk_texture_save_to_png(shot.texture, file.c_str());
        g_object_unref(shot.texture);
        return saved;
    }

    MainQueueGlib queue;
    test::PrivateBus bus;
    BluezSimProcess sim{bus};
    PageServer server;
    std::shared_ptr<MainWindow> window;
};

TEST_F(ControlPageTest, DrivesTheSimulatedLightAndShowsWhatTheLightReportsBack) {
    open();
    // Before the first scan: no Bluetooth yet, and nothing to reach in the light's panel.
    EXPECT_EQ(text("#adapter"), "\"Bluetooth starts with the first scan\"");
    EXPECT_EQ(js("document.getElementById('panel').inert && document.getElementById('on').matches(':disabled')"),
              "true");
    EXPECT_FALSE(click("#on"));

    ASSERT_TRUE(click("#scan"));
    EXPECT_EQ(text("#scan"), "\"Stop\"");
    EXPECT_EQ(js("document.getElementById('scan').getAttribute('aria-pressed')"), "\"true\"");
    ASSERT_TRUE(waitFor("document.getElementById('adapter').textContent === 'Bluetooth on'"));
    // The rows stay while advertisements update them: a row rebuilt between
    // press and release would swallow the click.
    ASSERT_TRUE(waitFor("document.querySelector('#devices li.light')"));
    js("window.kept = document.querySelector('#devices li.light button');"
       "window.signal = document.querySelector('#devices li.light .rssi').textContent");
    ASSERT_TRUE(waitFor("document.querySelector('#devices li.light .rssi').textContent !== window.signal"));
    EXPECT_EQ(js("window.kept.isConnected"), "true");
    ASSERT_TRUE(connectTo(BluezSimProcess::LIGHT_NAME));
    ASSERT_TRUE(waitFor("document.getElementById('link').textContent === " + quoted(BluezSimProcess::LIGHT_NAME)));

    // What the light says after connecting, not what the page started with.
    EXPECT_TRUE(showsTheLight());
    EXPECT_EQ(text("#brightnessValue"), "\"100%\"");

    ASSERT_TRUE(click("#on"));
    EXPECT_TRUE(showsTheLight([&] { return g_variant_get_boolean(lightState().lookup("power").get()); }));

    ASSERT_TRUE(click(".swatches button[data-colour='#ff5a5f']"));
    EXPECT_TRUE(showsTheLight([&] { return light().find("colour #ff5a5f") != std::string::npos; }));

    // A drag: the light follows, and the value let go of is the one it keeps.
    sim.controlOk("ClearWrites");
    std::vector<int> path;
    for (int v = 100; v >= 30; v -= 2) path.push_back(v);
    path.push_back(37);
    drag("brightness", path);
    EXPECT_TRUE(showsTheLight([&] { return g_variant_get_byte(lightState().lookup("brightness").get()) == 37; }));
    std::vector<int> sent;
    for (const auto& [type, bytes] : sim.writes(BluezSimProcess::LIGHT, BluezSimProcess::LIGHT_CONTROL))
        if (bytes.size() == 20 && bytes[0] == 0x33 && bytes[1] == 0x04) sent.push_back(bytes[2]);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), 37);
    EXPECT_LE(sent.size(), path.size());

    ASSERT_TRUE(click("[data-scene='1']"));
    EXPECT_TRUE(showsTheLight([&] { return light().find("Sunset") != std::string::npos; }));

    // Someone else turns the light off: the page's regular query finds out.
    GPtr<GDBusConnection> other = bus.connect();
    const std::vector<std::uint8_t> off{0x33, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x32};
    GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, off.data(), off.size(), 1);
    ASSERT_TRUE(test::callSync(other.get(), "org.bluez", BluezSimProcess::lightControlPath(),
                               "org.bluez.GattCharacteristic1", "WriteValue",
                               g_variant_new("(@ay@a{sv})", bytes, g_variant_new_parsed("@a{sv} {}")))
                    .ok());
    EXPECT_TRUE(
        showsTheLight([&] { return js("document.getElementById('off').getAttribute('aria-pressed')") == "\"true\""; }));

    // The log reads as what happened; the frames are there behind details.
    const std::string log = text("#log");
    EXPECT_NE(log.find("Connected to ihoment_H617C_1C7A"), std::string::npos) << log;
    EXPECT_NE(log.find("Power on"), std::string::npos) << log;
    EXPECT_NE(log.find("Scene Sunset"), std::string::npos) << log;
    EXPECT_EQ(log.find("aa01"), std::string::npos) << log;
    ASSERT_TRUE(click("#details"));
    EXPECT_NE(text("#log").find("→ aa010000"), std::string::npos);

    // Disconnecting closes the panel again.
    ASSERT_TRUE(click("#devices li.light button"));
    ASSERT_TRUE(spinUntil([&] { return !deviceConnected(BluezSimProcess::LIGHT); }));
    EXPECT_EQ(text("#link"), "\"not connected\"");
    EXPECT_FALSE(click("#on"));
    ASSERT_TRUE(click("#scan"));
    EXPECT_EQ(text("#scan"), "\"Scan\"");
}

// The light stayed linked behind the offline page until a page came back and
// said "hello".
TEST_F(ControlPageTest, TheLinkEndsWhenTheWindowStopsShowingTheControlPage) {
    open();
    for (const bool processEnds : {false, true}) {
        SCOPED_TRACE(processEnds ? "its process ended" : "the offline page shows");
        if (processEnds) {
            window->load();
            ASSERT_TRUE(waitForLoad(window->webView(), server.url("/")));
        }
        ASSERT_TRUE(click("#scan"));
        ASSERT_TRUE(connectTo("ihoment_H617C_1C7A"));
        ASSERT_TRUE(spinUntil([&] { return deviceConnected(BluezSimProcess::LIGHT); }));
        if (processEnds) webkit_web_view_terminate_web_process(window->webView());
        else window->navigation().showOffline();
        EXPECT_TRUE(spinUntil([&] { return !deviceConnected(BluezSimProcess::LIGHT); }));
    }
}

TEST_F(ControlPageTest, ADeviceThatIsNoLightIsLetGoWithAClearMessage) {
    open();
    ASSERT_TRUE(click("#onlyLights"));  // show every device
    ASSERT_TRUE(click("#scan"));
    ASSERT_TRUE(connectTo("HRM 7B2F"));
    ASSERT_TRUE(waitFor("document.querySelector('#status .notice.error')"));
    EXPECT_EQ(text("#status .notice.error .text"),
              "\"HRM 7B2F is not a light this page can drive. Disconnected from it.\"");
    EXPECT_TRUE(spinUntil([&] { return !deviceConnected(BluezSimProcess::SENSOR); }));
    EXPECT_EQ(text("#link"), "\"not connected\"");
    EXPECT_FALSE(click("#on"));
    // The message can be sent away at once.
    ASSERT_TRUE(click("#status .notice.error button"));
    EXPECT_EQ(js("document.querySelectorAll('#status .notice').length"), "0");
}

TEST_F(ControlPageTest, ProgressAndFailuresShowAtTheTopAndGoAway) {
    open();
    ASSERT_TRUE(click("#scan"));
    // A slow connection shows that it is under way, then stops showing it.
    sim.controlOk("DelayConnections", g_variant_new("(su)", BluezSimProcess::LIGHT, 3000u));
    ASSERT_TRUE(connectTo(BluezSimProcess::LIGHT_NAME));
    EXPECT_EQ(text("#status .notice .text"), "\"Connecting to ihoment_H617C_1C7A…\"");
    EXPECT_EQ(text("#devices li.light button"), "\"Connecting…\"");
    EXPECT_EQ(text("#link"), "\"connecting to ihoment_H617C_1C7A…\"");
    ASSERT_TRUE(waitFor("document.getElementById('link').textContent === " + quoted(BluezSimProcess::LIGHT_NAME)));
    EXPECT_EQ(js("document.querySelectorAll('#status .notice').length"), "0");
    ASSERT_TRUE(click("#devices li.light button"));  // disconnect
    ASSERT_TRUE(spinUntil([&] { return !deviceConnected(BluezSimProcess::LIGHT); }));

    // A refused one says why, and the device can be tried again.
    sim.controlOk("DelayConnections", g_variant_new("(su)", BluezSimProcess::LIGHT, 0u));
    sim.controlOk("RefuseConnections",
                  g_variant_new("(sss)", BluezSimProcess::LIGHT, "org.bluez.Error.Failed", "Connection refused"));
    ASSERT_TRUE(connectTo(BluezSimProcess::LIGHT_NAME));
    ASSERT_TRUE(waitFor("document.querySelector('#status .notice.error')"));
    EXPECT_EQ(text("#status .notice.error .text").rfind("\"Couldn't connect to ihoment_H617C_1C7A: ", 0), 0u)
        << text("#status .notice.error .text");
    EXPECT_EQ(text("#devices li.light button"), "\"Connect\"");
    EXPECT_EQ(text("#link"), "\"not connected\"");
    ASSERT_TRUE(click("#status .notice.error button"));

    // An update that fails says so at the top; the button stays a button.
    ASSERT_TRUE(click("#update"));
    ASSERT_TRUE(waitFor("document.querySelector('#status .notice.error')"));
    EXPECT_EQ(text("#status .notice.error .text").rfind("\"The update failed: ", 0), 0u)
        << text("#status .notice.error .text");
    EXPECT_EQ(text("#update"), "\"Update\"");
    EXPECT_EQ(js("document.getElementById('update').disabled"), "false");
}

TEST_F(ControlPageTest, ControlPagePicture) {
    const char* file = std::getenv("ORVANE_SCREENSHOT");
    if (!file || !*file) GTEST_SKIP() << "set ORVANE_SCREENSHOT=FILE.png to save the README's picture";
    gtk_window_set_default_size(window->window(), 1100, 640);
    open();
    ASSERT_TRUE(click("#scan"));
    ASSERT_TRUE(connectTo(BluezSimProcess::LIGHT_NAME));
    ASSERT_TRUE(waitFor("document.getElementById('link').textContent === " + quoted(BluezSimProcess::LIGHT_NAME)));
    ASSERT_TRUE(showsTheLight());
    ASSERT_TRUE(click("#on"));
    ASSERT_TRUE(click(".swatches button[data-colour='#3d6df2']"));
    drag("brightness", {90, 85, 80});
    ASSERT_TRUE(showsTheLight([&] { return light().find("On, 80%, colour #3d6df2") != std::string::npos; }));
    js("document.activeElement.blur()");

    EXPECT_TRUE(snapshot(file));
}

}  // namespace
}  // namespace orvane
