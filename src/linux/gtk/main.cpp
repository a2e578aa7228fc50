// Process entry: the command line first (some options print and end without
// a display), then one GtkApplication per user session and one AppDelegate
// for the whole run. A second launch activates the first instance and ends.

#include <adwaita.h>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "AppDelegate.h"
#include "AppInfo.h"
#include "CommandLine.h"
#include "DesktopEntry.h"
#include "GRef.h"
#include "Log.h"
#include "Staging.h"
#include "Translated.h"
#include "Trial.h"

namespace {

using orvane::CommandLine;

const char* sourceText(orvane::PageUrlSource source) {
    switch (source) {
    case orvane::PageUrlSource::commandLine: return "the command line";
    case orvane::PageUrlSource::userDefault: return "pageURL in defaults.ini";
    case orvane::PageUrlSource::bundle: return "OVPageURL in the bundle's Info.plist";
    case orvane::PageUrlSource::builtIn: break;
    }
    return "built in";
}

// The actions that print and end: no display is opened for them.
int printAndEnd(const CommandLine& line, const char* program) {
    switch (line.action) {
    case CommandLine::Action::Help:
        std::fputs(orvane::usageText(program, orvane::builtInPageUrl(), orvane::tr).c_str(), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::printf("%s %s\n", orvane::appNameFrom(orvane::info()).c_str(), orvane::VERSION().c_str());
        return 0;
    case CommandLine::Action::PrintPageUrl:
        std::printf("%s (%s)\n", orvane::PAGE_URL().text.c_str(), sourceText(orvane::pageAddress().source));
        return 0;
    case CommandLine::Action::InstallDesktopEntry: {
        if (auto problem = orvane::installDesktopEntry(orvane::runningBundle(), orvane::applicationId())) {
            std::fprintf(stderr, "orvane: cannot install the desktop entry: %s\n", problem->c_str());
            return 1;
        }
        std::printf("%s\n", orvane::desktopEntryPath(orvane::applicationId()).c_str());
        return 0;
    }
    case CommandLine::Action::Run: break;
    }
    return -1;
}

// Runs `bundle`'s executable in this process, with the same arguments;
// returns only when it cannot.
int startInstead(const std::filesystem::path& bundle, char** argv) {
    const std::string executable = (bundle / "Contents" / "Linux" / "orvane").string();
    ::execv(executable.c_str(), argv);
    std::fprintf(stderr, "orvane: can't start %s\n", executable.c_str());
    return 1;
}

// A new version on trial that runs this long has proved itself.
constexpr guint kTrialSeconds = 5 * 60;

// Ctrl+C in a terminal or a plain kill ends the run as the window's close
// does: the window's size is saved and Bluetooth let go of.
void quitOnSignals(GApplication* app) {
    auto quit = [](gpointer data) -> gboolean {
        // Before the launch has added the quit action there is no window to close.
        if (g_action_group_has_action(G_ACTION_GROUP(data), "quit-now"))
            g_action_group_activate_action(G_ACTION_GROUP(data), "quit-now", nullptr);
        else g_application_quit(G_APPLICATION(data));
        return G_SOURCE_CONTINUE;
    };
    g_unix_signal_add(SIGINT, quit, app);
    g_unix_signal_add(SIGTERM, quit, app);
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything can start a thread or a process.
    auto ready = orvane::ReadySignal::take();
    // Started from an update's staging folder, where a kill broke a swap off
    // (the place may be empty): the swap is finished or undone, and the run
    // starts again from the place, so that it reads its bundle there.
    if (const auto known = orvane::recoverFromInside(orvane::Bundle::running().root(), orvane::logLine))
        return startInstead(*known, argv);
    orvane::useTranslations(orvane::Bundle::running().root());
    const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const CommandLine line = orvane::parseCommandLine(arguments, orvane::tr);
    // Named as a person types it, not by the bundle path it was started from.
    const char* program = "orvane";
    if (line.error) {
        const std::string hint = orvane::fill(orvane::tr("Try '{program} --help'."), {{"program", program}});
        std::fprintf(stderr, "orvane: %s\n%s\n", line.error->c_str(), hint.c_str());
        return 2;
    }
    if (line.pageUrl) orvane::usePageUrlForThisRun(*line.pageUrl);
    if (const int status = printAndEnd(line, program); status >= 0) return status;

    // A new version that keeps ending abruptly gives way to the one it
    // replaced, which starts in its place with the same arguments.
    if (const auto back = orvane::takeUpTrial(orvane::Bundle::running().root(), orvane::logLine))
        return startInstead(*back, argv);

    // The window's class (X11) and the application id (Wayland) both become
    // the desktop entry's name, so the desktop matches the window to it.
    g_set_prgname(orvane::applicationId().c_str());
    g_set_application_name(orvane::appNameFrom(orvane::info()).c_str());
    orvane::refreshDesktopEntry(orvane::runningBundle(), orvane::applicationId());

    // Libadwaita is set up with it: its widgets and the style they need.
    auto app = orvane::adopt(
        GTK_APPLICATION(adw_application_new(orvane::applicationId().c_str(), G_APPLICATION_DEFAULT_FLAGS)));
    GApplication* application = G_APPLICATION(app.get());
    // Before registering, which already opens the display: a session's end
    // during the start is an orderly quit, not a crash of a version on trial.
    quitOnSignals(application);
    orvane::GErrorPtr error;
    if (!g_application_register(application, nullptr, orvane::ErrorOut(error))) {
        std::fprintf(stderr, "orvane: %s\n", error->message);
        return 1;
    }
    // The arguments were read above; GApplication must not take them as files to open.
    char* args[] = {argv[0], nullptr};
    if (g_application_get_is_remote(application)) {
        // Started by the relaunch step while another Orvane runs (the user
        // opened it meanwhile): that one shows, and this version is fine;
        // the next start must not undo it either.
        orvane::markTrialUp();
        ready.send();
        // Say what happened: otherwise a second start looks like a start that did nothing.
        g_application_run(application, 1, args);  // activates the running instance
        std::fprintf(stderr, "orvane: %s\n",
                     orvane::tr("Orvane already runs in this session; its window was brought to the front."));
        if (!line.pageUrl) return 0;
        const std::string unused =
            orvane::fill(orvane::tr("the page address given ({address}) was not used."), {{"address", *line.pageUrl}});
        std::fprintf(stderr, "orvane: %s\n", unused.c_str());
        return 1;
    }

    // From here on, an end other than the orderly one below counts against a
    // new version on trial; a run long enough proves it.
    orvane::beginTrialRun();
    if (orvane::onTrial())
        g_timeout_add_seconds(
            kTrialSeconds,
            +[](gpointer) {
                orvane::confirmTrial();
                return gboolean(G_SOURCE_REMOVE);
            },
            nullptr);

    // The icon --install-desktop-entry put in the user's theme, found by name as the entry's is.
    gtk_window_set_default_icon_name(orvane::applicationId().c_str());
    orvane::AppDelegate delegate(app.get(), std::move(ready));
    g_signal_connect(app.get(), "activate", G_CALLBACK(+[](GApplication*, gpointer self) {
                         static_cast<orvane::AppDelegate*>(self)->activated();
                     }),
                     &delegate);
    g_signal_connect(app.get(), "shutdown", G_CALLBACK(+[](GApplication*, gpointer self) {
                         static_cast<orvane::AppDelegate*>(self)->shutdown();
                     }),
                     &delegate);
    g_application_run(application, 1, args);
    orvane::endTrialRun();
    return 0;
}
