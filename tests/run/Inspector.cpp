#include "Inspector.h"

#include <memory>
#include <regex>

#include "Spin.h"

namespace orvane::test {
namespace {

// The listing page names each page with its address and its socket path.
struct Listed {
    std::string address;
    std::string socket;
};

std::optional<Listed> find(const std::string& listing, const std::string& prefix) {
    static const std::regex entry(R"(<div class="targeturl">([^<]*)</div>.*?/socket/(\d+/\d+/WebPage))");
    for (std::sregex_iterator it(listing.begin(), listing.end(), entry), end; it != end; ++it)
        if ((*it)[1].str().starts_with(prefix)) return Listed{(*it)[1].str(), "/socket/" + (*it)[2].str()};
    return std::nullopt;
}

}  // namespace

Inspector::~Inspector() {
    if (socket_ && soup_websocket_connection_get_state(socket_.get()) == SOUP_WEBSOCKET_STATE_OPEN)
        soup_websocket_connection_close(socket_.get(), SOUP_WEBSOCKET_CLOSE_NORMAL, nullptr);
}

std::optional<std::string> Inspector::attach(const std::string& prefix, double limitSeconds) {
    const std::string base = "http://127.0.0.1:" + std::to_string(port_);
    std::optional<Listed> found;
    const bool listed = spinUntil(
        [&] {
            auto message = adopt(soup_message_new("GET", (base + "/").c_str()));
            std::unique_ptr<GBytes, decltype(&g_bytes_unref)> body(
                soup_session_send_and_read(session_.get(), message.get(), nullptr, nullptr), g_bytes_unref);
            if (body) {
                gsize size = 0;
                const char* data = static_cast<const char*>(g_bytes_get_data(body.get(), &size));
                found = find(std::string(data ? data : "", size), prefix);
            }
            if (!found) g_usleep(100000);  // the web view is still starting
            return found.has_value();
        },
        limitSeconds);
    if (!listed) return std::nullopt;

    auto message = adopt(soup_message_new("GET", ("ws://127.0.0.1:" + std::to_string(port_) + found->socket).c_str()));
    bool done = false;
    struct Context {
        Inspector* self;
        bool* done;
    } context{this, &done};
    soup_session_websocket_connect_async(
        session_.get(), message.get(), nullptr, nullptr, G_PRIORITY_DEFAULT, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* c = static_cast<Context*>(data);
            c->self->socket_ = adopt(soup_session_websocket_connect_finish(SOUP_SESSION(source), result, nullptr));
            *c->done = true;
        },
        &context);
    if (!spinUntil([&] { return done; }, 20) || !socket_) return std::nullopt;
    soup_websocket_connection_set_max_incoming_payload_size(socket_.get(), 0);
    g_signal_connect(socket_.get(), "message",
                     G_CALLBACK(+[](SoupWebsocketConnection*, gint, GBytes* bytes, gpointer self) {
                         gsize size = 0;
                         const char* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
                         static_cast<Inspector*>(self)->received(std::string(data, size));
                     }),
                     this);
    // The page's inspector announces the page as a target first.
    if (!spinUntil([&] { return !target_.empty(); }, 20)) return std::nullopt;
    return found->address;
}

void Inspector::received(const std::string& text) {
    const auto message = nlohmann::json::parse(text, nullptr, false);
    if (!message.is_object()) return;
    const std::string method = message.value("method", "");
    if (method == "Target.targetCreated") {
        target_ = message["params"]["targetInfo"].value("targetId", "");
    } else if (method == "Target.dispatchMessageFromTarget") {
        const auto inner = nlohmann::json::parse(message["params"].value("message", ""), nullptr, false);
        if (inner.is_object() && inner.contains("id")) replies_[inner["id"].get<int>()] = inner;
    }
}

std::optional<nlohmann::json> Inspector::evaluate(const std::string& expression) {
    if (!socket_) return std::nullopt;
    const int id = next_++;
    const nlohmann::json inner = {
        {"id", id}, {"method", "Runtime.evaluate"}, {"params", {{"expression", expression}, {"returnByValue", true}}}};
    const nlohmann::json outer = {{"id", id},
                                  {"method", "Target.sendMessageToTarget"},
                                  {"params", {{"targetId", target_}, {"message", inner.dump()}}}};
    soup_websocket_connection_send_text(socket_.get(), outer.dump().c_str());
    if (!spinUntil([&] { return replies_.contains(id); }, 20)) return std::nullopt;
    const auto reply = replies_[id];
    replies_.erase(id);
    if (!reply.contains("result") || reply["result"].value("wasThrown", false)) return std::nullopt;
    const auto& result = reply["result"]["result"];
    return result.contains("value") ? result["value"] : nlohmann::json();
}

bool Inspector::waitUntil(const std::string& expression, double limitSeconds) {
    return spinUntil(
        [&] {
            const auto value = evaluate(expression);
            if (value && *value == true) return true;
            g_usleep(100000);  // between looks, not a proof of anything
            return false;
        },
        limitSeconds);
}

}  // namespace orvane::test
