#pragma once
// MainQueue on GLib's default main context: the same loop GTK, WebKit, GDBus
// and libsoup deliver their callbacks on.

#include "MainQueue.h"

namespace orvane {

class MainQueueGlib final : public MainQueue {
public:
    void async(Work work) override;
    Task after(double seconds, Work work) override;
    Clock::time_point now() const override { return Clock::now(); }
    std::chrono::system_clock::time_point wallNow() const override { return std::chrono::system_clock::now(); }
};

// The product's queue. It is never destroyed, so that a worker thread that
// finishes while the app is ending can still post its result safely.
MainQueueGlib& processMainQueue();

}  // namespace orvane
