#include "UpdateServer.h"

#include <algorithm>
#include <utility>

#include "PageServer.h"
#include "Spin.h"

namespace orvane::testing {

UpdateServer::UpdateServer() {
    ListeningServer listening = listenOnLoopback(&UpdateServer::handle, this);
    server_ = std::move(listening.server);
    port_ = listening.port;
}

UpdateServer::~UpdateServer() {
    for (auto& message : silent_) soup_server_message_unpause(message.get());
    soup_server_disconnect(server_.get());
}

std::string UpdateServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void UpdateServer::handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
    auto* self = static_cast<UpdateServer*>(data);
    const char* query = g_uri_get_query(soup_server_message_get_uri(message));
    self->requests_.push_back(query ? std::string(path) + "?" + query : std::string(path));
    auto found = self->responses_.find(path);
    if (found == self->responses_.end()) {
        soup_server_message_set_status(message, 404, nullptr);
        return;
    }
    const Response& response = found->second;
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
    soup_server_message_set_status(message, response.status, nullptr);
    if (!response.location.empty()) soup_message_headers_replace(headers, "Location", response.location.c_str());
    SoupMessageBody* body = soup_server_message_get_response_body(message);
    switch (response.mode) {
    case Response::Mode::Whole:
        soup_server_message_set_response(message, response.type.c_str(), SOUP_MEMORY_COPY, response.body.data(),
                                         response.body.size());
        break;
    case Response::Mode::NoLength: {
        soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
        constexpr std::size_t piece = std::size_t{64} * 1024;
        for (std::size_t at = 0; at < response.body.size(); at += piece)
            soup_message_body_append(body, SOUP_MEMORY_COPY, response.body.data() + at,
                                     std::min(piece, response.body.size() - at));
        soup_message_body_complete(body);
        break;
    }
    case Response::Mode::Cut: {
        // The full length is promised, half is sent, then the connection goes.
        soup_message_headers_set_content_length(headers, static_cast<goffset>(response.body.size()));
        soup_message_body_append(body, SOUP_MEMORY_COPY, response.body.data(), response.body.size() / 2);
        g_signal_connect(message, "wrote-body-data", G_CALLBACK(+[](SoupServerMessage* sent, guint, gpointer) {
                             if (GSocket* socket = soup_server_message_get_socket(sent))
                                 g_socket_shutdown(socket, TRUE, TRUE, nullptr);
                         }),
                         nullptr);
        break;
    }
    case Response::Mode::Silent:
        soup_server_message_pause(message);
        self->silent_.push_back(retain(message));
        break;
    }
}

bool afterPendingEvents() {
    UpdateServer other;
    other.serve("/", {200, "ok"});
    GPtr<SoupSession> session = adopt(soup_session_new());
    GPtr<SoupMessage> message = adopt(soup_message_new("GET", other.url("/").c_str()));
    bool answered = false;
    soup_session_send_and_read_async(
        session.get(), message.get(), G_PRIORITY_DEFAULT, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer done) {
            if (GBytes* body = soup_session_send_and_read_finish(SOUP_SESSION(source), result, nullptr))
                g_bytes_unref(body);
            *static_cast<bool*>(done) = true;
        },
        &answered);
    return spinUntil([&] { return answered; });
}

}  // namespace orvane::testing
