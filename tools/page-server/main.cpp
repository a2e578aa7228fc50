// Serves a folder over HTTP on 127.0.0.1, for trying Orvane with the
// reference page (web/) and locally built updates (downloads/app.json).
//
//   page-server [--port N] [--idle-timeout SECONDS] FOLDER
//
// --port 0 takes a free port. The first line printed names the address
// served, so a script can wait for it and read the port from it.
//
// It stays up whatever its clients do: a connection that makes no progress
// for --idle-timeout seconds (default 30) is closed, connections beyond a
// cap that keeps it within its descriptors are refused at once, and files
// are streamed from disk a piece at a time, so that slow readers of a big
// archive cost little memory.

#include <libsoup/soup.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "Bundle.h"
#include "GRef.h"

namespace fs = std::filesystem;
using namespace orvane;

namespace {

const char* contentType(const fs::path& file) {
    const auto ext = file.extension().string();
    if (ext == ".html") return "text/html; charset=utf-8";
    if (ext == ".js") return "text/javascript; charset=utf-8";
    if (ext == ".json") return "application/json";
    if (ext == ".css") return "text/css; charset=utf-8";
    if (ext == ".svg") return "image/svg+xml";
    if (ext == ".zip") return "application/zip";
    return "application/octet-stream";
}

constexpr std::size_t kPiece = 64 * 1024;

// A file on its way out: the next piece is read when the last one was written.
struct Sending {
    std::ifstream in;
    std::array<char, kPiece> buffer{};
};

void sendPiece(SoupServerMessage* message, Sending& sending) {
    SoupMessageBody* body = soup_server_message_get_response_body(message);
    sending.in.read(sending.buffer.data(), sending.buffer.size());
    const auto got = static_cast<std::size_t>(sending.in.gcount());
    if (got > 0) soup_message_body_append(body, SOUP_MEMORY_COPY, sending.buffer.data(), got);
    else soup_message_body_complete(body);
}

void serve(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
    const auto& root = *static_cast<fs::path*>(data);
    std::string relative = path;
    if (relative.ends_with('/')) relative += "index.html";
    // Only plain names below the folder: no "..", no links out of it.
    std::error_code error;
    const auto file = fs::weakly_canonical(root / fs::path(relative).relative_path(), error);
    const auto [end, _] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
    if (error || end != root.end() || !fs::is_regular_file(file)) {
        soup_server_message_set_status(message, 404, nullptr);
        return;
    }
    auto sending = std::make_unique<Sending>();
    sending->in.open(file, std::ios::binary);
    const auto size = fs::file_size(file, error);
    if (!sending->in || error) {
        soup_server_message_set_status(message, 500, nullptr);
        return;
    }
    soup_server_message_set_status(message, 200, nullptr);
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
    soup_message_headers_append(headers, "Cache-Control", "no-cache");
    soup_message_headers_set_content_type(headers, contentType(file), nullptr);
    soup_message_headers_set_content_length(headers, static_cast<goffset>(size));
    std::printf("%s %s\n", soup_server_message_get_method(message), path);
    std::fflush(stdout);
    if (soup_server_message_get_method(message) == std::string_view(SOUP_METHOD_HEAD)) return;
    // Each written piece is let go of rather than kept for the whole body.
    soup_message_body_set_accumulate(soup_server_message_get_response_body(message), FALSE);
    Sending* held = sending.release();
    g_signal_connect(message, "wrote-chunk", G_CALLBACK(+[](SoupServerMessage* which, guint, gpointer state) {
                         sendPiece(which, *static_cast<Sending*>(state));
                     }),
                     held);
    g_signal_connect(message, "finished", G_CALLBACK(+[](SoupServerMessage* which, gpointer state) {
                         g_signal_handlers_disconnect_by_data(which, state);
                         delete static_cast<Sending*>(state);
                     }),
                     held);
    sendPiece(message, *held);
}

// Takes the connections itself, to bound them, and hands them to the server.
struct Listener {
    SoupServer* server = nullptr;
    unsigned cap = 0;
    unsigned open = 0;
    guint idleSeconds = 30;
    bool refusalTold = false;
};

gboolean incoming(GSocketService*, GSocketConnection* connection, GObject*, gpointer data) {
    auto& listener = *static_cast<Listener*>(data);
    if (listener.open >= listener.cap) {
        if (!std::exchange(listener.refusalTold, true))
            std::fprintf(stderr, "page-server: %u connections open; refusing more until some close\n", listener.open);
        g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
        return TRUE;
    }
    // Every wait on it, for a request or for the reader, ends after this long.
    g_socket_set_timeout(g_socket_connection_get_socket(connection), listener.idleSeconds);
    GPtr<GSocketAddress> local = adopt(g_socket_connection_get_local_address(connection, nullptr));
    GPtr<GSocketAddress> remote = adopt(g_socket_connection_get_remote_address(connection, nullptr));
    GErrorPtr error;
    if (!soup_server_accept_iostream(listener.server, G_IO_STREAM(connection), local.get(), remote.get(),
                                     ErrorOut(error))) {
        g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
        return TRUE;
    }
    // Counted until the server lets go of it.
    ++listener.open;
    g_object_weak_ref(
        G_OBJECT(connection),
        +[](gpointer state, GObject*) {
            auto& owner = *static_cast<Listener*>(state);
            --owner.open;
            owner.refusalTold = false;
        },
        &listener);
    return TRUE;
}

// As many connections as the descriptors allow, with one more each for a
// file being sent and some to spare.
unsigned connectionCap() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 512;
    const auto spare = limit.rlim_cur > 32 ? (limit.rlim_cur - 32) / 2 : 1;
    return static_cast<unsigned>(std::clamp<rlim_t>(spare, 1, 512));
}

}  // namespace

int main(int argc, char** argv) {
    unsigned port = 8000;
    Listener listener;
    const char* folder = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) port = static_cast<unsigned>(std::atoi(argv[++i]));
        else if (arg == "--idle-timeout" && i + 1 < argc)
            listener.idleSeconds = static_cast<guint>(std::atoi(argv[++i]));
        else if (arg == "--help") folder = nullptr, i = argc;
        else folder = argv[i];
    }
    if (!folder || listener.idleSeconds == 0) {
        std::fprintf(stderr, "usage: page-server [--port N] [--idle-timeout SECONDS] FOLDER\n");
        return 2;
    }
    std::error_code error;
    fs::path root = fs::canonical(folder, error);
    if (error) {
        std::fprintf(stderr, "page-server: %s: %s\n", folder, error.message().c_str());
        return 1;
    }
    auto server = adopt(soup_server_new(nullptr, nullptr));
    soup_server_add_handler(server.get(), nullptr, serve, &root, nullptr);
    listener.server = server.get();
    listener.cap = connectionCap();

    auto service = adopt(g_socket_service_new());
    GPtr<GInetAddress> loopback = adopt(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
    GPtr<GSocketAddress> address = adopt(g_inet_socket_address_new(loopback.get(), static_cast<guint16>(port)));
    GSocketAddress* effective = nullptr;
    GErrorPtr listenError;
    if (!g_socket_listener_add_address(G_SOCKET_LISTENER(service.get()), address.get(), G_SOCKET_TYPE_STREAM,
                                       G_SOCKET_PROTOCOL_TCP, nullptr, &effective, ErrorOut(listenError))) {
        std::fprintf(stderr, "page-server: %s\n", listenError->message);
        return 1;
    }
    GPtr<GSocketAddress> bound = adopt(effective);
    g_signal_connect(service.get(), "incoming", G_CALLBACK(incoming), &listener);
    g_socket_service_start(service.get());
    std::printf("serving %s at http://127.0.0.1:%u/\n", root.c_str(),
                g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound.get())));
    std::fflush(stdout);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
