#pragma once
// Looks into a real web view from a test by evaluating script in its page.

#include <webkit/webkit.h>

#include <optional>
#include <string>

namespace orvane {

// The result of `script` as JSON text, or nothing when the script threw.
std::optional<std::string> evaluate(WebKitWebView* view, const std::string& script);

// Waits until the view has finished loading `uri` (or any address when empty).
bool waitForLoad(WebKitWebView* view, const std::string& uri = "");

// Shows `html` as the document at `address` and waits for it: how a test
// puts the view on another site, where the navigation policy lets no load go.
bool showAt(WebKitWebView* view, const std::string& html, const std::string& address);

}  // namespace orvane
