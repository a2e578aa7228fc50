#include "AppInfo.h"

#include "AppValues.h"
#include "KeyFile.h"

#ifndef ORVANE_DEFAULT_PAGE_URL
#error "the build sets ORVANE_DEFAULT_PAGE_URL"
#endif

namespace orvane {

// Function-local statics: initialised once, thread-safely, on first use.
const Bundle& runningBundle() {
    static const Bundle bundle = Bundle::running();
    return bundle;
}

const nlohmann::json& info() {
    static const nlohmann::json values = runningBundle().info();
    return values;
}

const std::string& VERSION() {
    static const std::string version = versionFrom(info());
    return version;
}

const Url& PAGE_URL() {
    static const Url page =
        pageUrlFrom(UserDefaults::load().string("pageURL"), info(), ORVANE_DEFAULT_PAGE_URL);
    return page;
}

}  // namespace orvane
