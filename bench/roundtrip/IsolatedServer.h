#pragma once
// Serves the bench's pages on 127.0.0.1 with the headers that make a page
// cross-origin isolated: only then does WebKit give performance.now() a
// resolution fine enough for round trips of a fraction of a millisecond.

#include <map>
#include <string>

#include "PageServer.h"

namespace orvane::bench {

class IsolatedServer {
public:
    IsolatedServer() {
        ListeningServer listening = listenOnLoopback(&IsolatedServer::handle, this);
        server_ = std::move(listening.server);
        port_ = listening.port;
    }
    IsolatedServer(const IsolatedServer&) = delete;
    IsolatedServer& operator=(const IsolatedServer&) = delete;

    void serve(const std::string& path, std::string body) { pages_[path] = std::move(body); }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
        auto* self = static_cast<IsolatedServer*>(data);
        const auto page = self->pages_.find(path);
        if (page == self->pages_.end()) {
            soup_server_message_set_status(message, 404, nullptr);
            return;
        }
        soup_server_message_set_status(message, 200, nullptr);
        SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
        soup_message_headers_append(headers, "Cache-Control", "no-store");
        soup_message_headers_append(headers, "Cross-Origin-Opener-Policy", "same-origin");
        soup_message_headers_append(headers, "Cross-Origin-Embedder-Policy", "require-corp");
        soup_server_message_set_response(message, "text/html; charset=utf-8", SOUP_MEMORY_COPY, page->second.data(),
                                         page->second.size());
    }

    GPtr<SoupServer> server_;
    unsigned port_ = 0;
    std::map<std::string, std::string> pages_;
};

}  // namespace orvane::bench
