#pragma once
// How often the page may hand an address to the desktop's browser or mail
// program: once per action of the user, and once per page load without one.
// A page that loops window.open, or sets its location to another site on a
// timer, must not flood the desktop with windows.

#include <cstddef>

namespace orvane {

class HandOffGate {
public:
    // The user pressed a key or a button in the page.
    void userActed() { actionUnused_ = true; }
    // A new document was committed in the view.
    void pageLoaded() {
        loadUnused_ = true;
        refusalTold_ = false;
    }
    // Whether a hand-off may go now; taking it uses up what allowed it. The
    // first of what a user action sets off spends the load's hand-off too.
    bool take();
    // True once per run of refusals, so that a flood makes one log line.
    bool tellRefusal();
    // How many hand-offs `take` refused so far.
    std::size_t refusals() const { return refusals_; }

private:
    bool actionUnused_ = false;
    bool loadUnused_ = true;
    bool refusalTold_ = false;
    std::size_t refusals_ = 0;
};

}  // namespace orvane
