#include "UpdateTexts.h"

namespace orvane {

// A read-only file system is what an AppImage mount, a system package folder
// or a read-only medium look like here; there is no translocation.
const UpdateTexts updateTexts = {
    .manifestMember = "linux",
    .protectedPlace =
        "Orvane is running from a read-only place. Move it to a folder of your own, open it from "
        "there and update again.",
    .protectedMarkers = {},
    .noBundle = "Orvane isn’t running from its bundle, so it can’t replace itself.",
};

}  // namespace orvane
