#pragma once
// A local SoupServer on 127.0.0.1 with the switches update tests need: a
// whole body, a body without a length, a body cut off half-way, a request
// never answered, a redirect.

#include <libsoup/soup.h>

#include <map>
#include <string>
#include <vector>

#include "GRef.h"

namespace orvane::testing {

class UpdateServer {
public:
    struct Response {
        enum class Mode { Whole, NoLength, Cut, Silent };
        Response(unsigned code = 200, std::string content = "", Mode how = Mode::Whole, std::string redirect = "",
                 std::string contentType = "application/octet-stream")
            : status(code), body(std::move(content)), mode(how), location(std::move(redirect)),
              type(std::move(contentType)) {}
        unsigned status;
        std::string body;
        Mode mode;
        std::string location;  // for a redirect
        std::string type;
    };

    UpdateServer();
    ~UpdateServer();
    UpdateServer(const UpdateServer&) = delete;
    UpdateServer& operator=(const UpdateServer&) = delete;

    void serve(const std::string& path, Response response) { responses_[path] = std::move(response); }
    std::string url(const std::string& path) const;
    // Every request's path, with "?" and its query when it has one.
    const std::vector<std::string>& requests() const { return requests_; }
    void forgetRequests() { requests_.clear(); }

private:
    static void handle(SoupServer*, SoupServerMessage*, const char* path, GHashTable*, gpointer self);

    GPtr<SoupServer> server_;
    unsigned port_ = 0;
    std::map<std::string, Response> responses_;
    std::vector<std::string> requests_;
    std::vector<GPtr<SoupServerMessage>> silent_;
};

// Turns the main loop until a request to a fresh local server has been
// answered. Whatever was already queued on the loop (replies, completions,
// posted work) has run by then, so a test can check that nothing more came.
bool afterPendingEvents();

}  // namespace orvane::testing
