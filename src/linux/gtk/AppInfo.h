#pragma once
// The app-wide values, each worked out once on first use and then fixed for
// the life of the process.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "AppValues.h"
#include "Bundle.h"
#include "Url.h"

namespace orvane {

const Bundle& runningBundle();
// The running bundle's Info.plist; empty without a bundle.
const nlohmann::json& info();
// The bundle's short version string, else "dev".
const std::string& VERSION();
// The bundle's identifier when it is a valid application id, else the
// built-in one. The window's class and the desktop entry's name too.
const std::string& applicationId();

// A page address given on the command line, for this run only. Takes effect
// only when called before the first use of PAGE_URL.
void usePageUrlForThisRun(std::string address);
// The options of this run that the next version started in its place
// (after an update) is given too: the page address for the run.
std::vector<std::string> runOptions();
// The command line's address, else user default "pageURL", else the bundle's
// "OVPageURL", else the built-in address; with where it came from.
const PageAddress& pageAddress();
const Url& PAGE_URL();
// The built-in address.
std::string_view builtInPageUrl();

}  // namespace orvane
