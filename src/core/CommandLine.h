#pragma once
// What the command line asks of one run. Orvane is normally started with no
// arguments by the desktop; the options serve the run command, scripts and a
// person at a terminal, and none of them is stored anywhere.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

struct CommandLine {
    enum class Action {
        Run,                  // open the window
        Help,                 // print the usage text
        Version,              // print the name and version
        PrintPageUrl,         // print the page address this run would load and where it comes from
        InstallDesktopEntry,  // put this bundle in the desktop's application list
    };
    Action action = Action::Run;
    // The page address for this run only; ranks above every configured one.
    std::optional<std::string> pageUrl;
    // Set when the arguments make no sense; nothing else is then meaningful.
    std::optional<std::string> error;
};

// Gives a text in the user's language; the English one where untranslated.
using Translate = const char* (*)(const char* english);
inline const char* untranslated(const char* english) { return english; }

// The arguments after the program name. "--page-url X" and "--page-url=X"
// alike; a bad or missing value, an unknown option or a stray argument is an
// error, and so are two actions at once.
// `error` is in the language `tr` gives.
CommandLine parseCommandLine(const std::vector<std::string_view>& arguments, Translate tr = untranslated);

// The --help text, with the executable's name and the built-in page address.
std::string usageText(std::string_view program, std::string_view builtInPage, Translate tr = untranslated);

}  // namespace orvane
