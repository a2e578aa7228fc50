#pragma once
// The words of the app's own pages (the offline page, the one for a page
// address that leads elsewhere, the one for a page that keeps stopping) in
// the user's language. The bundle's templates are written in English; each
// text here is an element's whole content there, markup and placeholders
// included, so that a translation can move them as its sentence needs.

#include <string>
#include <vector>

#include "Translated.h"

namespace orvane {

// Every text of the templates that is translated.
const std::vector<Text>& pageTexts();

// `page` (a template) with each of its texts in the user's language, and
// its language named as the translation's.
std::string translatedPage(std::string page);

}  // namespace orvane
