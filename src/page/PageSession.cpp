#include "PageSession.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "Site.h"

namespace orvane {

using nlohmann::json;

// The one table of what the page may send: each type is served here or
// handed to the Bluetooth bridge. A type not listed (a typo, another case)
// is dropped. A new page message is a row here and its handler.
struct PageSession::MessageType {
    std::string_view type;
    void (PageSession::*handle)(const json& message);
};

namespace {

std::string stringMember(const json& object, const char* name) {
    const auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

const PageSession::MessageType* PageSession::find(std::string_view type) {
    static constexpr std::array<MessageType, 10> kTypes = {{
        {"open", &PageSession::openOutside},
        {"log", &PageSession::log},
        {"update", &PageSession::update},
        {"hello", &PageSession::toBluetooth},
        {"scan", &PageSession::toBluetooth},
        {"connect", &PageSession::toBluetooth},
        {"disconnect", &PageSession::toBluetooth},
        {"services", &PageSession::toBluetooth},
        {"write", &PageSession::toBluetooth},
        {"notify", &PageSession::toBluetooth},
    }};
    const auto it =
        std::find_if(kTypes.begin(), kTypes.end(), [&](const MessageType& row) { return row.type == type; });
    return it == kTypes.end() ? nullptr : &*it;
}

PageSession::PageSession(MainQueue& queue, PageHost& host, PageSessionSettings settings, PageBackends backends)
    : queue_(queue), host_(host), settings_(std::move(settings)), log_(backends.log),
      bluetooth_(std::make_unique<Bluetooth>(queue, std::move(backends.makeCentral))) {
    const auto weak = weak_.weak();
    bluetooth_->send = [weak](const json& message) {
        if (const auto self = weak.lock()) self->deliver(message);
    };
    // After an update the app quits as the Quit command does, through the host.
    backends.updater.quit = [weak] {
        if (const auto self = weak.lock()) self->host_.quit();
    };
    updater_ =
        std::make_unique<Updater>(queue, UpdaterSettings{settings_.pageUrl, settings_.version, settings_.updateRoot},
                                  std::move(backends.updater));
    updater_->send = bluetooth_->send;
}

PageSession::~PageSession() = default;

void PageSession::received(const ScriptMessage& message) { handled(message); }

bool PageSession::handled(const ScriptMessage& message) {
    const auto accepted = acceptedMessage(message, settings_.pageUrl);
    if (!accepted) return false;
    if (const MessageType* row = find(accepted->at("t").get_ref<const std::string&>())) (this->*row->handle)(*accepted);
    return true;
}

PageSession::Reply PageSession::receivedWithReply(const ScriptMessage& message) {
    Reply reply;
    reply.accepted = handled(message);
    if (outbox_.size() > 0) reply.batch = outbox_.takeArray(onPage());
    return reply;
}

void PageSession::openOutside(const json& message) {
    const auto url = Url::parse(stringMember(message, "url"));
    if (url && openableOutside(*url)) host_.openExternally(*url);
}

void PageSession::log(const json& message) {
    if (log_) log_("Orvane page: " + stringMember(message, "text"));
}

void PageSession::update(const json&) { updater_->start(); }

void PageSession::toBluetooth(const json& message) {
    if (bluetooth_) bluetooth_->handle(message);
}

void PageSession::pageGone() {
    if (bluetooth_) bluetooth_->endSession();
}

void PageSession::shutdown() { bluetooth_.reset(); }

bool PageSession::onPage() const { return sameSite(host_.currentAddress(), settings_.pageUrl); }

void PageSession::deliver(json message) {
    if (!outbox_.add(std::move(message))) return;
    queue_.async([weak = weak_.weak()] {
        if (const auto self = weak.lock()) self->flush();
    });
}

void PageSession::flush() {
    if (const auto array = outbox_.takeBatch(onPage())) host_.deliverBatch(*array);
}

}  // namespace orvane
