#include "ManifestSourceSoup.h"

#include "HttpGet.h"

namespace orvane {

SoupSession* ManifestSourceSoup::sharedSession() {
    static const GPtr<SoupSession> session = adopt(soup_session_new());
    return session.get();
}

ManifestSourceSoup::ManifestSourceSoup(MainQueue& queue) : queue_(queue) {}

ManifestSourceSoup::~ManifestSourceSoup() {
    for (auto& weak : fetches_) {
        if (auto get = weak.lock()) get->abandon();
    }
}

void ManifestSourceSoup::fetch(const Url& url, double timeoutSeconds, std::function<void(ManifestResponse)> done) {
    struct State {
        ManifestResponse response;
        Task deadline;
        bool tooLarge = false;
    };
    auto state = std::make_shared<State>();
    HttpGet::Handlers handlers;
    handlers.response = [state](SoupMessage* message) {
        state->response.status = static_cast<int>(soup_message_get_status(message));
        // Only a 200 body is ever read.
        if (state->response.status != 200) return false;
        state->response.body.emplace();
        return true;
    };
    handlers.chunk = [state](std::span<const char> bytes) -> std::optional<std::string> {
        if (state->response.body->size() + bytes.size() > kMaxBytes) {
            state->tooLarge = true;
            return std::string("too large");
        }
        state->response.body->append(bytes.data(), bytes.size());
        return std::nullopt;
    };
    handlers.done = [state, done = std::move(done)](const std::optional<std::string>& error) {
        state->deadline.cancel();
        ManifestResponse response = std::move(state->response);
        if (error) {
            // A body cut short is no body. A refused, oversized one is
            // unreadable rather than a failed transfer.
            response.body.reset();
            if (!state->tooLarge) response.error = error;
        }
        done(std::move(response));
    };
    auto get = HttpGet::start(sharedSession(), url, std::move(handlers));
    std::erase_if(fetches_, [](const auto& weak) { return weak.expired(); });
    fetches_.push_back(get);
    std::weak_ptr<HttpGet> weak = get;
    state->deadline = queue_.after(timeoutSeconds, [weak] {
        if (auto running = weak.lock()) running->stop("The request timed out.");
    });
}

}  // namespace orvane
