// Launches the assembled bundle's executable as its own process, with its own
// settings and state folders, a private session bus and a local page.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "BluezSimProcess.h"
#include "GRef.h"
#include "PageServer.h"
#include "Spin.h"
#include "Xvfb.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

class BundleSmokeTest : public testing::Test {
protected:
    static void SetUpTestSuite() { startDisplayAndGtk(); }

    void SetUp() override {
        // A private bus unsets DISPLAY; the app still needs ours, which GDK knows.
        const std::string display = gdk_display_get_name(gdk_display_get_default());
        bus = adopt(g_test_dbus_new(G_TEST_DBUS_NONE));
        g_test_dbus_up(bus.get());
        g_setenv("DISPLAY", display.c_str(), TRUE);
        home = fs::temp_directory_path() / ("orvane-smoke-" + std::to_string(::getpid()));
        fs::remove_all(home);
        fs::create_directories(home / "config/orvane");
        // The page tells the server when it has loaded, with the bridge's view
        // of the app, and then keeps sending signs of life that name its document.
        server.serve("/", {R"(<!doctype html><title>Smoke</title><script>
            addEventListener("load", () => {
              fetch("/loaded?" + encodeURIComponent(JSON.stringify(__orvane.info)));
              const doc = Math.random().toString(36).slice(2);
              setInterval(() => fetch("/alive/" + doc), 50);
            });
            </script>)"});
        server.serve("/loaded", {"ok", "text/plain"});
        std::ofstream(home / "config/orvane/defaults.ini") << "[defaults]\npageURL=" << server.url("/") << "\n";
    }

    void TearDown() override {
        g_test_dbus_down(bus.get());
        fs::remove_all(home);
    }

    GPtr<GSubprocess> launch(const std::string& systemBus = {}) {
        GPtr<GSubprocessLauncher> launcher = adopt(g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE));
        if (!systemBus.empty())
            g_subprocess_launcher_setenv(launcher.get(), "DBUS_SYSTEM_BUS_ADDRESS", systemBus.c_str(), TRUE);
        g_subprocess_launcher_setenv(launcher.get(), "XDG_CONFIG_HOME", (home / "config").c_str(), TRUE);
        g_subprocess_launcher_setenv(launcher.get(), "XDG_STATE_HOME", (home / "state").c_str(), TRUE);
        GErrorPtr error;
        const std::string exe = std::string(ORVANE_TEST_BUNDLE) + "/Contents/Linux/orvane";
        auto process = adopt(g_subprocess_launcher_spawn(launcher.get(), ErrorOut(error), exe.c_str(), nullptr));
        EXPECT_TRUE(process) << (error ? error->message : "");
        return process;
    }

    static bool exited(GSubprocess* process) {
        return spinUntil([&] {
            g_subprocess_wait_async(process, nullptr, nullptr, nullptr);
            return g_subprocess_get_identifier(process) == nullptr;
        });
    }

    void quit();

    GPtr<GTestDBus> bus;
    PageServer server;
    fs::path home;
};

TEST_F(BundleSmokeTest, LoadsTheConfiguredPageIsSingleInstanceAndQuitsCleanly) {
    auto first = launch();
    ASSERT_TRUE(first);
    ASSERT_TRUE(
        spinUntil([&] { return server.count("/loaded") == 1 || !g_subprocess_get_identifier(first.get()); }, 60));
    ASSERT_EQ(server.count("/loaded"), 1u);
    EXPECT_TRUE(server.requests().front().userAgent.ends_with(" Orvane/" ORVANE_TEST_VERSION));

    // A second launch hands over to the first and ends at once.
    auto second = launch();
    ASSERT_TRUE(exited(second.get()));
    EXPECT_EQ(g_subprocess_get_exit_status(second.get()), 0);
    // The first showed its window again before the second ended. Two signs of
    // life of the page after that, from the document loaded at the start: a
    // reload would have been under way by then, and would make a new one.
    const auto alive = [&] {
        std::vector<std::string> docs;
        for (const auto& request : server.requests())
            if (request.path.starts_with("/alive/")) docs.push_back(request.path);
        return docs;
    };
    const std::size_t before = alive().size();
    ASSERT_TRUE(spinUntil([&] { return alive().size() >= before + 2; }));
    const auto docs = alive();
    EXPECT_EQ(std::count(docs.begin(), docs.end(), docs.front()), std::ptrdiff_t(docs.size()))
        << "showing the window again must not reload the page";
    EXPECT_EQ(server.count("/"), 1u) << "showing the window again must not reload the page";

    quit();
    ASSERT_TRUE(exited(first.get()));
    EXPECT_TRUE(g_subprocess_get_if_exited(first.get()));
    EXPECT_EQ(g_subprocess_get_exit_status(first.get()), 0);
    EXPECT_TRUE(fs::exists(home / "state/orvane/window.ini")) << "the window frame is saved on the way out";
}

TEST_F(BundleSmokeTest, QuittingWhileConnectedLetsGoOfTheLight) {
    test::PrivateBus system;
    test::BluezSimProcess sim(system);
    // The page connects to the light as soon as it sees it, then reports.
    server.serve("/", {R"(<!doctype html><title>Connect</title><script>
        let asked = false;
        __orvane.on("adv", async (m) => {
          if (asked || m.name !== "ihoment_H617C_1C7A") return;
          asked = true;
          await __orvane.request({t: "connect", id: m.id});
          fetch("/loaded");
        });
        __orvane.post({t: "scan", on: true});
        </script>)"});
    auto app = launch(system.address());
    ASSERT_TRUE(app);
    ASSERT_TRUE(spinUntil([&] { return server.count("/loaded") == 1 || !g_subprocess_get_identifier(app.get()); }, 60));
    ASSERT_EQ(server.count("/loaded"), 1u);
    auto systemBus = system.connect();
    const auto connected = [&] {
        auto reply = test::callSync(
            systemBus.get(), "org.bluez", test::BluezSimProcess::devicePath(test::BluezSimProcess::LIGHT),
            "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", "org.bluez.Device1", "Connected"));
        if (!reply.ok()) return false;
        VariantPtr value = VariantPtr::adopt(g_variant_get_variant(reply.value.child(0).get()));
        return g_variant_get_boolean(value.get()) != FALSE;
    };
    ASSERT_TRUE(connected());

    quit();
    ASSERT_TRUE(exited(app.get()));
    EXPECT_EQ(g_subprocess_get_exit_status(app.get()), 0);
    EXPECT_TRUE(spinUntil([&] { return !connected(); }, 10))
        << "the light must not stay bound to a central that is gone";
}

void BundleSmokeTest::quit() {
    // Through the application's own action, as the menu and Ctrl+Q do.
    GErrorPtr error;
    GPtr<GDBusConnection> session = adopt(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, ErrorOut(error)));
    ASSERT_TRUE(session) << error->message;
    std::string path = "/" + std::string(ORVANE_TEST_BUNDLE_ID);
    std::replace(path.begin(), path.end(), '.', '/');
    // Waits for the reply: the connection goes with this function.
    VariantPtr reply = VariantPtr::adopt(
        g_dbus_connection_call_sync(session.get(), ORVANE_TEST_BUNDLE_ID, path.c_str(), "org.gtk.Actions", "Activate",
                                    g_variant_new("(sava{sv})", "quit", nullptr, nullptr), nullptr,
                                    G_DBUS_CALL_FLAGS_NONE, -1, nullptr, ErrorOut(error)));
    EXPECT_TRUE(reply) << error->message;
}

}  // namespace
}  // namespace orvane
