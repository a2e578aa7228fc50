// Serves a folder over HTTP on 127.0.0.1, for trying Orvane with the
// reference page (web/) and locally built updates (downloads/app.json).
//
//   page-server [--port N] FOLDER
//
// --port 0 takes a free port. The first line printed names the address
// served, so a script can wait for it and read the port from it.

#include <libsoup/soup.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
    auto body = readFile(file);
    if (!body) {
        soup_server_message_set_status(message, 500, nullptr);
        return;
    }
    soup_server_message_set_status(message, 200, nullptr);
    soup_message_headers_append(soup_server_message_get_response_headers(message), "Cache-Control", "no-cache");
    soup_server_message_set_response(message, contentType(file), SOUP_MEMORY_COPY, body->data(), body->size());
    std::printf("%s %s\n", soup_server_message_get_method(message), path);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    unsigned port = 8000;
    const char* folder = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) port = static_cast<unsigned>(std::atoi(argv[++i]));
        else if (arg == "--help") folder = nullptr, i = argc;
        else folder = argv[i];
    }
    if (!folder) {
        std::fprintf(stderr, "usage: page-server [--port N] FOLDER\n");
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
    GErrorPtr listenError;
    if (!soup_server_listen_local(server.get(), port, SOUP_SERVER_LISTEN_IPV4_ONLY, ErrorOut(listenError))) {
        std::fprintf(stderr, "page-server: %s\n", listenError->message);
        return 1;
    }
    GSList* uris = soup_server_get_uris(server.get());
    const guint bound = uris ? static_cast<guint>(g_uri_get_port(static_cast<GUri*>(uris->data))) : port;
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    std::printf("serving %s at http://127.0.0.1:%u/\n", root.c_str(), bound);
    std::fflush(stdout);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
