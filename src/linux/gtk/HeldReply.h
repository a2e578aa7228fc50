#pragma once
// One reply to a page message, kept back until there is something to send
// with it: the page's next batch (a write's answer, say, which comes from
// Bluetooth a moment later) then travels in that reply instead of in a
// script evaluation of its own, and the page is not woken for an empty reply
// in between. A reply let go unanswered goes back empty.

#include <webkit/webkit.h>

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
    HeldReply() = default;
    ~HeldReply() { release(); }
    HeldReply(const HeldReply&) = delete;
    HeldReply& operator=(const HeldReply&) = delete;

    // Keeps `reply` unless one is kept already; then this one goes back
    // empty, and the older one carries the next batch.
    void hold(WebKitScriptMessageReply* reply, JSCContext* context) {
        if (reply_) return;
        reply_ = webkit_script_message_reply_ref(reply);
        context_ = retain(context);
    }
    // Sends `batch` with the kept reply; false when none is kept.
    bool send(const std::string& batch) {
        if (!reply_) return false;
        answer(reply_, context_.get(), batch);
        release();
        return true;
    }
    // Lets the kept reply go back empty (its document is going).
    void release() {
        if (reply_) webkit_script_message_reply_unref(reply_);
        reply_ = nullptr;
        context_.reset();
    }

private:
    WebKitScriptMessageReply* reply_ = nullptr;
    GPtr<JSCContext> context_;
};

}  // namespace orvane
