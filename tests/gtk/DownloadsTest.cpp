// Downloads with the real window and web view: where they go, what replaces
// what, a cancelled save, and a server that drops the connection midway.

#include <adwaita.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <deque>
#include <filesystem>
#include <fstream>
#include <set>

#include "CaseName.h"
#include "FakeInput.h"
#include "MainQueueGlib.h"
#include "MainWindow.h"
#include "PageServer.h"
#include "Spin.h"
#include "WebProbe.h"
#include "Xvfb.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPage = R"(<!doctype html><title>Downloads</title>
<a id="get" href="/file.bin" download>get</a>)";

std::string pattern(std::size_t size, char seed) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>(seed + i * 7 % 251);
    return body;
}

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

// The visible message dialogs on `parent`.
std::vector<GtkWindow*> sheetsOn(GtkWindow* parent) {
    std::vector<GtkWindow*> sheets;
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(toplevels); ++i) {
        GPtr<GtkWindow> window = adopt(GTK_WINDOW(g_list_model_get_item(toplevels, i)));
        if (ADW_IS_MESSAGE_DIALOG(window.get()) && gtk_window_get_transient_for(window.get()) == parent &&
            gtk_widget_get_visible(GTK_WIDGET(window.get())))
            sheets.push_back(window.get());
    }
    return sheets;
}

// Answers a request, then sends part of the body it promised and holds the
// connection until dropped: a server going away in the middle of a download.
class DroppingServer {
public:
    enum class End { held, closedAtOnce };
    DroppingServer(std::size_t promised, std::size_t sent, End end = End::held)
        : promised_(promised), sent_(sent), end_(end) {
        service_ = adopt(g_socket_service_new());
        GPtr<GInetAddress> loopback = adopt(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
        GPtr<GSocketAddress> address = adopt(g_inet_socket_address_new(loopback.get(), 0));
        GPtr<GSocketAddress> bound;
        GSocketAddress* effective = nullptr;
        g_socket_listener_add_address(G_SOCKET_LISTENER(service_.get()), address.get(), G_SOCKET_TYPE_STREAM,
                                      G_SOCKET_PROTOCOL_TCP, nullptr, &effective, nullptr);
        bound = adopt(effective);
        port_ = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound.get()));
        g_signal_connect(service_.get(), "incoming", G_CALLBACK(&DroppingServer::incoming), this);
        g_socket_service_start(service_.get());
    }
    ~DroppingServer() {
        drop();
        g_socket_service_stop(service_.get());
        g_signal_handlers_disconnect_by_data(service_.get(), this);
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    void drop() {
        for (auto& connection : held_) g_io_stream_close(G_IO_STREAM(connection.get()), nullptr, nullptr);
        held_.clear();
    }

private:
    static gboolean incoming(GSocketService*, GSocketConnection* connection, GObject*, gpointer data) {
        auto* self = static_cast<DroppingServer*>(data);
        GInputStream* in = g_io_stream_get_input_stream(G_IO_STREAM(connection));
        std::string request;
        std::array<char, 4096> buffer{};
        while (request.find("\r\n\r\n") == std::string::npos) {
            const gssize n = g_input_stream_read(in, buffer.data(), buffer.size(), nullptr, nullptr);
            if (n <= 0) return TRUE;
            request.append(buffer.data(), static_cast<std::size_t>(n));
        }
        const std::string head = std::string("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n") +
                                 // Said before it closes, as a server that keeps no connections does.
                                 (self->end_ == End::closedAtOnce ? "Connection: close\r\n" : "") +
                                 "Content-Disposition: attachment; filename=\"big.bin\"\r\n"
                                 "Content-Length: " +
                                 std::to_string(self->promised_) + "\r\n\r\n";
        const std::string response = head + pattern(self->sent_, 'a');
        g_output_stream_write_all(g_io_stream_get_output_stream(G_IO_STREAM(connection)), response.data(),
                                  response.size(), nullptr, nullptr, nullptr);
        if (self->end_ == End::closedAtOnce) g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
        else self->held_.push_back(retain(connection));
        return TRUE;
    }

    std::size_t promised_, sent_;
    End end_;
    GPtr<GSocketService> service_;
    unsigned port_ = 0;
    std::vector<GPtr<GSocketConnection>> held_;
};

class DownloadsTest : public testing::Test {
protected:
    static void SetUpTestSuite() { startDisplayAndGtk(); }

    void SetUp() override {
        server.serve("/", {kPage});
        server.serve("/file.bin", {body, "application/octet-stream"});
        dir = fs::temp_directory_path() / ("orvane-downloads-" + std::to_string(::getpid()) + "-" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::remove_all(dir);
        fs::remove(unfinishedList());
    }
    fs::path unfinishedList() const { return dir.parent_path() / (dir.filename().string() + ".unfinished"); }

    std::shared_ptr<MainWindow> shown() {
        MainWindowSettings settings;
        settings.pageUrl = *Url::parse(server.url("/"));
        settings.version = "1.0";
        settings.bundle = Bundle(ORVANE_TEST_BUNDLE);
        settings.windowState = dir.parent_path() / (dir.filename().string() + ".ini");
        settings.unfinishedDownloads = unfinishedList();
        // Each save answers with the next path; an empty one cancels.
        settings.chooseFiles = [this](GtkWindow*, const FileQuestion& question, const FileAnswer& done) {
            asked.push_back(question);
            std::string next = saves.empty() ? std::string() : saves.front();
            if (!saves.empty()) saves.pop_front();
            done(next.empty() ? std::vector<std::string>{} : std::vector<std::string>{next});
        };
        settings.openDownload = [this](const std::string& path) { opened.push_back(path); };
        settings.showDownloadInFolder = [this](const std::string& path) { shownInFolder.push_back(path); };
        auto window = MainWindow::create(queue, std::move(settings));
        window->show();
        EXPECT_TRUE(waitForLoad(window->webView(), server.url("/")));
        return window;
    }

    // Clicks the page's download link and waits until the download has ended.
    // The click is the page's own, so the user's is stood in for.
    void downloadByLink(MainWindow& window) {
        const std::size_t before = ended;
        window.navigation().userActed();
        evaluate(window.webView(), "document.getElementById('get').click()");
        ASSERT_TRUE(spinUntil([&] { return ended > before; }));
    }

    // Counts downloads of every view as they end (after the window's own
    // handlers, which were connected first).
    void watchEnds(MainWindow& window) {
        endWatch = connectWith(webkit_web_view_get_network_session(window.webView()), "download-started",
                               G_CALLBACK(+[](WebKitNetworkSession*, WebKitDownload* download, DownloadsTest** self) {
                                   g_signal_connect(download, "finished", G_CALLBACK(+[](WebKitDownload*, gpointer t) {
                                                        ++static_cast<DownloadsTest*>(t)->ended;
                                                    }),
                                                    *self);
                               }),
                               this);
    }

    MainQueueGlib queue;
    PageServer server;
    const std::string body = pattern(200000, 'A');
    fs::path dir;
    std::deque<std::string> saves;
    std::vector<FileQuestion> asked;
    std::vector<std::string> opened, shownInFolder;
    std::size_t ended = 0;
    SignalConnection endWatch;
};

TEST_F(DownloadsTest, SavesWhereChosenAndOpensFromTheHeaderBar) {
    auto window = shown();
    watchEnds(*window);
    const fs::path target = dir / "picked.bin";
    saves = {target.string()};
    downloadByLink(*window);

    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].kind, FileQuestion::Kind::save);
    EXPECT_EQ(asked[0].suggestedName, "file.bin");
    EXPECT_EQ(contents(target), body);
    EXPECT_EQ(listing(dir), std::set<std::string>{"picked.bin"}) << "nothing written beside it";
    EXPECT_TRUE(sheetsOn(window->window()).empty());

    const auto& entries = window->downloads().entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].state, DownloadEntry::State::finished);
    DownloadsIndicator& indicator = window->downloadsIndicator();
    EXPECT_TRUE(gtk_widget_get_visible(indicator.widget()));
    EXPECT_EQ(gtk_widget_get_ancestor(indicator.widget(), GTK_TYPE_WINDOW), GTK_WIDGET(window->window()));
    EXPECT_DOUBLE_EQ(indicator.progress(), 1);
    EXPECT_EQ(indicator.stateText(0), "200.0\u00a0kB") << "its size";
    EXPECT_FALSE(gtk_widget_get_visible(indicator.cancelButton(0)));
    indicator.activate(0);
    EXPECT_EQ(opened, std::vector<std::string>{target.string()});
    ASSERT_TRUE(gtk_widget_get_visible(indicator.folderButton(0)));
    g_signal_emit_by_name(indicator.folderButton(0), "clicked");
    EXPECT_EQ(shownInFolder, std::vector<std::string>{target.string()});

    // The window says it finished, and offers both.
    AdwToast* notice = window->notices().current();
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(window->notices().text(), "“picked.bin” downloaded");
    g_signal_emit_by_name(notice, "button-clicked");
    EXPECT_EQ(opened.size(), 2u);
}

// A name that looks like markup is shown as it is.
TEST_F(DownloadsTest, TheNoticeShowsTheNameAsItIs) {
    auto window = shown();
    watchEnds(*window);
    saves = {(dir / "a <b> & c.bin").string()};
    downloadByLink(*window);
    ASSERT_NE(window->notices().current(), nullptr);
    GtkWidget* title = adw_toast_get_custom_title(window->notices().current());
    ASSERT_TRUE(title && GTK_IS_LABEL(gtk_widget_get_first_child(title)));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(gtk_widget_get_first_child(title))), "“a <b> & c.bin” downloaded");
}

// Cancel while it runs: the chosen path keeps what it had, nothing is left
// beside it, and no failure is reported.
TEST_F(DownloadsTest, CancelStopsADownloadUnderWayAndLeavesTheChosenPathAsItWas) {
    DroppingServer dropping(1000000, 300000);
    auto window = shown();
    watchEnds(*window);
    const fs::path target = dir / "big.bin";
    std::ofstream(target) << "the user's";
    saves = {target.string()};
    window->navigation().userActed();
    GPtr<WebKitDownload> download =
        adopt(webkit_web_view_download_uri(window->webView(), dropping.url("/big.bin").c_str()));
    const auto& entries = window->downloads().entries();
    ASSERT_TRUE(spinUntil([&] { return !entries.empty() && entries[0].received == 300000; }));
    DownloadsIndicator& indicator = window->downloadsIndicator();
    EXPECT_EQ(indicator.stateText(0), "300.0\u00a0kB of 1.0\u00a0MB");
    ASSERT_TRUE(gtk_widget_get_visible(indicator.cancelButton(0)));
    g_signal_emit_by_name(indicator.cancelButton(0), "clicked");
    ASSERT_TRUE(spinUntil([&] { return ended == 1; }));
    EXPECT_EQ(entries[0].state, DownloadEntry::State::cancelled);
    EXPECT_EQ(indicator.stateText(0), "Cancelled");
    EXPECT_FALSE(gtk_widget_get_visible(indicator.cancelButton(0)));
    EXPECT_EQ(contents(target), "the user's");
    EXPECT_EQ(listing(dir), std::set<std::string>{"big.bin"});
    EXPECT_TRUE(sheetsOn(window->window()).empty()) << "a cancel is no failure";
    EXPECT_EQ(window->notices().current(), nullptr);
}

struct ReplaceCase {
    std::string name;
    enum class Before { nothing, file, folder, link } before;
    std::vector<std::string> targets;  // one download each, in this order
};

class ReplaceTable : public DownloadsTest, public testing::WithParamInterface<ReplaceCase> {};

TEST_P(ReplaceTable, EachDownloadLandsWhereChosenAndTouchesNothingElse) {
    const ReplaceCase& row = GetParam();
    const fs::path first = dir / row.targets.front();
    if (row.before == ReplaceCase::Before::file) std::ofstream(first) << "old";
    if (row.before == ReplaceCase::Before::folder) {
        fs::create_directories(first / "inside");
        std::ofstream(first / "inside" / "note") << "old";
    }
    std::ofstream(dir / "keep.txt") << "keep";
    // A link is replaced itself; what it points to stays.
    if (row.before == ReplaceCase::Before::link) fs::create_symlink("keep.txt", first);
    auto window = shown();
    watchEnds(*window);
    std::set<std::string> expected = {"keep.txt"};
    for (const auto& name : row.targets) {
        saves = {(dir / name).string()};
        downloadByLink(*window);
        expected.insert(name);
    }
    for (const auto& name : row.targets) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / name))) << name;
        EXPECT_EQ(contents(dir / name), body) << name;
    }
    EXPECT_EQ(contents(dir / "keep.txt"), "keep");
    EXPECT_EQ(listing(dir), expected);
    EXPECT_TRUE(sheetsOn(window->window()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Replacing, ReplaceTable,
    testing::Values(ReplaceCase{"OverAFile", ReplaceCase::Before::file, {"file.bin"}},
                    ReplaceCase{"OverAFolder", ReplaceCase::Before::folder, {"file.bin"}},
                    ReplaceCase{"OverALink", ReplaceCase::Before::link, {"file.bin"}},
                    ReplaceCase{"SameLinkTwiceToTheSamePath", ReplaceCase::Before::nothing, {"file.bin", "file.bin"}},
                    // As long as a file name may be: what is written meanwhile
                    // must fit too.
                    ReplaceCase{"ALongName", ReplaceCase::Before::nothing, {std::string(250, 'n') + ".bin"}},
                    ReplaceCase{"SameLinkTwiceToTwoNames", ReplaceCase::Before::nothing, {"file.bin", "file (2).bin"}}),
    CaseName());

TEST_F(DownloadsTest, ACancelledSaveWritesNothingAndSaysNothing) {
    auto window = shown();
    watchEnds(*window);
    saves = {""};
    downloadByLink(*window);
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_TRUE(listing(dir).empty());
    EXPECT_TRUE(window->downloads().entries().empty());
    EXPECT_FALSE(gtk_widget_get_visible(window->downloadsIndicator().widget()));
    EXPECT_TRUE(sheetsOn(window->window()).empty());
}

// The user chose to replace a file of the same name: until the download is
// whole that file stays, and a download that fails leaves it as it was.
TEST_F(DownloadsTest, ADroppedConnectionShowsTheErrorAndLeavesTheChosenPathAsItWas) {
    DroppingServer dropping(1000000, 300000);
    const fs::path target = dir / "big.bin";
    std::ofstream(target) << "old";
    auto window = shown();
    saves = {target.string()};
    window->navigation().userActed();
    webkit_web_view_download_uri(window->webView(), dropping.url("/big.bin").c_str());
    const auto& entries = window->downloads().entries();
    ASSERT_TRUE(spinUntil([&] { return !entries.empty() && entries[0].progress > 0; }));
    EXPECT_EQ(asked.at(0).suggestedName, "big.bin");
    // While it runs: its progress in the header bar, and nothing of it under
    // the chosen name.
    DownloadsIndicator& indicator = window->downloadsIndicator();
    EXPECT_TRUE(gtk_widget_get_visible(indicator.widget()));
    EXPECT_GT(indicator.progress(), 0);
    EXPECT_LT(indicator.progress(), 1);
    EXPECT_EQ(contents(target), "old");

    dropping.drop();
    ASSERT_TRUE(spinUntil([&] { return !sheetsOn(window->window()).empty(); }));
    GtkWindow* sheet = sheetsOn(window->window()).front();
    EXPECT_STREQ(gtk_window_get_title(sheet), "Orvane");
    GCharPtr text, detail;
    g_object_get(sheet, "heading", &text, "body", &detail, nullptr);
    EXPECT_STREQ(text.get(), "The download failed");
    EXPECT_TRUE(detail && *detail.get()) << "the transport's own reason";
    EXPECT_EQ(entries[0].state, DownloadEntry::State::failed);
    EXPECT_EQ(contents(target), "old");
    EXPECT_EQ(listing(dir), std::set<std::string>{"big.bin"}) << "nothing half-written is left";
    gtk_widget_activate_action(GTK_WIDGET(sheet), "window.close", nullptr);
    EXPECT_TRUE(sheetsOn(window->window()).empty());
}

// The server closes cleanly after half of what it announced, having said it
// would close: WebKit calls that finished, but the user's file must not
// become the half.
TEST_F(DownloadsTest, AServerClosingBeforeTheAnnouncedLengthFailsAndKeepsTheChosenFile) {
    DroppingServer dropping(3000000, 1500000, DroppingServer::End::closedAtOnce);
    const fs::path target = dir / "important.bin";
    std::ofstream(target) << "old";
    auto window = shown();
    watchEnds(*window);
    saves = {target.string()};
    window->navigation().userActed();
    webkit_web_view_download_uri(window->webView(), dropping.url("/big.bin").c_str());
    ASSERT_TRUE(spinUntil([&] { return ended > 0; }));
    const auto& entries = window->downloads().entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].state, DownloadEntry::State::failed);
    EXPECT_EQ(contents(target), "old");
    EXPECT_EQ(listing(dir), std::set<std::string>{"important.bin"}) << "nothing half-written is left";
    ASSERT_TRUE(spinUntil([&] { return !sheetsOn(window->window()).empty(); }));
    GCharPtr detail;
    g_object_get(sheetsOn(window->window()).front(), "body", &detail, nullptr);
    EXPECT_TRUE(g_str_has_prefix(detail.get(), "The connection ended before the whole file arrived")) << detail.get();
}

TEST_F(DownloadsTest, ClosingTheWindowMidwayCancelsAndLeavesNothingBehind) {
    DroppingServer dropping(1000000, 300000);
    auto window = shown();
    saves = {(dir / "big.bin").string()};
    window->navigation().userActed();
    GPtr<WebKitDownload> download =
        adopt(webkit_web_view_download_uri(window->webView(), dropping.url("/big.bin").c_str()));
    bool over = false;
    g_signal_connect(download.get(), "finished",
                     G_CALLBACK(+[](WebKitDownload*, gpointer flag) { *static_cast<bool*>(flag) = true; }), &over);
    const auto& entries = window->downloads().entries();
    ASSERT_TRUE(spinUntil([&] { return !entries.empty() && entries[0].progress > 0; }));

    window.reset();
    ASSERT_TRUE(spinUntil([&] { return over; })) << "the download must not outlive the window";
    EXPECT_TRUE(listing(dir).empty());
    g_signal_handlers_disconnect_by_data(download.get(), &over);
}

// A run killed mid-download leaves its hidden files wherever the user chose
// to save; the next start removes those it listed, and only those.
TEST_F(DownloadsTest, AKilledRunsHiddenFilesGoAtTheNextStartAndNothingElse) {
    const std::vector<std::string> left = {".file.bin.abc123.part", ".file.bin.abc123.part.wkdownload"};
    const std::vector<std::string> kept = {"notes.txt", ".keep.bin.ABCDEF.part", ".other.zzzzzz.part"};
    for (const auto& name : left) std::ofstream(dir / name) << "half";
    for (const auto& name : kept) std::ofstream(dir / name) << "mine";
    // A damaged list names the user's own files too: they are not of our making.
    std::ofstream(unfinishedList()) << (dir / left[0]).string() << "\n"
                                    << (dir / "notes.txt").string() << "\n"
                                    << (dir / ".keep.bin.ABCDEF.part").string() << "\n"
                                    << ".other.zzzzzz.part\n";
    DroppingServer dropping(1000000, 300000);
    auto window = shown();
    EXPECT_EQ(listing(dir), std::set<std::string>(kept.begin(), kept.end()));
    EXPECT_FALSE(fs::exists(unfinishedList()));

    // While one runs, its hidden file is listed; once it ends, no more.
    saves = {(dir / "big.bin").string()};
    window->navigation().userActed();
    webkit_web_view_download_uri(window->webView(), dropping.url("/big.bin").c_str());
    const auto& entries = window->downloads().entries();
    ASSERT_TRUE(spinUntil([&] { return !entries.empty() && entries[0].progress > 0; }));
    const std::string listed = contents(unfinishedList());
    EXPECT_TRUE(listed.starts_with((dir / ".big.bin.").string()) && listed.ends_with(".part\n")) << listed;
    dropping.drop();
    ASSERT_TRUE(spinUntil([&] { return entries[0].state == DownloadEntry::State::failed; }));
    ASSERT_TRUE(spinUntil([&] { return !fs::exists(unfinishedList()); }));
}

// A page, or a frame of another site in it, that fills hidden frames with
// downloads: each would open a save dialog on the window.
struct UnbiddenCase {
    const char* name;
    bool click;    // the user clicks in the page once, which starts the frames
    bool inFrame;  // the frames are made by a frame of another site, from its own files
    std::size_t asked;
};

class UnbiddenTable : public DownloadsTest, public testing::WithParamInterface<UnbiddenCase> {};

TEST_P(UnbiddenTable, ADownloadNeedsTheUsersActionAndTheSitesOwnFrame) {
    const auto& c = GetParam();
    if (c.click && !test::fakeInputAvailable()) GTEST_SKIP() << "no XTEST to click with";
    const std::size_t frames = c.inFrame ? 3 : 20;
    const std::string fill = "const fill = () => { for (let i = 0; i < " + std::to_string(frames) +
                             "; ++i) { const f = document.createElement('iframe'); f.hidden = true;"
                             " f.src = location.origin + '/file.bin?' + i; document.body.append(f); } };" +
                             (c.click ? "addEventListener('click', fill, {once: true});" : "fill();");
    const std::string filler = R"(<!doctype html><body style="margin:0;height:100vh"><script>)" + fill + "</script>";
    server.serve("/filler", {filler});
    server.serve("/framed", {R"(<!doctype html><body style="margin:0"><iframe style="position:fixed;inset:0;)"
                             R"(width:100%;height:100%;border:0" src=")" +
                             server.url("/filler", "localhost") + "\"></iframe>"});
    saves = {(dir / "file.bin").string()};
    auto window = shown();
    watchEnds(*window);
    evaluate(window->webView(), "location = " + std::string(c.inFrame ? "'/framed'" : "'/filler'"));
    ASSERT_TRUE(
        spinUntil([&] { return server.count("/filler") > 0 && !webkit_web_view_is_loading(window->webView()); }));
    if (c.click) {
        test::pointAt(GTK_WIDGET(window->webView()));
        test::clickPrimary();
    }
    // Each frame's download is either asked about or refused.
    const ActionGate& gate = window->navigation().downloadStarts();
    ASSERT_TRUE(spinUntil([&] { return asked.size() + gate.refusals() == frames; }, 60))
        << asked.size() << " asked, " << gate.refusals() << " refused";
    EXPECT_EQ(asked.size(), c.asked);
    if (c.asked > 0) {
        ASSERT_TRUE(spinUntil([&] { return ended > 0; }));
        EXPECT_EQ(contents(dir / "file.bin"), body);
    }
    EXPECT_TRUE(sheetsOn(window->window()).empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, UnbiddenTable,
                         testing::Values(UnbiddenCase{"TwentyFramesWithoutAClickOpenNoDialog", false, false, 0},
                                         UnbiddenCase{"TwentyFramesOnOneClickOpenOneDialog", true, false, 1},
                                         UnbiddenCase{"AFrameOfAnotherSiteOpensNone", false, true, 0}),
                         CaseName());

}  // namespace
}  // namespace orvane
