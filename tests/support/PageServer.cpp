#include "PageServer.h"

#include <cstdio>
#include <cstdlib>

namespace orvane {

PageServer::PageServer() : server_(adopt(soup_server_new(nullptr, nullptr))) {
    soup_server_add_handler(server_.get(), nullptr, &PageServer::handle, this, nullptr);
    GErrorPtr error;
    GPtr<GInetAddress> loopback = adopt(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
    GPtr<GSocketAddress> address = adopt(g_inet_socket_address_new(loopback.get(), 0));
    if (!soup_server_listen(server_.get(), address.get(), SoupServerListenOptions(0), ErrorOut(error))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1: %s\n", error->message);
        std::abort();
    }
    GSList* uris = soup_server_get_uris(server_.get());
    port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

std::string PageServer::url(const std::string& path, const std::string& host) const {
    return "http://" + host + ":" + std::to_string(port_) + path;
}

std::size_t PageServer::count(const std::string& path) const {
    std::size_t n = 0;
    for (const auto& request : requests_) n += request.path == path;
    return n;
}

void PageServer::handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*,
                        gpointer data) {
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
    soup_message_headers_append(soup_server_message_get_response_headers(message), "Cache-Control",
                                "no-store");
    soup_server_message_set_response(message, page->second.type.c_str(), SOUP_MEMORY_COPY,
                                     page->second.body.data(), page->second.body.size());
}

}  // namespace orvane
