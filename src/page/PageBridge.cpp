#include "PageBridge.h"

namespace orvane {
namespace {

std::string stringMember(const nlohmann::json& object, const char* name) {
    auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

void openAddress(const nlohmann::json& message, const PageRoutes& routes) {
    const auto url = Url::parse(stringMember(message, "url"));
    if (!url) return;
    const std::string scheme = url->scheme.value_or("");
    if (scheme != "https" && scheme != "http" && scheme != "mailto") return;
    if (routes.open) routes.open(*url);
}

}  // namespace

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

void receive(const ScriptMessage& message, const Url& page, const PageRoutes& routes) {
    if (!message.mainFrame) return;
    if (!page.scheme || !message.originScheme || *message.originScheme != *page.scheme) return;
    if (!page.host || !message.originHost || lowercase(*message.originHost) != lowercase(*page.host)) return;
    if (!message.body || !withinDepth(*message.body, kMaxMessageDepth)) return;

    auto parsed = nlohmann::json::parse(*message.body, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_object()) return;
    auto type = parsed.find("t");
    if (type == parsed.end() || !type->is_string()) return;
    const auto& t = type->get_ref<const std::string&>();

    if (t == "open") {
        openAddress(parsed, routes);
    } else if (t == "log") {
        if (routes.log) routes.log("Orvane page: " + stringMember(parsed, "text"));
    } else if (t == "update") {
        if (routes.update) routes.update();
    } else if (routes.bluetooth) {
        routes.bluetooth(parsed);
    }
}

bool Outbox::add(nlohmann::json message) {
    queued_.push_back(std::move(message));
    if (flushQueued_) return false;
    flushQueued_ = true;
    return true;
}

std::optional<std::string> Outbox::take(bool onSite) {
    flushQueued_ = false;
    std::vector<nlohmann::json> batch;
    batch.swap(queued_);
    if (batch.empty() || !onSite) return std::nullopt;
    return deliveryScript(batch);
}

std::string deliveryScript(const std::vector<nlohmann::json>& batch) {
    std::string script = "window.__orvane && [";
    bool first = true;
    for (const auto& message : batch) {
        if (!first) script += ',';
        first = false;
        // Compact, slashes as they are; text that is not UTF-8 (a device
        // name, say) is repaired rather than losing the whole batch.
        script += message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    script += "].forEach(m => __orvane.receive(m))";
    return script;
}

}  // namespace orvane
