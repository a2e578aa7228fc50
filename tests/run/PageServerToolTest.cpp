// The run command's page server under clients that misbehave: idle
// connections beyond its descriptors, and a big file read whole.

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "GRef.h"
#include "Spin.h"
#include "UniqueFd.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

const fs::path kServer = ORVANE_BUILD_DIR "/tools/page-server/page-server";
constexpr rlim_t kDescriptors = 64;

UniqueFd connectTo(unsigned port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return UniqueFd();
    timeval wait{10, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    return fd;
}

// The whole answer to one request on a fresh connection ("" when refused).
std::string fetch(unsigned port, const std::string& method, const std::string& path) {
    UniqueFd fd = connectTo(port);
    if (!fd.valid()) return {};
    const std::string request = method + " " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    if (::write(fd.get(), request.data(), request.size()) != static_cast<ssize_t>(request.size())) return {};
    std::string answer;
    char buffer[65536];
    for (ssize_t got; (got = ::read(fd.get(), buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<std::size_t>(got));
    return answer;
}

class PageServerTool : public testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("orvane-page-server-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        std::ofstream(folder_ / "index.html") << "<title>Light</title>";
        big_.resize(3 * 1024 * 1024 + 7);
        for (std::size_t i = 0; i < big_.size(); ++i) big_[i] = static_cast<char>(i * 31 % 251);
        std::ofstream(folder_ / "big.zip", std::ios::binary) << big_;

        // Few descriptors, as a flood would leave it; a short idle time.
        auto launcher = adopt(g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE));
        g_subprocess_launcher_set_child_setup(
            launcher.get(),
            +[](gpointer) {
                const rlimit few{kDescriptors, kDescriptors};
                ::setrlimit(RLIMIT_NOFILE, &few);
            },
            nullptr, nullptr);
        GErrorPtr error;
        server_ = adopt(g_subprocess_launcher_spawn(launcher.get(), ErrorOut(error), kServer.c_str(), "--port", "0",
                                                    "--idle-timeout", "1", folder_.c_str(), nullptr));
        ASSERT_TRUE(server_) << error->message;
        auto* out = g_data_input_stream_new(g_subprocess_get_stdout_pipe(server_.get()));
        gsize length = 0;
        GCharPtr line(g_data_input_stream_read_line(out, &length, nullptr, nullptr));
        g_object_unref(out);
        ASSERT_TRUE(line);
        std::smatch found;
        const std::string text = line.get();
        ASSERT_TRUE(std::regex_search(text, found, std::regex(":([0-9]+)/$"))) << text;
        port_ = static_cast<unsigned>(std::stoul(found[1]));
    }
    void TearDown() override {
        // GLib sends the kill from its worker thread: waited for, or the test
        // may end first and leave the server holding ctest's output pipe.
        if (server_) {
            g_subprocess_force_exit(server_.get());
            g_subprocess_wait(server_.get(), nullptr, nullptr);
        }
        fs::remove_all(folder_);
    }

    fs::path folder_;
    std::string big_;
    GPtr<GSubprocess> server_;
    unsigned port_ = 0;
};

TEST_F(PageServerTool, IdleConnectionsBeyondItsDescriptorsDoNotStopItAndGoAfterTheirTime) {
    std::vector<UniqueFd> idle;
    for (rlim_t i = 0; i < 2 * kDescriptors; ++i) idle.push_back(connectTo(port_));
    // Over the cap: closed at once, or held for the idle time; then it serves again.
    EXPECT_TRUE(spinUntil([&] { return fetch(port_, "GET", "/").starts_with("HTTP/1.1 200"); }, 20));
    char byte;
    EXPECT_EQ(::read(idle.front().get(), &byte, 1), 0) << "an idle connection is closed after its time";
    EXPECT_EQ(g_subprocess_get_identifier(server_.get()) != nullptr, true) << "still running";
}

TEST_F(PageServerTool, SendsABigFileWholeAndItsLengthForHead) {
    const std::string answer = fetch(port_, "GET", "/big.zip");
    const auto head = answer.find("\r\n\r\n");
    ASSERT_NE(head, std::string::npos);
    EXPECT_NE(answer.substr(0, head).find("Content-Length: " + std::to_string(big_.size())), std::string::npos);
    EXPECT_NE(answer.substr(0, head).find("Content-Type: application/zip"), std::string::npos);
    EXPECT_TRUE(answer.substr(head + 4) == big_) << answer.size() - head - 4 << " bytes of " << big_.size();
    const std::string headOnly = fetch(port_, "HEAD", "/big.zip");
    EXPECT_NE(headOnly.find("Content-Length: " + std::to_string(big_.size())), std::string::npos) << headOnly;
    EXPECT_TRUE(headOnly.ends_with("\r\n\r\n"));
    EXPECT_TRUE(fetch(port_, "GET", "/../etc/passwd").starts_with("HTTP/1.1 404"));
}

}  // namespace
}  // namespace orvane::test
