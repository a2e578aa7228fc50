#pragma once
// Which addresses belong to the page's site, and the page zoom steps.

#include <optional>

#include "Url.h"

namespace orvane {

// The one origin rule: same scheme (exact), host (lower-cased) and effective
// port (an explicit 80 for http or 443 for https is the same as none). It
// decides both which page messages are accepted and where batches for the
// page are delivered.
bool sameSite(const std::optional<Url>& address, const Url& page);

// Whether browsers refuse to load the address for its port (the Fetch
// standard's "bad ports", which WebKit follows): WebKit puts an empty
// document in place of such a load and reports no failure.
bool browsersBlockPort(const Url& address);

// The zoom level after one step: +1 in, -1 out, 0 back to normal size.
double zoomStep(double current, int step);

}  // namespace orvane
