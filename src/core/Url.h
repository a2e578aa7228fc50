#pragma once
// A parsed address, absolute or a relative reference. Scheme and host keep
// the letter case they were written in: every comparison in the app says
// whether it is exact or lower-cased, so the value must not decide that.

#include <optional>
#include <string>
#include <string_view>

namespace orvane {

struct Url {
    std::string text;  // exactly as given
    std::optional<std::string> scheme;
    std::optional<std::string> userinfo;
    std::optional<std::string> host;
    std::optional<int> port;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    // Nothing for an empty or malformed string; relative references parse.
    static std::optional<Url> parse(std::string_view text);

    // Resolves `reference` against this address (RFC 3986, section 5).
    std::optional<Url> resolve(std::string_view reference) const;

    bool operator==(const Url& other) const { return text == other.text; }
};

std::string lowercase(std::string_view text);

}  // namespace orvane
