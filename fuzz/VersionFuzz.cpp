// Version comparison of a manifest's version with the running one.
// Input: two versions separated by a newline.
#include "FuzzInput.h"
#include "Version.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [a, b] = fuzz::splitLine(fuzz::text(data, size));
    fuzz::require(!newer(a, a), "a version is not newer than itself");
    fuzz::require(!(newer(a, b) && newer(b, a)), "two versions are not each newer than the other");
    return 0;
}
