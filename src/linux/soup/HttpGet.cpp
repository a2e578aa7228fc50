#include "HttpGet.h"

#include "Site.h"

namespace orvane {
namespace {

constexpr gsize kChunkBytes = gsize{256} * 1024;

using Holder = std::shared_ptr<HttpGet>;

// GLib callbacks get a heap copy of the owning pointer and take it back on
// their first line.
gpointer hold(Holder self) { return new Holder(std::move(self)); }
std::unique_ptr<Holder> unhold(gpointer data) { return std::unique_ptr<Holder>(static_cast<Holder*>(data)); }

}  // namespace

HttpGet::HttpGet(Url url, Handlers handlers)
    : url_(std::move(url)), handlers_(std::move(handlers)), cancellable_(adopt(g_cancellable_new())) {}

HttpGet::~HttpGet() { headersWatch_.disconnect(); }

std::shared_ptr<HttpGet> HttpGet::start(SoupSession* session, const Url& url, Handlers handlers) {
    std::shared_ptr<HttpGet> self(new HttpGet(url, std::move(handlers)));
    self->message_ = adopt(soup_message_new(SOUP_METHOD_GET, url.text.c_str()));
    if (!self->message_) {
        // Reported on a later turn, as every other outcome is.
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                (*static_cast<Holder*>(data))->finish("unsupported URL");
                return G_SOURCE_REMOVE;
            },
            hold(self), [](gpointer data) { unhold(data); });
        return self;
    }
    self->headersWatch_ = connectWith(
        self->message_.get(), "got-headers", G_CALLBACK(+[](SoupMessage* message, std::weak_ptr<HttpGet>* weak) {
            auto get = weak->lock();
            if (!get || !SOUP_STATUS_IS_REDIRECTION(soup_message_get_status(message))) return;
            const char* location = soup_message_headers_get_one(soup_message_get_response_headers(message), "Location");
            GUri* current = soup_message_get_uri(message);
            GCharPtr base(g_uri_to_string(current));
            std::optional<Url> target;
            if (location) {
                if (auto here = Url::parse(base.get())) target = here->resolve(location);
            }
            if (!sameSite(target, get->url_)) soup_message_add_flags(message, SOUP_MESSAGE_NO_REDIRECT);
        }),
        std::weak_ptr<HttpGet>(self));
    soup_session_send_async(session, self->message_.get(), G_PRIORITY_DEFAULT, self->cancellable_.get(), &HttpGet::sent,
                            hold(self));
    return self;
}

std::optional<std::string> HttpGet::describe(const GError* error) const {
    if (!error) return std::nullopt;
    if (stopReason_ && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return stopReason_;
    return std::string(error->message);
}

void HttpGet::sent(GObject* source, GAsyncResult* result, gpointer data) {
    auto self = unhold(data);
    HttpGet& get = **self;
    GErrorPtr error;
    GPtr<GInputStream> stream = adopt(soup_session_send_finish(SOUP_SESSION(source), result, ErrorOut(error)));
    if (get.ended_) return;
    if (!stream) {
        get.finish(get.describe(error.get()).value_or("unknown error"));
        return;
    }
    get.stream_ = std::move(stream);
    if (get.handlers_.response && !get.handlers_.response(get.message_.get())) {
        get.finish(std::nullopt);
        return;
    }
    get.readNext();
}

void HttpGet::readNext() {
    g_input_stream_read_bytes_async(stream_.get(), kChunkBytes, G_PRIORITY_DEFAULT, cancellable_.get(), &HttpGet::read,
                                    hold(shared_from_this()));
}

void HttpGet::read(GObject* source, GAsyncResult* result, gpointer data) {
    auto self = unhold(data);
    HttpGet& get = **self;
    GErrorPtr error;
    GBytes* raw = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, ErrorOut(error));
    std::unique_ptr<GBytes, decltype(&g_bytes_unref)> bytes(raw, g_bytes_unref);
    if (get.ended_) return;
    if (!bytes) {
        get.finish(get.describe(error.get()).value_or("unknown error"));
        return;
    }
    gsize size = 0;
    const auto* piece = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
    if (size == 0) {
        get.finish(std::nullopt);
        return;
    }
    if (get.handlers_.chunk) {
        if (auto why = get.handlers_.chunk({piece, size})) {
            get.finish(*why);
            return;
        }
    }
    if (!get.ended_) get.readNext();
}

void HttpGet::finish(const std::optional<std::string>& error) {
    if (ended_) return;
    ended_ = true;
    if (stream_) g_input_stream_close_async(stream_.get(), G_PRIORITY_DEFAULT, nullptr, nullptr, nullptr);
    auto done = std::move(handlers_.done);
    handlers_ = {};
    if (done) done(error);
}

void HttpGet::stop(std::string reason) {
    if (ended_) return;
    stopReason_ = std::move(reason);
    g_cancellable_cancel(cancellable_.get());
}

void HttpGet::abandon() {
    ended_ = true;
    handlers_ = {};
    g_cancellable_cancel(cancellable_.get());
}

}  // namespace orvane
