#include "OfflinePage.h"

#include <string_view>

#include "AppValues.h"

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

std::string offlinePage(const std::string& offlineTemplate, const Url& page) {
    const std::string filled = replaceAll(offlineTemplate, "__PAGE_URL__", escapedForHtml(page.text));
    return replaceAll(filled, "__HOST__", escapedForHtml(page.host.value_or("")));
}

}  // namespace orvane
