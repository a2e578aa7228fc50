#pragma once
// A real HTTP server on 127.0.0.1 for tests: serves fixed pages and records
// every request, on the GLib main context the test spins.

#include <libsoup/soup.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/GRef.h"

namespace orvane {

class PageServer {
public:
    struct Page {
        std::string body;
        std::string type = "text/html; charset=utf-8";
        unsigned status = 200;
    };
    struct Request {
        std::string path;
        std::string userAgent;
    };

    PageServer();  // listens on a free port
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
