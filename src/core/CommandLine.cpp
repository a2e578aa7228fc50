#include "CommandLine.h"

#include "AppValues.h"
#include "Url.h"

namespace orvane {
namespace {

struct ActionOption {
    std::string_view name;
    CommandLine::Action action;
};

constexpr ActionOption kActions[] = {
    {"--help", CommandLine::Action::Help},
    {"-h", CommandLine::Action::Help},
    {"--version", CommandLine::Action::Version},
    {"--print-page-url", CommandLine::Action::PrintPageUrl},
    {"--install-desktop-entry", CommandLine::Action::InstallDesktopEntry},
};

constexpr std::string_view kPageUrl = "--page-url";

CommandLine failed(std::string message) {
    CommandLine line;
    line.error = std::move(message);
    return line;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string_view>& arguments, Translate tr) {
    CommandLine line;
    bool actionGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == kPageUrl || argument.starts_with(std::string(kPageUrl) + "=")) {
            std::string_view value;
            if (argument == kPageUrl) {
                if (i + 1 == arguments.size()) return failed(tr("--page-url needs an address"));
                value = arguments[++i];
            } else {
                value = argument.substr(kPageUrl.size() + 1);
            }
            if (line.pageUrl) return failed(tr("--page-url is given twice"));
            // Checked here, not silently replaced as a configured one is: the
            // person who typed it is there to read why it was refused.
            if (!pageAddressIn(value))
                return failed(
                    replaceAll(tr("--page-url: not an http or https address: {address}"), "{address}", value));
            line.pageUrl = std::string(value);
            continue;
        }
        const ActionOption* found = nullptr;
        for (const auto& option : kActions)
            if (argument == option.name) found = &option;
        if (!found) {
            if (argument.starts_with("-"))
                return failed(replaceAll(tr("unknown option {option}"), "{option}", argument));
            return failed(replaceAll(tr("unexpected argument {argument}"), "{argument}", argument));
        }
        if (actionGiven && line.action != found->action)
            return failed(
                replaceAll(tr("{option} cannot be combined with the other options given"), "{option}", argument));
        line.action = found->action;
        actionGiven = true;
    }
    return line;
}

std::string usageText(std::string_view program, std::string_view builtInPage, Translate tr) {
    // One text, so that a translation can order and wrap it as its language needs.
    const std::string text =
        replaceAll(tr("Usage: {program} [OPTION]\n"
                      "\n"
                      "Shows the light strip's control page in a window and gives it Bluetooth LE\n"
                      "access and self-update. Started without options, Orvane loads the page\n"
                      "address set as pageURL in $XDG_CONFIG_HOME/orvane/defaults.ini, else the\n"
                      "bundle's OVPageURL, else {page}.\n"
                      "Only one Orvane runs per desktop session: starting it again brings its\n"
                      "window to the front.\n"
                      "\n"
                      "Options:\n"
                      "  --page-url ADDRESS       load this page address for this run only; nothing\n"
                      "                           is written to the settings\n"
                      "  --print-page-url         print the page address a run would load and where it\n"
                      "                           comes from, then end\n"
                      "  --install-desktop-entry  put this Orvane in the desktop's application list\n"
                      "                           (kept pointing at the bundle when it moves)\n"
                      "  --version                print the version and end\n"
                      "  --help                   print this text and end\n"),
                   "{program}", program);
    return replaceAll(text, "{page}", builtInPage);
}

}  // namespace orvane
