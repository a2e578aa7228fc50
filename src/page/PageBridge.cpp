#include "PageBridge.h"

#include "Site.h"

namespace orvane {

bool withinDepth(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

std::optional<nlohmann::json> acceptedMessage(const ScriptMessage& message, const Url& page) {
    if (!message.mainFrame || !message.origin) return std::nullopt;
    const auto origin = Url::parse(*message.origin);
    // An opaque origin, or a page address without a host, matches nothing.
    if (!origin || !origin->scheme || !origin->host || !page.host) return std::nullopt;
    if (!sameSite(origin, page)) return std::nullopt;
    if (!message.body || !withinDepth(*message.body, kMaxMessageDepth)) return std::nullopt;

    // A raw NUL is never valid JSON (not even inside a string), but the
    // parser takes it for the end of the input and would accept what comes
    // before it: such a text is refused here.
    if (message.body->find('\0') != std::string::npos) return std::nullopt;
    auto parsed = nlohmann::json::parse(*message.body, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_object()) return std::nullopt;
    const auto type = parsed.find("t");
    if (type == parsed.end() || !type->is_string()) return std::nullopt;
    return parsed;
}

bool openableOutside(const Url& url) {
    const std::string scheme = url.scheme.value_or("");
    return scheme == "https" || scheme == "http" || scheme == "mailto";
}

bool Outbox::add(nlohmann::json message) {
    queued_.push_back(std::move(message));
    if (flushQueued_) return false;
    flushQueued_ = true;
    return true;
}

std::optional<std::string> Outbox::take(bool onSite) {
    const auto array = takeBatch(onSite);
    if (!array) return std::nullopt;
    return deliveryScript(*array);
}

std::optional<std::string> Outbox::takeBatch(bool onSite) {
    flushQueued_ = false;
    return takeArray(onSite);
}

std::optional<std::string> Outbox::takeArray(bool onSite) {
    std::vector<nlohmann::json> batch;
    batch.swap(queued_);
    if (batch.empty() || !onSite) return std::nullopt;
    return batchArray(batch);
}

std::string batchArray(const std::vector<nlohmann::json>& batch) {
    std::string array = "[";
    bool first = true;
    for (const auto& message : batch) {
        if (!first) array += ',';
        first = false;
        // Compact, slashes as they are; text that is not UTF-8 (a device
        // name, say) is repaired rather than losing the whole batch.
        array += message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    array += ']';
    return array;
}

std::string deliveryScript(const std::vector<nlohmann::json>& batch) { return deliveryScript(batchArray(batch)); }

std::string deliveryScript(const std::string& array) {
    return "window.__orvane && " + array + ".forEach(m => __orvane.receive(m))";
}

}  // namespace orvane
