#pragma once
// Replies to page messages, kept back until there is something to send with
// them: the page's next batch (a write's answer, say, which comes from
// Bluetooth a moment later) then travels in the oldest one instead of in a
// script evaluation of its own, and the page is not woken for an empty reply
// in between. A reply let go unanswered goes back empty.

#include <webkit/webkit.h>

#include <deque>
#include <string>

#include "GRef.h"

namespace orvane {

// Sends `batch` (JSON text) as the reply's value.
inline void answer(WebKitScriptMessageReply* reply, JSCContext* context, const std::string& batch) {
    GPtr<JSCValue> text = adopt(jsc_value_new_string(context, batch.c_str()));
    webkit_script_message_reply_return_value(reply, text.get());
}

class HeldReply {
public:
    // A page sending a long burst of messages without answers gets the
    // rest of their replies back empty at once.
    static constexpr std::size_t kMostKept = 256;

    HeldReply() = default;
    ~HeldReply() { release(); }
    HeldReply(const HeldReply&) = delete;
    HeldReply& operator=(const HeldReply&) = delete;

    // Keeps `reply`, after those kept already.
    void hold(WebKitScriptMessageReply* reply, JSCContext* context) {
        if (kept_.size() >= kMostKept) return;
        kept_.push_back({webkit_script_message_reply_ref(reply), retain(context)});
    }
    // Sends `batch` with the oldest kept reply; false when none is kept.
    // Replies reach the page in the order they are sent, whichever message
    // each one answers.
    bool send(const std::string& batch) {
        if (kept_.empty()) return false;
        Kept oldest = std::move(kept_.front());
        kept_.pop_front();
        answer(oldest.reply, oldest.context.get(), batch);
        webkit_script_message_reply_unref(oldest.reply);
        return true;
    }
    // Lets every kept reply go back empty (their document is going).
    void release() {
        for (auto& kept : kept_) webkit_script_message_reply_unref(kept.reply);
        kept_.clear();
    }

private:
    struct Kept {
        WebKitScriptMessageReply* reply;
        GPtr<JSCContext> context;
    };
    std::deque<Kept> kept_;
};

}  // namespace orvane
