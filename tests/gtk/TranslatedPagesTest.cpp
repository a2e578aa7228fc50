// The app's own pages in the user's language: the bundle's English templates
// and the texts the translation replaces must stay in step, or a page would
// silently show English again.

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Translated.h"
#include "TranslatedPages.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

std::string templateOf(const char* name) {
    std::ifstream in(fs::path(ORVANE_TEST_BUNDLE) / "Contents/Resources" / (std::string(name) + ".html"));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(TranslatedPages, EveryTextOfTheTemplatesIsFoundAndShownInGerman) {
    const std::vector<std::string> pages = {templateOf("offline"), templateOf("stopped"), templateOf("moved")};
    for (const std::string& page : pages) ASSERT_NE(page.find("<html lang=\"en\">"), std::string::npos);
    for (const Text& text : pageTexts()) {
        const std::string element = ">" + std::string(text.english()) + "<";
        const bool found = std::any_of(pages.begin(), pages.end(), [&](const std::string& page) {
            return page.find(element) != std::string::npos;
        });
        EXPECT_TRUE(found) << "no template holds " << element;
    }

    g_setenv("LANGUAGE", "de", TRUE);
    g_setenv("LC_ALL", "C.UTF-8", TRUE);
    useTranslations(ORVANE_TEST_BUNDLE);
    for (const std::string& page : pages) {
        const std::string german = translatedPage(page);
        EXPECT_NE(german.find("<html lang=\"de\">"), std::string::npos);
        for (const Text& text : pageTexts())
            EXPECT_EQ(german.find(">" + std::string(text.english()) + "<"), std::string::npos) << text.english();
        // What the app fills in later is still there to fill.
        for (const char* placeholder : {"__HOST__", "__PAGE_URL__"})
            EXPECT_EQ(german.find(placeholder) == std::string::npos, page.find(placeholder) == std::string::npos)
                << placeholder;
    }
    EXPECT_NE(translatedPage(pages[0]).find("Erneut versuchen"), std::string::npos);
}

}  // namespace
}  // namespace orvane
