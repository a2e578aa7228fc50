#pragma once
// Short notices at the window's foot (libadwaita's toasts) for what changed
// without the user asking: the saved copy of the page shows, the page's
// process ended and the page was loaded again, a download finished. They
// go by themselves, never take the keyboard's focus, and a newer one
// replaces the one showing.

#include <adwaita.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "GRef.h"

namespace orvane {

class Notices {
public:
    explicit Notices(AdwToastOverlay* overlay) : overlay_(overlay) {}
    Notices(const Notices&) = delete;
    Notices& operator=(const Notices&) = delete;

    // The page shows as it was saved at `saved` (local time is shown).
    void savedCopyShown(std::chrono::system_clock::time_point saved);
    void pageReloaded();
    // `name` finished downloading: Open opens it, Show in Folder shows it
    // in the desktop's file manager.
    void downloadFinished(const std::string& name, std::function<void()> open, std::function<void()> showInFolder);

    // The notice last shown, if any, and what it says (tests read them).
    AdwToast* current() const { return current_.get(); }
    const std::string& text() const { return text_; }

private:
    GPtr<AdwToast> toast(const std::string& text);
    void show(GPtr<AdwToast> toast);

    AdwToastOverlay* overlay_;  // the window owns it
    GPtr<AdwToast> current_;
    std::string text_;
};

}  // namespace orvane
