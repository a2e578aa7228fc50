#include "ActionGate.h"

#include <utility>

namespace orvane {

bool ActionGate::take() {
    if (std::exchange(actionUnused_, false)) {
        loadUnused_ = false;
        refusalTold_ = false;
        return true;
    }
    if (std::exchange(loadUnused_, false)) return true;
    ++refusals_;
    return false;
}

bool ActionGate::tellRefusal() { return !std::exchange(refusalTold_, true); }

}  // namespace orvane
