#include "HandOffGate.h"

#include <utility>

namespace orvane {

bool HandOffGate::take() {
    if (std::exchange(actionUnused_, false)) {
        loadUnused_ = false;
        refusalTold_ = false;
        return true;
    }
    return std::exchange(loadUnused_, false);
}

bool HandOffGate::tellRefusal() { return !std::exchange(refusalTold_, true); }

}  // namespace orvane
