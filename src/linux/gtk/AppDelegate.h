#pragma once
// The application: single instance, the launch sequence, and the end of the
// process when the window closes.

#include <gtk/gtk.h>

#include <memory>

#include "GRef.h"
#include "MainQueueGlib.h"
#include "MainWindow.h"
#include "Relaunched.h"

namespace orvane {

// The real backends of the page session on Linux: BlueZ for Bluetooth,
// libsoup and helper processes for updates of `updateBundle`, the log on
// standard error. The one place where they are chosen.
PageBackends linuxPageBackends(MainQueue& queue, const Bundle& updateBundle);

class AppDelegate {
public:
    // `ready` tells the relaunch step that started this process, if one did,
    // that the page has loaded.
    AppDelegate(GtkApplication* app, ReadySignal ready);
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // First activation: the launch sequence. Later ones (a second launch of
    // the app) show the window again.
    void activated();
    // The loop has stopped: let go of Bluetooth and give its last calls a
    // moment to reach the stack.
    void shutdown();
    const std::shared_ptr<MainWindow>& main() const { return main_; }

private:
    void launch();

    GtkApplication* app_;  // the process entry owns it and outlives this object
    std::shared_ptr<ReadySignal> ready_;
    MainQueueGlib& queue_ = processMainQueue();
    std::shared_ptr<MainWindow> main_;
};

}  // namespace orvane
