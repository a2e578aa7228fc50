#pragma once
// The page shown in place of the control page when it cannot be loaded.

#include <string>

#include "Url.h"

namespace orvane {

// The bundle's offline page template with "__PAGE_URL__" replaced by the page
// address, then "__HOST__" by its host ("" when it has none). Both are
// escaped for HTML, so that the address shows and links exactly as written.
std::string offlinePage(const std::string& offlineTemplate, const Url& page);

// The bundle's page for a page address that now leads to another site: as
// offlinePage, then "__TARGET_URL__" and "__TARGET_HOST__" by where it leads.
std::string movedPage(const std::string& movedTemplate, const Url& page, const Url& target);

}  // namespace orvane
