#include "HandOffGate.h"

#include <utility>

namespace orvane {

bool HandOffGate::take() {
    if (std::exchange(actionUnused_, false)) {
        loadUnused_ = false;
        refusalTold_ = false;
        return true;
    }
    if (std::exchange(loadUnused_, false)) return true;
    ++refusals_;
    return false;
}

bool HandOffGate::tellRefusal() { return !std::exchange(refusalTold_, true); }

}  // namespace orvane
