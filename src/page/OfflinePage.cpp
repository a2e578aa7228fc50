#include "OfflinePage.h"

#include <initializer_list>
#include <string_view>
#include <utility>

namespace orvane {
namespace {

std::string escapedForHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace

namespace {

// Each placeholder replaced in one pass, so that no filled-in value (an
// address may hold anything) is read for placeholders again.
std::string filled(const std::string& pageTemplate,
                   std::initializer_list<std::pair<std::string_view, std::string_view>> values) {
    std::string out;
    out.reserve(pageTemplate.size());
    for (std::size_t at = 0; at < pageTemplate.size();) {
        bool replaced = false;
        for (const auto& [placeholder, value] : values) {
            if (std::string_view(pageTemplate).substr(at, placeholder.size()) != placeholder) continue;
            out += escapedForHtml(value);
            at += placeholder.size();
            replaced = true;
            break;
        }
        if (!replaced) out += pageTemplate[at++];
    }
    return out;
}

}  // namespace

std::string offlinePage(const std::string& offlineTemplate, const Url& page) {
    return filled(offlineTemplate, {{"__PAGE_URL__", page.text}, {"__HOST__", page.host.value_or("")}});
}

std::string movedPage(const std::string& movedTemplate, const Url& page, const Url& target) {
    return filled(movedTemplate, {{"__PAGE_URL__", page.text},
                                  {"__HOST__", page.host.value_or("")},
                                  {"__TARGET_URL__", target.text},
                                  {"__TARGET_HOST__", target.host.value_or(target.text)}});
}

}  // namespace orvane
