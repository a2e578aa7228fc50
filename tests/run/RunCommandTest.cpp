// The run command as a newcomer meets it: scripts/launch (what scripts/run
// starts after building) with the real Orvane under Xvfb, looked at through
// the page itself. The machine's own buses are never touched: a private bus
// stands in for the system bus, empty or with a powered BlueZ on it.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "BluezSimProcess.h"
#include "CaseName.h"
#include "Inspector.h"
#include "PageServer.h"
#include "PrivateBus.h"
#include "Spin.h"
#include "Xvfb.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

unsigned freePort() {
    GPtr<GSocket> socket =
        adopt(g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr));
    GPtr<GInetAddress> loopback = adopt(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
    GPtr<GSocketAddress> any = adopt(g_inet_socket_address_new(loopback.get(), 0));
    g_socket_bind(socket.get(), any.get(), FALSE, nullptr);
    GPtr<GSocketAddress> bound = adopt(g_socket_get_local_address(socket.get(), nullptr));
    return g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound.get()));
}

// What must not be printed on the way in or out.
std::string noise(const std::string& output) {
    std::string found;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const bool simulator = line.starts_with("bluez-sim:") && line.find("is ready") == std::string::npos;
        if (simulator || line.find("-WARNING **") != std::string::npos || line.find("CRITICAL **") != std::string::npos)
            found += line + "\n";
    }
    return found;
}

// scripts/launch started as from a terminal (a process group of its own, so
// that Ctrl+C can be sent to it), its output in a file.
class Launch {
public:
    Launch(const fs::path& folder, const std::vector<std::string>& args, const std::map<std::string, std::string>& env)
        : log_(folder / "launch.log") {
        auto launcher = adopt(g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDERR_MERGE));
        g_subprocess_launcher_set_stdout_file_path(launcher.get(), log_.c_str());
        g_subprocess_launcher_set_child_setup(
            launcher.get(), [](gpointer) { setpgid(0, 0); }, nullptr, nullptr);
        for (const auto& [name, value] : env)
            g_subprocess_launcher_setenv(launcher.get(), name.c_str(), value.c_str(), TRUE);
        std::vector<const char*> argv{ORVANE_SOURCE_DIR "/scripts/launch", ORVANE_BUILD_DIR};
        for (const auto& arg : args) argv.push_back(arg.c_str());
        argv.push_back(nullptr);
        GErrorPtr error;
        process_ = adopt(g_subprocess_launcher_spawnv(launcher.get(), argv.data(), ErrorOut(error)));
        if (!process_) throw std::runtime_error(error->message);
        group_ = std::stoi(g_subprocess_get_identifier(process_.get()));
    }
    ~Launch() {
        if (running()) interrupt();
    }
    std::string output() const { return readText(log_); }
    bool running() const { return g_subprocess_get_identifier(process_.get()) != nullptr; }
    // Ctrl+C, as the terminal sends it to the whole foreground group; true when all of it ended.
    bool interrupt() {
        if (group_ > 0) ::kill(-group_, SIGINT);
        bool ended = false;
        g_subprocess_wait_async(
            process_.get(), nullptr, [](GObject*, GAsyncResult*, gpointer done) { *static_cast<bool*>(done) = true; },
            &ended);
        if (!spinUntil([&] { return ended; }, 30)) {
            if (group_ > 0) ::kill(-group_, SIGKILL);
            return false;
        }
        return true;
    }

private:
    fs::path log_;
    GPtr<GSubprocess> process_;
    pid_t group_ = 0;
};

class RunCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        display_ = std::make_unique<Xvfb>();
        // The display is for the processes started here. With it, GLib in this
        // process would start a session bus tied to it (D-Bus autolaunch), one
        // that outlives the test and takes its process group down with the display.
        unsetenv("DISPLAY");
    }
    static void TearDownTestSuite() { display_.reset(); }

    void SetUp() override {
        char* made = g_dir_make_tmp("orvane-run-test-XXXXXX", nullptr);
        ASSERT_TRUE(made);
        folder_ = made;
        g_free(made);
        fs::create_directories(folder_ / "config" / "orvane");
        // The inspector lets the test look into the page; no page address is set.
        defaults("[defaults]\ninspectable=true\n");
    }
    void TearDown() override { fs::remove_all(folder_); }

    void defaults(const std::string& text) { std::ofstream(folder_ / "config" / "orvane" / "defaults.ini") << text; }

    std::map<std::string, std::string> environment(const PrivateBus& systemBus) const {
        return {{"DISPLAY", display_->display()},
                {"GDK_BACKEND", "x11"},
                {"DBUS_SYSTEM_BUS_ADDRESS", systemBus.address()},
                {"XDG_CONFIG_HOME", (folder_ / "config").string()},
                {"XDG_STATE_HOME", (folder_ / "state").string()},
                {"XDG_DATA_HOME", (folder_ / "data").string()},
                {"NO_AT_BRIDGE", "1"},
                {"WEBKIT_INSPECTOR_HTTP_SERVER", "127.0.0.1:" + std::to_string(inspectorPort_)}};
    }

    static std::unique_ptr<Xvfb> display_;
    fs::path folder_;
    unsigned inspectorPort_ = freePort();
};
std::unique_ptr<Xvfb> RunCommand::display_;

struct SystemCase {
    const char* name;
    bool poweredAdapter;  // a BlueZ with a powered adapter on the system bus
};

class RunWithNothingConfigured : public RunCommand, public ::testing::WithParamInterface<SystemCase> {};

TEST_P(RunWithNothingConfigured, ShowsTheReferencePageWhoseScanFindsTheLight) {
    PrivateBus systemBus;
    std::unique_ptr<BluezSimProcess> systemBluez;
    if (GetParam().poweredAdapter) systemBluez = std::make_unique<BluezSimProcess>(systemBus);
    Launch launch(folder_, {}, environment(systemBus));

    Inspector page(inspectorPort_);
    const auto address = page.attach("http://127.0.0.1:");
    ASSERT_TRUE(address) << launch.output();
    const std::string output = launch.output();
    EXPECT_NE(output.find("Showing the reference page (web/) from " + *address + ";"), std::string::npos) << output;
    const bool simulated = output.find("using the simulated light strip (bluez-sim)") != std::string::npos;
    EXPECT_EQ(simulated, !GetParam().poweredAdapter) << output;

    // The reference page, with the bridge in it.
    ASSERT_TRUE(page.waitUntil("document.readyState === 'complete' && typeof window.__orvane === 'object'"));
    EXPECT_EQ(page.evaluate("__orvane.info.platform"), "linux");
    // Its Scan button, pressed as a person would, finds the light, and the page shows it.
    ASSERT_TRUE(page.evaluate(R"(
        window.__found = new Promise(found => __orvane.on("adv", m => m.name === "ihoment_H617C_1C7A" && found(m.id)))
          .then(id => window.__lightId = id);
        const scan = [...document.querySelectorAll("button")].find(b => b.textContent.trim() === "Scan");
        scan.click();
        true)"));
    EXPECT_TRUE(page.waitUntil("document.body.innerText.includes('ihoment_H617C_1C7A')")) << launch.output();
    // A request through the bridge is answered: the light connects.
    ASSERT_TRUE(page.waitUntil("typeof window.__lightId === 'string'"));
    page.evaluate(
        "__orvane.request({t: 'connect', id: __lightId}).then(r => window.__reply = r, e => window.__reply = "
        "String(e)); true");
    ASSERT_TRUE(page.waitUntil("window.__reply !== undefined"));
    EXPECT_EQ(page.evaluate("__reply.ok && __reply.name"), "ihoment_H617C_1C7A")
        << page.evaluate("JSON.stringify(__reply)")->dump();

    // Ctrl+C ends it all, quietly.
    ASSERT_TRUE(launch.interrupt()) << launch.output();
    EXPECT_EQ(noise(launch.output()), "");
    if (systemBluez) {
        EXPECT_TRUE(systemBluez->running()) << "the system BlueZ is left alone";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RunWithNothingConfigured,
                         ::testing::Values(SystemCase{"NoAdapterStartsTheSimulator", false},
                                           SystemCase{"APoweredAdapterIsUsed", true}),
                         CaseName());

TEST_F(RunCommand, WithAPageConfiguredStartsOrvaneAsTheDesktopDoes) {
    PrivateBus systemBus, sessionBus;
    PageServer server;
    server.serve("/own/", {"<!doctype html><title>Own page</title><p>the user's own page</p>"});
    const std::string configured = server.url("/own/");
    defaults("[defaults]\ninspectable=true\npageURL=" + configured + "\n");
    auto env = environment(systemBus);
    env["DBUS_SESSION_BUS_ADDRESS"] = sessionBus.address();
    Launch launch(folder_, {}, env);

    Inspector page(inspectorPort_);
    EXPECT_EQ(page.attach(configured), configured) << launch.output();
    // In the user's own session, with nothing served and no simulator.
    auto connection = sessionBus.connect();
    const auto owner = callSync(connection.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", ORVANE_BUNDLE_ID));
    ASSERT_TRUE(owner.ok()) << owner.text;
    EXPECT_EQ(print(owner.value), "(true,)");
    EXPECT_EQ(page.evaluate("document.title"), "Own page");
    ASSERT_TRUE(launch.interrupt());
    EXPECT_EQ(launch.output().find("reference page"), std::string::npos) << launch.output();
    EXPECT_EQ(launch.output().find("simulated"), std::string::npos) << launch.output();
}

}  // namespace
}  // namespace orvane::test
