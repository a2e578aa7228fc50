#pragma once
// Looks into the page of an Orvane running as its own process, the way a
// developer's browser would: through WebKit's remote inspector, which the
// web view serves over HTTP and a WebSocket when the process is started with
// WEBKIT_INSPECTOR_HTTP_SERVER=127.0.0.1:PORT and the inspectable setting.

#include <libsoup/soup.h>
#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>

#include "GRef.h"

namespace orvane::test {

class Inspector {
public:
    explicit Inspector(unsigned port) : port_(port) {}
    Inspector(const Inspector&) = delete;
    Inspector& operator=(const Inspector&) = delete;
    ~Inspector();

    // Waits until the inspector lists a page whose address starts with
    // `prefix` and connects to it. The address found, or nothing.
    std::optional<std::string> attach(const std::string& prefix, double limitSeconds = 60);

    // The value of `expression` evaluated in the page's own world (what its
    // scripts see), or nothing when it threw or no answer came.
    std::optional<nlohmann::json> evaluate(const std::string& expression);
    // Evaluates until the value is true.
    bool waitUntil(const std::string& expression, double limitSeconds = 30);

private:
    void received(const std::string& text);

    unsigned port_;
    GPtr<SoupSession> session_ = adopt(soup_session_new());
    GPtr<SoupWebsocketConnection> socket_;
    std::string target_;
    int next_ = 1;
    std::map<int, nlohmann::json> replies_;
};

}  // namespace orvane::test
