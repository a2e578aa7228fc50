#include "AppValues.h"

#include <cstdlib>

namespace orvane {

std::string versionFrom(const nlohmann::json& info) {
    if (info.is_object()) {
        auto it = info.find("CFBundleShortVersionString");
        if (it != info.end() && it->is_string()) return it->get<std::string>();
    }
    return "dev";
}

std::string appNameFrom(const nlohmann::json& info) {
    if (info.is_object()) {
        auto it = info.find("CFBundleName");
        if (it != info.end() && it->is_string()) return it->get<std::string>();
    }
    return "Orvane";
}

std::optional<Url> pageAddressIn(std::string_view text) {
    auto url = Url::parse(text);
    if (!url || (url->scheme != "http" && url->scheme != "https") || !url->host || url->host->empty())
        return std::nullopt;
    return url;
}

std::string rejectedPageAddressLine(const PageAddress& address) {
    return "Orvane: the page address \"" + address.rejected.value_or("") +
           "\" is not an http or https address; loading " + address.url.text + " instead";
}

PageAddress pageAddressFrom(const std::optional<std::string>& commandLine,
                            const std::optional<std::string>& userDefault, const nlohmann::json& info,
                            std::string_view builtIn) {
    if (commandLine) {
        if (auto parsed = pageAddressIn(*commandLine)) return {*parsed, PageUrlSource::commandLine};
    }
    std::optional<std::string> text;
    PageUrlSource source = PageUrlSource::bundle;
    if (userDefault) {
        text = *userDefault;
        source = PageUrlSource::userDefault;
    } else if (info.is_object()) {
        auto it = info.find("OVPageURL");
        if (it != info.end() && it->is_string()) text = it->get<std::string>();
    }
    if (text) {
        if (auto parsed = pageAddressIn(*text)) return {*parsed, source};
    }
    auto fallback = pageAddressIn(builtIn);
    // The built-in address is a build setting checked by CMake; a broken one
    // is a build fault, not something to limp along with.
    if (!fallback) std::abort();
    return {*fallback, PageUrlSource::builtIn, text};
}

Url pageUrlFrom(const std::optional<std::string>& userDefault, const nlohmann::json& info, std::string_view builtIn) {
    return pageAddressFrom(std::nullopt, userDefault, info, builtIn).url;
}

std::string replaceAll(std::string text, std::string_view placeholder, std::string_view value) {
    if (placeholder.empty()) return text;
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (auto at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, from)) {
        out.append(text, from, at - from);
        out.append(value);
        from = at + placeholder.size();
    }
    out.append(text, from, std::string::npos);
    return out;
}

std::string pageInfoJson(std::string_view platform, std::string_view version) {
    const nlohmann::json object = {{"platform", platform}, {"version", version}};
    // Replace invalid UTF-8 rather than throw: the version comes from a file.
    const auto compact = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    // A slash can only occur inside a string here, so escaping it is safe.
    return replaceAll(compact, "/", "\\/");
}

}  // namespace orvane
