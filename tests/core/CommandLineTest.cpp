#include <gtest/gtest.h>

#include "CaseName.h"
#include "CommandLine.h"

namespace orvane {
namespace {

using Action = CommandLine::Action;

struct LineCase {
    const char* name;
    std::vector<std::string_view> arguments;
    Action action;
    std::optional<std::string> pageUrl;
    std::optional<std::string> error;
};

class CommandLines : public testing::TestWithParam<LineCase> {};

TEST_P(CommandLines, ParseIntoOneActionAndAnAddress) {
    const auto& c = GetParam();
    const auto line = parseCommandLine(c.arguments);
    EXPECT_EQ(line.error, c.error);
    if (c.error) return;
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.pageUrl, c.pageUrl);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLines,
    testing::Values(
        LineCase{"NothingRunsTheApp", {}, Action::Run, std::nullopt, std::nullopt},
        LineCase{"PageUrlAsTwoArguments",
                 {"--page-url", "http://127.0.0.1:8000/"},
                 Action::Run,
                 "http://127.0.0.1:8000/",
                 std::nullopt},
        LineCase{"PageUrlWithEquals",
                 {"--page-url=http://127.0.0.1:8000/a?b=c"},
                 Action::Run,
                 "http://127.0.0.1:8000/a?b=c",
                 std::nullopt},
        LineCase{"PageUrlWithAnAction",
                 {"--page-url", "http://x.example/", "--print-page-url"},
                 Action::PrintPageUrl,
                 "http://x.example/",
                 std::nullopt},
        LineCase{"Help", {"--help"}, Action::Help, std::nullopt, std::nullopt},
        LineCase{"ShortHelp", {"-h"}, Action::Help, std::nullopt, std::nullopt},
        LineCase{"Version", {"--version"}, Action::Version, std::nullopt, std::nullopt},
        LineCase{"SameActionTwice", {"--version", "--version"}, Action::Version, std::nullopt, std::nullopt},
        LineCase{"InstallDesktopEntry",
                 {"--install-desktop-entry"},
                 Action::InstallDesktopEntry,
                 std::nullopt,
                 std::nullopt},
        LineCase{"PageUrlWithoutValue", {"--page-url"}, Action::Run, std::nullopt, "--page-url needs an address"},
        LineCase{"PageUrlThatDoesNotParse",
                 {"--page-url", "http://bad host/"},
                 Action::Run,
                 std::nullopt,
                 "--page-url: not an http or https address: http://bad host/"},
        LineCase{
            "EmptyPageUrl", {"--page-url="}, Action::Run, std::nullopt, "--page-url: not an http or https address: "},
        LineCase{"PageUrlWithoutScheme",
                 {"--page-url", "127.0.0.1:8137"},
                 Action::Run,
                 std::nullopt,
                 "--page-url: not an http or https address: 127.0.0.1:8137"},
        LineCase{"PageUrlTwice",
                 {"--page-url", "http://a.example/", "--page-url", "http://b.example/"},
                 Action::Run,
                 std::nullopt,
                 "--page-url is given twice"},
        LineCase{"TwoActions",
                 {"--help", "--version"},
                 Action::Run,
                 std::nullopt,
                 "--version cannot be combined with the other options given"},
        LineCase{"UnknownOption", {"--pageurl=x"}, Action::Run, std::nullopt, "unknown option --pageurl=x"},
        // A file manager or launcher passing a file must not start a run that ignores it silently.
        LineCase{"StrayArgument", {"index.html"}, Action::Run, std::nullopt, "unexpected argument index.html"}),
    CaseName());

}  // namespace
}  // namespace orvane
