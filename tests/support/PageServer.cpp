#include "PageServer.h"

#include <utility>

namespace orvane {

PageServer::PageServer() : PageServer(0) {}

PageServer::PageServer(unsigned port) {
    ListeningServer listening = listenOnLoopback(&PageServer::handle, this, port);
    server_ = std::move(listening.server);
    port_ = listening.port;
}

std::string PageServer::url(const std::string& path, const std::string& host) const {
    return "http://" + host + ":" + std::to_string(port_) + path;
}

std::size_t PageServer::count(const std::string& path) const {
    std::size_t n = 0;
    for (const auto& request : requests_) n += request.path == path;
    return n;
}

void PageServer::handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
    auto* self = static_cast<PageServer*>(data);
    SoupMessageHeaders* headers = soup_server_message_get_request_headers(message);
    const char* agent = soup_message_headers_get_one(headers, "User-Agent");
    self->requests_.push_back({path, agent ? agent : ""});
    auto page = self->pages_.find(path);
    if (page == self->pages_.end()) {
        soup_server_message_set_status(message, 404, nullptr);
        return;
    }
    soup_server_message_set_status(message, page->second.status, nullptr);
    SoupMessageHeaders* answer = soup_server_message_get_response_headers(message);
    soup_message_headers_append(answer, "Cache-Control", "no-store");
    if (!page->second.location.empty()) soup_message_headers_append(answer, "Location", page->second.location.c_str());
    soup_server_message_set_response(message, page->second.type.c_str(), SOUP_MEMORY_COPY, page->second.body.data(),
                                     page->second.body.size());
}

}  // namespace orvane
