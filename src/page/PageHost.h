#pragma once
// What the page session needs from the window that shows the page. The
// WebKitGTK window implements it on Linux; tests implement it with a fake.

#include <optional>
#include <string>

#include "PageBridge.h"
#include "Url.h"

namespace orvane {

class PageHost {
public:
    virtual ~PageHost() = default;

    // Runs `script` in the page's main world; its result is not wanted.
    virtual void evaluateScript(const std::string& script) = 0;
    // Hands one batch (a JSON array text of messages, in order) to the
    // page's __orvane.receive. A host with a quicker way than a script of
    // its own per batch overrides it; it must keep batches in this order,
    // also against batches that travel as answers (PageSession::answered).
    virtual void deliverBatch(const std::string& array) { evaluateScript(deliveryScript(array)); }
    // The address the page shows now, as the web engine writes it; nothing
    // before the first load.
    virtual std::optional<Url> currentAddress() const = 0;
    // Hands an https, http or mailto address to the desktop.
    virtual void openExternally(const Url& url) = 0;
    // Ends the app through its normal path, as the Quit command does.
    virtual void quit() = 0;
};

}  // namespace orvane
