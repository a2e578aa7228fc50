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

}  // namespace orvane
