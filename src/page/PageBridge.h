#pragma once
// The page bridge's rules, free of any toolkit: which page messages are
// accepted, and how messages for the page are batched.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "Url.h"

namespace orvane {

// A message as the web view hands it over.
struct ScriptMessage {
    bool mainFrame = false;
    // The document's origin as the engine serialises it ("https://host:port",
    // "null" when opaque); nothing when the page sent none.
    std::optional<std::string> origin;
    // The whole text, NULs included; nothing when the page posted something
    // other than text.
    std::optional<std::string> body;
};

// Deeper JSON than this is refused before parsing: nothing the page sends
// needs it, and copying or printing such a value could exhaust the stack.
constexpr int kMaxMessageDepth = 64;

// Checks where a message comes from (the top frame of the page's origin, by
// the one origin rule) and what it holds (a JSON object with a text member
// "t"). The parsed message, or nothing: such a message is dropped.
std::optional<nlohmann::json> acceptedMessage(const ScriptMessage& message, const Url& page);

// Whether the page may have `url` opened outside: https, http and mailto only.
bool openableOutside(const Url& url);

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
    // The same, as the JSON array text of the batch.
    std::optional<std::string> takeBatch(bool onSite);
    // Takes the whole batch as a JSON array text, for a host that hands it
    // over itself (with the answer to a page message, say); nothing when it
    // is empty or the page is not on the site, and then it is discarded. A
    // flush already scheduled stays scheduled and finds what came since.
    std::optional<std::string> takeArray(bool onSite);
    std::size_t size() const { return queued_.size(); }

private:
    std::vector<nlohmann::json> queued_;
    bool flushQueued_ = false;
};

// "[...]": the batch, compact, slashes as they are.
std::string batchArray(const std::vector<nlohmann::json>& batch);

// "window.__orvane && [...].forEach(m => __orvane.receive(m))"
std::string deliveryScript(const std::vector<nlohmann::json>& batch);
std::string deliveryScript(const std::string& array);

}  // namespace orvane
