#pragma once
// The sentences the page host writes about loading the page, in one place.

#include <string_view>

namespace orvane::pageSentences {

// Every failed load of the page writes one line: `didNotLoad` + why.
inline constexpr std::string_view didNotLoad = "Orvane: page didn't load: ";
// Why, when the load reached its deadline without showing anything.
inline constexpr std::string_view timedOut = "The request timed out.";
// Why, when the retry from the saved copy had nothing to show.
inline constexpr std::string_view noSavedCopy = "There is no saved copy of the page.";
// Why, when the page's server answered with an error of its own: + the status.
inline constexpr std::string_view serverFailed = "The server answered with status ";
// Why, when the page address was redirected to another site: + where.
inline constexpr std::string_view leadsElsewhere = "The page's address now leads to another site: ";
// Why, when the engine would not even start the load.
inline constexpr std::string_view refused = "The address was refused (its port is one that web browsers block).";
// The page's server answers again behind the saved copy.
inline constexpr std::string_view answersAgain = "Orvane: the page's server answers again; loading the page";
inline constexpr std::string_view processEnded = "Orvane: the page's process ended; loading it again";
inline constexpr std::string_view processKeepsEnding =
    "Orvane: the page's process keeps ending; not loading it again until asked";

}  // namespace orvane::pageSentences
