#pragma once
// The app's own texts in the user's language, through gettext and the
// catalogs in the bundle (Contents/Resources/locale). A text is written in
// English where it is used, inside tr("...") or Text("..."), which is how
// the build finds them for the template (po/). The texts the page receives
// are never translated: pages match on them.

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace orvane {

inline constexpr const char* kTextDomain = "orvane";

// The text in the user's language, or `english` when no catalog has it.
const char* tr(const char* english);

// A text named once (a constant in a texts header) and translated where it
// is used: it reads as the translated `const char*`.
class Text {
public:
    explicit constexpr Text(const char* english) : english_(english) {}
    operator const char*() const { return tr(english_); }
    const char* english() const { return english_; }

private:
    const char* english_;
};

// Reads the translations from `bundle`'s catalogs, in the language the
// environment asks for (LANGUAGE, LC_ALL, LC_MESSAGES, LANG).
void useTranslations(const std::filesystem::path& bundle);

// `text` with each "{name}" replaced by its value, in order: translated
// texts keep their words around the values in their own order.
std::string fill(std::string_view text, std::initializer_list<std::pair<std::string_view, std::string_view>> values);

}  // namespace orvane
