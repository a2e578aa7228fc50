#include "AppDelegate.h"

#include "Trial.h"

#include "AppCommands.h"
#include "AppInfo.h"
#include "CentralBluez.h"
#include "KeyFile.h"
#include "Log.h"
#include "SavedPage.h"
#include "Staging.h"
#include "Trial.h"
#include "UpdateTexts.h"
#include "UpdaterLinux.h"

namespace orvane {

PageBackends linuxPageBackends(MainQueue& queue, const Bundle& updateBundle) {
    PageBackends backends;
    backends.makeCentral = makeCentralBluez(queue);
    backends.updater = linuxUpdaterParts(queue, updateBundle, runOptions());
    backends.log = [](const std::string& line) { logLine(line); };
    return backends;
}

AppDelegate::AppDelegate(GtkApplication* app, ReadySignal ready)
    : app_(app), ready_(std::make_shared<ReadySignal>(std::move(ready))) {}

void AppDelegate::activated() {
    if (main_) {
        main_->show();
        return;
    }
    launch();
}

void AppDelegate::shutdown() {
    // Quitting before anything showed is the user's choice, no failure of
    // this version: the relaunch step must not put the old one back for it,
    // nor the next start.
    markTrialUp();
    ready_->send();
    if (!main_) return;
    main_->shutdown();
    // Run what the teardown queued (the Bluetooth backend's Disconnect and
    // StopDiscovery, its bus flush) until the loop has been quiet for a
    // moment, and never longer than a second.
    const gint64 end = g_get_monotonic_time() + G_USEC_PER_SEC;
    gint64 quietSince = g_get_monotonic_time();
    while (g_get_monotonic_time() < end && g_get_monotonic_time() - quietSince < G_USEC_PER_SEC / 10) {
        if (g_main_context_iteration(nullptr, FALSE)) quietSince = g_get_monotonic_time();
        else g_usleep(2000);
    }
}

void AppDelegate::launch() {
    MainWindowSettings settings;
    settings.pageUrl = PAGE_URL();
    settings.version = VERSION();
    settings.appName = appNameFrom(info());
    settings.inspectable = UserDefaults::load().boolean("inspectable");
    settings.bundle = runningBundle();
    settings.updateRoot = runningBundle().root();
    settings.windowState = userStateDir() / "window.ini";
    settings.savedPages = userCacheDir();
    settings.unfinishedDownloads = userStateDir() / "unfinished-downloads";
    SavedPage(settings.savedPages, settings.pageUrl).forgetOthersUnused();
    settings.backends = linuxPageBackends(queue_, runningBundle());
    settings.firstLoad = [ready = ready_] {
        markTrialUp();
        ready->send();
    };
    // What earlier updates left beside the bundle goes now; a swap that a
    // kill broke off is finished first.
    const auto undone = cleanUpStaging(settings.updateRoot, [](const std::string& line) { logLine(line); });
    main_ = MainWindow::create(queue_, std::move(settings));
    for (const auto& record : undone) main_->session().updater().undone(undoneMessage(record));
    gtk_application_add_window(app_, main_->window());
    installAppCommands(app_, main_);
    GApplication* app = G_APPLICATION(app_);
    main_->closed = [app] { g_application_quit(app); };
    main_->show();
}

}  // namespace orvane
