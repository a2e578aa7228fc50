#pragma once
// One GET on a libsoup session, its body read in chunks on the main loop.
// Redirects are followed only within the site of the address asked for: a
// redirect elsewhere (another scheme, host or port) ends with the redirect's
// own status, so nothing is ever fetched from a place the page's site did not
// name.

#include <libsoup/soup.h>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "GRef.h"
#include "Url.h"

namespace orvane {

class HttpGet : public std::enable_shared_from_this<HttpGet> {
public:
    struct Handlers {
        // The response's status line and headers have arrived; false ends the
        // transfer here (done, with no error) without reading the body.
        std::function<bool(SoupMessage* message)> response;
        // One piece of the body; an error text ends the transfer with that error.
        std::function<std::optional<std::string>(std::span<const char> bytes)> chunk;
        // Once, at the end: nothing on success, else the error's description.
        std::function<void(const std::optional<std::string>& error)> done;
    };

    static std::shared_ptr<HttpGet> start(SoupSession* session, const Url& url, Handlers handlers);
    ~HttpGet();

    // Ends the transfer with `reason` as its error.
    void stop(std::string reason);
    // Ends the transfer without calling anything any more.
    void abandon();

private:
    HttpGet(Url url, Handlers handlers);
    static void sent(GObject* source, GAsyncResult* result, gpointer data);
    static void read(GObject* source, GAsyncResult* result, gpointer data);
    void readNext();
    void finish(const std::optional<std::string>& error);
    std::optional<std::string> describe(const GError* error) const;

    Url url_;
    Handlers handlers_;
    GPtr<SoupMessage> message_;
    GPtr<GCancellable> cancellable_;
    GPtr<GInputStream> stream_;
    std::optional<std::string> stopReason_;
    bool ended_ = false;
    SignalConnection headersWatch_;
};

}  // namespace orvane
