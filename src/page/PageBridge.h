#pragma once
// The page bridge's rules, free of any toolkit: which page messages are
// accepted and where they go, and how messages for the page are batched.

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Url.h"

namespace orvane {

// A message as the web view hands it over.
struct ScriptMessage {
    bool mainFrame = false;
    std::optional<std::string> originScheme;  // the document's origin
    std::optional<std::string> originHost;
    std::optional<std::string> body;  // nothing when the page posted something other than text
};

// Where accepted messages go. Unset routes drop their messages.
struct PageRoutes {
    std::function<void(const Url&)> open;        // https, http and mailto addresses only
    std::function<void(const std::string&)> log; // one whole log line
    std::function<void()> update;
    std::function<void(const nlohmann::json&)> bluetooth;  // every other type
};

// Deeper JSON than this is refused before parsing: nothing the page sends
// needs it, and copying or printing such a value could exhaust the stack.
constexpr int kMaxMessageDepth = 64;

// Checks where a message comes from and what it holds, then routes it.
// Anything that fails a check is dropped without a trace.
void receive(const ScriptMessage& message, const Url& page, const PageRoutes& routes);

// Whether `text` nests arrays and objects no deeper than `limit`.
bool withinDepth(std::string_view text, int limit);

// Messages waiting for the page, handed over in batches: one script
// evaluation carries everything queued since the last one.
class Outbox {
public:
    // Queues a message; true when the caller must schedule a flush (none is
    // scheduled yet).
    bool add(nlohmann::json message);
    // Takes the whole batch. It becomes the script to evaluate in the page
    // when the page is on the site; otherwise it is discarded.
    std::optional<std::string> take(bool onSite);
    std::size_t size() const { return queued_.size(); }

private:
    std::vector<nlohmann::json> queued_;
    bool flushQueued_ = false;
};

// "window.__orvane && [...].forEach(m => __orvane.receive(m))"
std::string deliveryScript(const std::vector<nlohmann::json>& batch);

}  // namespace orvane
