#include "Url.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace orvane {
namespace {

// Characters RFC 3986 allows anywhere in a reference; anything else (spaces,
// quotes, controls, raw non-ASCII) makes the string malformed, as it does for
// the strict parsers this app's addresses are written for.
bool allowed(unsigned char c) {
    if (std::isalnum(c)) return true;
    static constexpr std::string_view extra = "-._~:/?#[]@!$&'()*+,;=%";
    return extra.find(static_cast<char>(c)) != std::string_view::npos;
}

bool wellFormedEscapes(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return false;
    }
    return true;
}

std::optional<std::string> take(char* owned) {
    std::unique_ptr<char, decltype(&g_free)> holder(owned, g_free);
    if (!owned) return std::nullopt;
    return std::string(owned);
}

}  // namespace

std::string lowercase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::optional<Url> Url::parse(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return allowed(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    if (!wellFormedEscapes(text)) return std::nullopt;

    const std::string owned(text);
    char *scheme = nullptr, *userinfo = nullptr, *host = nullptr, *path = nullptr, *query = nullptr,
         *fragment = nullptr;
    gint port = -1;
    // Encoded: keep the text as written, percent escapes included.
    if (!g_uri_split(owned.c_str(), G_URI_FLAGS_ENCODED, &scheme, &userinfo, &host, &port, &path, &query, &fragment,
                     nullptr))
        return std::nullopt;

    Url url;
    url.text = owned;
    // GLib lower-cases the scheme; the address keeps it as written.
    if (auto lowered = take(scheme)) url.scheme = owned.substr(0, lowered->size());
    url.userinfo = take(userinfo);
    url.host = take(host);
    if (port >= 0) url.port = port;
    url.path = take(path).value_or("");
    url.query = take(query);
    url.fragment = take(fragment);
    return url;
}

std::optional<Url> Url::resolve(std::string_view reference) const {
    GError* error = nullptr;
    const std::string ref(reference);
    char* joined = g_uri_resolve_relative(text.c_str(), ref.c_str(), G_URI_FLAGS_ENCODED, &error);
    if (error) g_error_free(error);
    auto out = take(joined);
    if (!out) return std::nullopt;
    return parse(*out);
}

}  // namespace orvane
