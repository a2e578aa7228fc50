#include "AppInfo.h"

#include <gio/gio.h>

#include <optional>

#include "KeyFile.h"
#include "Log.h"

#ifndef ORVANE_DEFAULT_PAGE_URL
#error "the build sets ORVANE_DEFAULT_PAGE_URL"
#endif
#ifndef ORVANE_BUNDLE_ID
#error "the build sets ORVANE_BUNDLE_ID"
#endif

namespace orvane {
namespace {

std::optional<std::string>& commandLinePageUrl() {
    static std::optional<std::string> address;
    return address;
}

}  // namespace

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

const std::string& applicationId() {
    static const std::string id = [] {
        auto it = info().find("CFBundleIdentifier");
        if (it != info().end() && it->is_string() &&
            g_application_id_is_valid(it->get_ref<const std::string&>().c_str()))
            return it->get<std::string>();
        return std::string(ORVANE_BUNDLE_ID);
    }();
    return id;
}

void usePageUrlForThisRun(std::string address) { commandLinePageUrl() = std::move(address); }

std::vector<std::string> runOptions() {
    if (const auto& address = commandLinePageUrl()) return {"--page-url", *address};
    return {};
}

const PageAddress& pageAddress() {
    static const PageAddress address = [] {
        auto found =
            pageAddressFrom(commandLinePageUrl(), UserDefaults::load().string("pageURL"), info(), builtInPageUrl());
        if (found.rejected) logLine(rejectedPageAddressLine(found));
        return found;
    }();
    return address;
}

const Url& PAGE_URL() { return pageAddress().url; }

std::string_view builtInPageUrl() { return ORVANE_DEFAULT_PAGE_URL; }

}  // namespace orvane
