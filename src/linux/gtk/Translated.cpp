#include "Translated.h"

#include <glib.h>
#include <libintl.h>

#include <algorithm>
#include <clocale>

namespace orvane {

const char* tr(const char* english) { return g_dgettext(kTextDomain, english); }

void useTranslations(const std::filesystem::path& bundle) {
    std::setlocale(LC_ALL, "");
    const std::filesystem::path catalogs = bundle / "Contents" / "Resources" / "locale";
    bindtextdomain(kTextDomain, catalogs.c_str());
    bind_textdomain_codeset(kTextDomain, "UTF-8");
}

std::string fill(std::string_view text, std::initializer_list<std::pair<std::string_view, std::string_view>> values) {
    // One pass, so that a value holding a "{name}" of its own stays as it is.
    std::string out;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t open = text.find('{', from);
        const std::size_t close = open == std::string_view::npos ? open : text.find('}', open);
        if (close == std::string_view::npos) break;
        const std::string_view name = text.substr(open + 1, close - open - 1);
        const auto* found =
            std::find_if(values.begin(), values.end(), [&](const auto& pair) { return pair.first == name; });
        out += text.substr(from, open - from);
        if (found != values.end()) out += found->second;
        else out += text.substr(open, close - open + 1);
        from = close + 1;
    }
    if (from < text.size()) out += text.substr(from);
    return out;
}

}  // namespace orvane
