#pragma once
// The page shown in place of the control page when it cannot be loaded.

#include <string>

#include "Url.h"

namespace orvane {

// The bundle's offline page template with "__PAGE_URL__" replaced by the page
// address, then "__HOST__" by its host ("" when it has none). Both are
// escaped for HTML, so that the address shows and links exactly as written.
std::string offlinePage(const std::string& offlineTemplate, const Url& page);

}  // namespace orvane
