#include "TranslatedPages.h"

#include <string_view>

#include "AppValues.h"

namespace orvane {

const std::vector<Text>& pageTexts() {
    static const std::vector<Text> texts = {
        Text("Orvane is offline"),
        Text("The light's control page can't be reached"),
        Text("Orvane couldn't load its page from <span class=\"host\" id=\"host\">__HOST__</span>."),
        Text("Is this computer connected to the network?"),
        Text("Is the server at <span class=\"host\">__HOST__</span> running, and can this network reach it?"),
        Text("Is the page address right? It is <span class=\"host\" id=\"address\">__PAGE_URL__</span>."),
        Text("Try Again"),
        Text("Orvane also tries again by itself when the network changes, and every few minutes."),
        Text("The light's control page leads elsewhere"),
        Text("Its address, <span class=\"host\" id=\"address\">__PAGE_URL__</span>, now leads to another site:\n"
             "    <span class=\"host\" id=\"target\">__TARGET_HOST__</span>."),
        Text("Orvane shows pages of <span class=\"host\" id=\"host\">__HOST__</span> only. A network that asks you "
             "to sign in\n    first leads there too: if you trust that site, open it in your browser."),
        Text("Open in Browser"),
        Text("The control page keeps stopping"),
        Text("The light's control page keeps stopping"),
        Text("The process showing the page from <span class=\"host\" id=\"host\">__HOST__</span> ended several "
             "times in a row,\n    so Orvane stopped loading it again."),
        Text("The light is not affected. When the page's server has been fixed, or to try once more:"),
        Text("Reload"),
        Text("The page's address is <span class=\"host\" id=\"address\">__PAGE_URL__</span>."),
    };
    return texts;
}

namespace {

// `text` between `before` and `after`, built by appending: GCC 12 at -O3
// takes `">" + std::string(text)` for an overlapping copy.
std::string between(std::string_view before, std::string_view text, std::string_view after) {
    std::string out;
    out.reserve(before.size() + text.size() + after.size());
    out.append(before).append(text).append(after);
    return out;
}

}  // namespace

std::string translatedPage(std::string page) {
    for (const Text& text : pageTexts()) {
        const std::string translated(text);
        if (translated != text.english())
            page = replaceAll(std::move(page), between(">", text.english(), "<"), between(">", translated, "<"));
    }
    // TRANSLATORS: the code of this translation's language, as a page names it (<html lang="en">).
    return replaceAll(std::move(page), "<html lang=\"en\">", between("<html lang=\"", tr("en"), "\">"));
}

}  // namespace orvane
