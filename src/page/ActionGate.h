#pragma once
// How often the page may set off something that reaches beyond it: hand an
// address to the desktop's browser or mail program, or start a download
// (a save dialog). Once per action of the user; for hand-offs also once per
// page load without one. A page that loops window.open, sets its location
// to another site on a timer or fills hidden frames with downloads must not
// flood the desktop with windows.

#include <cstddef>

namespace orvane {

class ActionGate {
public:
    // `onePerLoad`: a page load lets one through even without an action.
    explicit ActionGate(bool onePerLoad) : onePerLoad_(onePerLoad), loadUnused_(onePerLoad) {}

    // The user pressed a key or a button in the page.
    void userActed() { actionUnused_ = true; }
    // A new document was committed in the view.
    void pageLoaded() {
        loadUnused_ = onePerLoad_;
        refusalTold_ = false;
    }
    // Whether one may go now; taking it uses up what allowed it. The first
    // of what a user action sets off spends the load's allowance too.
    bool take();
    // Counts a refusal made elsewhere, for a reason of its own.
    void refuse() { ++refusals_; }
    // True once per run of refusals, so that a flood makes one log line.
    bool tellRefusal();
    // How many `take` and `refuse` refused so far.
    std::size_t refusals() const { return refusals_; }

private:
    bool onePerLoad_;
    bool actionUnused_ = false;
    bool loadUnused_;
    bool refusalTold_ = false;
    std::size_t refusals_ = 0;
};

}  // namespace orvane
