#pragma once
// The app-wide values, each worked out once on first use and then fixed for
// the life of the process.

#include <nlohmann/json.hpp>

#include <string>

#include "Url.h"
#include "Bundle.h"

namespace orvane {

const Bundle& runningBundle();
// The running bundle's Info.plist; empty without a bundle.
const nlohmann::json& info();
// The bundle's short version string, else "dev".
const std::string& VERSION();
// User default "pageURL", else the bundle's "OVPageURL", else the built-in address.
const Url& PAGE_URL();

}  // namespace orvane
