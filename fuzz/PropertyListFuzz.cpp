// Info.plist of a downloaded bundle (read before its signature is checked
// only for its identifier and version, but read all the same).
#include "Bundle.h"
#include "FuzzInput.h"
#include "MemoryFile.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::MemoryFile file;
    file.write(data, size);
    const auto info = readPropertyList(file.path());
    fuzz::require(info.is_object(), "a property list reads as an object");
    // What the updater does with it: copy, print, look up strings.
    (void)info.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return 0;
}
