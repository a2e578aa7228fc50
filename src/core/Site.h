#pragma once
// Which addresses belong to the page's site, and the page zoom steps.

#include <optional>

#include "Url.h"

namespace orvane {

// Same scheme (exact), host (lower-cased) and port (absent equals only
// absent; an explicit default port is not the same as none).
bool sameSite(const std::optional<Url>& address, const Url& page);

// The zoom level after one step: +1 in, -1 out, 0 back to normal size.
double zoomStep(double current, int step);

}  // namespace orvane
