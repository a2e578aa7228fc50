#pragma once
// A real HTTP server on 127.0.0.1 for tests: serves fixed pages and records
// every request, on the GLib main context the test spins.

#include <libsoup/soup.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "GRef.h"

namespace orvane {

struct ListeningServer {
    GPtr<SoupServer> server;
    unsigned port = 0;
};

// A SoupServer that sends every request to `handler` and listens on a free
// port of 127.0.0.1 (or on `port`). Inline so that test libraries without the
// page server can share it; a test cannot go on without it, so failing aborts.
inline ListeningServer listenOnLoopback(SoupServerCallback handler, gpointer data, unsigned port = 0) {
    ListeningServer made{adopt(soup_server_new(nullptr, nullptr))};
    soup_server_add_handler(made.server.get(), nullptr, handler, data, nullptr);
    GErrorPtr error;
    GPtr<GInetAddress> loopback = adopt(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
    GPtr<GSocketAddress> address = adopt(g_inet_socket_address_new(loopback.get(), static_cast<guint16>(port)));
    if (!soup_server_listen(made.server.get(), address.get(), SoupServerListenOptions(0), ErrorOut(error))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1: %s\n", error->message);
        std::abort();
    }
    GSList* uris = soup_server_get_uris(made.server.get());
    made.port = static_cast<unsigned>(g_uri_get_port(static_cast<GUri*>(uris->data)));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    return made;
}

class PageServer {
public:
    struct Page {
        std::string body;
        std::string type = "text/html; charset=utf-8";
        unsigned status = 200;
        std::string location = {};  // sent as Location when not empty (a redirect)
    };
    struct Request {
        std::string path;
        std::string userAgent;
    };

    PageServer();  // listens on a free port
    // Listens on `port`: a server that comes back where an earlier one was.
    explicit PageServer(unsigned port);
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    void serve(const std::string& path, Page page) { pages_[path] = std::move(page); }
    // "http://127.0.0.1:<port>" + path (or "localhost" instead of the address).
    std::string url(const std::string& path = "/", const std::string& host = "127.0.0.1") const;
    unsigned port() const { return port_; }
    const std::vector<Request>& requests() const { return requests_; }
    std::size_t count(const std::string& path) const;

private:
    static void handle(SoupServer*, SoupServerMessage*, const char* path, GHashTable*, gpointer self);

    GPtr<SoupServer> server_;
    unsigned port_ = 0;
    std::map<std::string, Page> pages_;
    std::vector<Request> requests_;
};

}  // namespace orvane
